// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One datagram's message header with room for an IP_PKTINFO control message, on BSD sockets only:
// sent, the control message chooses the adapter a datagram leaves by or the address it leaves from;
// received, it tells the adapter it arrived on. The socket layer, the simulator and the adapter tests
// all build the header this one way.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstring>
#include <optional>

class TPacketInfoMessage {
  public:
    // peer: where a datagram is sent, or where the received one came from.
    TPacketInfoMessage(void* data, std::size_t size, sockaddr_in& peer) : FIov{data, size} {
        FHeader.msg_name = &peer;
        FHeader.msg_namelen = sizeof peer;
        FHeader.msg_iov = &FIov;
        FHeader.msg_iovlen = 1;
        FHeader.msg_control = FControl;
        FHeader.msg_controllen = sizeof FControl;
    }
    TPacketInfoMessage(const TPacketInfoMessage&) = delete;
    TPacketInfoMessage& operator=(const TPacketInfoMessage&) = delete;

    // For sendmsg: leave through the adapter with this index (0: the routing table's choice), from
    // this source address (0.0.0.0: the adapter's own).
    msghdr& Sending(unsigned interfaceIndex, in_addr source) {
        cmsghdr* control = CMSG_FIRSTHDR(&FHeader);
        control->cmsg_level = IPPROTO_IP;
        control->cmsg_type = IP_PKTINFO;
        control->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = static_cast<int>(interfaceIndex);
        info.ipi_spec_dst = source;
        std::memcpy(CMSG_DATA(control), &info, sizeof info);
        return FHeader;
    }
    // For recvmsg, on a socket with IP_PKTINFO on.
    msghdr& Receiving() { return FHeader; }
    // After recvmsg: the packet information it carried, if any.
    std::optional<in_pktinfo> Received() {
        for (cmsghdr* c = CMSG_FIRSTHDR(&FHeader); c != nullptr; c = CMSG_NXTHDR(&FHeader, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                return info;
            }
        }
        return std::nullopt;
    }

  private:
    iovec FIov;
    alignas(cmsghdr) char FControl[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr FHeader{};
};
