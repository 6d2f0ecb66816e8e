// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/OpsClock.h"

#include "net/MainThreadQueue.h"

#include <algorithm>

std::chrono::milliseconds RealClock::Now() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

bool RealClock::WaitUntil(std::chrono::milliseconds deadline, const std::function<bool()>& done) {
    for (;;) {
        RunPendingCalls();
        if (done()) {
            return true;
        }
        const auto left = deadline - Now();
        if (left <= std::chrono::milliseconds(0)) {
            return false;
        }
        // The sync event is set whenever a delivery is queued, so this sleeps only while nothing
        // arrives; the cap merely bounds how late a deadline can be noticed.
        WaitForSyncEvent(std::min(left, std::chrono::milliseconds(50)));
    }
}
