// SPDX-License-Identifier: GPL-3.0-or-later
// The main-thread call queue on its own, with a counting wake-up hook in place of Qt's.
#include "net/MainThreadQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {
using namespace std::chrono_literals;

class CallQueueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FSaved = SetWakeMainThread([this] { ++FWakeUps; });
    }
    void TearDown() override { SetWakeMainThread(FSaved); }
    // Runs queued calls until pred holds; false when it does not within the bound.
    static bool RunCallsUntil(const std::function<bool()>& pred) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!pred()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            if (!RunPendingCalls()) {
                std::this_thread::yield();
            }
        }
        return true;
    }

    std::atomic<int> FWakeUps{0};
    std::function<void()> FSaved;
};

TEST_F(CallQueueTest, ABurstDrainedInOneGoNeedsOneWakeUpAndKeepsItsOrder) {
    constexpr int kCalls = 200;
    std::vector<int> ran;
    std::thread worker([&] {
        for (int i = 0; i < kCalls; ++i) {
            RunOnMainThread([&ran, i] { ran.push_back(i); });
        }
    });
    while (FWakeUps.load() == 0) {
        std::this_thread::yield();
    }
    // The linger is far longer than the worker needs to queue its next call.
    while (static_cast<int>(ran.size()) < kCalls) {
        DrainPendingCalls(300ms, 10s);
    }
    worker.join();
    ASSERT_EQ(static_cast<int>(ran.size()), kCalls);
    for (int i = 0; i < kCalls; ++i) {
        ASSERT_EQ(ran[static_cast<std::size_t>(i)], i);
    }
    EXPECT_LT(FWakeUps.load(), kCalls / 10) << "calls queued during a drain must not wake the main thread";
}

} // namespace
