// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapter/Delay.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// The tick counts whole milliseconds, so n ticks can be as little as n - 1 ms of a finer clock.
constexpr int64_t TickGranularityMs = 1;

class DelayTest : public testing::Test {
  protected:
    void TearDown() override {
        SetTickOffsetForTest(0);
        // Leave nothing queued for the next test.
        QCoreApplication::processEvents();
    }
    QObject context;
};

TEST_F(DelayTest, ZeroReturnsWithoutDispatching) {
    bool ran = false;
    QMetaObject::invokeMethod(
        &context, [&] { ran = true; }, Qt::QueuedConnection);
    Delay(0);
    EXPECT_FALSE(ran);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran) << "the queued call was never pending, so the check above proved nothing";
}

TEST_F(DelayTest, DispatchesQueuedCallDuringTheWaitAndWaitsItsFullTime) {
    int64_t ranAfterMs = -1;
    const auto wallStart = Clock::now();
    QMetaObject::invokeMethod(
        &context, [&] { ranAfterMs = MsSince(wallStart); }, Qt::QueuedConnection);
    const uint32_t tickStart = TickCount();
    Delay(300);
    const uint32_t ticks = TickCount() - tickStart;
    const int64_t wall = MsSince(wallStart);
    ASSERT_GE(ranAfterMs, 0) << "queued call not dispatched";
    EXPECT_LT(ranAfterMs, wall);
    EXPECT_GE(ticks, 300u);
    EXPECT_GE(wall, 300 - TickGranularityMs);
}

TEST_F(DelayTest, KeepsDispatchingEventsThroughoutAndStillWaitsItsFullTime) {
    int fired = 0;
    QTimer repeating;
    repeating.setInterval(20);
    QObject::connect(&repeating, &QTimer::timeout, [&] { ++fired; });
    repeating.start();
    const uint32_t start = TickCount();
    Delay(300);
    EXPECT_GE(TickCount() - start, 300u);
    EXPECT_GE(fired, 2);
}

TEST_F(DelayTest, WakesForCallsPostedFromAnotherThread) {
    std::atomic<bool> ran{false};
    std::thread poster([&] {
        QMetaObject::invokeMethod(
            &context, [&] { ran = true; }, Qt::QueuedConnection);
    });
    Delay(200);
    poster.join();
    EXPECT_TRUE(ran);
}

TEST_F(DelayTest, NeverEarlyWhenTheTickWrapsDuringTheWait) {
    // Put the tick 100 ms before 2^32 so that the 250 ms wait straddles the wrap.
    SetTickOffsetForTest(0u - 100u - (TickCount()));
    const uint32_t tickStart = TickCount();
    ASSERT_GT(tickStart, 0xFFFFFF00u);
    const auto wallStart = Clock::now();
    Delay(250);
    const uint32_t tickEnd = TickCount();
    EXPECT_LT(tickEnd, tickStart) << "the wait did not straddle the wrap";
    EXPECT_GE(tickEnd - tickStart, 250u);
    EXPECT_GE(MsSince(wallStart), 250 - TickGranularityMs);
}

TEST_F(DelayTest, NestedLongerDelayInsideAHandler) {
    // The inner wait outlasts the outer one and swallows the outer deadline on the way.
    uint32_t innerTicks = 0;
    QMetaObject::invokeMethod(
        &context,
        [&] {
            const uint32_t s = TickCount();
            Delay(250);
            innerTicks = TickCount() - s;
        },
        Qt::QueuedConnection);
    const uint32_t start = TickCount();
    Delay(100);
    EXPECT_GE(innerTicks, 250u);
    EXPECT_GE(TickCount() - start, 250u);
}

TEST_F(DelayTest, OuterWaitRunsToItsEndAfterAShorterNestedOne) {
    bool innerDone = false;
    QMetaObject::invokeMethod(
        &context,
        [&] {
            Delay(50);
            innerDone = true;
        },
        Qt::QueuedConnection);
    const uint32_t start = TickCount();
    Delay(300);
    EXPECT_TRUE(innerDone);
    EXPECT_GE(TickCount() - start, 300u);
}

TEST_F(DelayTest, WhatCameInWhileAHandlerHeldTheThreadPastTheEndIsDispatchedBeforeItReturns) {
    bool delivered = false;
    QTimer::singleShot(0, &context, [&] {
        QTimer::singleShot(0, &context, [&] { delivered = true; });
        for (const uint32_t start = TickCount(); TickCount() - start < 100;) {
        } // the whole wait, without dispatching
    });
    Delay(50);
    EXPECT_TRUE(delivered);
}

TEST_F(DelayTest, QuittingTheMainLoopDoesNotShortenAWait) {
    uint32_t ticks = 0;
    QTimer::singleShot(0, &context, [&] {
        QTimer::singleShot(30, &context, [] { QCoreApplication::quit(); });
        const uint32_t start = TickCount();
        Delay(300);
        ticks = TickCount() - start;
        // In case the quit above was consumed without ending exec().
        QTimer::singleShot(0, &context, [] { QCoreApplication::quit(); });
    });
    QCoreApplication::exec();
    EXPECT_GE(ticks, 300u);
}

} // namespace
