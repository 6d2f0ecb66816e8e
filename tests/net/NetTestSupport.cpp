// SPDX-License-Identifier: GPL-3.0-or-later
#include "NetTestSupport.h"

#include "net/MainThreadQueue.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <stdexcept>

namespace {
#ifdef _WIN32
// The peer uses the socket library on its own account, started for the test program's lifetime, so
// it never depends on the layer under test having started it.
struct PeerSockets {
    PeerSockets() {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            throw std::runtime_error("test peer cannot start the socket library");
        }
    }
    ~PeerSockets() { WSACleanup(); }
};
void StartPeerSockets() {
    static PeerSockets sockets;
}
using PeerLength = int;
TIdSocketHandleType NewPeerSocket() {
    StartPeerSockets();
    return ::socket(AF_INET, SOCK_DGRAM, 0);
}
void ClosePeerSocket(TIdSocketHandleType s) {
    ::closesocket(s);
}
bool WaitReadable(TIdSocketHandleType s, std::chrono::milliseconds bound) {
    WSAPOLLFD pfd{s, POLLRDNORM, 0};
    return ::WSAPoll(&pfd, 1, static_cast<INT>(bound.count())) == 1;
}
#else
using PeerLength = socklen_t;
TIdSocketHandleType NewPeerSocket() {
    return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}
void ClosePeerSocket(TIdSocketHandleType s) {
    ::close(s);
}
bool WaitReadable(TIdSocketHandleType s, std::chrono::milliseconds bound) {
    pollfd pfd{s, POLLIN, 0};
    return ::poll(&pfd, 1, static_cast<int>(bound.count())) == 1;
}
#endif
} // namespace

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        if (!RunPendingCalls()) {
            WaitForSyncEvent(1ms);
        }
    }
    return true;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

UdpPeer::UdpPeer(const std::string& ip, uint16_t port, bool reuseAddress) {
    FFd = NewPeerSocket();
    if (FFd != IdInvalidSocket && reuseAddress) {
        const int on = 1;
        ::setsockopt(FFd, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    ::inet_pton(AF_INET, ip.c_str(), &addr.sin_addr);
    if (FFd == IdInvalidSocket || ::bind(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (FFd != IdInvalidSocket) {
            ClosePeerSocket(FFd);
        }
        throw std::runtime_error("test peer cannot bind " + ip + ":" + std::to_string(port));
    }
    PeerLength len = sizeof addr;
    ::getsockname(FFd, reinterpret_cast<sockaddr*>(&addr), &len);
    FPort = ntohs(addr.sin_port);
}

UdpPeer::~UdpPeer() {
    ClosePeerSocket(FFd);
}

void UdpPeer::SendTo(uint16_t port, const std::string& bytes, const std::string& ip) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    ::inet_pton(AF_INET, ip.c_str(), &addr.sin_addr);
    const auto n = ::sendto(FFd, bytes.data(), static_cast<int>(bytes.size()), 0,
                            reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ASSERT_EQ(static_cast<long long>(n), static_cast<long long>(bytes.size())) << "test peer send failed";
}

std::optional<UdpPeer::Datagram> UdpPeer::Receive(std::chrono::milliseconds bound) {
    if (!WaitReadable(FFd, bound)) {
        return std::nullopt;
    }
    std::string buf(65536, '\0');
    sockaddr_in from{};
    PeerLength len = sizeof from;
    const auto n = ::recvfrom(FFd, buf.data(), static_cast<int>(buf.size()), 0,
                              reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) {
        return std::nullopt;
    }
    buf.resize(static_cast<std::size_t>(n));
    char ip[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
    return Datagram{buf, ip, ntohs(from.sin_port)};
}

void RecordDeliveries(TIdUDPServer& server, std::vector<Delivery>& into) {
    server.OnUDPRead = [&into](TIdUDPServer&, TMemoryStream& data, TIdSocketHandle& binding) {
        const std::size_t position = data.Position();
        const std::size_t size = data.Size();
        into.push_back({data.ReadAll(), position, size, &binding, binding.SenderIP, binding.SenderPort,
                        std::this_thread::get_id()});
    };
}

uint16_t PortOf(TIdUDPServer& server, int binding) {
    return static_cast<uint16_t>(server.Bindings()[binding].Port);
}

void ActivateOnLoopback(TIdUDPServer& server) {
    server.Bindings().Add().IP = "127.0.0.1";
    server.SetActive(true);
}

int BroadcastOption(TIdSocketHandleType fd) {
    int value = -7;
    PeerLength len = sizeof value;
    ::getsockopt(fd, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&value), &len);
    return value;
}

#ifdef _WIN32
int ExclusiveAddressOption(TIdSocketHandleType fd) {
    int value = -7;
    PeerLength len = sizeof value;
    ::getsockopt(fd, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<char*>(&value), &len);
    return value;
}
#endif
