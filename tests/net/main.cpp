// The endpoint's deliveries reach this thread through the main-thread queue and the Qt wake-up, as
// they reach the window in the program.
#include "MainThreadQueue.h"
#include "QtWakeUp.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    SetMainThread();
    const auto wakeUp = InstallQtWakeUp();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
