// SPDX-License-Identifier: GPL-3.0-or-later
#include "QtTestMain.h"

#include "PrivateNetworkGuard.h"
#include "WindowHarness.h"
#include "adapter/QtWakeUp.h"
#include "net/MainThreadQueue.h"

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
    RecordNoBoxes();
    ::testing::InitGoogleTest(&argc, argv);
#ifndef KORV_FAKE_NETWORK_ONLY
    ::testing::AddGlobalTestEnvironment(new PrivateNetworkGuard);
#endif
    const int status = RUN_ALL_TESTS();
    SetMessageBoxHook({});
    GWakeUp.reset();
    return status;
}
