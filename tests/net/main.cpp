// The endpoint's deliveries reach this thread through the main-thread queue; the tests drain it
// themselves (PumpUntil), as the program's event loop does through its wake-up.
#include "net/MainThreadQueue.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    SetMainThread();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
