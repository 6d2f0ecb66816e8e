// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/IdThread.h"

#include "net/IdException.h"
#include "net/IdUDPServer.h"
#include "net/MainThreadQueue.h"

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
    FReadSet.reserve(FSockets.size() + 1);
    // The one allocation of the buffer: each datagram only resizes it.
    ReceiveBuffer.SetSize(static_cast<std::size_t>(ReceiveBufferSize));
}

TIdUDPListenerThread::~TIdUDPListenerThread() {
    StopAndWait();
}

void TIdUDPListenerThread::StopRequested() {
    TIdStack::Instance().Wake(FWake.second.Get());
}

void TIdUDPListenerThread::Run() {
    TIdStack& stack = TIdStack::Instance();
    FReadSet.clear();
    for (const auto& s : FSockets) {
        FReadSet.push_back(s.Get());
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
                ReceiveFrom(i);
                break;
            }
        }
    }
}

void TIdUDPListenerThread::ReceiveFrom(std::size_t index) {
    try {
        if (Stopped()) {
            return;
        }
        TIdStack& stack = TIdStack::Instance();
        FReceivingBinding = &FServer.Bindings()[static_cast<int>(index)];
        ReceiveBuffer.SetSize(static_cast<std::size_t>(ReceiveBufferSize));
        std::string senderIP;
        int32_t senderPort = 0;
        const int n = stack.RecvFrom(FSockets[index].Get(), ReceiveBuffer.Memory(),
                                     static_cast<std::size_t>(ReceiveBufferSize), senderIP, senderPort);
        if (n < 0) {
            throw EIdSocketError(stack.WSGetLastError());
        }
        ReceiveBuffer.SetSize(static_cast<std::size_t>(n));
        ReceiveBuffer.SetPosition(0);
        FReceivingBinding->SenderIP = std::move(senderIP);
        FReceivingBinding->SenderPort = senderPort;
        if (FServer.ThreadedEvent) {
            FServer.DeliverDatagram(ReceiveBuffer, *FReceivingBinding);
        } else {
            RunOnMainThread([this] { FServer.DeliverDatagram(ReceiveBuffer, *FReceivingBinding); });
        }
    } catch (...) {
        // A failure ends the handling of this one datagram only (a failed read, an over-long
        // datagram, a handler that raised): the next one is received as usual.
    }
}
