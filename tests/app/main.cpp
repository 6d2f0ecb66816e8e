// The window tests need a QApplication on the main thread; each test installs the queue's wake-up
// itself, as the program does.
#include "net/MainThreadQueue.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    SetMainThread();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
