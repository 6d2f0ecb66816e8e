// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/IdException.h"
#include "net/IdStack.h"
#include "net/PacketInfoPosix.h"
#include "net/PrivateNetwork.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/un.h>

std::unique_ptr<TIdStack> NewPlatformStack() {
    return std::make_unique<TIdStackPosix>();
}

int TIdStackPosix::TranslateErrno(int err) {
    switch (err) {
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
    case EAGAIN:
        return 10035;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
        return 10035;
#endif
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
#if ENOTSUP != EOPNOTSUPP
    case ENOTSUP:
        return 10045;
#endif
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
    case EPIPE:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    default:
        return err; // no Windows Sockets counterpart: the message carries the raw code
    }
}

int TIdStackPosix::Fail() {
    SetLastError(TranslateErrno(IdRawSocketError()));
    return -1;
}

TIdSocketHandleType TIdStackPosix::NewSocketHandle() {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        Fail();
    }
    return s;
}

TIdSocketHandleType TIdStackPosix::Duplicate(TIdSocketHandleType s) {
    const int d = ::fcntl(s, F_DUPFD_CLOEXEC, 0);
    if (d < 0) {
        Fail();
    }
    return d;
}

int TIdStackPosix::Bind(TIdSocketHandleType s, const uint8_t (&ip)[4], int32_t port) {
    const sockaddr_in addr = IdMakeAddress(ip, port);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        return Fail();
    }
    return 0;
}

int TIdStackPosix::GetSockName(TIdSocketHandleType s, std::string& ip, int32_t& port) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return Fail();
    }
    IdReadAddress(addr, ip, port);
    return 0;
}

int TIdStackPosix::SetBroadcast(TIdSocketHandleType s, bool on) {
    const int value = on ? -1 : 0;
    if (::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) {
        return Fail();
    }
    return 0;
}

int TIdStackPosix::SendTo(TIdSocketHandleType s, const void* data, std::size_t size, const uint8_t (&ip)[4],
                          int32_t port) {
    const sockaddr_in addr = IdMakeAddress(ip, port);
    ssize_t n;
    do {
        n = ::sendto(s, data, size, IdSendFlags, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (n < 0 && IdIsInterrupted(IdRawSocketError()));
    return n < 0 ? Fail() : static_cast<int>(n);
}

int TIdStackPosix::RecvFrom(TIdSocketHandleType s, void* buffer, std::size_t size, std::string& ip,
                            int32_t& port) {
    sockaddr_in from{};
    iovec iov{buffer, size};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    ssize_t n;
    // recvfrom here cuts a long datagram down to the buffer without a word; Windows Sockets fails it.
    // MSG_TRUNC in the returned flags tells the two apart. MSG_DONTWAIT because readiness can be
    // spurious (a datagram dropped for a bad checksum after select saw it), and the listener must not
    // block where it cannot see its stop request.
    do {
        n = ::recvmsg(s, &msg, MSG_DONTWAIT);
    } while (n < 0 && IdIsInterrupted(IdRawSocketError()));
    if (n < 0) {
        return Fail();
    }
    if ((msg.msg_flags & MSG_TRUNC) != 0) {
        SetLastError(WSAEMSGSIZE_Code);
        return -1;
    }
    IdReadAddress(from, ip, port);
    return static_cast<int>(n);
}

int TIdStackPosix::ReceiveBatch(TIdSocketHandleType s, std::vector<TIdDatagramSlot>& slots, std::size_t max) {
    max = std::min(max, slots.size());
    // One call for the whole batch: a segment of devices answering at once fills the receive buffer
    // in a few milliseconds, faster than one read per wake-up empties it.
    thread_local std::vector<mmsghdr> headers;
    thread_local std::vector<iovec> iovs;
    thread_local std::vector<sockaddr_in> from;
    headers.assign(max, mmsghdr{});
    iovs.resize(max);
    from.assign(max, sockaddr_in{});
    for (std::size_t i = 0; i < max; ++i) {
        iovs[i] = iovec{slots[i].Buffer, slots[i].Capacity};
        headers[i].msg_hdr.msg_name = &from[i];
        headers[i].msg_hdr.msg_namelen = sizeof from[i];
        headers[i].msg_hdr.msg_iov = &iovs[i];
        headers[i].msg_hdr.msg_iovlen = 1;
    }
    int n;
    do {
        n = ::recvmmsg(s, headers.data(), static_cast<unsigned>(max), MSG_DONTWAIT, nullptr);
    } while (n < 0 && IdIsInterrupted(IdRawSocketError()));
    if (n < 0) {
        return IdRawSocketError() == EAGAIN || IdRawSocketError() == EWOULDBLOCK ? 0 : Fail();
    }
    for (int i = 0; i < n; ++i) {
        // As in RecvFrom: a datagram cut down to the buffer is one that was too long.
        const bool cut = (headers[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
        slots[i].Size = cut ? -1 : static_cast<int>(headers[i].msg_len);
        IdReadAddress(from[i], slots[i].IP, slots[i].Port);
    }
    return n;
}

int TIdStackPosix::SetReceiveBufferSize(TIdSocketHandleType s, int bytes) {
    // The forced option passes the system's limit (net.core.rmem_max) but needs the right to
    // administer the network; everyone else gets as much of the request as that limit allows.
    if (::setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0) {
        ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
    int granted = 0;
    socklen_t len = sizeof granted;
    return ::getsockopt(s, SOL_SOCKET, SO_RCVBUF, &granted, &len) == 0 ? granted : 0;
}

int TIdStackPosix::Select(std::vector<TIdSocketHandleType>& readSet, int timeoutMs) {
    // poll, not select: fd_set cannot hold descriptors numbered from FD_SETSIZE up.
    thread_local std::vector<pollfd> fds;
    fds.resize(readSet.size());
    for (std::size_t i = 0; i < readSet.size(); ++i) {
        fds[i] = pollfd{readSet[i], POLLIN, 0};
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int n;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        n = ::poll(fds.data(), fds.size(), left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (n >= 0 || !IdIsInterrupted(IdRawSocketError())) {
            break;
        }
    }
    if (n < 0) {
        return Fail();
    }
    std::vector<TIdSocketHandleType> ready;
    for (std::size_t i = 0; i < readSet.size(); ++i) {
        // select counts a socket with a pending error as readable: the read then reports the error
        if ((fds[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
            ready.push_back(readSet[i]);
        }
    }
    readSet.swap(ready);
    return n;
}

void TIdStackPosix::Shutdown(TIdSocketHandleType s, int how) {
    ::shutdown(s, how);
}

void TIdStackPosix::Close(TIdSocketHandleType s) {
    IdCloseSocket(s);
}

std::string TIdStackPosix::ResolveHost(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* result = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
        return {};
    }
    std::string ip;
    int32_t port = 0;
    IdReadAddress(*reinterpret_cast<const sockaddr_in*>(result->ai_addr), ip, port);
    ::freeaddrinfo(result);
    return ip;
}

std::pair<TIdScopedSocket, TIdScopedSocket> TIdStackPosix::NewWakePair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) {
        Fail();
        throw EIdSocketError(WSGetLastError());
    }
    return {TIdScopedSocket(fds[0]), TIdScopedSocket(fds[1])};
}

void TIdStackPosix::Wake(TIdSocketHandleType writer) {
    const char byte = 0;
    // Nonblocking: when the pair is full the reader is already due to wake.
    (void)!::send(writer, &byte, 1, MSG_NOSIGNAL);
}

void TIdStackPosix::DrainWake(TIdSocketHandleType reader) {
    char buf[16];
    while (::recv(reader, buf, sizeof buf, 0) > 0) {
    }
}

std::vector<TIdBroadcastAdapter> TIdStackPosix::BroadcastAdapters() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return {}; // the caller then sends the one plain datagram, as if there were no adapter
    }
    // The link entries carry each adapter's index: no lookup by name per address.
    std::vector<std::pair<std::string, uint32_t>> indexes;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_PACKET) {
            const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
            indexes.emplace_back(entry->ifa_name, static_cast<uint32_t>(link->sll_ifindex));
        }
    }
    std::vector<TIdBroadcastAdapter> adapters;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        // Without a carrier (a cable out, a wireless adapter not associated) nothing would leave.
        const unsigned wanted = IFF_UP | IFF_RUNNING | IFF_BROADCAST;
        if ((entry->ifa_flags & wanted) != wanted || (entry->ifa_flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        // An IPv4 entry carries the address's label, which is the adapter's name or "name:alias".
        TIdBroadcastAdapter adapter;
        adapter.Name = entry->ifa_name;
        adapter.Name = adapter.Name.substr(0, adapter.Name.find(':'));
        const auto link = std::find_if(indexes.begin(), indexes.end(),
                                       [&](const auto& known) { return known.first == adapter.Name; });
        adapter.Index = link != indexes.end() ? link->second : ::if_nametoindex(adapter.Name.c_str());
        if (adapter.Index == 0) {
            continue; // gone since the list was read
        }
        // One datagram per adapter however many addresses it has: the first one is its source.
        const bool listed = std::any_of(adapters.begin(), adapters.end(), [&](const TIdBroadcastAdapter& a) {
            return a.Index == adapter.Index;
        });
        if (!listed) {
            std::memcpy(adapter.Address, &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr, 4);
            if (entry->ifa_netmask != nullptr && entry->ifa_netmask->sa_family == AF_INET) {
                std::memcpy(adapter.Mask, &reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr,
                            4);
            }
            adapters.push_back(std::move(adapter));
        }
    }
    ::freeifaddrs(list);
    return adapters;
}

int TIdStackPosix::SendToThrough(TIdSocketHandleType s, const void* data, std::size_t size,
                                 const uint8_t (&ip)[4], int32_t port, const TIdBroadcastAdapter& adapter) {
    sockaddr_in addr = IdMakeAddress(ip, port);
    TPacketInfoMessage message(const_cast<void*>(data), size, addr);
    // The adapter alone; the source address is left to the kernel, which takes the adapter's own, so
    // that a device on that segment answers to an address it can reach.
    const msghdr& msg = message.Sending(adapter.Index, in_addr{INADDR_ANY});
    ssize_t n;
    do {
        n = ::sendmsg(s, &msg, IdSendFlags);
    } while (n < 0 && IdIsInterrupted(IdRawSocketError()));
    return n < 0 ? Fail() : static_cast<int>(n);
}

std::optional<std::vector<std::string>> NetworkInterfaceNames() {
    struct if_nameindex* list = ::if_nameindex();
    if (list == nullptr) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (const struct if_nameindex* entry = list; entry->if_index != 0; ++entry) {
        names.emplace_back(entry->if_name);
    }
    ::if_freenameindex(list);
    return names;
}
