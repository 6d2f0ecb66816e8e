// SPDX-License-Identifier: GPL-3.0-or-later
// The one main of the suites without Qt: the endpoint's listener hands datagrams to this thread through
// the main-thread queue, which the tests (or the operations' waits) drain themselves, as the program's
// event loop does through its wake-up.
#include "PrivateNetworkGuard.h"
#include "net/MainThreadQueue.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    SetMainThread();
    ::testing::InitGoogleTest(&argc, argv);
#ifndef KORV_FAKE_NETWORK_ONLY
    ::testing::AddGlobalTestEnvironment(new PrivateNetworkGuard);
#endif
    return RUN_ALL_TESTS();
}
