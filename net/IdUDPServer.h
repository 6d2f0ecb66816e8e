// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The UDP endpoint: bindings (local sockets), sending, and the listener thread that hands every
// received datagram to OnUDPRead.
#include "net/IdComponent.h"
#include "net/IdSocketHandle.h"
#include "net/MemoryStream.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

class TIdUDPListenerThread;
class TIdUDPServer;

// Sender, AData (exactly the datagram, at position 0, valid only during the call), ABinding.
using TUDPReadEvent =
    std::function<void(TIdUDPServer& Sender, TMemoryStream& AData, TIdSocketHandle& ABinding)>;
// Sender, AError (what ended the listener thread).
using TUDPListenerErrorEvent = std::function<void(TIdUDPServer& Sender, std::exception_ptr AError)>;

class TIdUDPBase : public TIdComponent {
  public:
    TIdUDPBase();
    ~TIdUDPBase() override;

    bool Active();              // reads GetActive()
    void SetActive(bool value); // true: AcquireBinding (activation); false: Deactivate

    int32_t BufferSize = 8192;
    bool BroadcastEnabled() const { return FBroadcastEnabled; }
    void SetBroadcastEnabled(bool value);

    // Sends Data as one datagram to 255.255.255.255:Port with the broadcast option on for that send.
    void Broadcast(const std::string& Data, int32_t Port);
    // A datagram to 255.255.255.255 leaves once for each IPv4 network of the adapters the socket layer
    // lists (the same bytes from the same socket, through the first adapter on that network that takes
    // it); it fails only when no adapter took it. With no adapter listed at all, or with every one
    // refusing the choice of an adapter, it is sent once the way the routing table chooses.
    void SendDatagram(const std::string& Host, int32_t Port, const std::string& Data);

    // As SendDatagram, but a datagram to one address (a device behind a router, say) leaves through
    // the adapter BroadcastInterface names, when it names one, rather than where the routing table
    // sends it; it fails as a broadcast through that adapter does.
    void SendDatagramThrough(const std::string& Host, int32_t Port, const std::string& Data);

    // Empty: every adapter. A name: datagrams to 255.255.255.255 leave through that adapter only, and
    // fail with WSAENETDOWN while it is not listed (absent, down, or without an IPv4 address), or with
    // the system's code when it refuses the choice of an adapter.
    std::string BroadcastInterface;

  protected:
    // False, having sent nothing, when the socket layer lists no adapter or every adapter listed
    // refused the choice of an adapter.
    bool SendToEveryAdapter(TIdSocketHandle& binding, const std::string& Data, const uint8_t (&address)[4],
                            int32_t Port);
    virtual void Deactivate() = 0;
    virtual bool GetActive() = 0;
    virtual TIdSocketHandle& AcquireBinding() = 0;
    virtual void ApplyBroadcastSetting() = 0;
    bool FBroadcastEnabled = false;
};

class TIdUDPServer : public TIdUDPBase {
  public:
    TIdUDPServer();
    ~TIdUDPServer() override; // Deactivate, close bindings, release the socket layer

    TIdSocketHandles& Bindings() { return FBindings; }
    int32_t DefaultPort() const { return FBindings.DefaultPort; }
    void SetDefaultPort(int32_t value) { FBindings.DefaultPort = value; }

    TUDPReadEvent OnUDPRead;
    bool ThreadedEvent = false;
    // Called on the main thread, once, when the listener thread has ended with an exception that no
    // deactivation asked for (a failing wait, say). The endpoint has closed its sockets by then and
    // reads inactive, as after a failed activation, so the next Broadcast opens it again.
    TUDPListenerErrorEvent OnListenerError;
    // That exception, kept until the endpoint is activated again; empty while the listener runs.
    std::exception_ptr ListenerError() const { return FListenerError; }
    TIdSocketHandle* SendBinding() const { return FSendBinding.load(); }

    // Called by the listener (on the main thread unless ThreadedEvent): SendBinding := ABinding, then
    // FireUDPRead.
    void DeliverDatagram(TMemoryStream& AData, TIdSocketHandle& ABinding);

  protected:
    void Deactivate() override;
    bool GetActive() override;
    TIdSocketHandle& AcquireBinding() override;
    void ApplyBroadcastSetting() override;
    virtual void FireUDPRead(TMemoryStream& AData, TIdSocketHandle& ABinding);

  private:
    void ListenerEnded(std::exception_ptr error); // main thread

    // The listener's notice of its end runs on the main thread, perhaps after the endpoint stopped
    // that listener or was destroyed: it reaches the endpoint only through this, which the endpoint
    // empties when it stops the listener. Main thread only.
    struct TListenerLink {
        TIdUDPServer* Server = nullptr;
    };

    TIdSocketHandles FBindings;
    std::shared_ptr<TListenerLink> FListenerLink;
    std::exception_ptr FListenerError;
    // Written by the listener itself when ThreadedEvent is set.
    std::atomic<TIdSocketHandle*> FSendBinding{nullptr};
    std::unique_ptr<TIdUDPListenerThread> FListener;
};
