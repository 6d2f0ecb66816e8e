// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A socket layer of the test's own, on virtual time, for running the real endpoint (TIdUDPServer, its
// listener thread and the main-thread call queue) without a network: it records every datagram sent
// and delivers datagrams from any address the test chooses, through the listener as a real socket
// would. While a FakeNetwork exists, every socket layer the process creates is one of its views.
#include "net/IdStack.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct FakeDatagram {
    std::string fromIp;
    int32_t fromPort = 0;
    std::string toIp;
    int32_t toPort = 0;
    std::string bytes;
    std::chrono::milliseconds at{0}; // virtual time of the send
};

class FakeNetwork {
  public:
    FakeNetwork();  // installs itself as the process's socket layer
    ~FakeNetwork(); // restores the platform's; no endpoint may be left open

    FakeNetwork(const FakeNetwork&) = delete;
    FakeNetwork& operator=(const FakeNetwork&) = delete;

    // Virtual time: starts at 0 and moves only inside RunUntil.
    std::chrono::milliseconds Now() const;
    // Main thread: hands every datagram due so far to its endpoint's listener and runs the queued
    // deliveries; then, while done() does not hold, moves the clock to the next scheduled datagram
    // or to deadline, whichever comes first. Returns done().
    bool RunUntil(std::chrono::milliseconds deadline, const std::function<bool()>& done);

    // Everything the endpoints sent, in order.
    std::vector<FakeDatagram> Sent() const;
    void ClearSent();
    // Each is called on the sending thread for every datagram sent, after it is recorded; may Deliver.
    void AddResponder(std::function<void(const FakeDatagram&)> responder);
    void ClearResponders();
    // A datagram from fromIp:fromPort to the socket bound to toPort, after delay of virtual time.
    void Deliver(const std::string& fromIp, int32_t fromPort, int32_t toPort, const std::string& bytes,
                 std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    // Datagrams waiting in the socket bound to port, not yet taken by its listener.
    std::size_t Queued(int32_t port) const;
    // Real time, bounded: waits until every listener sleeps in its wait with nothing ready, so that
    // what it took and holds stays as it is until this thread runs the main thread's calls.
    bool WaitForListenersAsleep(std::chrono::milliseconds bound = std::chrono::seconds(10));
    // Holds port the way another program would: binding it fails with "address in use".
    void Occupy(int32_t port);
    // The next wait of a listener fails with code (a Windows Sockets code), once, as a failing poll or
    // select would. Until its endpoint closes the sockets, that listener counts as busy.
    void FailListenerWait(int code);
    // Before any endpoint: a system that lists these adapters and fails every send through one with
    // code (a Windows Sockets code).
    void RefuseAdapterChoice(std::vector<TIdBroadcastAdapter> adapters, int code) {
        FAdapters = std::move(adapters);
        FAdapterRefusal = code;
    }

  private:
    friend class FakeStack;
    struct Socket;

    // The socket layer's calls, made by FakeStack on any thread.
    TIdSocketHandleType Register(const std::shared_ptr<Socket>& socket, TIdSocketHandleType handle);
    std::shared_ptr<Socket> Find(TIdSocketHandleType handle);
    int Bind(TIdSocketHandleType s, const uint8_t (&ip)[4], int32_t port, int& error);
    bool Name(TIdSocketHandleType s, std::string& ip, int32_t& port);
    bool SetBroadcast(TIdSocketHandleType s, bool on);
    int SendTo(TIdSocketHandleType s, const void* data, std::size_t size, const uint8_t (&ip)[4],
               int32_t port, int& error);
    int RecvFrom(TIdSocketHandleType s, void* buffer, std::size_t size, std::string& ip, int32_t& port,
                 int& error);
    int Select(std::vector<TIdSocketHandleType>& readSet, int timeoutMs, int& error);
    void Close(TIdSocketHandleType s);
    void AddWakePair(TIdSocketHandleType reader, TIdSocketHandleType writer);
    void Wake(TIdSocketHandleType writer);
    void DrainWake(TIdSocketHandleType reader);

    struct Pending {
        std::chrono::milliseconds due;
        FakeDatagram datagram;
    };
    void Enqueue(const FakeDatagram& d); // under FLock
    void FireDue();                      // under FLock
    bool QuiescentLocked() const;        // under FLock
    void Settle();                       // main thread

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::map<TIdSocketHandleType, std::shared_ptr<Socket>> FHandles;
    std::map<TIdSocketHandleType, bool> FWakeReaders;                // reader -> woken
    std::map<TIdSocketHandleType, TIdSocketHandleType> FWakeWriters; // writer -> reader
    // Listeners by their wake-up handle. One that is awake may still hold datagrams it read ahead, or
    // be about to hand one over; one whose sockets are all closed has ended or is ending.
    struct Listener {
        bool asleep = false;  // in Select with nothing ready
        bool reading = false; // its last Select waited on its sockets, not on its wake-up alone
        std::vector<std::shared_ptr<Socket>> sockets;
    };
    std::map<TIdSocketHandleType, Listener> FListeners;
    bool ListenersAsleepLocked() const; // under FLock
    std::set<int32_t> FOccupied;
    int FListenerWaitFailure = 0;
    std::vector<TIdBroadcastAdapter> FAdapters;
    int FAdapterRefusal = 0;
    std::vector<Pending> FScheduled;
    std::vector<FakeDatagram> FSent;
    std::vector<std::function<void(const FakeDatagram&)>> FResponders;
    std::chrono::milliseconds FNow{0};
    int32_t FNextEphemeral = 49152;
    TIdStackFactory FPrevious;
};
