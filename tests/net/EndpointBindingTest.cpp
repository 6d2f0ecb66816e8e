// SPDX-License-Identifier: GPL-3.0-or-later
// Activation, binding, deactivation and sending on the real endpoint. The 60000/60001 cases and every
// broadcast need the private network that the test binary runs in.
#include "FakeNetwork.h"
#include "protocol/DeviceMessages.h"
#include "net/IdException.h"
#include "net/IdStack.h"
#include "net/IdUDPServer.h"
#include "NetTestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(EndpointActivation, BindsOneSocketToAllInterfacesOnDefaultPort) {
    TIdUDPServer server;
    server.SetDefaultPort(WorkstationPort);
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(server.SendBinding(), nullptr);

    server.SetActive(true);
    ASSERT_TRUE(server.Active());
    ASSERT_EQ(server.Bindings().Count(), 1);
    EXPECT_EQ(server.Bindings()[0].IP, "0.0.0.0");
    EXPECT_EQ(server.Bindings()[0].Port, WorkstationPort);
    EXPECT_EQ(server.SendBinding(), &server.Bindings()[0]);

    const TIdSocketHandleType socket = server.Bindings()[0].Socket;
    server.SetActive(true); // already active: nothing new
    EXPECT_EQ(server.Bindings().Count(), 1);
    EXPECT_EQ(server.Bindings()[0].Socket, socket);

    server.SetDefaultPort(5);
    EXPECT_EQ(server.Bindings()[0].Port, WorkstationPort);
}

TEST(EndpointActivation, DeactivationKeepsBindingsAndFreesThePort) {
    TIdUDPServer server;
    server.SetDefaultPort(WorkstationPort);
    server.SetActive(true);
    server.SetActive(false);
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(server.SendBinding(), nullptr);
    ASSERT_EQ(server.Bindings().Count(), 1);
    EXPECT_FALSE(server.Bindings()[0].SocketAllocated);
    EXPECT_EQ(server.Bindings()[0].Port, WorkstationPort);

    UdpPeer other("0.0.0.0", WorkstationPort); // throws if the port were still held
    EXPECT_EQ(other.Port(), WorkstationPort);
}

TEST(EndpointActivation, DeactivatingANeverActiveEndpointDoesNothing) {
    TIdUDPServer server;
    server.SetActive(false);
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(server.Bindings().Count(), 0);
}

TEST(EndpointActivation, InstanceCountFollowsComponents) {
    const int before = TIdComponent::InstanceCount();
    {
        TIdUDPServer a;
        TIdUDPServer b;
        EXPECT_EQ(TIdComponent::InstanceCount(), before + 2);
    }
    EXPECT_EQ(TIdComponent::InstanceCount(), before);
}

TEST(EndpointActivation, AListenerThatCannotBeMadeLeavesNoSocketBound) {
    FakeNetwork net;
    TIdUDPServer server;
    // One binding more than a wait takes: the listener cannot be made for them.
    for (int32_t i = 0; i <= static_cast<int32_t>(IdMaxSelectSockets); ++i) {
        server.Bindings().Add().Port = WorkstationPort + i;
    }
    EXPECT_THROW(server.SetActive(true), EIdStackSetSizeExceeded);
    EXPECT_FALSE(server.Bindings()[0].SocketAllocated);
    TIdUDPServer other;
    other.SetDefaultPort(WorkstationPort);
    EXPECT_NO_THROW(other.SetActive(true)) << "the port is still held";
}

TEST(EndpointActivation, AnAddressThatIsNotThisMachinesFailsWithItsWindowsSocketsCode) {
    TIdUDPServer server;
    server.Bindings().Add().IP = "10.99.99.99";
    try {
        server.SetActive(true);
        FAIL() << "bound to an address of no interface";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10049);
        EXPECT_STREQ(e.what(), "Socket Error # 10049\r\nCannot assign requested address.");
    }
    EXPECT_FALSE(server.Active());
}

// A socket library that cannot be loaded or started fails the construction of the first component,
// which counts nothing, so the next component tries the start again.
TEST(SocketLayerStartUp, AFailureStopsTheComponentAndTheNextOneStartsAfresh) {
    ASSERT_EQ(TIdComponent::InstanceCount(), 0);
    int attempts = 0;
    const TIdStackFactory platform = SetStackFactory([&attempts]() -> std::unique_ptr<TIdStack> {
        ++attempts;
        throw EIdWS2StubError("Error on loading Winsock2 library (WS2_32.DLL)", 0);
    });
    EXPECT_THROW(TIdUDPServer{}, EIdWS2StubError);
    EXPECT_THROW(TIdUDPServer{}, EIdWS2StubError);
    EXPECT_EQ(attempts, 2);
    EXPECT_EQ(TIdComponent::InstanceCount(), 0);
    SetStackFactory(platform);

    std::vector<Delivery> deliveries;
    TIdUDPServer server;
    RecordDeliveries(server, deliveries);
    ActivateOnLoopback(server);
    UdpPeer peer;
    peer.SendTo(PortOf(server), "started");
    ASSERT_TRUE(PumpUntil([&] { return deliveries.size() == 1; }));
}

TEST(PortInUse, ActivationFailsWithTheBindMessageAndReadsInactive) {
    auto holder = std::make_unique<UdpPeer>("0.0.0.0", WorkstationPort);
    TIdUDPServer server;
    server.SetDefaultPort(WorkstationPort);
    try {
        server.SetActive(true);
        FAIL() << "bind to a taken port succeeded";
    } catch (const EIdCouldNotBindSocket& e) {
        EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
    }
    EXPECT_FALSE(server.Active());

    // A second program instance: the same failure, so no address reuse was asked for.
    TIdUDPServer second;
    second.SetDefaultPort(WorkstationPort);
    EXPECT_THROW(second.Broadcast("x", DevicePort), EIdCouldNotBindSocket);
    EXPECT_FALSE(second.Active());

    holder.reset();
    UdpPeer device("0.0.0.0", DevicePort);
    server.Broadcast("hello", DevicePort);
    EXPECT_TRUE(server.Active());
    const auto got = device.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, "hello");
    EXPECT_EQ(got->senderPort, WorkstationPort);
}

TEST(PortInUse, NoOtherSocketCanTakeThePortFromAnActiveEndpointEvenAskingForReuse) {
    TIdUDPServer server;
    server.SetDefaultPort(WorkstationPort);
    server.SetActive(true);
#ifdef _WIN32
    // Windows lets a socket that asks for address reuse bind a port held without this option.
    EXPECT_NE(ExclusiveAddressOption(server.Bindings()[0].Socket), 0);
#endif
    for (const bool reuse : {false, true}) {
        for (const char* ip : {"0.0.0.0", "127.0.0.1"}) {
            EXPECT_THROW(UdpPeer(ip, WorkstationPort, reuse), std::runtime_error) << ip << " reuse " << reuse;
        }
    }
    TIdUDPServer second;
    second.SetDefaultPort(WorkstationPort);
    EXPECT_THROW(second.SetActive(true), EIdCouldNotBindSocket);
}

TEST(BroadcastSend, LeavesFromTheLocalPortAndSwitchesTheOptionOffAfterwards) {
    UdpPeer device("0.0.0.0", DevicePort);
    TIdUDPServer server;
    server.SetDefaultPort(WorkstationPort);
    server.SetActive(true);
    EXPECT_EQ(BroadcastOption(server.Bindings()[0].Socket), 0);

    server.Broadcast(std::string("\x00\x01\xFF", 3), DevicePort);
    EXPECT_EQ(BroadcastOption(server.Bindings()[0].Socket), 0);
    const auto got = device.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, std::string("\x00\x01\xFF", 3));
    EXPECT_EQ(got->senderPort, WorkstationPort);

    server.Broadcast("", DevicePort);
    const auto empty = device.Receive();
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->bytes.size(), 0u);

    server.SetBroadcastEnabled(true);
    EXPECT_NE(BroadcastOption(server.Bindings()[0].Socket), 0);
    server.Broadcast("on", DevicePort);
    EXPECT_NE(BroadcastOption(server.Bindings()[0].Socket), 0);
}

TEST(BroadcastSend, OnAnInactiveEndpointActivatesItAndRepliesAreDelivered) {
    UdpPeer device("0.0.0.0", DevicePort);
    std::vector<Delivery> deliveries;
    TIdUDPServer server;
    server.SetDefaultPort(WorkstationPort);
    RecordDeliveries(server, deliveries);

    server.Broadcast("scan", DevicePort);
    ASSERT_TRUE(server.Active());
    const auto request = device.Receive();
    ASSERT_TRUE(request);
    device.SendTo(static_cast<uint16_t>(WorkstationPort), "reply", "127.0.0.1");
    ASSERT_TRUE(PumpUntil([&] { return deliveries.size() == 1; }));
    EXPECT_EQ(deliveries[0].bytes, "reply");
}

TEST(DatagramSend, ToLocalhostAndTooLong) {
    UdpPeer peer;
    TIdUDPServer server;
    server.SendDatagram("LocalHost", peer.Port(), "abc");
    const auto got = peer.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, "abc");
    EXPECT_EQ(got->senderPort, PortOf(server));

    try {
        server.SendDatagram("127.0.0.1", peer.Port(), std::string(65508, 'x'));
        FAIL() << "an over-long datagram was sent";
    } catch (const EIdPackageSizeTooBig& e) {
        EXPECT_STREQ(e.what(), "Package Size Too Big.");
    }
    EXPECT_TRUE(server.Active());
}

TEST(DatagramSend, BroadcastWithoutTheOptionIsRefusedWithAccessDenied) {
    UdpPeer device("0.0.0.0", DevicePort);
    TIdUDPServer server;
    try {
        server.SendDatagram("255.255.255.255", DevicePort, "x");
        FAIL() << "broadcast went out without the broadcast option";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10013);
        EXPECT_STREQ(e.what(), "Socket Error # 10013\r\nAccess denied.");
    }
}
} // namespace
