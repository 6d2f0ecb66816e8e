// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapter/QtWakeUp.h"

#include "net/MainThreadQueue.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

namespace {
const QEvent::Type kRunPendingCallsEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Lives on the main thread: every event posted to it, from whatever thread, is handled there. Nothing
// but the wake-up is ever posted to this private object, so any event is taken as one, without looking
// into it: the event was built on the listener and crossed over through Qt's own queue, whose locking
// ThreadSanitizer cannot see.
class TRunPendingCallsTarget : public QObject {
  public:
    bool event(QEvent* e) override {
        // RunPendingCalls hands every exception of a call back to the thread that queued it, so
        // nothing can escape into Qt's event loop from here.
        DrainPendingCalls(std::chrono::microseconds(100), std::chrono::milliseconds(5));
        return QObject::event(e);
    }
};

class TQtWakeUpGuardImpl : public QtWakeUpGuard {
  public:
    TQtWakeUpGuardImpl() {
        TRunPendingCallsTarget* target = &FTarget;
        SetWakeMainThread(
            [target] { QCoreApplication::postEvent(target, new QEvent(kRunPendingCallsEvent)); });
    }
    // The hook is removed under the queue lock before the target goes, so no thread can post to it
    // afterwards; events already posted die with it.
    ~TQtWakeUpGuardImpl() override { SetWakeMainThread(nullptr); }

  private:
    TRunPendingCallsTarget FTarget;
};
} // namespace

std::unique_ptr<QtWakeUpGuard> InstallQtWakeUp() {
    SetMainThread();
    return std::make_unique<TQtWakeUpGuardImpl>();
}
