// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/IdStack.h"

#include "net/IdException.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {
std::unique_ptr<TIdStack> GStack;
TIdStackFactory GStackFactory; // set by tests while no component exists
thread_local int GLastError = 0;

bool ParseOctet(const std::string& text, std::size_t from, std::size_t to, uint8_t& out) {
    if (from >= to || to - from > 3) {
        return false;
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data() + from, text.data() + to, value);
    if (ec != std::errc() || end != text.data() + to || value > 255) {
        return false;
    }
    out = static_cast<uint8_t>(value);
    return true;
}
} // namespace

sockaddr_in IdMakeAddress(const uint8_t (&ip)[4], int32_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    std::memcpy(&addr.sin_addr.s_addr, ip, 4);
    const uint8_t order[2] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port)};
    std::memcpy(&addr.sin_port, order, 2);
    return addr;
}

void IdReadAddress(const sockaddr_in& addr, std::string& ip, int32_t& port) {
    uint8_t bytes[4];
    std::memcpy(bytes, &addr.sin_addr.s_addr, 4);
    ip = DottedQuad(bytes);
    uint8_t order[2];
    std::memcpy(order, &addr.sin_port, 2);
    port = order[0] << 8 | order[1];
}

bool ParseDottedQuad(const std::string& text, uint8_t (&bytes)[4]) {
    std::size_t from = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t dot = text.find('.', from);
        if (dot == std::string::npos || !ParseOctet(text, from, dot, bytes[i])) {
            return false;
        }
        from = dot + 1;
    }
    return ParseOctet(text, from, text.size(), bytes[3]);
}

std::string DottedQuad(const uint8_t (&bytes)[4]) {
    return std::to_string(bytes[0]) + '.' + std::to_string(bytes[1]) + '.' + std::to_string(bytes[2]) + '.' +
           std::to_string(bytes[3]);
}

void TIdScopedSocket::Reset() {
    if (FSocket != IdInvalidSocket) {
        IdCloseSocket(FSocket);
        FSocket = IdInvalidSocket;
    }
}

TIdStack& TIdStack::Instance() {
    if (!GStack) {
        throw EIdStackInitializationFailed();
    }
    return *GStack;
}

void TIdStack::Create() {
    if (!GStack) {
        GStack = GStackFactory ? GStackFactory() : NewPlatformStack();
    }
}

void TIdStack::Destroy() {
    GStack.reset();
}

TIdStackFactory SetStackFactory(TIdStackFactory factory) {
    std::swap(GStackFactory, factory);
    return factory;
}

std::vector<TIdBroadcastAdapter> TIdStack::BroadcastAdapters() {
    return {};
}

int TIdStack::SendToThrough(TIdSocketHandleType s, const void* data, std::size_t size, const uint8_t (&ip)[4],
                            int32_t port, const TIdBroadcastAdapter&) {
    return SendTo(s, data, size, ip, port);
}

int TIdStack::ReceiveBatch(TIdSocketHandleType s, std::vector<TIdDatagramSlot>& slots, std::size_t max) {
    max = std::min(max, slots.size());
    std::vector<TIdSocketHandleType> readSet;
    for (std::size_t n = 0; n < max; ++n) {
        // The first read too: a caller that takes batch after batch while they come back full would
        // otherwise block in a read on an emptied socket, where even a stop cannot reach it.
        readSet.assign(1, s);
        if (Select(readSet, 0) <= 0) {
            return static_cast<int>(n);
        }
        TIdDatagramSlot& slot = slots[n];
        slot.Size = RecvFrom(s, slot.Buffer, slot.Capacity, slot.IP, slot.Port);
        if (slot.Size < 0 && WSGetLastError() != WSAEMSGSIZE_Code) {
            if (n == 0) {
                return WSGetLastError() == WSAEWOULDBLOCK_Code ? 0 : -1;
            }
            return static_cast<int>(n);
        }
    }
    return static_cast<int>(max);
}

int TIdStack::SetReceiveBufferSize(TIdSocketHandleType, int) {
    return 0;
}

int TIdStack::WSGetLastError() const {
    return GLastError;
}

void TIdStack::SetLastError(int wsaCode) {
    GLastError = wsaCode;
}
