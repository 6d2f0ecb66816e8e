// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapter/Delay.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::atomic<uint32_t> tickOffset{0};

} // namespace

uint32_t TickCount() {
    const auto sinceBoot = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceBoot).count();
    // Truncation to 32 bits is the point: callers only ever look at unsigned differences.
    return static_cast<uint32_t>(ms) + tickOffset.load(std::memory_order_relaxed);
}

void SetTickOffsetForTest(uint32_t offset) {
    tickOffset.store(offset, std::memory_order_relaxed);
}

void Delay(uint32_t ms) {
    const uint32_t start = TickCount();
    auto remaining = [&]() -> uint32_t {
        const uint32_t elapsed = TickCount() - start; // unsigned: a wrap of the tick is harmless
        return elapsed >= ms ? 0 : ms - elapsed;
    };

    if (QCoreApplication::instance() == nullptr) {
        // No event loop to keep alive (command-line tools, early start-up): a plain sleep waits the same.
        for (uint32_t left = remaining(); left > 0; left = remaining())
            std::this_thread::sleep_for(std::chrono::milliseconds(left));
        return;
    }

    // The timer only guarantees that the blocking wait below ends by the deadline; the tick decides
    // when the wait is over, so an early timer, a nested Delay consuming our timeout, or an event
    // loop being told to quit can never shorten it. Blocking instead of polling keeps a 1.5 s scan
    // or an 8 s write from burning a core.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    bool dispatched = false;
    for (uint32_t left = remaining(); left > 0; left = remaining()) {
        deadline.start(std::chrono::milliseconds(left));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        dispatched = true;
    }
    // A handler run inside the wait can hold the thread past its end (a nested wait; hiding a window,
    // which Wine without a window manager stretches to two seconds), and what came in meanwhile came
    // within the wait: a scan's replies must be listed before the scan reads its first entry.
    if (dispatched) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

std::chrono::milliseconds DelayClock::Now() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

bool DelayClock::WaitUntil(std::chrono::milliseconds deadline, const std::function<bool()>& done) {
    const auto left = deadline - Now();
    if (left > std::chrono::milliseconds(0)) {
        Delay(static_cast<uint32_t>(left.count()));
    }
    return done();
}

void DelayClock::WaitFor(uint32_t ms) {
    Delay(ms);
}
