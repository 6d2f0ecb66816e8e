// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/MainThreadQueue.h"

#include "net/IdPlatform.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {
// Lives on the stack of the thread that queued it, which waits until the main thread has run it; or,
// without a signal, posted: owned by the queue, with its call, and deleted once the call has run.
struct PendingCall {
    const std::function<void()>* call = nullptr;
    std::exception_ptr error;
    TIdThreadSignal* signal = nullptr;
    std::function<void()> posted;
};

// One signal per queuing thread, reused for each of its calls. It outlives the call, so the main thread
// may still be inside release() when the waiter has already gone on; and the waiter does not have to
// take the queue lock back from the main thread to wake up.
TIdThreadSignal& ThreadSignal() {
    thread_local TIdThreadSignal signal{0};
    return signal;
}

std::mutex GQueueLock;
std::vector<PendingCall*> GPending;
std::function<void()> GWakeMainThread;
// True while the main thread lingers in DrainPendingCalls: it will see a new call without being woken.
bool GMainDraining = false; // guarded by GQueueLock

std::atomic<std::thread::id> GMainThread{};

// Set and reset once per delivery, waited on only while a thread is being stopped: the lock and the
// notification are paid only when someone waits.
struct ManualResetEvent {
    std::atomic<bool> set{false};
    std::atomic<int> waiters{0};
    std::mutex lock;
    std::condition_variable changed;
};
ManualResetEvent GSyncEvent;

std::thread::id MainThreadId() {
    std::thread::id none{};
    GMainThread.compare_exchange_strong(none, std::this_thread::get_id());
    return GMainThread.load();
}

void ResetSyncEvent() {
    GSyncEvent.set.store(false);
}
} // namespace

void SetMainThread() {
    GMainThread.store(std::this_thread::get_id());
}

bool IsMainThread() {
    return MainThreadId() == std::this_thread::get_id();
}

void RunOnMainThread(const std::function<void()>& call) {
    if (IsMainThread()) {
        call();
        return;
    }
    PendingCall pending;
    pending.call = &call;
    pending.signal = &ThreadSignal();
    {
        std::lock_guard lock(GQueueLock);
        GPending.push_back(&pending);
        SignalSyncEvent();
        if (GWakeMainThread && !GMainDraining) {
            GWakeMainThread();
        }
    }
    pending.signal->acquire();
    if (pending.error) {
        std::rethrow_exception(pending.error);
    }
}

void PostToMainThread(std::function<void()> call) {
    auto pending = std::make_unique<PendingCall>();
    pending->posted = std::move(call);
    pending->call = &pending->posted;
    std::lock_guard lock(GQueueLock);
    GPending.push_back(pending.release());
    SignalSyncEvent();
    if (GWakeMainThread && !GMainDraining) {
        GWakeMainThread();
    }
}

bool HasPendingCalls() {
    std::lock_guard lock(GQueueLock);
    return !GPending.empty();
}

bool RunPendingCalls() {
    if (!IsMainThread()) {
        return false;
    }
    ResetSyncEvent();
    std::vector<PendingCall*> taken;
    {
        std::lock_guard lock(GQueueLock);
        taken.swap(GPending);
    }
    for (PendingCall* pending : taken) {
        try {
            (*pending->call)();
        } catch (...) {
            // handed back to the queuing thread, which raises it there (dropped for a posted call)
            pending->error = std::current_exception();
        }
        if (pending->signal == nullptr) {
            delete pending;
            continue;
        }
        // The last touch of the call: once signalled, its owner may leave and take it along.
        pending->signal->release();
    }
    return !taken.empty();
}

bool DrainPendingCalls(std::chrono::microseconds linger, std::chrono::microseconds budget) {
    if (!RunPendingCalls()) {
        return false;
    }
    {
        std::lock_guard lock(GQueueLock);
        GMainDraining = true;
    }
    const auto start = std::chrono::steady_clock::now();
    auto last = start;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now - last >= linger || now - start >= budget) {
            std::lock_guard lock(GQueueLock);
            GMainDraining = false;
            // A call that came in while the flag was up posted no wake-up: post it now, so it runs at
            // the next drain point rather than never.
            if (!GPending.empty() && GWakeMainThread) {
                GWakeMainThread();
            }
            return true;
        }
        if (RunPendingCalls()) {
            last = std::chrono::steady_clock::now();
        } else {
            std::this_thread::yield();
        }
    }
}

std::function<void()> SetWakeMainThread(std::function<void()> hook) {
    std::lock_guard lock(GQueueLock);
    std::swap(GWakeMainThread, hook);
    return hook;
}

void SignalSyncEvent() {
    GSyncEvent.set.store(true);
    if (GSyncEvent.waiters.load() > 0) {
        std::lock_guard lock(GSyncEvent.lock);
        GSyncEvent.changed.notify_all();
    }
}

bool WaitForSyncEvent(std::chrono::milliseconds timeout) {
    std::unique_lock lock(GSyncEvent.lock);
    GSyncEvent.waiters.fetch_add(1);
    const bool set = GSyncEvent.changed.wait_for(lock, timeout, [] { return GSyncEvent.set.load(); });
    GSyncEvent.waiters.fetch_sub(1);
    return set;
}
