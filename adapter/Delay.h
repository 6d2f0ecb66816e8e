// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's only way of waiting: dispatches every pending event of the calling (main) thread
// until ms have passed by the 32-bit millisecond tick. Blocks between events instead of spinning.
#include "net/OpsClock.h"

#include <cstdint>

// Millisecond tick, wrapping at 2^32 (stands in for the platform's tick count).
uint32_t TickCount();

// Never returns before ms have passed by TickCount(), and returns with everything dispatched that was
// pending when they had; Delay(0) returns at once, dispatching nothing. Without a QCoreApplication
// there is nothing to dispatch and it simply sleeps.
void Delay(uint32_t ms);

// Test seam: shifts TickCount() by offset so a wait can straddle the 32-bit wrap.
void SetTickOffsetForTest(uint32_t offset);

// The window's clock: waits with Delay, which dispatches every event, the deliveries among them. It
// never ends a wait early: done() is asked once the deadline has passed.
class DelayClock : public OpsClock {
  public:
    std::chrono::milliseconds Now() override;
    bool WaitUntil(std::chrono::milliseconds deadline, const std::function<bool()>& done) override;
    void WaitFor(uint32_t ms) override;
};
