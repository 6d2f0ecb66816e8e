// SPDX-License-Identifier: GPL-3.0-or-later
// A datagram to 255.255.255.255 on a workstation with several adapters. Each case runs on a thread of
// its own in a network namespace of its own (it is root there), builds its adapters with `ip`, and
// drops them with the namespace. A broadcast that leaves through an adapter is also looped back to
// this namespace's listeners, marked with that adapter: that is how a case sees where it went.
#include "protocol/DeviceMessages.h"
#include "net/IdException.h"
#include "net/IdStack.h"
#include "net/IdUDPServer.h"
#include "net/PacketInfoPosix.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

bool Ip(const std::string& batch) {
    std::FILE* ip = ::popen("ip -batch -", "w");
    if (ip == nullptr) {
        return false;
    }
    std::fputs(batch.c_str(), ip);
    return ::pclose(ip) == 0;
}

// A link brought up gets its carrier a moment later (the kernel settles that asynchronously), and an
// adapter without a carrier is not listed: waits until each named link has one.
bool Running(const std::vector<std::string>& names) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    bool all = false;
    while (!all && std::chrono::steady_clock::now() < deadline) {
        all = true;
        for (const std::string& name : names) {
            ifreq request{};
            std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
            all = all && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_RUNNING) != 0;
        }
        if (!all) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ::close(fd);
    return all;
}

// Runs body in a fresh network namespace holding loopback and what setup (an `ip -batch` script) adds.
void InFreshNetwork(const std::string& setup, const std::function<void()>& body) {
    std::thread([&] {
        // Only this thread moves, and whatever it starts: the rest of the test binary stays put.
        ASSERT_EQ(::unshare(CLONE_NEWNET), 0) << std::strerror(errno);
        ASSERT_TRUE(Ip("link set lo up\n" + setup)) << setup;
        body();
    }).join();
}

// A veth pair whose near end is a workstation adapter (up, with the given addresses) and whose far
// end is up without an address, so that the near end has a carrier and the far end is no adapter.
std::string Adapter(const std::string& name, const std::vector<std::string>& addresses) {
    std::string batch = "link add " + name + " type veth peer name " + name + "p\n";
    for (const std::string& a : addresses) {
        batch += "address add " + a + " dev " + name + "\n";
    }
    return batch + "link set " + name + " up\nlink set " + name + "p up\n";
}

struct Copy {
    std::string bytes;
    std::string source; // "a.b.c.d:port"
    std::string adapter;
    bool operator==(const Copy&) const = default;
};

void PrintTo(const Copy& c, std::ostream* os) {
    *os << '{' << c.bytes << ' ' << c.source << " via " << c.adapter << '}';
}

// Every copy of a datagram to the device port that leaves this namespace, with the adapter it left by.
class LoopedCopies {
  public:
    LoopedCopies() {
        FFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(DevicePort);
        if (FFd < 0 || ::setsockopt(FFd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
            ::bind(FFd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
            ADD_FAILURE() << "listener: " << std::strerror(errno);
        }
    }
    ~LoopedCopies() { ::close(FFd); }

    // What arrived until nothing more came for a while, sorted by adapter.
    std::vector<Copy> Take() {
        std::vector<Copy> copies;
        pollfd p{FFd, POLLIN, 0};
        while (::poll(&p, 1, 300) == 1) {
            char data[2048];
            sockaddr_in from{};
            TPacketInfoMessage message(data, sizeof data, from);
            const ssize_t n = ::recvmsg(FFd, &message.Receiving(), 0);
            if (n < 0) {
                break;
            }
            Copy copy{std::string(data, static_cast<std::size_t>(n)), "", "?"};
            char ip[INET_ADDRSTRLEN];
            ::inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
            copy.source = std::string(ip) + ":" + std::to_string(ntohs(from.sin_port));
            if (const auto info = message.Received()) {
                char name[IF_NAMESIZE] = "?";
                ::if_indextoname(static_cast<unsigned>(info->ipi_ifindex), name);
                copy.adapter = name;
            }
            copies.push_back(copy);
        }
        std::sort(copies.begin(), copies.end(),
                  [](const Copy& a, const Copy& b) { return a.adapter < b.adapter; });
        return copies;
    }

  private:
    int FFd = -1;
};

std::vector<std::string> Described(const std::vector<TIdBroadcastAdapter>& adapters) {
    std::vector<std::string> text;
    for (const TIdBroadcastAdapter& a : adapters) {
        EXPECT_EQ(a.Index, ::if_nametoindex(a.Name.c_str())) << a.Name;
        text.push_back(a.Name + " " + DottedQuad(a.Address));
    }
    std::sort(text.begin(), text.end());
    return text;
}

TEST(BroadcastAdapters, EachAdapterThatCanCarryABroadcastOnceUnderItsOwnName) {
    const std::string setup =
        Adapter("nicA", {"10.88.1.1/24", "10.88.1.2/24", "10.88.9.1/24"}) + // three addresses: listed once
        Adapter("nicB", {"10.88.2.1/24"}) + "address add 10.88.3.1/24 dev nicB label nicB:alias\n" +
        Adapter("nicL", {}) + "address add 10.88.4.1/24 dev nicL label nicL:only\n" + // alias label only
        Adapter("nicN", {}) +                                                         // no IPv4 address
        Adapter("nicD", {"10.88.5.1/24"}) + "link set nicD down\n" +                  // down
        Adapter("nicC", {"10.88.6.1/24"}) + "link set nicCp down\n";                  // up, but no carrier
    InFreshNetwork(setup, [] {
        ASSERT_TRUE(Running({"nicA", "nicB", "nicL", "nicN"}));
        TIdUDPServer server; // brings the socket layer up
        EXPECT_EQ(Described(TIdStack::Instance().BroadcastAdapters()),
                  (std::vector<std::string>{"nicA 10.88.1.1", "nicB 10.88.2.1", "nicL 10.88.4.1"}));

        // Read afresh: the far end plugged back in, an adapter gone.
        ASSERT_TRUE(Ip("link set nicCp up\nlink del nicB\n"));
        ASSERT_TRUE(Running({"nicC"}));
        EXPECT_EQ(Described(TIdStack::Instance().BroadcastAdapters()),
                  (std::vector<std::string>{"nicA 10.88.1.1", "nicC 10.88.6.1", "nicL 10.88.4.1"}));
    });
}

TEST(EveryAdapterBroadcast, LeavesOnceThroughEachAdapterFromTheOneEndpointAndFollowsAdapterChanges) {
    // nicA has two addresses and still gets one copy, from the first.
    const std::string setup = Adapter("nicA", {"10.88.1.1/24", "10.88.1.9/24"}) +
                              Adapter("nicB", {"10.88.2.1/24"}) + Adapter("nicN", {}) +
                              "route add default dev nicA\n";
    InFreshNetwork(setup, [] {
        ASSERT_TRUE(Running({"nicA", "nicB", "nicN"}));
        LoopedCopies copies;
        TIdUDPServer server;
        server.SetDefaultPort(WorkstationPort);

        server.Broadcast("scan", DevicePort);
        EXPECT_EQ(copies.Take(), (std::vector<Copy>{{"scan", "10.88.1.1:60001", "nicA"},
                                                    {"scan", "10.88.2.1:60001", "nicB"}}));
        EXPECT_EQ(server.Bindings().Count(), 1) << "one endpoint, one socket";

        // Down between two sends: the next one leaves by the other adapter alone, and nothing is raised.
        ASSERT_TRUE(Ip("link set nicB down\n"));
        server.Broadcast("second", DevicePort);
        EXPECT_EQ(copies.Take(), (std::vector<Copy>{{"second", "10.88.1.1:60001", "nicA"}}));

        // Brought up between two sends, and the default route's adapter gone: the next one uses what is
        // there.
        ASSERT_TRUE(Ip("link set nicB up\nlink del nicA\n"));
        ASSERT_TRUE(Running({"nicB"}));
        server.Broadcast("third", DevicePort);
        EXPECT_EQ(copies.Take(), (std::vector<Copy>{{"third", "10.88.2.1:60001", "nicB"}}));

        // The read request and the write commands travel the same way as the scan.
        ASSERT_TRUE(Ip(Adapter("nicC", {"10.88.3.1/24"})));
        ASSERT_TRUE(Running({"nicC"}));
        const std::string write("\x01\x1A\x2B\x3C\x4D\x01\x01\xC0\xA8\x01\x07", 11);
        server.Broadcast(write, DevicePort);
        EXPECT_EQ(copies.Take(), (std::vector<Copy>{{write, "10.88.2.1:60001", "nicB"},
                                                    {write, "10.88.3.1:60001", "nicC"}}));
    });
}

TEST(EveryAdapterBroadcast, RestrictedToOneAdapterByNameAndFailsWhileItIsMissing) {
    InFreshNetwork(Adapter("nicA", {"10.88.1.1/24"}) + Adapter("nicB", {"10.88.2.1/24"}), [] {
        ASSERT_TRUE(Running({"nicA", "nicB"}));
        LoopedCopies copies;
        TIdUDPServer server;
        server.SetDefaultPort(WorkstationPort);
        server.BroadcastInterface = "nicB";
        server.Broadcast("scan", DevicePort);
        EXPECT_EQ(copies.Take(), (std::vector<Copy>{{"scan", "10.88.2.1:60001", "nicB"}}));

        ASSERT_TRUE(Ip("link set nicB down\n"));
        try {
            server.Broadcast("scan", DevicePort);
            ADD_FAILURE() << "sent with the chosen adapter down";
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.LastError(), 10050);
        }
        EXPECT_TRUE(copies.Take().empty()) << "the other adapter was used";

        // Not for datagrams to one address: those go where the routing table says.
        server.BroadcastInterface = "nosuch";
        server.SendDatagram("127.0.0.1", DevicePort, "direct");
        EXPECT_EQ(copies.Take(), (std::vector<Copy>{{"direct", "127.0.0.1:60001", "lo"}}));
    });
}

// Only loopback: no adapter is listed, and the send is the one it always was, the routing table
// choosing; with no route the failure is the one a plain send gets.
TEST(EveryAdapterBroadcast, WithOnlyLoopbackSendsOnceAsThePlainSendDoes) {
    InFreshNetwork("", [] {
        TIdUDPServer server;
        server.SetDefaultPort(WorkstationPort);
        EXPECT_TRUE(TIdStack::Instance().BroadcastAdapters().empty());
        try {
            server.Broadcast("scan", DevicePort);
            ADD_FAILURE() << "sent without a route";
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.LastError(), TIdStackPosix::TranslateErrno(ENETUNREACH));
        }

        ASSERT_TRUE(Ip("route add default dev lo\n"));
        LoopedCopies copies;
        server.Broadcast("scan", DevicePort);
        const std::vector<Copy> sent = copies.Take();
        // A plain socket's send beside it, from port 60002: the same way out, the same source.
        const int plain = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        sockaddr_in from{}, to{};
        from.sin_family = to.sin_family = AF_INET;
        from.sin_port = htons(60002);
        to.sin_port = htons(DevicePort);
        to.sin_addr.s_addr = INADDR_BROADCAST;
        ASSERT_EQ(::setsockopt(plain, SOL_SOCKET, SO_BROADCAST, &on, sizeof on), 0);
        ASSERT_EQ(::bind(plain, reinterpret_cast<const sockaddr*>(&from), sizeof from), 0);
        ASSERT_EQ(::sendto(plain, "scan", 4, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 4);
        ::close(plain);
        std::vector<Copy> expected = copies.Take();
        ASSERT_EQ(expected.size(), 1u);
        expected[0].source.replace(expected[0].source.find(":60002"), 6, ":60001");
        EXPECT_EQ(sent, expected);
    });
}

// The real layer with a list read a moment too early: an adapter that has gone since.
class StaleListStack : public TIdStackPosix {
  public:
    std::vector<TIdBroadcastAdapter> BroadcastAdapters() override {
        std::vector<TIdBroadcastAdapter> adapters = TIdStackPosix::BroadcastAdapters();
        TIdBroadcastAdapter gone;
        gone.Name = "nicGone";
        gone.Index = Gone;
        adapters.insert(adapters.begin(), gone);
        return adapters;
    }
    static inline uint32_t Gone = 0;
};

TEST(EveryAdapterBroadcast, AnAdapterThatCannotTakeItIsSkippedAndOnlyNoTakerFails) {
    InFreshNetwork(Adapter("nicA", {"10.88.1.1/24"}) + Adapter("nicGone", {"10.88.7.1/24"}), [] {
        ASSERT_TRUE(Running({"nicA"}));
        StaleListStack::Gone = ::if_nametoindex("nicGone");
        ASSERT_TRUE(Ip("link del nicGone\n"));
        ASSERT_EQ(TIdComponent::InstanceCount(), 0);
        const TIdStackFactory platform =
            SetStackFactory([]() -> std::unique_ptr<TIdStack> { return std::make_unique<StaleListStack>(); });
        {
            LoopedCopies copies;
            TIdUDPServer server;
            server.SetDefaultPort(WorkstationPort);
            server.Broadcast("scan", DevicePort);
            EXPECT_EQ(copies.Take(), (std::vector<Copy>{{"scan", "10.88.1.1:60001", "nicA"}}));

            ASSERT_TRUE(Ip("link set nicA down\n"));
            try {
                server.Broadcast("scan", DevicePort);
                ADD_FAILURE() << "no adapter took it, yet the send succeeded";
            } catch (const EIdSocketError& e) {
                EXPECT_EQ(e.LastError(), TIdStackPosix::TranslateErrno(ENODEV));
            }
            EXPECT_TRUE(copies.Take().empty());
        }
        SetStackFactory(platform);
    });
}
} // namespace
