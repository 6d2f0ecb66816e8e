// SPDX-License-Identifier: GPL-3.0-or-later
// The one main of the suites without Qt: the endpoint's listener hands datagrams to this thread through
// the main-thread queue, which the tests (or the operations' waits) drain themselves, as the program's
// event loop does through its wake-up.
#include "net/MainThreadQueue.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    SetMainThread();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
