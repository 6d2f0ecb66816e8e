#include "NetTestSupport.h"

#include "net/MainThreadQueue.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

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

UdpPeer::UdpPeer(const std::string& ip, uint16_t port) {
    FFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    ::inet_pton(AF_INET, ip.c_str(), &addr.sin_addr);
    if (FFd < 0 || ::bind(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        throw std::runtime_error("test peer cannot bind " + ip + ":" + std::to_string(port));
    }
    socklen_t len = sizeof addr;
    ::getsockname(FFd, reinterpret_cast<sockaddr*>(&addr), &len);
    FPort = ntohs(addr.sin_port);
}

UdpPeer::~UdpPeer() {
    ::close(FFd);
}

void UdpPeer::SendTo(uint16_t port, const std::string& bytes, const std::string& ip) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    ::inet_pton(AF_INET, ip.c_str(), &addr.sin_addr);
    const ssize_t n =
        ::sendto(FFd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ASSERT_EQ(n, static_cast<ssize_t>(bytes.size())) << "test peer send failed";
}

std::optional<UdpPeer::Datagram> UdpPeer::Receive(std::chrono::milliseconds bound) {
    pollfd pfd{FFd, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(bound.count())) != 1) {
        return std::nullopt;
    }
    std::string buf(65536, '\0');
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(FFd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
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

int BroadcastOption(int fd) {
    int value = -7;
    socklen_t len = sizeof value;
    ::getsockopt(fd, SOL_SOCKET, SO_BROADCAST, &value, &len);
    return value;
}
