// The main-thread call queue on its own, with a counting wake-up hook in place of Qt's.
#include "MainThreadQueue.h"

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

TEST_F(CallQueueTest, ACallLeftWhenTheBudgetRunsOutIsNotStranded) {
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    std::atomic<int> ran{0};
    std::thread worker([&] {
        while (!stop.load()) {
            RunOnMainThread([&ran] { ++ran; });
        }
        done = true;
    });
    ASSERT_TRUE(RunCallsUntil([&] { return ran.load() > 0; }));
    // Calls keep coming faster than the linger: only the budget ends this drain.
    DrainPendingCalls(1s, 20ms);
    const int wakeUpsAfterDrain = FWakeUps.load();
    // The worker is blocked on a queued call, or about to queue one: either way someone must ask for
    // the main thread, or the call would wait for a wake-up that never comes.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (FWakeUps.load() == wakeUpsAfterDrain && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    const bool woken = FWakeUps.load() > wakeUpsAfterDrain;
    stop = true;
    ASSERT_TRUE(RunCallsUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(woken) << "a call queued while the drain was ending got no wake-up";
}
} // namespace
