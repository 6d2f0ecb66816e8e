// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The process-wide socket layer: every socket call of every thread goes through it, and every failure
// is reported as a Windows Sockets error code, whatever the platform.
#include "net/IdPlatform.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Windows Sockets codes that the transport tests for.
inline constexpr int WSAEINTR_Code = 10004;
inline constexpr int WSAEWOULDBLOCK_Code = 10035;
inline constexpr int WSAEMSGSIZE_Code = 10040;
inline constexpr int WSAEADDRINUSE_Code = 10048;
// select in Windows Sockets takes at most this many sockets in one set.
inline constexpr std::size_t IdMaxSelectSockets = 64;

// Splits "a.b.c.d" into four bytes; false unless each part is a whole number from 0 to 255.
bool ParseDottedQuad(const std::string& text, uint8_t (&bytes)[4]);
std::string DottedQuad(const uint8_t (&bytes)[4]);

// An IPv4 socket address and back, for both socket layers. The port is put in network order byte by
// byte: the Windows layer calls nothing of the socket library's that it has not looked up itself.
sockaddr_in IdMakeAddress(const uint8_t (&ip)[4], int32_t port);
void IdReadAddress(const sockaddr_in& addr, std::string& ip, int32_t& port);

// Owns one socket handle and closes it when destroyed.
class TIdScopedSocket {
  public:
    TIdScopedSocket() = default;
    explicit TIdScopedSocket(TIdSocketHandleType s) : FSocket(s) {}
    ~TIdScopedSocket() { Reset(); }
    TIdScopedSocket(TIdScopedSocket&& o) noexcept : FSocket(std::exchange(o.FSocket, IdInvalidSocket)) {}
    TIdScopedSocket& operator=(TIdScopedSocket&& o) noexcept {
        if (this != &o) {
            Reset();
            FSocket = std::exchange(o.FSocket, IdInvalidSocket);
        }
        return *this;
    }
    TIdSocketHandleType Get() const { return FSocket; }
    void Reset();

  private:
    TIdSocketHandleType FSocket = IdInvalidSocket;
};

// One datagram of a batch read: the caller gives the buffer, the layer fills in the rest.
struct TIdDatagramSlot {
    char* Buffer = nullptr;
    std::size_t Capacity = 0;
    int Size = 0;   // bytes received; -1 when the datagram was longer than Capacity (consumed all the same)
    std::string IP; // sender
    int32_t Port = 0;
};

// An adapter that a datagram to 255.255.255.255 can leave through.
struct TIdBroadcastAdapter {
    std::string Name;        // the system's name for it, the one a user gives to pick it
    uint32_t Index = 0;      // the system's interface index
    uint8_t Address[4] = {}; // its IPv4 address, the source of what leaves through it
    uint8_t Mask[4] = {};    // that address's subnet mask; all zero when the layer cannot tell
};

class TIdStack {
  public:
    virtual ~TIdStack() = default;

    // The one instance; exists while a TIdComponent does.
    static TIdStack& Instance();
    static void Create(); // EIdStackInitializationFailed when the socket library cannot start
    static void Destroy();

    // Each returns -1 (or IdInvalidSocket) on failure, with the code kept for WSGetLastError.
    virtual TIdSocketHandleType NewSocketHandle() = 0; // IPv4 datagram socket, blocking
    virtual TIdSocketHandleType Duplicate(TIdSocketHandleType s) = 0;
    virtual int Bind(TIdSocketHandleType s, const uint8_t (&ip)[4], int32_t port) = 0;
    virtual int GetSockName(TIdSocketHandleType s, std::string& ip, int32_t& port) = 0;
    virtual int SetBroadcast(TIdSocketHandleType s, bool on) = 0;
    virtual int SendTo(TIdSocketHandleType s, const void* data, std::size_t size, const uint8_t (&ip)[4],
                       int32_t port) = 0;
    // One datagram; a datagram longer than size is consumed and fails with WSAEMSGSIZE, and a wait for
    // a datagram that is not there fails instead of blocking.
    virtual int RecvFrom(TIdSocketHandleType s, void* buffer, std::size_t size, std::string& ip,
                         int32_t& port) = 0;
    // The datagrams already queued on s, in arrival order, into slots[0..max) without waiting: returns
    // how many slots it filled, 0 when nothing was queued, or -1 with the code kept when the first
    // read failed. A read that fails after the first ends the batch there, and the next batch reports
    // it. The base layer reads one at a time while a zero wait still finds s readable, which suits a
    // layer whose reads block.
    virtual int ReceiveBatch(TIdSocketHandleType s, std::vector<TIdDatagramSlot>& slots, std::size_t max);
    // Asks for a receive buffer of bytes on s; best effort, and what the system grants may be less.
    // Returns the size the system reports afterwards, or 0 when it cannot tell. The base layer leaves
    // the system's default.
    virtual int SetReceiveBufferSize(TIdSocketHandleType s, int bytes);
    // Reduces readSet to the readable sockets, keeping their order; interrupted waits are resumed.
    virtual int Select(std::vector<TIdSocketHandleType>& readSet, int timeoutMs) = 0;
    virtual void Shutdown(TIdSocketHandleType s, int how) = 0;
    virtual void Close(TIdSocketHandleType s) = 0;
    // Host name to dotted decimal text, first IPv4 address; empty when it cannot be resolved.
    virtual std::string ResolveHost(const std::string& host) = 0;

    // A pair of connected handles: a byte written to the second makes the first readable. Lets a
    // thread blocked in Select be woken without touching the sockets it waits on.
    virtual std::pair<TIdScopedSocket, TIdScopedSocket> NewWakePair() = 0;
    virtual void Wake(TIdSocketHandleType writer) = 0;
    virtual void DrainWake(TIdSocketHandleType reader) = 0;

    // A limited broadcast leaves through the one adapter the routing table picks, so a workstation
    // with two adapters reaches one segment only. The endpoint sends it out of each of these instead:
    // the adapters that are up and carry a signal, are not loopback, and have an IPv4 address and
    // broadcast capability, each once, read afresh at every call. A layer that cannot list them
    // returns none, and the endpoint then sends one datagram the way it always has (SendTo).
    virtual std::vector<TIdBroadcastAdapter> BroadcastAdapters();
    // SendTo, out of the given adapter only; -1 with the code kept when that adapter cannot take it,
    // or when the system does not take the choice of an adapter at all (WSAEINVAL, WSAENOPROTOOPT or
    // WSAEOPNOTSUPP). The base layer cannot choose an adapter and sends as SendTo does.
    virtual int SendToThrough(TIdSocketHandleType s, const void* data, std::size_t size,
                              const uint8_t (&ip)[4], int32_t port, const TIdBroadcastAdapter& adapter);

    // Windows Sockets code of the calling thread's last failure.
    int WSGetLastError() const;

  protected:
    void SetLastError(int wsaCode);
};

// The BSD implementation: errno is translated into the Windows Sockets code.
class TIdStackPosix : public TIdStack {
  public:
    static int TranslateErrno(int err);

    TIdSocketHandleType NewSocketHandle() override;
    TIdSocketHandleType Duplicate(TIdSocketHandleType s) override;
    int Bind(TIdSocketHandleType s, const uint8_t (&ip)[4], int32_t port) override;
    int GetSockName(TIdSocketHandleType s, std::string& ip, int32_t& port) override;
    int SetBroadcast(TIdSocketHandleType s, bool on) override;
    int SendTo(TIdSocketHandleType s, const void* data, std::size_t size, const uint8_t (&ip)[4],
               int32_t port) override;
    int RecvFrom(TIdSocketHandleType s, void* buffer, std::size_t size, std::string& ip,
                 int32_t& port) override;
    int ReceiveBatch(TIdSocketHandleType s, std::vector<TIdDatagramSlot>& slots, std::size_t max) override;
    int SetReceiveBufferSize(TIdSocketHandleType s, int bytes) override;
    int Select(std::vector<TIdSocketHandleType>& readSet, int timeoutMs) override;
    void Shutdown(TIdSocketHandleType s, int how) override;
    void Close(TIdSocketHandleType s) override;
    std::string ResolveHost(const std::string& host) override;
    std::pair<TIdScopedSocket, TIdScopedSocket> NewWakePair() override;
    void Wake(TIdSocketHandleType writer) override;
    void DrainWake(TIdSocketHandleType reader) override;
    std::vector<TIdBroadcastAdapter> BroadcastAdapters() override;
    int SendToThrough(TIdSocketHandleType s, const void* data, std::size_t size, const uint8_t (&ip)[4],
                      int32_t port, const TIdBroadcastAdapter& adapter) override;

  private:
    int Fail(); // records the translated errno, returns -1
};

// Builds the platform's socket layer (defined next to the implementation that the build selects).
std::unique_ptr<TIdStack> NewPlatformStack();

// Test seam: TIdStack::Create builds the layer with factory instead of NewPlatformStack while one is
// set (pass {} to restore); returns the one it replaces. Lets a test make the socket library fail to
// load or start, on a machine where the real one never does, or run the endpoint on a fake network.
using TIdStackFactory = std::function<std::unique_ptr<TIdStack>()>;
TIdStackFactory SetStackFactory(TIdStackFactory factory);
