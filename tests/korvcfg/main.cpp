#include "net/MainThreadQueue.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // The endpoint's listener hands datagrams to this thread, which the operations' waits drain.
    SetMainThread();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
