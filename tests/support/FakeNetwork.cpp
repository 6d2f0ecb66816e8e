// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeNetwork.h"

#include "net/MainThreadQueue.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

// Where the fake workstation's datagrams come from when its socket is bound to every interface.
const char WorkstationIp[] = "10.77.0.100";
constexpr int WsaEacces = 10013;
constexpr int WsaEwouldblock = 10035;
constexpr int WsaEnotsock = 10038;
constexpr int WsaEinval = 10022;

std::string Dotted(const uint8_t (&ip)[4]) {
    return DottedQuad(ip);
}

} // namespace

struct FakeNetwork::Socket {
    bool bound = false;
    bool closed = false;
    bool broadcast = false;
    std::string ip = "0.0.0.0";
    int32_t port = 0;
    std::deque<FakeDatagram> queue;
};

// The socket layer the endpoint talks to. Its handles are real (unbound, never used) sockets of the
// platform, so that the endpoint may close them itself as it does real ones; everything else is the
// FakeNetwork's.
class FakeStack : public TIdStack {
  public:
    explicit FakeStack(FakeNetwork& net) : FNet(net), FInner(NewPlatformStack()) {}

    TIdSocketHandleType NewSocketHandle() override {
        const TIdSocketHandleType h = FInner->NewSocketHandle();
        return h == IdInvalidSocket ? h : FNet.Register(std::make_shared<FakeNetwork::Socket>(), h);
    }
    TIdSocketHandleType Duplicate(TIdSocketHandleType s) override {
        const auto socket = FNet.Find(s);
        if (!socket) {
            SetLastError(WsaEnotsock);
            return IdInvalidSocket;
        }
        const TIdSocketHandleType h = FInner->NewSocketHandle();
        return h == IdInvalidSocket ? h : FNet.Register(socket, h);
    }
    int Bind(TIdSocketHandleType s, const uint8_t (&ip)[4], int32_t port) override {
        return Checked(FNet.Bind(s, ip, port, FError));
    }
    int GetSockName(TIdSocketHandleType s, std::string& ip, int32_t& port) override {
        return Checked(FNet.Name(s, ip, port) ? 0 : (FError = WsaEnotsock, -1));
    }
    int SetBroadcast(TIdSocketHandleType s, bool on) override {
        return Checked(FNet.SetBroadcast(s, on) ? 0 : (FError = WsaEnotsock, -1));
    }
    int SendTo(TIdSocketHandleType s, const void* data, std::size_t size, const uint8_t (&ip)[4],
               int32_t port) override {
        return Checked(FNet.SendTo(s, data, size, ip, port, FError));
    }
    int RecvFrom(TIdSocketHandleType s, void* buffer, std::size_t size, std::string& ip,
                 int32_t& port) override {
        return Checked(FNet.RecvFrom(s, buffer, size, ip, port, FError));
    }
    int Select(std::vector<TIdSocketHandleType>& readSet, int timeoutMs) override {
        return Checked(FNet.Select(readSet, timeoutMs, FError));
    }
    void Shutdown(TIdSocketHandleType, int) override {}
    void Close(TIdSocketHandleType s) override {
        FNet.Close(s);
        FInner->Close(s);
    }
    std::string ResolveHost(const std::string&) override { return ""; }
    std::pair<TIdScopedSocket, TIdScopedSocket> NewWakePair() override {
        TIdScopedSocket reader(FInner->NewSocketHandle());
        TIdScopedSocket writer(FInner->NewSocketHandle());
        FNet.AddWakePair(reader.Get(), writer.Get());
        return {std::move(reader), std::move(writer)};
    }
    std::vector<TIdBroadcastAdapter> BroadcastAdapters() override { return FNet.FAdapters; }
    int SendToThrough(TIdSocketHandleType, const void*, std::size_t, const uint8_t (&)[4], int32_t,
                      const TIdBroadcastAdapter&) override {
        SetLastError(FNet.FAdapterRefusal);
        return -1;
    }
    void Wake(TIdSocketHandleType writer) override { FNet.Wake(writer); }
    void DrainWake(TIdSocketHandleType reader) override { FNet.DrainWake(reader); }

  private:
    int Checked(int result) {
        if (result < 0) {
            SetLastError(FError);
        }
        return result;
    }

    FakeNetwork& FNet;
    std::unique_ptr<TIdStack> FInner;
    // Written and read by one call on one thread; SetLastError keeps it per thread from there on.
    static thread_local int FError;
};

thread_local int FakeStack::FError = 0;

FakeNetwork::FakeNetwork() {
    FPrevious =
        SetStackFactory([this] { return std::unique_ptr<TIdStack>(std::make_unique<FakeStack>(*this)); });
}

FakeNetwork::~FakeNetwork() {
    SetStackFactory(std::move(FPrevious));
}

std::chrono::milliseconds FakeNetwork::Now() const {
    std::lock_guard lock(FLock);
    return FNow;
}

std::vector<FakeDatagram> FakeNetwork::Sent() const {
    std::lock_guard lock(FLock);
    return FSent;
}

void FakeNetwork::ClearSent() {
    std::lock_guard lock(FLock);
    FSent.clear();
}

void FakeNetwork::AddResponder(std::function<void(const FakeDatagram&)> responder) {
    std::lock_guard lock(FLock);
    FResponders.push_back(std::move(responder));
}

void FakeNetwork::ClearResponders() {
    std::lock_guard lock(FLock);
    FResponders.clear();
}

void FakeNetwork::Deliver(const std::string& fromIp, int32_t fromPort, int32_t toPort,
                          const std::string& bytes, std::chrono::milliseconds delay) {
    std::lock_guard lock(FLock);
    FakeDatagram d{fromIp, fromPort, WorkstationIp, toPort, bytes, FNow};
    if (delay.count() <= 0) {
        Enqueue(d);
    } else {
        FScheduled.push_back({FNow + delay, std::move(d)});
    }
}

void FakeNetwork::Occupy(int32_t port) {
    std::lock_guard lock(FLock);
    FOccupied.insert(port);
}

void FakeNetwork::FailListenerWait(int code) {
    std::lock_guard lock(FLock);
    FListenerWaitFailure = code;
}

TIdSocketHandleType FakeNetwork::Register(const std::shared_ptr<Socket>& socket, TIdSocketHandleType handle) {
    std::lock_guard lock(FLock);
    // A number the platform hands out again belonged to a handle closed behind our back: forget it.
    FHandles[handle] = socket;
    FWakeReaders.erase(handle);
    FListeners.erase(handle);
    FWakeWriters.erase(handle);
    return handle;
}

std::shared_ptr<FakeNetwork::Socket> FakeNetwork::Find(TIdSocketHandleType handle) {
    std::lock_guard lock(FLock);
    const auto it = FHandles.find(handle);
    return it == FHandles.end() || it->second->closed ? nullptr : it->second;
}

int FakeNetwork::Bind(TIdSocketHandleType s, const uint8_t (&ip)[4], int32_t port, int& error) {
    std::lock_guard lock(FLock);
    const auto it = FHandles.find(s);
    if (it == FHandles.end() || it->second->closed) {
        error = WsaEnotsock;
        return -1;
    }
    Socket& socket = *it->second;
    if (socket.bound) {
        error = WsaEinval;
        return -1;
    }
    if (port == 0) {
        port = FNextEphemeral++;
    }
    const bool taken =
        FOccupied.count(port) != 0 || std::any_of(FHandles.begin(), FHandles.end(), [&](const auto& entry) {
            return entry.second->bound && !entry.second->closed && entry.second->port == port;
        });
    if (taken) {
        error = WSAEADDRINUSE_Code;
        return -1;
    }
    socket.bound = true;
    socket.ip = Dotted(ip);
    socket.port = port;
    return 0;
}

bool FakeNetwork::Name(TIdSocketHandleType s, std::string& ip, int32_t& port) {
    std::lock_guard lock(FLock);
    const auto it = FHandles.find(s);
    if (it == FHandles.end() || it->second->closed) {
        return false;
    }
    ip = it->second->ip;
    port = it->second->port;
    return true;
}

bool FakeNetwork::SetBroadcast(TIdSocketHandleType s, bool on) {
    std::lock_guard lock(FLock);
    const auto it = FHandles.find(s);
    if (it == FHandles.end() || it->second->closed) {
        return false;
    }
    it->second->broadcast = on;
    return true;
}

int FakeNetwork::SendTo(TIdSocketHandleType s, const void* data, std::size_t size, const uint8_t (&ip)[4],
                        int32_t port, int& error) {
    FakeDatagram sent;
    std::vector<std::function<void(const FakeDatagram&)>> responders;
    {
        std::lock_guard lock(FLock);
        const auto it = FHandles.find(s);
        if (it == FHandles.end() || it->second->closed || !it->second->bound) {
            error = WsaEnotsock;
            return -1;
        }
        const Socket& socket = *it->second;
        const std::string to = Dotted(ip);
        // As a real stack does: a limited broadcast needs the option on the socket.
        if (to == "255.255.255.255" && !socket.broadcast) {
            error = WsaEacces;
            return -1;
        }
        sent = FakeDatagram{socket.ip == "0.0.0.0" ? WorkstationIp : socket.ip, socket.port, to, port,
                            std::string(static_cast<const char*>(data), size),  FNow};
        FSent.push_back(sent);
        Enqueue(sent);
        responders = FResponders;
    }
    for (const auto& responder : responders) {
        responder(sent);
    }
    return static_cast<int>(size);
}

int FakeNetwork::RecvFrom(TIdSocketHandleType s, void* buffer, std::size_t size, std::string& ip,
                          int32_t& port, int& error) {
    std::lock_guard lock(FLock);
    const auto it = FHandles.find(s);
    if (it == FHandles.end() || it->second->closed || it->second->queue.empty()) {
        error = WsaEwouldblock;
        return -1;
    }
    const FakeDatagram d = std::move(it->second->queue.front());
    it->second->queue.pop_front();
    ip = d.fromIp;
    port = d.fromPort;
    if (d.bytes.size() > size) {
        error = WSAEMSGSIZE_Code;
        return -1;
    }
    std::memcpy(buffer, d.bytes.data(), d.bytes.size());
    return static_cast<int>(d.bytes.size());
}

int FakeNetwork::Select(std::vector<TIdSocketHandleType>& readSet, int timeoutMs, int& error) {
    std::unique_lock lock(FLock);
    Listener* listener = nullptr;
    std::vector<std::shared_ptr<Socket>> sockets;
    for (const TIdSocketHandleType h : readSet) {
        if (FWakeReaders.count(h) != 0) {
            listener = &FListeners[h];
        } else if (const auto it = FHandles.find(h); it != FHandles.end()) {
            sockets.push_back(it->second);
        }
    }
    // A listener with its read-ahead full waits for its wake-up alone: its sockets are still the ones
    // it read before.
    if (listener != nullptr) {
        listener->reading = !sockets.empty();
        if (listener->reading) {
            listener->sockets = std::move(sockets);
        }
        // Never asleep after this: the listener has ended, and counts as busy until its sockets close.
        if (FListenerWaitFailure != 0) {
            error = std::exchange(FListenerWaitFailure, 0);
            listener->asleep = false;
            return -1;
        }
    }
    std::vector<TIdSocketHandleType> ready;
    const auto anyReady = [&] {
        ready.clear();
        for (const TIdSocketHandleType h : readSet) {
            const auto wake = FWakeReaders.find(h);
            if (wake != FWakeReaders.end()) {
                if (wake->second) {
                    ready.push_back(h);
                }
                continue;
            }
            const auto it = FHandles.find(h);
            if (it != FHandles.end() && !it->second->closed && !it->second->queue.empty()) {
                ready.push_back(h);
            }
        }
        // Asleep only when it is about to wait: a zero wait is a listener looking for more to read.
        if (listener != nullptr && timeoutMs > 0) {
            listener->asleep = ready.empty();
            FChanged.notify_all();
        }
        return !ready.empty();
    };
    FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), anyReady);
    if (listener != nullptr) {
        listener->asleep = false;
    }
    readSet = ready;
    return static_cast<int>(ready.size());
}

void FakeNetwork::Close(TIdSocketHandleType s) {
    std::lock_guard lock(FLock);
    const auto it = FHandles.find(s);
    if (it == FHandles.end()) {
        return;
    }
    // The endpoint closes its binding only while it stops: the socket is gone for its listener too,
    // and so is anything still queued on it.
    it->second->closed = true;
    it->second->bound = false;
    it->second->queue.clear();
    FHandles.erase(it);
    FChanged.notify_all();
}

void FakeNetwork::AddWakePair(TIdSocketHandleType reader, TIdSocketHandleType writer) {
    std::lock_guard lock(FLock);
    FHandles.erase(reader);
    FHandles.erase(writer);
    FListeners.erase(reader); // a number the platform handed out again: a listener of its own
    FWakeReaders[reader] = false;
    FWakeWriters[writer] = reader;
}

void FakeNetwork::Wake(TIdSocketHandleType writer) {
    std::lock_guard lock(FLock);
    const auto it = FWakeWriters.find(writer);
    if (it != FWakeWriters.end()) {
        FWakeReaders[it->second] = true;
        FChanged.notify_all();
    }
}

void FakeNetwork::DrainWake(TIdSocketHandleType reader) {
    std::lock_guard lock(FLock);
    FWakeReaders[reader] = false;
}

void FakeNetwork::Enqueue(const FakeDatagram& d) {
    for (auto& [handle, socket] : FHandles) {
        const bool addressed = socket->ip == "0.0.0.0" || socket->ip == d.toIp || d.toIp == "255.255.255.255";
        if (socket->bound && !socket->closed && socket->port == d.toPort && addressed) {
            socket->queue.push_back(d);
            FChanged.notify_all();
            return;
        }
    }
    // Nobody is bound there: the datagram is lost, as on a real network.
}

void FakeNetwork::FireDue() {
    std::stable_sort(FScheduled.begin(), FScheduled.end(),
                     [](const Pending& a, const Pending& b) { return a.due < b.due; });
    auto it = FScheduled.begin();
    for (; it != FScheduled.end() && it->due <= FNow; ++it) {
        Enqueue(it->datagram);
    }
    FScheduled.erase(FScheduled.begin(), it);
}

bool FakeNetwork::QuiescentLocked() const {
    if (FListenerWaitFailure != 0) {
        return false; // a listener is about to meet it
    }
    for (const auto& [handle, socket] : FHandles) {
        if (!socket->closed && !socket->queue.empty()) {
            return false;
        }
    }
    // A wake-up not yet taken is a listener about to run: a delivery of its ran, or it is stopping.
    if (std::any_of(FWakeReaders.begin(), FWakeReaders.end(),
                    [](const auto& entry) { return entry.second; })) {
        return false;
    }
    return ListenersAsleepLocked();
}

bool FakeNetwork::ListenersAsleepLocked() const {
    return std::all_of(FListeners.begin(), FListeners.end(), [](const auto& entry) {
        const Listener& l = entry.second;
        const auto closed = [](const auto& socket) { return socket->closed; };
        const auto empty = [](const auto& socket) { return socket->closed || socket->queue.empty(); };
        const bool ended = !l.sockets.empty() && std::all_of(l.sockets.begin(), l.sockets.end(), closed);
        // Asleep over sockets that have something to read is about to wake.
        const bool idle = l.asleep && (!l.reading || std::all_of(l.sockets.begin(), l.sockets.end(), empty));
        return idle || ended;
    });
}

std::size_t FakeNetwork::Queued(int32_t port) const {
    std::lock_guard lock(FLock);
    for (const auto& [handle, socket] : FHandles) {
        if (socket->bound && !socket->closed && socket->port == port) {
            return socket->queue.size();
        }
    }
    return 0;
}

bool FakeNetwork::WaitForListenersAsleep(std::chrono::milliseconds bound) {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, bound, [this] { return !FListeners.empty() && ListenersAsleepLocked(); });
}

void FakeNetwork::Settle() {
    {
        std::lock_guard lock(FLock);
        FireDue();
    }
    // Real time, and generous: only a broken endpoint would take more than a moment here.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        RunPendingCalls();
        {
            std::unique_lock lock(FLock);
            // With every listener asleep none can queue a call any more: one still queued is the last.
            if (QuiescentLocked() && !HasPendingCalls()) {
                break;
            }
            if (std::chrono::steady_clock::now() > limit) {
                throw std::runtime_error("FakeNetwork: queued datagrams were not delivered within 10 s");
            }
            FChanged.wait_for(lock, std::chrono::microseconds(200));
        }
    }
    RunPendingCalls();
}

bool FakeNetwork::RunUntil(std::chrono::milliseconds deadline, const std::function<bool()>& done) {
    for (;;) {
        Settle();
        if (done()) {
            return true;
        }
        std::lock_guard lock(FLock);
        if (FNow >= deadline) {
            return false;
        }
        auto next = deadline;
        for (const Pending& p : FScheduled) {
            next = std::min(next, p.due);
        }
        FNow = std::max(FNow, next);
    }
}
