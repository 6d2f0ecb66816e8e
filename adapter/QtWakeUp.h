// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one place where net/ meets Qt: installs a wake-up hook that posts an event to a main-thread
// object whose handler runs RunPendingCalls, so that the main loop, QCoreApplication::processEvents
// (and with it Delay) and modal loops all drain the call queue. Call once on the main thread after
// the QCoreApplication exists; the returned guard uninstalls the hook.
#include <memory>

class QtWakeUpGuard;
std::unique_ptr<QtWakeUpGuard> InstallQtWakeUp();

class QtWakeUpGuard {
  public:
    virtual ~QtWakeUpGuard() = default;
};
