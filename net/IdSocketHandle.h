// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One binding: a local UDP socket and the source of the most recent datagram it received.
#include "net/IdPlatform.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TIdSocketHandle {
  public:
    explicit TIdSocketHandle(int32_t port) : Port(port) {}
    ~TIdSocketHandle(); // closes the socket when still allocated
    TIdSocketHandle(const TIdSocketHandle&) = delete;
    TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

    TIdSocketHandleType Socket = IdInvalidSocket;
    bool SocketAllocated = false;
    std::string IP; // empty: all interfaces; after bind, the bound address
    int32_t Port;   // after bind, the bound port
    std::string SenderIP;
    int32_t SenderPort = 0;

    void AllocateSocket(); // closes any old socket first; EIdInvalidSocket on failure
    void Bind();           // EIdCouldNotBindSocket / EIdSocketError
    void CloseSocket();    // shutdown(SD_SEND) + close, results ignored
    void SetBroadcastFlag(bool on);
};

class TIdSocketHandles {
  public:
    int32_t DefaultPort = 0;
    TIdSocketHandle& Add();
    int Count() const { return static_cast<int>(FItems.size()); }
    TIdSocketHandle& operator[](int i) { return *FItems.at(static_cast<std::size_t>(i)); }

  private:
    std::vector<std::unique_ptr<TIdSocketHandle>> FItems;
};
