// SPDX-License-Identifier: GPL-3.0-or-later
// The operations on the real endpoint over the fake socket layer, with the simulator's devices
// answering in virtual time: a write with all its retries runs in milliseconds.
#include "FakeDevices.h"
#include "FakeNetwork.h"
#include "VirtualClock.h"

#include "protocol/DeviceMessages.h"
#include "protocol/HexCodec.h"
#include "tools/devsim/DeviceWire.h"
#include "tools/korvcfg/ApplyTable.h"
#include "tools/korvcfg/DeviceSession.h"

#include <gtest/gtest.h>

using namespace korvcfg;
using namespace std::chrono_literals;

namespace {

const char StrangerIp[] = "10.77.1.200";

class OperationsTest : public testing::Test {
  protected:
    FakeNetwork net;
    VirtualClock clock{net};
    std::vector<std::string> progress;
    std::vector<std::string> warnings;

    std::unique_ptr<DeviceSession> Open() {
        auto session = std::make_unique<DeviceSession>(
            clock, OpsMessages{[this](const std::string& l) { progress.push_back(l); },
                               [this](const std::string& l) { warnings.push_back(l); }});
        session->Open();
        return session;
    }

    // The frames sent to the devices after the first n, as hex.
    std::vector<std::string> SentHex(std::size_t from = 0) const {
        std::vector<std::string> hex;
        const auto sent = net.Sent();
        for (std::size_t i = from; i < sent.size(); ++i) {
            hex.push_back(BytesToHex(sent[i].bytes));
        }
        return hex;
    }

    std::size_t CountSent(const std::string& hex) const {
        const auto all = SentHex();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), hex));
    }

    // Whoever is at fromIp acknowledges every write step the endpoint sends, at once.
    void AcknowledgeEverythingFrom(const std::string& fromIp) {
        net.AddResponder([this, fromIp](const FakeDatagram& d) {
            const Request r = ParseRequest(d.bytes);
            if (r.kind == RequestKind::Addressed && r.code != 0x0A) {
                net.Deliver(fromIp, 60000, 60001, WriteAckBytes(r.code), 1ms);
            }
        });
    }
};

const std::string IdA = "4C5A1E0B21";
const FoundDevice DeviceA{"10.77.1.11", "00-4C-5A-1E-0B-21"};

} // namespace

TEST_F(OperationsTest, ScanListsEachDeviceOnceInArrivalOrderAndWarnsOfAnAddressConflict) {
    FakeDevices devices(net, {"id=" + IdA + ",ip=10.77.1.11,delay=30", "id=4C5A1E0B22,ip=10.77.1.22,delay=10",
                              "id=7E0F93A4C5,ip=10.77.1.150,delay=20,scantwice=1",
                              // a second device answering from .22, and a reply too short to name one
                              "id=4C5A1E0B23,ip=10.77.1.22,delay=40",
                              "id=4C5A1E0B24,ip=10.77.1.24,scanreply=short"});
    // A system that lets no adapter be chosen: the scan goes out once all the same, the plain way.
    net.RefuseAdapterChoice({{"eth0", 2, {10, 77, 0, 100}, {255, 255, 255, 0}}, {"wlan0", 3, {10, 77, 5, 9}}},
                            10042);
    const auto session = Open();
    const std::vector<FoundDevice> found = session->Scan(1500);
    const std::vector<FoundDevice> expected = {{"10.77.1.22", "00-4C-5A-1E-0B-22"},
                                               {"10.77.1.150", "00-7E-0F-93-A4-C5"},
                                               {"10.77.1.11", "00-4C-5A-1E-0B-21"},
                                               {"10.77.1.22", "00-4C-5A-1E-0B-23"}};
    EXPECT_EQ(found, expected);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("10.77.1.22"), std::string::npos) << warnings[0];
    // The wait runs to its end: answers may come until then.
    EXPECT_EQ(net.Now(), 1500ms);
    EXPECT_EQ(SentHex(), std::vector<std::string>{"0000000000"});
}

TEST_F(OperationsTest, ReadTakesTheRecordOnlyFromTheDevicesAddress) {
    FakeDevices devices(net, {"id=" + IdA + ",ip=10.77.1.11,delay=300,port=4001,baud=FC,mode=01"});
    const auto session = Open();
    const FoundDevice device = Locate(session->Scan(1500), DeviceA.mac, 1500);
    // Before the record: the device's own short notice, a record one byte short of the speed, a
    // stranger's whole record and a neighbour's record, all naming another configuration.
    DeviceConfig other = SimulatedDefaults;
    other.port = 9999;
    other.baudCode = 0x40;
    net.Deliver(DeviceA.ip, 60000, 60001, StrayBytes(), 50ms);
    net.Deliver(DeviceA.ip, 60000, 60001, ConfigRecordBytes(IdA, other).substr(0, 56), 80ms);
    net.Deliver(StrangerIp, 60000, 60001, ConfigRecordBytes(IdA, other), 100ms);
    net.Deliver("10.77.1.12", 60000, 60001, ConfigRecordBytes("4C5A1E0B22", other), 150ms);
    const DeviceConfig s = session->Read(device);
    EXPECT_EQ(s.port, 4001);
    EXPECT_EQ(Baud(s), 115200);
    EXPECT_EQ(ModeName(s), "tcp-client");
    EXPECT_EQ(FormatAddress(s.deviceIp), "10.77.1.11");
    EXPECT_EQ(net.Now(), 1500ms + 300ms);
}

TEST_F(OperationsTest, ReadOfASilentDeviceAsksThreeTimesAndFails) {
    FakeDevices devices(net, {"id=" + IdA + ",ip=10.77.1.11,noack=0A"});
    const auto session = Open();
    try {
        session->Read(DeviceA);
        FAIL() << "read succeeded";
    } catch (const OpsError& e) {
        EXPECT_EQ(e.WhatFailed(), OpsError::Kind::NoAnswer);
        EXPECT_NE(std::string(e.what()).find(DeviceA.mac), std::string::npos);
    }
    EXPECT_EQ(CountSent("01" + IdA + "0AFFFFFFFF"), 3u);
    EXPECT_EQ(net.Now(), 3000ms);
}

TEST_F(OperationsTest, WriteSendsTheEightStepsInOrderAndRetriesUntilAcknowledged) {
    // The device IP step is taken only at its third send.
    FakeDevices devices(net, {"id=" + IdA + ",ip=10.77.1.11,ackfrom=01:3,delay=5"});
    const auto session = Open();
    DeviceConfig target;
    target.deviceIp = {192, 168, 4, 11};
    target.subnetMask = {255, 255, 0, 0};
    target.gateway = {192, 168, 4, 1};
    target.remoteIp = {192, 168, 4, 2};
    target.port = 4002; // 0x0FA2, low byte first on the wire
    target.modeCode = 0x04;
    target.baudCode = 0xF8;
    const auto started = std::chrono::steady_clock::now();
    session->Write(DeviceA, target);
    const auto took = std::chrono::steady_clock::now() - started;
    const std::string lead = "01" + IdA;
    const std::vector<std::string> expected = {lead + "01C0A8040B",
                                               lead + "01C0A8040B",
                                               lead + "01C0A8040B",
                                               lead + "07FFFF0000",
                                               lead + "04"
                                                      "04FFFFFF",
                                               lead + "02C0A80402",
                                               lead + "03C0A80401",
                                               lead + "05A20F",
                                               lead + "06F8FFFFFF",
                                               lead + "FFFFFFFFFF"};
    EXPECT_EQ(SentHex(), expected);
    // Resent after the step's whole wait; the others go on as soon as the acknowledgement is in.
    const auto sent = net.Sent();
    EXPECT_EQ(sent[1].at - sent[0].at, 1000ms);
    EXPECT_EQ(sent[2].at - sent[1].at, 1000ms);
    EXPECT_EQ(sent[3].at - sent[2].at, 5ms);
    EXPECT_EQ(progress.size(), 8u);
    EXPECT_EQ(devices[0].Committed().port, 4002);
    EXPECT_EQ(devices[0].Committed().deviceIp, (Ipv4{192, 168, 4, 11}));
    std::cout << "[ figures  ] eight-step write with two resends: " << net.Now().count() << " ms virtual, "
              << std::chrono::duration_cast<std::chrono::microseconds>(took).count() << " us real\n";
}

TEST_F(OperationsTest, AStepNeverAcknowledgedEndsTheWriteAfterTenSends) {
    FakeDevices devices(net, {"id=" + IdA + ",ip=10.77.1.11,noack=04"});
    const auto session = Open();
    DeviceConfig target;
    target.baudCode = 0xD0;
    try {
        session->Write(DeviceA, target);
        FAIL() << "write succeeded";
    } catch (const OpsError& e) {
        EXPECT_EQ(e.WhatFailed(), OpsError::Kind::NotAcknowledged);
        EXPECT_NE(std::string(e.what()).find("network mode"), std::string::npos) << e.what();
    }
    const auto sent = SentHex();
    ASSERT_EQ(sent.size(), 12u);
    EXPECT_EQ(CountSent("01" + IdA + "0400FFFFFF"), 10u);
    EXPECT_EQ(sent.back(), "01" + IdA + "0400FFFFFF") << "nothing may follow the failed step";
    EXPECT_EQ(net.Now(), 10000ms);
    EXPECT_EQ(devices[0].Committed().modeCode, 0x00);
}

TEST_F(OperationsTest, AcknowledgementsFromElsewhereOrForAnotherStepAreNotTaken) {
    // The device answers the device IP step with another code's acknowledgement; a stranger and a
    // neighbouring device acknowledge every step at once.
    FakeDevices devices(net, {"id=" + IdA + ",ip=10.77.1.11,wrongack=01:07", "id=4C5A1E0B22,ip=10.77.1.12"});
    AcknowledgeEverythingFrom(StrangerIp);
    AcknowledgeEverythingFrom("10.77.1.12");
    const auto session = Open();
    DeviceConfig target;
    target.baudCode = 0xD0;
    try {
        session->Write(DeviceA, target);
        FAIL() << "write succeeded";
    } catch (const OpsError& e) {
        EXPECT_EQ(e.WhatFailed(), OpsError::Kind::NotAcknowledged);
        EXPECT_NE(std::string(e.what()).find("device IP"), std::string::npos) << e.what();
    }
    EXPECT_EQ(SentHex().size(), 10u);
    EXPECT_TRUE(progress.empty());
}

TEST_F(OperationsTest, TheCommitCountsWhenAcknowledgedFromTheDeviceIpJustWritten) {
    // The device takes its new IP on the commit and answers the commit from there only.
    FakeDevices devices(net, {"id=" + IdA + ",ip=10.77.1.11,noack=FF"});
    AcknowledgeEverythingFrom("192.168.4.11");
    Open()->Write(DeviceA, {.deviceIp = {192, 168, 4, 11}, .baudCode = 0xD0});
    EXPECT_EQ(CountSent("01" + IdA + "FFFFFFFFFF"), 1u);
}

TEST_F(OperationsTest, VerifyNamesTheFieldsThatDidNotTakeTheWrite) {
    // A device that acknowledges every step and keeps its old configuration.
    DeviceConfig kept = SimulatedDefaults;
    kept.deviceIp = {10, 77, 1, 11};
    kept.gateway = {10, 77, 1, 254};
    net.AddResponder([&](const FakeDatagram& d) {
        const Request r = ParseRequest(d.bytes);
        std::string reply;
        if (r.kind == RequestKind::Scan) {
            reply = ScanReplyBytes(IdA, kept, ScanReplyShape::Normal);
        } else if (r.kind == RequestKind::Addressed) {
            reply = r.code == 0x0A ? ConfigRecordBytes(IdA, kept) : WriteAckBytes(r.code);
        }
        if (!reply.empty()) {
            net.Deliver(DeviceA.ip, 60000, 60001, reply, 2ms);
        }
    });
    const auto session = Open();
    SettingsChange change;
    change.Set("port", 4100);
    change.Set("baud", 0xFC);
    const DeviceConfig target = Merged(session->Read(DeviceA), change);
    session->Write(DeviceA, target);
    try {
        session->Verify(DeviceA, target, 1500);
        FAIL() << "verify passed";
    } catch (const OpsError& e) {
        EXPECT_EQ(e.WhatFailed(), OpsError::Kind::Mismatch);
        EXPECT_NE(
            std::string(e.what()).find("in port (wrote 4100, reads 4001), baud (wrote 115200, reads 9600)"),
            std::string::npos)
            << e.what();
    }
}

TEST_F(OperationsTest, ApplyGoesOnAfterAFailedDevice) {
    FakeDevices devices(net, {"id=" + IdA + ",ip=10.77.1.11", "id=4C5A1E0B22,ip=10.77.1.22,noack=05",
                              "id=7E0F93A4C5,ip=10.77.1.150"});
    const auto session = Open();
    const std::vector<ApplyRow> rows = ParseApplyTable("mac,port\n"
                                                       "00-4C-5A-1E-0B-21,5001\n"
                                                       "00-4C-5A-1E-0B-22,5002\n"
                                                       "00-00-00-00-00-99,5009\n"
                                                       "00-7E-0F-93-A4-C5,5003\n");
    const std::vector<ApplyResult> results = ApplyTable(*session, rows, true);
    ASSERT_EQ(results.size(), 4u);
    EXPECT_TRUE(results[0].ok) << results[0].error;
    EXPECT_FALSE(results[1].ok);
    EXPECT_NE(results[1].error.find("local port"), std::string::npos) << results[1].error;
    EXPECT_FALSE(results[2].ok);
    EXPECT_NE(results[2].error.find("not found"), std::string::npos) << results[2].error;
    EXPECT_TRUE(results[3].ok) << results[3].error;
    EXPECT_EQ(devices[0].Committed().port, 5001);
    EXPECT_EQ(devices[1].Committed().port, 4001);
    EXPECT_EQ(devices[2].Committed().port, 5003);
    // One scan for the table, one for each verify.
    EXPECT_EQ(CountSent("0000000000"), 3u);
}

TEST_F(OperationsTest, ParallelApplyOverlapsDevicesButNotOnesThatShareAnAddress) {
    FakeDevices devices(net, {"id=" + IdA + ",ip=10.77.1.11", "id=4C5A1E0B22,ip=10.77.1.22,noack=05",
                              "id=4C5A1E0B23,ip=10.77.1.33", "id=4C5A1E0B24,ip=10.77.1.33"});
    const auto session = Open();
    const std::vector<ApplyRow> rows = ParseApplyTable("mac,port\n"
                                                       "00-4C-5A-1E-0B-21,5001\n"
                                                       "00-4C-5A-1E-0B-22,5002\n"
                                                       "00-00-00-00-00-99,5009\n"
                                                       "00-4C-5A-1E-0B-23,5003\n"
                                                       "00-4C-5A-1E-0B-24,5004\n");
    const std::vector<ApplyResult> results = ApplyTable(*session, rows, true, 16);
    ASSERT_EQ(results.size(), 5u);
    const bool expectedOk[] = {true, false, false, true, true};
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].mac, rows[i].mac);
        EXPECT_EQ(results[i].ok, expectedOk[i]) << results[i].mac << ": " << results[i].error;
    }
    EXPECT_EQ(devices[1].Committed().port, 4001);
    EXPECT_EQ(devices[3].Committed().port, 5004);
    // One scan for the table and one for the read-back of every lane's devices.
    EXPECT_EQ(CountSent("0000000000"), 2u);
    std::size_t verifyScan = 0;
    for (std::size_t k = 0; k < net.Sent().size(); ++k) {
        verifyScan = BytesToHex(net.Sent()[k].bytes) == "0000000000" ? k : verifyScan;
    }
    // The span of each device's addressed requests in the order sent, while writing or reading back.
    const auto span = [&](const std::string& id, bool readBack = false) {
        std::pair<std::size_t, std::size_t> first_last{SIZE_MAX, 0};
        for (std::size_t k = readBack ? verifyScan : 0; k < (readBack ? net.Sent().size() : verifyScan);
             ++k) {
            if (BytesToHex(net.Sent()[k].bytes).substr(2, 10) == id) {
                first_last = {std::min(first_last.first, k), k};
            }
        }
        return first_last;
    };
    EXPECT_LT(span(IdA).first, span("4C5A1E0B23").first);
    EXPECT_GT(span(IdA).second, span("4C5A1E0B23").first) << "A and C were configured at once";
    for (const bool readBack : {false, true}) {
        EXPECT_LT(span("4C5A1E0B23", readBack).second, span("4C5A1E0B24", readBack).first)
            << "C and D share an address";
    }
}

TEST_F(OperationsTest, APortHeldByAnotherProgramIsReportedAsInUse) {
    net.Occupy(60001);
    try {
        Open();
        FAIL() << "opened";
    } catch (const OpsError& e) {
        EXPECT_EQ(e.WhatFailed(), OpsError::Kind::PortInUse);
        EXPECT_NE(std::string(e.what()).find("in use"), std::string::npos);
    }
    EXPECT_TRUE(net.Sent().empty());
}
