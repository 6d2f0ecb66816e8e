// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How the device operations wait, in the window and in korvcfg alike. Replies reach the main thread
// through the call queue, so every wait runs the queued deliveries until a condition holds or a
// deadline passes. Tests put a clock on virtual time behind the same interface, so that a write with
// all its retries runs in milliseconds.
#include <chrono>
#include <cstdint>
#include <functional>

class OpsClock {
  public:
    virtual ~OpsClock() = default;
    virtual std::chrono::milliseconds Now() = 0;
    // Runs deliveries until done() holds (true) or deadline has passed (false). done() is asked after
    // every round of deliveries, on the main thread.
    virtual bool WaitUntil(std::chrono::milliseconds deadline, const std::function<bool()>& done) = 0;

    // The whole of ms, whatever arrives.
    virtual void WaitFor(uint32_t ms) {
        WaitUntil(Now() + std::chrono::milliseconds(ms), [] { return false; });
    }
};

// Wall-clock time; drains the main-thread call queue while it waits (korvcfg, which has no event loop).
class RealClock : public OpsClock {
  public:
    std::chrono::milliseconds Now() override;
    bool WaitUntil(std::chrono::milliseconds deadline, const std::function<bool()>& done) override;
};
