// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows layer's adapter list and its send through one adapter, in tests/private-lan's namespace
// (lan0 10.77.0.100/24 with a carrier; its far end lan1 up without an address; the devices' addresses
// on loopback). A broadcast that leaves through lan0 is looped back to this namespace's listeners.
#include "NetTestSupport.h"

#include "protocol/DeviceMessages.h"
#include "net/IdStack.h"
#include "net/IdUDPServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <string>

namespace {

bool InPrivateLan() {
    const char* v = std::getenv("KORV_PRIVATE_LAN");
    return v != nullptr && std::string(v) == "1";
}

class WindowsAdapters : public testing::Test {
  protected:
    void SetUp() override {
        if (!InPrivateLan()) {
            GTEST_SKIP() << "runs inside tests/private-lan only";
        }
        server.SetDefaultPort(WorkstationPort);
        server.SetActive(true);
    }
    TIdUDPServer server;
};

TEST_F(WindowsAdapters, ListsTheWorkstationsAdapterAloneWithItsAddress) {
    // Not loopback with its 255 addresses, not lan1 without an IPv4 address.
    const std::vector<TIdBroadcastAdapter> adapters = TIdStack::Instance().BroadcastAdapters();
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_EQ(DottedQuad(adapters[0].Address), "10.77.0.100");
    EXPECT_NE(adapters[0].Index, 0u);
    EXPECT_FALSE(adapters[0].Name.empty());
    std::cout << "[ adapter  ] '" << adapters[0].Name << "' index " << adapters[0].Index << "\n";
}

TEST_F(WindowsAdapters, ABroadcastLeavesThroughTheNamedAdapterAndLaterSendsAreNotTiedToIt) {
    const std::vector<TIdBroadcastAdapter> adapters = TIdStack::Instance().BroadcastAdapters();
    ASSERT_EQ(adapters.size(), 1u);
    UdpPeer device("0.0.0.0", DevicePort);
    server.BroadcastInterface = adapters[0].Name;
    server.Broadcast("scan", DevicePort);
    const auto broadcast = device.Receive();
    ASSERT_TRUE(broadcast.has_value());
    EXPECT_EQ(broadcast->bytes, "scan");
    EXPECT_EQ(broadcast->senderIP, "10.77.0.100");
    EXPECT_EQ(broadcast->senderPort, WorkstationPort);

    // The adapter is chosen for that send only: a datagram to a loopback address right after it
    // must still reach it.
    UdpPeer local("127.0.0.1", 0);
    server.SendDatagram("127.0.0.1", local.Port(), "after");
    const auto after = local.Receive(2000ms);
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->bytes, "after");
}
} // namespace
