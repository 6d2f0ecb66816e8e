// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/devsim/DevsimSocket.h"

#include "net/PacketInfoPosix.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in SockAddr(const Ipv4& ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    std::memcpy(&a.sin_addr, ip.data(), 4);
    return a;
}

std::runtime_error SystemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

} // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0)
        ::close(fd_);
}

DevsimSocket::DevsimSocket(uint16_t port)
    : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
    if (fd_.Get() < 0)
        throw SystemError("socket");
    // A crowd of devices answers one scan in a burst, and requests may queue while replies wait.
    const int buffer = 4 << 20;
    ::setsockopt(fd_.Get(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    ::setsockopt(fd_.Get(), SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    // Tells a request to one address from a broadcast (see Receive).
    const int on = 1;
    ::setsockopt(fd_.Get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    const sockaddr_in any = SockAddr({0, 0, 0, 0}, port);
    if (::bind(fd_.Get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0)
        throw SystemError("bind 0.0.0.0:" + std::to_string(port));
}

std::optional<ReceivedDatagram> DevsimSocket::Receive() {
    char buffer[65536];
    sockaddr_in from{};
    TPacketInfoMessage message(buffer, sizeof buffer, from);
    const ssize_t n = ::recvmsg(fd_.Get(), &message.Receiving(), 0);
    if (n < 0)
        return std::nullopt;
    ReceivedDatagram d;
    d.payload.assign(buffer, static_cast<size_t>(n));
    std::memcpy(d.fromIp.data(), &from.sin_addr, 4);
    d.fromPort = ntohs(from.sin_port);
    // A datagram to one of this host's addresses names that address twice; a broadcast names the
    // broadcast address, and the address an answer would leave from apart.
    if (const auto info = message.Received(); info && info->ipi_addr.s_addr == info->ipi_spec_dst.s_addr) {
        d.unicastTo.emplace();
        std::memcpy(d.unicastTo->data(), &info->ipi_addr, 4);
    }
    return d;
}

void DevsimSocket::SendFrom(const Ipv4& source, const Ipv4& to, uint16_t port, const std::string& payload) {
    sockaddr_in dest = SockAddr(to, port);
    TPacketInfoMessage message(const_cast<char*>(payload.data()), payload.size(), dest);
    in_addr from{};
    std::memcpy(&from, source.data(), 4); // the answer leaves from the device's own address
    const msghdr& msg = message.Sending(0, from);
    if (::sendmsg(fd_.Get(), &msg, 0) < 0)
        std::cerr << "devsim: send from " << FormatIpv4(source) << " to " << FormatIpv4(to) << ":" << port
                  << " failed: " << std::strerror(errno) << "\n";
}

void RequireLocalAddress(const Ipv4& ip) {
    FileDescriptor probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const sockaddr_in a = SockAddr(ip, 0);
    if (probe.Get() < 0 || ::bind(probe.Get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
        throw SystemError("device address " + FormatIpv4(ip) +
                          " is not usable here (is it an address of this "
                          "namespace? start devsim through tests/private-lan)");
}

void EnterNetworkNamespace(const std::string& path) {
    FileDescriptor ns(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (ns.Get() < 0)
        throw SystemError("network namespace " + path);
    if (::setns(ns.Get(), CLONE_NEWNET) != 0)
        throw SystemError("entering network namespace " + path);
}
