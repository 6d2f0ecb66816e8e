// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The process-wide main-thread call queue through which the listener hands datagrams to the window.
// Plain C++: the wake-up is a hook that the application installs (see QtWakeUp.h for Qt's).
#include <chrono>
#include <functional>

// Records the calling thread as the main thread (the first call of any of these does it implicitly
// only if nothing was recorded; the application calls this once at start-up).
void SetMainThread();
bool IsMainThread();

// Runs call on the main thread and returns when it has run; an exception it raised is rethrown here.
void RunOnMainThread(const std::function<void()>& call);

// Queues call for the main thread and returns at once; a failure it raises is dropped. The caller keeps
// whatever call touches alive until call has run, which call itself tells it as its last step: this is
// how a listener goes on reading while the main thread handles what it has already handed over.
// Queued even from the main thread itself, behind what is queued already: a call that has done its
// share can post its own continuation and let the calls and events waiting behind it run first.
void PostToMainThread(std::function<void()> call);

// Whether a call is queued and has not run yet.
bool HasPendingCalls();

// Main thread: runs every queued call; returns whether any ran.
bool RunPendingCalls();

// Main thread: runs the queued calls like RunPendingCalls, then keeps taking calls that arrive within
// linger of the previous one, for at most budget in all, without a wake-up per call. A burst of
// datagrams then costs one wake of the main thread instead of one per datagram; the budget keeps
// other events (clicks, timers, painting) from waiting behind a flood.
bool DrainPendingCalls(std::chrono::microseconds linger, std::chrono::microseconds budget);

// Called (under the queue lock) whenever a call is queued; must be cheap and must not block.
// Returns the hook it replaces.
std::function<void()> SetWakeMainThread(std::function<void()> hook);

// The sync event: set when a call is queued and when a listener thread finishes.
void SignalSyncEvent();
// Waits up to timeout for the sync event; returns whether it was set.
bool WaitForSyncEvent(std::chrono::milliseconds timeout);
