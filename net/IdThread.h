// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TIdThread: a worker that repeats Run() until it is stopped; TIdUDPListenerThread: the endpoint's
// receive thread, which hands every datagram to the endpoint (on the main thread unless ThreadedEvent).
#include "net/IdStack.h"
#include "net/MemoryStream.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class TIdUDPServer;
class TIdSocketHandle;

class TIdThread {
  public:
    TIdThread() = default; // stopped until Start
    virtual ~TIdThread();  // derived classes call StopAndWait first: Run uses their members
    TIdThread(const TIdThread&) = delete;
    TIdThread& operator=(const TIdThread&) = delete;

    void Start();   // clears the stop flag and runs the body in a new thread
    void Stop();    // sets the stop and terminate flags; the body ends at its next check
    void WaitFor(); // on the main thread, runs queued calls while it waits
    bool Stopped();
    bool Terminated();
    bool Finished() const { return FFinished.load(); }

  protected:
    virtual void Run() = 0;         // one round of work
    virtual void StopRequested() {} // after the flags are set: wake the body if it sleeps
    void StopAndWait();

  private:
    void Execute();

    std::mutex FLock; // guards the two flags
    bool FStopFlag = true;
    bool FTerminated = false;
    std::atomic<bool> FFinished{false};
    std::thread FThread;
};

class TIdUDPListenerThread : public TIdThread {
  public:
    TIdUDPListenerThread(TIdUDPServer& server, int32_t bufferSize);
    ~TIdUDPListenerThread() override;

    TMemoryStream ReceiveBuffer;
    const int32_t ReceiveBufferSize;
    int32_t ReadWait = 1000;

  protected:
    void Run() override; // one receive cycle
    void StopRequested() override;

  private:
    void ReceiveFrom(std::size_t index);

    TIdUDPServer& FServer;
    TIdSocketHandle* FReceivingBinding = nullptr;
    // The listener's own handles on the bindings' sockets, in binding order. The endpoint closes its
    // handles while this thread may still be waiting on them; were they the same descriptors, the
    // numbers could be reused by a new socket before the wait ends. These close with the thread.
    std::vector<TIdScopedSocket> FSockets;
    std::pair<TIdScopedSocket, TIdScopedSocket> FWake;
    std::vector<TIdSocketHandleType> FReadSet;
};
