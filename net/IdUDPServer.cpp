// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/IdUDPServer.h"

#include "net/IdException.h"
#include "net/IdStack.h"
#include "net/IdThread.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {
constexpr int WSAENETDOWN_Code = 10050;

bool IsLimitedBroadcast(const uint8_t (&address)[4]) {
    return address[0] == 255 && address[1] == 255 && address[2] == 255 && address[3] == 255;
}

[[noreturn]] void ThrowSendError(int code) {
    if (code == WSAEMSGSIZE_Code) {
        throw EIdPackageSizeTooBig();
    }
    throw EIdSocketError(code);
}

// A layer that cannot tell an adapter's mask puts it on a network of its own.
bool SameNetwork(const TIdBroadcastAdapter& a, const TIdBroadcastAdapter& b) {
    bool known = false;
    for (int i = 0; i < 4; ++i) {
        if (a.Mask[i] != b.Mask[i] || (a.Address[i] & a.Mask[i]) != (b.Address[i] & b.Mask[i])) {
            return false;
        }
        known = known || a.Mask[i] != 0;
    }
    return known;
}

// What a system answers when it does not take the choice of an adapter at all (an option or a control
// message it does not know), as opposed to one adapter that cannot take the datagram.
bool IsAdapterChoiceRefused(int code) {
    return code == 10022 || code == 10042 || code == 10045; // WSAEINVAL, WSAENOPROTOOPT, WSAEOPNOTSUPP
}

bool IsLocalhost(const std::string& host) {
    static const std::string kLocalhost = "LOCALHOST";
    return host.size() == kLocalhost.size() &&
           std::equal(host.begin(), host.end(), kLocalhost.begin(),
                      [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
}
} // namespace

TIdUDPBase::TIdUDPBase() = default;
TIdUDPBase::~TIdUDPBase() = default;

bool TIdUDPBase::Active() {
    return GetActive();
}

void TIdUDPBase::SetActive(bool value) {
    if (value == GetActive()) {
        return;
    }
    if (value) {
        AcquireBinding();
    } else {
        Deactivate();
    }
}

void TIdUDPBase::SetBroadcastEnabled(bool value) {
    if (value == FBroadcastEnabled) {
        return;
    }
    FBroadcastEnabled = value;
    if (GetActive()) {
        ApplyBroadcastSetting();
    }
}

void TIdUDPBase::Broadcast(const std::string& Data, int32_t Port) {
    AcquireBinding().SetBroadcastFlag(true);
    SendDatagram("255.255.255.255", Port, Data);
    // Only after a send that went through: a failed one leaves the option on until the next time.
    ApplyBroadcastSetting();
}

void TIdUDPBase::SendDatagram(const std::string& Host, int32_t Port, const std::string& Data) {
    TIdStack& stack = TIdStack::Instance();
    uint8_t address[4];
    const std::string resolved = IsLocalhost(Host) ? std::string("127.0.0.1") : Host;
    if (!ParseDottedQuad(resolved, address) && !ParseDottedQuad(stack.ResolveHost(resolved), address)) {
        throw EIdSocketError(11001);
    }
    TIdSocketHandle& binding = AcquireBinding();
    // With no adapter listed (loopback only, or a layer that cannot list them), or none that lets the
    // endpoint choose it, the routing table decides, as it always did.
    if (IsLimitedBroadcast(address) && SendToEveryAdapter(binding, Data, address, Port)) {
        return;
    }
    const int sent = stack.SendTo(binding.Socket, Data.data(), Data.size(), address, Port);
    if (sent < 0) {
        ThrowSendError(stack.WSGetLastError());
    }
    if (static_cast<std::size_t>(sent) != Data.size()) {
        throw EIdNotAllBytesSent();
    }
}

bool TIdUDPBase::SendToEveryAdapter(TIdSocketHandle& binding, const std::string& Data,
                                    const uint8_t (&address)[4], int32_t Port) {
    TIdStack& stack = TIdStack::Instance();
    std::vector<TIdBroadcastAdapter> adapters = stack.BroadcastAdapters();
    if (!BroadcastInterface.empty()) {
        std::erase_if(adapters, [&](const TIdBroadcastAdapter& a) { return a.Name != BroadcastInterface; });
        if (adapters.empty()) {
            throw EIdSocketError(WSAENETDOWN_Code);
        }
    }
    if (adapters.empty()) {
        return false;
    }
    // An adapter that went away since the list was read, or lost its carrier, costs only its own
    // segment: the others still get the datagram, and the send fails only when none took it. Two
    // adapters on one network (a laptop's cable and wireless on one office LAN) would hand every device
    // each request twice, so a network that one adapter reached is not sent to again.
    std::vector<const TIdBroadcastAdapter*> reached;
    bool cut = false;
    bool refusedByAll = true;
    int lastError = 0;
    for (const TIdBroadcastAdapter& adapter : adapters) {
        if (std::any_of(reached.begin(), reached.end(),
                        [&](const TIdBroadcastAdapter* r) { return SameNetwork(*r, adapter); })) {
            continue;
        }
        const int sent =
            stack.SendToThrough(binding.Socket, Data.data(), Data.size(), address, Port, adapter);
        if (sent < 0) {
            lastError = stack.WSGetLastError();
            refusedByAll = refusedByAll && IsAdapterChoiceRefused(lastError);
        } else if (static_cast<std::size_t>(sent) != Data.size()) {
            cut = true;
            refusedByAll = false;
        } else {
            reached.push_back(&adapter);
        }
    }
    if (!reached.empty()) {
        return true;
    }
    // A system that lets no adapter be chosen still sends the one datagram it always did; a named
    // adapter is never swapped for the routing table's choice.
    if (refusedByAll && BroadcastInterface.empty()) {
        return false;
    }
    if (lastError == 0 && cut) {
        throw EIdNotAllBytesSent();
    }
    ThrowSendError(lastError);
}

void TIdUDPBase::SendDatagramThrough(const std::string& Host, int32_t Port, const std::string& Data) {
    uint8_t address[4];
    if (BroadcastInterface.empty() || !ParseDottedQuad(Host, address) || IsLimitedBroadcast(address)) {
        SendDatagram(Host, Port, Data);
        return;
    }
    TIdStack& stack = TIdStack::Instance();
    TIdSocketHandle& binding = AcquireBinding();
    for (const TIdBroadcastAdapter& adapter : stack.BroadcastAdapters()) {
        if (adapter.Name == BroadcastInterface) {
            const int sent =
                stack.SendToThrough(binding.Socket, Data.data(), Data.size(), address, Port, adapter);
            if (sent < 0) {
                ThrowSendError(stack.WSGetLastError());
            }
            if (static_cast<std::size_t>(sent) != Data.size()) {
                throw EIdNotAllBytesSent();
            }
            return;
        }
    }
    throw EIdSocketError(WSAENETDOWN_Code);
}

TIdUDPServer::TIdUDPServer() = default;

TIdUDPServer::~TIdUDPServer() {
    Deactivate();
}

bool TIdUDPServer::GetActive() {
    const TIdSocketHandle* binding = FSendBinding.load();
    return binding != nullptr && binding->SocketAllocated;
}

TIdSocketHandle& TIdUDPServer::AcquireBinding() {
    if (TIdSocketHandle* binding = FSendBinding.load()) {
        return *binding;
    }
    if (FBindings.Count() == 0) {
        FBindings.Add();
    }
    for (int i = 0; i < FBindings.Count(); ++i) {
        FBindings[i].AllocateSocket();
        FBindings[i].Bind();
        // A segment's answers arrive faster than the listener is scheduled; a system that grants less
        // than asked, or nothing, still works with fewer answers held.
        TIdStack::Instance().SetReceiveBufferSize(FBindings[i].Socket, IdReceiveBufferRequest);
    }
    FSendBinding = &FBindings[0];
    try {
        FListenerLink = std::make_shared<TListenerLink>(TListenerLink{this});
        auto ended = [link = FListenerLink](std::exception_ptr error) {
            if (link->Server != nullptr) {
                link->Server->ListenerEnded(error);
            }
        };
        FListener = std::make_unique<TIdUDPListenerThread>(*this, BufferSize, std::move(ended));
        FListener->Start();
    } catch (...) {
        // Without a listener the endpoint would read active and never receive; and sockets left bound
        // would keep the port from the next activation, or from another program, with nothing
        // receiving on them.
        FListener.reset();
        FListenerLink.reset();
        for (int i = 0; i < FBindings.Count(); ++i) {
            FBindings[i].CloseSocket();
        }
        FSendBinding = nullptr;
        throw;
    }
    FListenerError = nullptr;
    ApplyBroadcastSetting();
    return *FSendBinding.load();
}

void TIdUDPServer::ListenerEnded(std::exception_ptr error) {
    FListenerError = error;
    // The thread has gone, or is about to: nothing receives on the sockets any more.
    Deactivate();
    if (OnListenerError) {
        OnListenerError(*this, error);
    }
}

void TIdUDPServer::Deactivate() {
    if (FSendBinding.load() == nullptr) {
        return;
    }
    // A stop that the owner asks for is no fault: a notice of the listener's end that is still
    // queued is not passed on.
    if (FListenerLink) {
        FListenerLink->Server = nullptr;
        FListenerLink.reset();
    }
    // Stop first, so a cycle that has not reached a socket yet skips it.
    if (FListener) {
        FListener->Stop();
    }
    for (int i = 0; i < FBindings.Count(); ++i) {
        FBindings[i].CloseSocket();
    }
    if (FListener) {
        FListener->WaitFor();
        FListener.reset();
    }
    FSendBinding = nullptr;
}

void TIdUDPServer::ApplyBroadcastSetting() {
    if (FSendBinding.load() == nullptr) {
        return;
    }
    for (int i = 0; i < FBindings.Count(); ++i) {
        FBindings[i].SetBroadcastFlag(FBroadcastEnabled);
    }
}

void TIdUDPServer::DeliverDatagram(TMemoryStream& AData, TIdSocketHandle& ABinding) {
    FSendBinding = &ABinding;
    FireUDPRead(AData, ABinding);
}

void TIdUDPServer::FireUDPRead(TMemoryStream& AData, TIdSocketHandle& ABinding) {
    if (OnUDPRead) {
        OnUDPRead(*this, AData, ABinding);
    }
}
