// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/IdThread.h"

#include "net/IdException.h"
#include "net/IdUDPServer.h"
#include "net/MainThreadQueue.h"

#include <algorithm>
#include <cstring>

TIdThread::~TIdThread() {
    StopAndWait();
}

void TIdThread::Start() {
    std::lock_guard lock(FLock);
    if (!FStopFlag || FThread.joinable()) {
        return;
    }
    FStopFlag = false;
    FThread = std::thread(&TIdThread::Execute, this);
}

void TIdThread::Stop() {
    {
        std::lock_guard lock(FLock);
        if (FStopFlag && FTerminated) {
            return;
        }
        FStopFlag = true;
        FTerminated = true;
    }
    StopRequested();
}

void TIdThread::WaitFor() {
    if (!FThread.joinable()) {
        return;
    }
    if (IsMainThread()) {
        // The body may be blocked handing a call to this very thread: keep running queued calls until
        // it has finished, or the join below would never return.
        while (!FFinished.load()) {
            if (WaitForSyncEvent(std::chrono::milliseconds(1000))) {
                RunPendingCalls();
            }
        }
    }
    FThread.join();
}

void TIdThread::StopAndWait() {
    Stop();
    WaitFor();
}

bool TIdThread::Stopped() {
    std::lock_guard lock(FLock);
    return FStopFlag || FTerminated;
}

bool TIdThread::Terminated() {
    std::lock_guard lock(FLock);
    return FTerminated;
}

void TIdThread::Execute() {
    try {
        while (!Stopped()) {
            Run();
        }
    } catch (...) {
        // The body ends quietly, as nobody waits for its outcome.
        std::lock_guard lock(FLock);
        FStopFlag = true;
        FTerminated = true;
    }
    Finishing();
    FFinished.store(true);
    SignalSyncEvent();
}

TIdUDPListenerThread::TIdUDPListenerThread(TIdUDPServer& server, int32_t bufferSize)
    : ReceiveBufferSize(bufferSize > 0 ? bufferSize : 0), FServer(server) {
    TIdStack& stack = TIdStack::Instance();
    TIdSocketHandles& bindings = server.Bindings();
    if (static_cast<std::size_t>(bindings.Count()) > IdMaxSelectSockets) {
        throw EIdStackSetSizeExceeded();
    }
    for (int i = 0; i < bindings.Count(); ++i) {
        TIdScopedSocket own(stack.Duplicate(bindings[i].Socket));
        if (own.Get() == IdInvalidSocket) {
            throw EIdSocketError(stack.WSGetLastError());
        }
        FSockets.push_back(std::move(own));
    }
    FWake = stack.NewWakePair();
    FHandOver->Wake = FWake.second.Get();
    FReadSet.reserve(FSockets.size() + 1);
    // The one allocation of the buffers: each datagram only resizes ReceiveBuffer, and a batch reuses
    // its slots.
    ReceiveBuffer.SetSize(static_cast<std::size_t>(ReceiveBufferSize));
    constexpr std::size_t kBatch = 32;
    FBatchBuffers.assign(kBatch, std::vector<char>(static_cast<std::size_t>(ReceiveBufferSize)));
    FBatch.resize(kBatch);
    for (std::size_t i = 0; i < kBatch; ++i) {
        FBatch[i].Buffer = FBatchBuffers[i].data();
        FBatch[i].Capacity = FBatchBuffers[i].size();
    }
}

TIdUDPListenerThread::~TIdUDPListenerThread() {
    StopAndWait();
}

void TIdUDPListenerThread::StopRequested() {
    TIdStack::Instance().Wake(FWake.second.Get());
}

// Room for how many more datagrams, each counted as long as the buffer allows: a batch then never
// takes the read-ahead past either bound, whatever the datagrams' lengths.
std::size_t TIdUDPListenerThread::Room() const {
    const std::size_t datagrams = IdReadAheadDatagrams - FAhead.size();
    if (ReceiveBufferSize == 0) {
        return datagrams;
    }
    const std::size_t bytes = (IdReadAheadBytes - FAheadBytes) / static_cast<std::size_t>(ReceiveBufferSize);
    // A buffer set larger than the byte bound still takes one datagram at a time.
    return std::min(datagrams, FAhead.empty() ? std::max<std::size_t>(bytes, 1) : bytes);
}

bool TIdUDPListenerThread::Outstanding() {
    std::lock_guard lock(FHandOver->Lock);
    return FHandOver->Outstanding;
}

void TIdUDPListenerThread::Run() {
    TIdStack& stack = TIdStack::Instance();
    FReadSet.clear();
    // With the read-ahead full, only the wake-up is waited for (a delivery that ran, or the stop): the
    // sockets would read ready at once and keep the thread spinning.
    if (Room() > 0) {
        for (const auto& s : FSockets) {
            FReadSet.push_back(s.Get());
        }
    }
    FReadSet.push_back(FWake.first.Get());
    if (stack.Select(FReadSet, ReadWait) < 0) {
        throw EIdSocketError(stack.WSGetLastError());
    }
    for (const TIdSocketHandleType ready : FReadSet) {
        if (ready == FWake.first.Get()) {
            stack.DrainWake(ready);
            continue;
        }
        for (std::size_t i = FSockets.size(); i-- > 0;) {
            if (FSockets[i].Get() == ready) {
                ReadAhead(i);
                break;
            }
        }
    }
    HandOver();
}

void TIdUDPListenerThread::ReadAhead(std::size_t index) {
    if (Stopped()) {
        return;
    }
    TIdStack& stack = TIdStack::Instance();
    while (Room() > 0 && !Stopped()) {
        const std::size_t room = std::min(FBatch.size(), Room());
        const int n = stack.ReceiveBatch(FSockets[index].Get(), FBatch, room);
        // A failed read costs that one datagram only, as an over-long one does: the next is read as
        // usual.
        for (int i = 0; i < n; ++i) {
            const TIdDatagramSlot& slot = FBatch[static_cast<std::size_t>(i)];
            if (slot.Size < 0) {
                continue;
            }
            FAhead.push_back(
                {std::string(slot.Buffer, static_cast<std::size_t>(slot.Size)), slot.IP, slot.Port, index});
            FAheadBytes += static_cast<std::size_t>(slot.Size);
        }
        if (n < static_cast<int>(room)) {
            return; // the socket is empty for now
        }
        // A delivery that ran meanwhile goes out before more is read, so the handler is not kept
        // waiting behind a long burst.
        HandOver();
    }
}

void TIdUDPListenerThread::HandOver() {
    while (!FAhead.empty() && !Stopped()) {
        if (!FServer.ThreadedEvent && Outstanding()) {
            return;
        }
        TAheadDatagram& next = FAhead.front();
        FReceivingBinding = &FServer.Bindings()[static_cast<int>(next.Binding)];
        ReceiveBuffer.SetSize(next.Bytes.size());
        if (!next.Bytes.empty()) {
            std::memcpy(ReceiveBuffer.Memory(), next.Bytes.data(), next.Bytes.size());
        }
        ReceiveBuffer.SetPosition(0);
        FReceivingBinding->SenderIP = std::move(next.SenderIP);
        FReceivingBinding->SenderPort = next.SenderPort;
        FAheadBytes -= next.Bytes.size();
        FAhead.pop_front();
        if (FServer.ThreadedEvent) {
            try {
                FServer.DeliverDatagram(ReceiveBuffer, *FReceivingBinding);
            } catch (...) {
                // A handler that raised ends the handling of this one datagram only.
            }
            continue;
        }
        {
            std::lock_guard lock(FHandOver->Lock);
            FHandOver->Outstanding = true;
        }
        // ReceiveBuffer and the binding stay as they are until the delivery says it has run: nothing
        // else is handed over meanwhile, and Finishing waits for it.
        PostToMainThread([this, handOver = FHandOver] {
            try {
                FServer.DeliverDatagram(ReceiveBuffer, *FReceivingBinding);
            } catch (...) {
                // A handler that raised ends the handling of this one datagram only.
            }
            // The last touch of the listener: once it sees the flag down it may go.
            std::lock_guard lock(handOver->Lock);
            handOver->Outstanding = false;
            TIdStack::Instance().Wake(handOver->Wake);
        });
    }
}

void TIdUDPListenerThread::Finishing() {
    // What was read ahead and not handed over is dropped, as the datagrams still in the sockets are;
    // a delivery already queued on the main thread touches this thread's buffer and binding, so it
    // must have run before the thread counts as finished and the endpoint lets it go.
    TIdStack& stack = TIdStack::Instance();
    while (Outstanding()) {
        std::vector<TIdSocketHandleType> wake{FWake.first.Get()};
        if (stack.Select(wake, ReadWait) > 0) {
            stack.DrainWake(FWake.first.Get());
        }
    }
}
