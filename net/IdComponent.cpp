// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/IdComponent.h"

#include "net/IdStack.h"
#include "net/MainThreadQueue.h"

#include <mutex>

namespace {
std::mutex GInstanceLock;
int GInstanceCount = 0;
} // namespace

TIdComponent::TIdComponent() {
    // Components are built on the main thread; recording it here means a listener can never be the
    // first to ask and mistake itself for the main thread.
    IsMainThread();
    std::lock_guard lock(GInstanceLock);
    if (GInstanceCount == 0) {
        TIdStack::Create();
    }
    ++GInstanceCount;
}

TIdComponent::~TIdComponent() {
    std::lock_guard lock(GInstanceLock);
    if (--GInstanceCount == 0) {
        TIdStack::Destroy();
    }
}

int TIdComponent::InstanceCount() {
    std::lock_guard lock(GInstanceLock);
    return GInstanceCount;
}
