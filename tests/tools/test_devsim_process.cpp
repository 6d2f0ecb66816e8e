// SPDX-License-Identifier: GPL-3.0-or-later
// The simulator as a process, in the private LAN: what goes over the wire, what it logs, and each
// fault knob as the workstation would meet it. "No answer" is proven by order, not by waiting: a
// later scan's answer arriving first shows that the earlier request was answered by nothing.
#include "protocol/DeviceMessages.h"
#include "DevsimHarness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const std::string Id = "1A2B3C4D5E";
const std::string Scan = "0000000000";
const std::string Read = "01" + Id + "0AFFFFFFFF";
const std::string Commit = "01" + Id + "FFFFFFFFFF";

std::string WriteHex(const std::string& codeAndParam) {
    return "01" + Id + codeAndParam;
}

class DevsimProcessTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!InPrivateLan())
            GTEST_FAIL() << "these tests send broadcasts: run them through tests/private-lan";
    }
    // One device 1A2B3C4D5E at 10.77.1.7 with the given extra keys.
    std::unique_ptr<DevsimProcess> StartOne(const std::string& extra = "") {
        auto p = std::make_unique<DevsimProcess>(
            std::vector<std::string>{"--device", "id=" + Id + ",ip=10.77.1.7" + extra});
        EXPECT_TRUE(p->Started());
        return p;
    }
    // The next datagram must be the answer to a scan from `ip` (the barrier described above).
    void ExpectScanReplyNext(const std::string& ip = "10.77.1.7") {
        client.Broadcast(Scan);
        const auto r = client.Receive();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->fromIp, ip);
        EXPECT_EQ(r->hex.size(), 32u) << r->hex; // the sixteen-byte scan reply
    }
    std::string NextHex() {
        const auto r = client.Receive();
        return r ? r->hex : "(nothing)";
    }
    // devices simulated from base onwards: one broadcast, one answer from each address and MAC.
    void ExpectEveryDeviceAnswersOneScan(int devices, const std::string& base) {
        DevsimProcess sim({"--many", std::to_string(devices) + ",base_ip=" + base});
        ASSERT_TRUE(sim.Started());
        client.Broadcast(Scan);
        std::set<std::string> ips, macs;
        int replies = 0;
        while (const auto r = client.Receive(2000ms)) {
            ++replies;
            ips.insert(r->fromIp);
            macs.insert(MacTextFromScanReply(r->hex).value_or(""));
            if (replies == devices)
                break;
        }
        EXPECT_EQ(replies, devices);
        EXPECT_EQ(ips.size(), static_cast<std::size_t>(devices));
        EXPECT_EQ(macs.size(), static_cast<std::size_t>(devices));
        EXPECT_EQ(sim.LogLines().size(), 1u); // one broadcast reached the simulator once
    }
    UdpClient client;
};

TEST_F(DevsimProcessTest, DevicesAnswerFromTheirOwnAddressesToTheRequesterPort) {
    DevsimProcess sim({"--device", "id=" + Id + ",ip=10.77.1.7", "--device", "ip=10.77.1.8", "--device",
                       "id=0A0B0C0D0E,ip=10.77.1.200"});
    ASSERT_TRUE(sim.Started());
    client.Broadcast(Scan);
    std::map<std::string, std::string> macByIp;
    for (int i = 0; i < 3; ++i) {
        const auto r = client.Receive();
        ASSERT_TRUE(r) << "reply " << i;
        EXPECT_EQ(r->fromPort, 60000);
        macByIp[r->fromIp] = MacTextFromScanReply(r->hex).value_or("");
    }
    EXPECT_EQ(macByIp, (std::map<std::string, std::string>{{"10.77.1.7", "00-1A-2B-3C-4D-5E"},
                                                           {"10.77.1.8", "00-5A-D7-00-00-02"},
                                                           {"10.77.1.200", "00-0A-0B-0C-0D-0E"}}));
    client.Broadcast("01" + std::string("0A0B0C0D0E") + "0AFFFFFFFF");
    const auto rec = client.Receive();
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->fromIp, "10.77.1.200");
    EXPECT_EQ(ReadConfigRecord(rec->hex).deviceIp, (Ipv4Octets{10, 77, 1, 200}));
    EXPECT_EQ(sim.Stop(), 0); // SIGTERM ends it cleanly
}

TEST_F(DevsimProcessTest, ARequestToOneAddressIsHeardByTheDeviceThereOnly) {
    DevsimProcess sim({"--device", "id=" + Id + ",ip=10.77.1.7", "--device", "ip=10.77.1.8"});
    ASSERT_TRUE(sim.Started());
    client.SendTo("10.77.1.8", Scan);
    client.SendTo("10.77.1.9", Scan); // no device there
    client.SendTo("10.77.1.7", Read);
    const auto scanned = client.Receive();
    ASSERT_TRUE(scanned);
    EXPECT_EQ(scanned->fromIp, "10.77.1.8");
    EXPECT_EQ(NextHex().size(), 128u) << "the record is the next answer";
}

TEST_F(DevsimProcessTest, StateFileChangesOnlyOnTheCommit) {
    auto sim = StartOne(",port=4001,baud=D0");
    const std::string before = sim->State();
    EXPECT_EQ(before, "1A2B3C4D5E from=10.77.1.7 ip=10.77.1.7 mask=255.255.255.0 gateway=10.77.1.254 "
                      "remote_ip=10.77.0.100 port=4001 mode=00 baud=D0\n");
    client.Broadcast(WriteHex("05901F"));
    EXPECT_EQ(NextHex(), "05010D0A");
    client.Broadcast(WriteHex("06FCFFFFFF"));
    EXPECT_EQ(NextHex(), "06010D0A");
    client.Broadcast(WriteHex("01C0A80107"));
    EXPECT_EQ(NextHex(), "01010D0A");
    EXPECT_EQ(sim->State(), before);
    client.Broadcast(Read);
    EXPECT_EQ(ReadConfigRecord(NextHex()).port, 4001);

    client.Broadcast(Commit);
    EXPECT_EQ(NextHex(), "FF010D0A");
    EXPECT_EQ(sim->State(), "1A2B3C4D5E from=10.77.1.7 ip=192.168.1.7 mask=255.255.255.0 gateway=10.77.1.254 "
                            "remote_ip=10.77.0.100 port=8080 mode=00 baud=FC\n");
    client.Broadcast(Read);
    const DeviceConfig f = ReadConfigRecord(NextHex());
    EXPECT_EQ(f.port, 8080);
    EXPECT_EQ(f.baudCode, 0xFC);
}

TEST_F(DevsimProcessTest, RequestsForOtherIdsAreIgnored) {
    auto sim = StartOne();
    client.Broadcast("015AD70000010AFFFFFFFF");
    client.Broadcast("015AD7000001FFFFFFFFFF");
    ExpectScanReplyNext();
}

TEST_F(DevsimProcessTest, MalformedAndForeignDatagramsAreLoggedAndIgnored) {
    auto sim = StartOne();
    const std::vector<std::string> junk = {
        "",                         // empty
        "01",                       // lead byte only
        "00000000",                 // a scan one byte short
        "000000000000",             // a scan one byte long
        "01" + Id,                  // no code
        "01" + Id + "0AFFFFFF",     // read one byte short
        "01" + Id + "0AFFFFFFFFFF", // read one byte long
        "01" + Id + "05901FFFFF",   // port with four bytes
        "01" + Id + "FFFFFFFF00",   // commit with a wrong fill
        "01" + Id + "EEFFFFFFFF",   // unknown code
        "01010D0A",                 // an acknowledgement
        std::string(2 * 1400, 'A'), // a large foreign datagram
    };
    for (const auto& j : junk)
        client.Broadcast(j);
    ExpectScanReplyNext();
    EXPECT_TRUE(sim->Running());
    const auto lines = sim->LogLines();
    ASSERT_EQ(lines.size(), junk.size() + 1);
    const std::regex format(R"((\d+) 10\.77\.0\.100:60001 ([0-9A-F]*))");
    long long last = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, format)) << lines[i];
        EXPECT_EQ(m[2].str(), i < junk.size() ? junk[i] : Scan);
        EXPECT_GE(std::stoll(m[1].str()), last); // times never go back
        last = std::stoll(m[1].str());
    }
}

TEST_F(DevsimProcessTest, DelayHoldsBackEveryAnswer) {
    auto sim = StartOne(",delay=300");
    for (const std::string& request : {Scan, WriteHex("05901F")}) {
        const auto sent = std::chrono::steady_clock::now();
        client.Broadcast(request);
        ASSERT_TRUE(client.Receive());
        EXPECT_GE(std::chrono::steady_clock::now() - sent, 300ms) << request;
    }
}

TEST_F(DevsimProcessTest, AckFromAnswersOnlyFromTheKthSend) {
    auto sim = StartOne(",ackfrom=01:3");
    for (int send = 1; send <= 2; ++send) {
        client.Broadcast(WriteHex("01C0A80107"));
        ExpectScanReplyNext();
    }
    client.Broadcast(WriteHex("01C0A80107"));
    EXPECT_EQ(NextHex(), "01010D0A");
    client.Broadcast(WriteHex("01C0A80107"));
    EXPECT_EQ(NextHex(), "01010D0A");
    client.Broadcast(WriteHex("07FFFF0000")); // other codes are not held back
    EXPECT_EQ(NextHex(), "07010D0A");
}

TEST_F(DevsimProcessTest, NoAckOnTheCommitNeverApplies) {
    auto sim = StartOne(",noack=FF");
    const std::string before = sim->State();
    client.Broadcast(WriteHex("05901F"));
    EXPECT_EQ(NextHex(), "05010D0A");
    for (int send = 0; send < 3; ++send) {
        client.Broadcast(Commit);
        ExpectScanReplyNext();
    }
    EXPECT_EQ(sim->State(), before);
}

TEST_F(DevsimProcessTest, WrongAckAnswersWithAnotherCodesAck) {
    auto sim = StartOne(",wrongack=07:01");
    client.Broadcast(WriteHex("07FFFFFF00"));
    EXPECT_EQ(NextHex(), "01010D0A");
    client.Broadcast(WriteHex("01C0A80107"));
    EXPECT_EQ(NextHex(), "01010D0A");
}

TEST_F(DevsimProcessTest, ScanTwiceAnswersTwice) {
    auto sim = StartOne(",scantwice=1");
    client.Broadcast(Scan);
    const std::string first = NextHex();
    EXPECT_EQ(NextHex(), first);
    client.Broadcast(Read); // and nothing more came before the record
    EXPECT_EQ(NextHex().size(), 128u);
}

TEST_F(DevsimProcessTest, StrayFollowsEveryAck) {
    auto sim = StartOne(",stray=1");
    client.Broadcast(WriteHex("05901F"));
    EXPECT_EQ(NextHex(), "05010D0A");
    const std::string stray = NextHex();
    EXPECT_NE(stray, "(nothing)");
    EXPECT_EQ(stray.find("010D0A"), std::string::npos) << "the stray must not read as an acknowledgement";
    client.Broadcast(Scan); // no stray after a scan reply
    EXPECT_EQ(NextHex().size(), 32u);
    client.Broadcast(Read);
    EXPECT_EQ(NextHex().size(), 128u);
}

TEST_F(DevsimProcessTest, SilentDeviceAnswersNothing) {
    DevsimProcess sim({"--device", "id=" + Id + ",ip=10.77.1.7,silent=1", "--device", "ip=10.77.1.9"});
    ASSERT_TRUE(sim.Started());
    client.Broadcast(Read);
    client.Broadcast(WriteHex("05901F"));
    client.Broadcast(Commit);
    ExpectScanReplyNext("10.77.1.9");
    client.Broadcast(Read); // again a barrier: the silent device did not answer the earlier scan either
    client.Broadcast("015AD70000020AFFFFFFFF");
    const auto r = client.Receive();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->fromIp, "10.77.1.9");
    EXPECT_EQ(r->hex.size(), 128u);
}

TEST_F(DevsimProcessTest, ShortAndMalformedScanReplies) {
    DevsimProcess sim({"--device", "id=" + Id + ",ip=10.77.1.7,scanreply=short", "--device",
                       "id=0A0B0C0D0E,ip=10.77.1.8,scanreply=malformed"});
    ASSERT_TRUE(sim.Started());
    client.Broadcast(Scan);
    std::map<std::string, std::string> byIp;
    for (int i = 0; i < 2; ++i)
        if (const auto r = client.Receive())
            byIp[r->fromIp] = r->hex;
    EXPECT_EQ(byIp["10.77.1.7"].size(), 6u);
    ASSERT_FALSE(byIp["10.77.1.8"].empty());
    EXPECT_NE(MacTextFromScanReply(byIp["10.77.1.8"]).value_or(""), "00-0A-0B-0C-0D-0E");
    client.Broadcast("010A0B0C0D0E0AFFFFFFFF"); // the rest of the device still works
    EXPECT_EQ(NextHex().size(), 128u);
}

TEST_F(DevsimProcessTest, AFullSubnetAnswersOneScanFromDistinctAddresses) {
    ExpectEveryDeviceAnswersOneScan(254, "10.77.1.1");
}

// The private LAN's /22, carried across three octet boundaries (.255 and .0 are hosts there).
TEST_F(DevsimProcessTest, AFullSlash22SegmentAnswersOneScanFromDistinctAddresses) {
    ExpectEveryDeviceAnswersOneScan(1022, "10.77.4.1");
}

TEST_F(DevsimProcessTest, RefusesToStartOutsideThePrivateNetwork) {
    // A namespace with an interface the private runner does not make stands for a real network.
    const CommandResult foreign =
        RunCommand("unshare --net sh -c 'ip link add eth0 type veth peer name eth1 && exec " + DevsimPath() +
                   " --device ip=127.0.0.1'");
    EXPECT_EQ(foreign.status, 1);
    EXPECT_NE(foreign.err.find("refusing to start"), std::string::npos) << foreign.err;
    const CommandResult notLocal = RunCommand(DevsimPath() + " --device ip=192.0.2.1");
    EXPECT_EQ(notLocal.status, 1);
    EXPECT_NE(notLocal.err.find("192.0.2.1"), std::string::npos) << notLocal.err;
    EXPECT_EQ(RunCommand(DevsimPath() + " --device port=70000").status, 2);
}

TEST_F(DevsimProcessTest, ACommandRunsOnceTheDevicesAreReadyAndItsStatusIsTheSimulators) {
    const std::string ready = "/tmp/devsim-beside-" + std::to_string(::getpid());
    const std::string devsim = DevsimPath() + " --ready " + ready + " --device ip=10.77.1.7 -- ";
    EXPECT_EQ(RunCommand(devsim + "sh -c 'test -s " + ready + " && exit 3'").status, 3);
    EXPECT_EQ(RunCommand(devsim + "sh -c 'kill -KILL $$'").status, 128 + 9);
    EXPECT_EQ(RunCommand(devsim + "/nonexistent/program").status, 127);
    std::remove(ready.c_str());
}

} // namespace
