// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/IdThread.h"

#include "net/IdException.h"
#include "net/IdUDPServer.h"
#include "net/MainThreadQueue.h"

#include <algorithm>
#include <cstring>

namespace {
// Datagrams read in one batch: enough to take a burst in a few calls, few enough that the read-ahead
// is read again soon after the delivery makes room.
constexpr std::size_t kBatch = 32;
} // namespace

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
        // Kept for whoever owns the thread: a receive thread that ended unasked is a fault to report,
        // not a quiet end.
        FTerminatingException = std::current_exception();
        std::lock_guard lock(FLock);
        FStopFlag = true;
        FTerminated = true;
    }
    Finishing();
    FFinished.store(true);
    SignalSyncEvent();
}

TIdUDPListenerThread::TIdUDPListenerThread(TIdUDPServer& server, int32_t bufferSize,
                                           std::function<void(std::exception_ptr)> ended)
    : ReceiveBufferSize(bufferSize > 0 ? bufferSize : 0), FServer(server), FEnded(std::move(ended)) {
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
std::size_t TIdUDPListenerThread::RoomLocked() const {
    const std::size_t datagrams = IdReadAheadDatagrams - FHandOver->Ahead.size();
    if (ReceiveBufferSize == 0) {
        return datagrams;
    }
    const std::size_t bytes =
        (IdReadAheadBytes - FHandOver->AheadBytes) / static_cast<std::size_t>(ReceiveBufferSize);
    // A buffer set larger than the byte bound still takes one datagram at a time.
    return std::min(datagrams, FHandOver->Ahead.empty() ? std::max<std::size_t>(bytes, 1) : bytes);
}

std::size_t TIdUDPListenerThread::Room() {
    std::lock_guard lock(FHandOver->Lock);
    return RoomLocked();
}

bool TIdUDPListenerThread::Outstanding() {
    std::lock_guard lock(FHandOver->Lock);
    return FHandOver->Outstanding;
}

void TIdUDPListenerThread::Run() {
    TIdStack& stack = TIdStack::Instance();
    FReadSet.clear();
    bool room = false;
    {
        std::lock_guard lock(FHandOver->Lock);
        room = RoomLocked() > 0;
        FHandOver->WaitingForRoom = !room;
    }
    // With the read-ahead full, only the wake-up is waited for (room made by the delivery, or the
    // stop): the sockets would read ready at once and keep the thread spinning.
    if (room) {
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
    TIdStack& stack = TIdStack::Instance();
    while (!Stopped()) {
        const std::size_t room = std::min(kBatch, Room());
        if (room == 0) {
            return; // the next cycle waits for the delivery to make room
        }
        const int n = stack.ReceiveBatch(FSockets[index].Get(), FBatch, room);
        {
            std::lock_guard lock(FHandOver->Lock);
            // A failed read costs that one datagram only, as an over-long one does: the next is read
            // as usual.
            for (int i = 0; i < n; ++i) {
                const TIdDatagramSlot& slot = FBatch[static_cast<std::size_t>(i)];
                if (slot.Size < 0) {
                    continue;
                }
                FHandOver->Ahead.push_back({std::string(slot.Buffer, static_cast<std::size_t>(slot.Size)),
                                            slot.IP, slot.Port, index});
                FHandOver->AheadBytes += static_cast<std::size_t>(slot.Size);
            }
        }
        // Handed over at once unless a delivery is under way (which takes these too): the main thread
        // takes in the start of a burst while this thread reads the rest.
        HandOver();
        if (n < static_cast<int>(room)) {
            return; // the socket is empty for now
        }
    }
}

void TIdUDPListenerThread::TakeIntoReceiveBuffer(TAheadDatagram& next) {
    FReceivingBinding = &FServer.Bindings()[static_cast<int>(next.Binding)];
    ReceiveBuffer.SetSize(next.Bytes.size());
    if (!next.Bytes.empty()) {
        std::memcpy(ReceiveBuffer.Memory(), next.Bytes.data(), next.Bytes.size());
    }
    ReceiveBuffer.SetPosition(0);
    FReceivingBinding->SenderIP = std::move(next.SenderIP);
    FReceivingBinding->SenderPort = next.SenderPort;
}

void TIdUDPListenerThread::HandOver() {
    while (!Stopped()) {
        TAheadDatagram next;
        {
            std::lock_guard lock(FHandOver->Lock);
            if (FHandOver->Ahead.empty() || FHandOver->Outstanding) {
                return;
            }
            next = std::move(FHandOver->Ahead.front());
            FHandOver->Ahead.pop_front();
            FHandOver->AheadBytes -= next.Bytes.size();
            FHandOver->Outstanding = !FServer.ThreadedEvent;
        }
        TakeIntoReceiveBuffer(next);
        if (FServer.ThreadedEvent) {
            try {
                FServer.DeliverDatagram(ReceiveBuffer, *FReceivingBinding);
            } catch (...) {
                // A handler that raised ends the handling of this one datagram only.
            }
            continue;
        }
        // From here the delivery takes the next datagrams itself, as long as there are any; this
        // thread posts again only once it has seen the flag down.
        PostToMainThread([this, handOver = FHandOver] { DeliverOnMainThread(handOver); });
        return;
    }
}

// On the main thread, holding the hand-over: the datagram in ReceiveBuffer, which was read ahead
// before any stop, always runs; each one after it only while the listener is not stopped.
void TIdUDPListenerThread::DeliverOnMainThread(const std::shared_ptr<THandOver>& handOver) {
    for (int delivered = 1;; ++delivered) {
        try {
            FServer.DeliverDatagram(ReceiveBuffer, *FReceivingBinding);
        } catch (...) {
            // A handler that raised ends the handling of this one datagram only.
        }
        // Asked before the hand-over's lock is taken: the thread's lock and that one are never
        // nested.
        const bool stopped = Stopped();
        TAheadDatagram next;
        {
            std::lock_guard lock(handOver->Lock);
            if (stopped || handOver->Ahead.empty()) {
                handOver->Outstanding = false;
                if (handOver->Finishing || handOver->WaitingForRoom) {
                    TIdStack::Instance().Wake(handOver->Wake);
                }
                // The last touch of the listener: once it sees the flag down it may go.
                return;
            }
            next = std::move(handOver->Ahead.front());
            handOver->Ahead.pop_front();
            handOver->AheadBytes -= next.Bytes.size();
            // A full read-ahead is read again once a whole batch fits, not for every datagram taken.
            if (handOver->WaitingForRoom && RoomLocked() >= kBatch) {
                handOver->WaitingForRoom = false;
                TIdStack::Instance().Wake(handOver->Wake);
            }
        }
        TakeIntoReceiveBuffer(next);
        if (delivered == IdDeliveriesPerCall) {
            // Behind whatever else waits for the main thread; the hand-over stays with the delivery.
            PostToMainThread([this, handOver] { DeliverOnMainThread(handOver); });
            return;
        }
    }
}

void TIdUDPListenerThread::Finishing() {
    // What was read ahead and not handed over is dropped, as the datagrams still in the sockets are;
    // a delivery still queued on the main thread touches this thread's buffer and binding, so it
    // must have run before the thread counts as finished and the endpoint lets it go.
    TIdStack& stack = TIdStack::Instance();
    {
        std::lock_guard lock(FHandOver->Lock);
        FHandOver->Finishing = true;
    }
    while (Outstanding()) {
        std::vector<TIdSocketHandleType> wake{FWake.first.Get()};
        if (stack.Select(wake, ReadWait) > 0) {
            stack.DrainWake(FWake.first.Get());
        }
    }
    // The endpoint hears of an end it did not ask for on the main thread, where its owner may stop
    // and start it again; the notice touches nothing of this thread, which may be gone by then.
    if (const std::exception_ptr error = TerminatingException(); error && FEnded) {
        PostToMainThread([ended = FEnded, error] { ended(error); });
    }
}
