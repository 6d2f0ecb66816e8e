// The window runs on this thread; the listener hands datagrams to it through the main-thread queue,
// which the Qt wake-up drains whenever a test pumps events.
#include "ReliabilityMain.h"

#include "net/MainThreadQueue.h"
#include "app/MessageBoxes.h"
#include "adapter/QtWakeUp.h"

#include <QApplication>

#include <gtest/gtest.h>

namespace {
std::unique_ptr<QtWakeUpGuard> GWakeUp;
}

void ReinstallQtWakeUp() {
    GWakeUp.reset();
    GWakeUp = InstallQtWakeUp();
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetMainThread();
    ReinstallQtWakeUp();
    // A real box would block the run; each test that expects boxes records them itself.
    SetMessageBoxHook(
        [](const BoxRecord& box) { ADD_FAILURE() << "unexpected box: " << box.text.toStdString(); });
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    SetMessageBoxHook({});
    GWakeUp.reset();
    return status;
}
