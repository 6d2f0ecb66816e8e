// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Helpers for the transport tests: bounded waits that pump the main thread's events, a plain UDP peer
// on the loopback, and a recorder of OnUDPRead calls.
#include "net/IdUDPServer.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

// Pumps the main thread's events until done() holds or the bound runs out; returns done().
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds bound = 5000ms);
// Waits without pumping.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound = 5000ms);

// A socket of the test's own, bound to ip:port (port 0: any), made with the system's socket calls
// directly, not through the layer under test. reuseAddress: ask for address reuse before binding, as a
// program would that wants to share a port.
class UdpPeer {
  public:
    explicit UdpPeer(const std::string& ip = "127.0.0.1", uint16_t port = 0, bool reuseAddress = false);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    uint16_t Port() const { return FPort; }
    TIdSocketHandleType Fd() const { return FFd; }
    void SendTo(uint16_t port, const std::string& bytes, const std::string& ip = "127.0.0.1");
    struct Datagram {
        std::string bytes;
        std::string senderIP;
        uint16_t senderPort;
    };
    std::optional<Datagram> Receive(std::chrono::milliseconds bound = 5000ms);

  private:
    TIdSocketHandleType FFd = IdInvalidSocket;
    uint16_t FPort = 0;
};

// Records every OnUDPRead: a copy of AData as read from its position, and what came with it.
struct Delivery {
    std::string bytes;
    std::size_t positionAtCall;
    std::size_t sizeAtCall;
    TIdSocketHandle* binding;
    std::string senderIP;
    int32_t senderPort;
    std::thread::id thread;
};

void RecordDeliveries(TIdUDPServer& server, std::vector<Delivery>& into);

// Port of a binding as the test peer wants it.
uint16_t PortOf(TIdUDPServer& server, int binding = 0);

// An endpoint on 127.0.0.1 with an ephemeral port, already active.
void ActivateOnLoopback(TIdUDPServer& server);

int BroadcastOption(TIdSocketHandleType fd);
#ifdef _WIN32
// SO_EXCLUSIVEADDRUSE as the socket reports it.
int ExclusiveAddressOption(TIdSocketHandleType fd);
#endif
