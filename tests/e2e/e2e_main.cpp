// The window runs on this thread; the endpoint's listener hands datagrams to it through the main-thread
// queue, which the Qt wake-up drains whenever the tests pump events.
#include "net/MainThreadQueue.h"
#include "app/MessageBoxes.h"
#include "adapter/QtWakeUp.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetMainThread();
    const auto wakeUp = InstallQtWakeUp();
    // A real box would block the run; outside a window harness none is expected at all.
    SetMessageBoxHook([](const BoxRecord& box) {
        ADD_FAILURE() << "box shown with no window: " << box.text.toStdString();
    });
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    SetMessageBoxHook({});
    return status;
}
