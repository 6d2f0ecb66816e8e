// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How the operations wait. Replies reach the main thread through the call queue and korvcfg has no
// event loop, so every wait is a loop that runs the queued deliveries until a condition holds or a
// deadline passes. Tests put a clock on virtual time behind the same interface, so that a write with
// all its retries runs in milliseconds.
#include <chrono>
#include <functional>

namespace korvcfg {

class OpsClock {
  public:
    virtual ~OpsClock() = default;
    virtual std::chrono::milliseconds Now() = 0;
    // Runs deliveries until done() holds (true) or deadline has passed (false). done() is asked after
    // every round of deliveries, on the main thread.
    virtual bool WaitUntil(std::chrono::milliseconds deadline, const std::function<bool()>& done) = 0;
};

// Wall-clock time; drains the main-thread call queue while it waits.
class RealClock : public OpsClock {
  public:
    std::chrono::milliseconds Now() override;
    bool WaitUntil(std::chrono::milliseconds deadline, const std::function<bool()>& done) override;
};

} // namespace korvcfg
