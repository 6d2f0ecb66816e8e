// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TIdThread: a worker that repeats Run() until it is stopped; TIdUDPListenerThread: the endpoint's
// receive thread, which hands every datagram to the endpoint (on the main thread unless ThreadedEvent)
// one at a time, in arrival order, the next only once the last has run, and meanwhile keeps emptying
// the sockets into a bounded queue that the delivery on the main thread takes from.
#include "net/IdStack.h"
#include "net/MemoryStream.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
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
    // What ended the body, if anything did; read it once Finished() holds.
    std::exception_ptr TerminatingException() const { return FTerminatingException; }

  protected:
    virtual void Run() = 0;         // one round of work
    virtual void StopRequested() {} // after the flags are set: wake the body if it sleeps
    virtual void Finishing() {}     // on the thread, after the last round, before it counts as finished
    void StopAndWait();

  private:
    void Execute();

    std::mutex FLock; // guards the two flags
    bool FStopFlag = true;
    bool FTerminated = false;
    std::exception_ptr FTerminatingException; // written by the body's thread before FFinished
    std::atomic<bool> FFinished{false};
    std::thread FThread;
};

// How far the listener reads ahead of the handler. A scan of the largest segment the program is meant
// for, a /22 of 1,022 devices, answers with about 1,000 small datagrams within a few
// milliseconds; the main thread handles one in well under a millisecond. 4,096 datagrams hold four such
// scans at once, so the bound never holds back a real one, and 4 MiB of bytes caps a flood of
// datagrams as long as the receive buffer allows (512 of 8,192 bytes) at a size no workstation notices.
// The datagram being handed over is held apart, in ReceiveBuffer. Past the bound the listener stops
// reading and the socket's own buffer fills and drops, as it did before there was any read-ahead.
inline constexpr std::size_t IdReadAheadDatagrams = 4096;
inline constexpr std::size_t IdReadAheadBytes = 4u << 20;
// What the listener asks for as the bindings' receive buffer: room for a whole segment's answers
// while the listener is not scheduled, where the system grants it.
inline constexpr int IdReceiveBufferRequest = 4 << 20;
// How many datagrams one call on the main thread hands over before it queues itself again behind
// whatever else waits there: a flood then never keeps the window from its clicks and painting, and a
// scan of a /22 costs some sixteen calls instead of a thousand.
inline constexpr int IdDeliveriesPerCall = 64;

class TIdUDPListenerThread : public TIdThread {
  public:
    // ended is told, on the main thread, of an exception that ended the thread (see Finishing).
    TIdUDPListenerThread(TIdUDPServer& server, int32_t bufferSize,
                         std::function<void(std::exception_ptr)> ended = {});
    ~TIdUDPListenerThread() override;

    TMemoryStream ReceiveBuffer;
    const int32_t ReceiveBufferSize;
    int32_t ReadWait = 1000;

  protected:
    void Run() override; // one receive cycle
    void StopRequested() override;
    void Finishing() override;

  private:
    struct TAheadDatagram {
        std::string Bytes;
        std::string SenderIP;
        int32_t SenderPort = 0;
        std::size_t Binding = 0;
    };
    // The read-ahead, shared with the delivery on the main thread, which may still be returning from
    // its last step when this thread has seen it and gone.
    struct THandOver {
        std::mutex Lock;
        std::deque<TAheadDatagram> Ahead;
        std::size_t AheadBytes = 0;
        // A delivery is queued or running on the main thread. Whoever holds it owns ReceiveBuffer and
        // FReceivingBinding: this thread until it posts the delivery, then the delivery until it
        // lowers the flag, which is its last touch of this thread's members.
        bool Outstanding = false;
        bool WaitingForRoom = false; // this thread reads nothing until it is woken
        bool Finishing = false;      // this thread waits for the flag to drop
        TIdSocketHandleType Wake = IdInvalidSocket;
    };

    std::size_t RoomLocked() const; // under FHandOver->Lock
    std::size_t Room();
    bool Outstanding();
    void ReadAhead(std::size_t index);
    void HandOver(); // the oldest datagram read ahead, unless a delivery is still outstanding
    void TakeIntoReceiveBuffer(TAheadDatagram& next);
    void DeliverOnMainThread(const std::shared_ptr<THandOver>& handOver);

    TIdUDPServer& FServer;
    std::function<void(std::exception_ptr)> FEnded;
    TIdSocketHandle* FReceivingBinding = nullptr;
    std::vector<std::vector<char>> FBatchBuffers;
    std::vector<TIdDatagramSlot> FBatch;
    std::shared_ptr<THandOver> FHandOver = std::make_shared<THandOver>();
    // The listener's own handles on the bindings' sockets, in binding order. The endpoint closes its
    // handles while this thread may still be waiting on them; were they the same descriptors, the
    // numbers could be reused by a new socket before the wait ends. These close with the thread.
    std::vector<TIdScopedSocket> FSockets;
    std::pair<TIdScopedSocket, TIdScopedSocket> FWake;
    std::vector<TIdSocketHandleType> FReadSet;
};
