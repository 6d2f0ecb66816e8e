// SPDX-License-Identifier: GPL-3.0-or-later
// The simulator's own logic without sockets: its command-line device profiles, the answers a device
// lays out (read back with the workstation's own readers) and what it does with each request.
#include "protocol/DeviceMessages.h"
#include "tools/devsim/DeviceProfile.h"
#include "tools/devsim/DeviceWire.h"
#include "protocol/HexCodec.h"
#include "tools/devsim/SimulatedDevice.h"

#include <gtest/gtest.h>

namespace {

const std::string Mac = "00-1A-2B-3C-4D-5E";

Request Req(const std::string& hex) {
    return ParseRequest(HexToBytes(hex));
}

std::string Write(CommandCode code, const std::string& paramHex, const std::string& mac = Mac) {
    return BytesToHex(WriteCommand(mac, code, paramHex));
}

SimulatedDevice Device(const std::string& extra = "") {
    return SimulatedDevice(ParseDeviceProfile("id=1A2B3C4D5E,ip=10.77.1.7" + extra, 1));
}

std::vector<std::string> Hex(const Reaction& r) {
    std::vector<std::string> out;
    for (const auto& p : r.replies)
        out.push_back(BytesToHex(p));
    return out;
}

} // namespace

// --- command line ----------------------------------------------------------------------------------

TEST(DeviceProfile, DefaultsComeFromTheOrdinal) {
    const DeviceProfile s = ParseDeviceProfile("", 3);
    EXPECT_EQ(s.id, "5AD7000003");
    EXPECT_EQ(FormatIpv4(s.sourceIp), "10.77.1.3");
    EXPECT_EQ(FormatStateLine(s, s.config),
              "5AD7000003 from=10.77.1.3 ip=10.77.1.3 mask=255.255.255.0 gateway=10.77.1.254 "
              "remote_ip=10.77.0.100 port=4001 mode=00 baud=D0");
}

TEST(DeviceProfile, KeysSetConfigurationAndFaults) {
    const DeviceProfile s =
        ParseDeviceProfile("id=a1b2c3d4e5,from=10.77.1.40,mode=04,port=8080,ip=192.168.1.7,"
                           "remote_ip=192.168.1.10,gateway=192.168.1.1,mask=255.255.0.0,baud=FC,"
                           "delay=250,ackfrom=01:3,ackfrom=07:2,noack=FF,wrongack=04:02,"
                           "scantwice=1,stray=1,silent=0,scanreply=short",
                           1);
    EXPECT_EQ(FormatStateLine(s, s.config),
              "A1B2C3D4E5 from=10.77.1.40 ip=192.168.1.7 mask=255.255.0.0 gateway=192.168.1.1 "
              "remote_ip=192.168.1.10 port=8080 mode=04 baud=FC");
    EXPECT_EQ(s.faults.delayMs, 250);
    EXPECT_EQ(s.faults.ackFrom.at(0x01), 3);
    EXPECT_EQ(s.faults.ackFrom.at(0x07), 2);
    EXPECT_EQ(s.faults.noAck.count(0xFF), 1u);
    EXPECT_EQ(s.faults.wrongAck.at(0x04), 0x02);
    EXPECT_TRUE(s.faults.scanTwice && s.faults.stray && !s.faults.silent);
    EXPECT_EQ(s.faults.scanReply, ScanReplyShape::Short);
}

class DevsimProfileRejects : public testing::TestWithParam<const char*> {};
TEST_P(DevsimProfileRejects, WithAnError) {
    EXPECT_THROW(ParseDeviceProfile(GetParam(), 1), ProfileError);
}
INSTANTIATE_TEST_SUITE_P(BadKeys, DevsimProfileRejects,
                         testing::Values("id=1A2B3C4D", "id=1A2B3C4D5G", "ip=10.77.1", "ip=10.77.1.256",
                                         "mode=4", "mode=100", "port=65536", "port=-1", "port=80a",
                                         "baud=XYZ", "delay=soon", "ackfrom=01", "ackfrom=01:0",
                                         "ackfrom=08:2", "noack=0B", "wrongack=01", "wrongack=0A:01",
                                         "scantwice=yes", "scanreply=long", "colour=red", "novalue"));

TEST(DeviceProfile, ManyGivesDistinctIdsAndConsecutiveAddresses) {
    const auto group = ParseManyProfile("3,base_ip=10.77.1.254,mode=02,delay=5,stagger=10", 4);
    ASSERT_EQ(group.size(), 3u);
    EXPECT_EQ(group[0].id, "5AD7000004");
    EXPECT_EQ(group[2].id, "5AD7000006");
    EXPECT_EQ(FormatIpv4(group[1].sourceIp), "10.77.1.255");
    EXPECT_EQ(FormatIpv4(group[2].sourceIp), "10.77.2.0"); // carries into the next octet
    EXPECT_EQ(group[2].config.modeCode, 0x02);
    EXPECT_EQ(group[0].faults.delayMs, 5);
    EXPECT_EQ(group[2].faults.delayMs, 25);
    EXPECT_THROW(ParseManyProfile("3,mode=02", 1), ProfileError); // no base
    EXPECT_THROW(ParseManyProfile("3,base_ip=10.77.1.1,id=1A2B3C4D5E", 1), ProfileError);
    EXPECT_THROW(ParseManyProfile("0,base_ip=10.77.1.1", 1), ProfileError);
    EXPECT_THROW(ParseManyProfile("2,base_ip=255.255.255.255", 1), ProfileError);
}

// --- answers, as the workstation reads them ------------------------------------------------------------

TEST(DevsimWire, ScanReplyNamesTheDeviceAsTheWorkstationReadsIt) {
    DeviceConfig c = SimulatedDefaults;
    const std::string reply = BytesToHex(ScanReplyBytes("1A2B3C4D5E", c, ScanReplyShape::Normal));
    EXPECT_EQ(MacTextFromScanReply(reply), Mac);
    EXPECT_EQ(BytesToHex(ScanReplyBytes("1A2B3C4D5E", c, ScanReplyShape::Short)).size(), 6u);
    const auto garbled =
        MacTextFromScanReply(BytesToHex(ScanReplyBytes("1A2B3C4D5E", c, ScanReplyShape::Malformed)));
    EXPECT_NE(garbled.value_or(""), Mac);
}

TEST(DevsimWire, ConfigRecordReadsBackEveryFieldWithTheSpeedLast) {
    const DeviceProfile s = ParseDeviceProfile("mode=04,port=8080,ip=192.168.1.7,remote_ip=192.168.1.10,"
                                               "gateway=192.168.1.1,mask=255.255.254.0,baud=F4",
                                               1);
    const std::string rec = ConfigRecordBytes(s.id, s.config);
    ASSERT_GE(rec.size(), 57u);
    EXPECT_EQ(static_cast<uint8_t>(rec.back()), 0xF4);
    const DeviceConfig f = ReadConfigRecord(BytesToHex(rec));
    EXPECT_EQ(f.modeCode, 0x04);
    EXPECT_EQ(f.port, 8080);
    EXPECT_EQ(f.deviceIp, (Ipv4Octets{192, 168, 1, 7}));
    EXPECT_EQ(f.remoteIp, (Ipv4Octets{192, 168, 1, 10}));
    EXPECT_EQ(f.gateway, (Ipv4Octets{192, 168, 1, 1}));
    EXPECT_EQ(f.subnetMask, (Ipv4Octets{255, 255, 254, 0}));
    EXPECT_EQ(f.baudCode, 0xF4);
}

// --- requests ----------------------------------------------------------------------------------------

TEST(DevsimRequest, FramesAreCheckedStrictly) {
    EXPECT_EQ(Req("0000000000").kind, RequestKind::Scan);
    EXPECT_EQ(Req("011A2B3C4D5E0AFFFFFFFF").kind, RequestKind::Addressed);
    EXPECT_EQ(Req("011A2B3C4D5E05901F").kind, RequestKind::Addressed);
    EXPECT_EQ(Req("011A2B3C4D5E05901FFFFF").kind, RequestKind::Malformed); // port frame with four bytes
    EXPECT_EQ(Req("011A2B3C4D5E01C0A801").kind, RequestKind::Malformed);   // one octet short
    EXPECT_EQ(Req("011A2B3C4D5EFFFFFFFF00").kind, RequestKind::Malformed); // commit with a wrong fill
    EXPECT_EQ(Req("011A2B3C4D5E0404FFFF00").kind, RequestKind::Malformed); // mode with a wrong fill
    EXPECT_EQ(Req("011A2B3C4D5E08FFFFFFFF").kind, RequestKind::Malformed); // unknown code
    EXPECT_EQ(Req("011A2B").kind, RequestKind::Malformed);
    EXPECT_EQ(Req("00000000").kind, RequestKind::Foreign);
    EXPECT_EQ(Req("000000000000").kind, RequestKind::Foreign);
    EXPECT_EQ(Req("").kind, RequestKind::Foreign);
    EXPECT_EQ(Req("01010D0A").kind, RequestKind::Malformed); // an ack echoed back at the device port
}

TEST(DevsimDevice, WrittenValuesTakeEffectOnlyOnTheCommit) {
    SimulatedDevice d = Device();
    const DeviceConfig before = d.Committed();
    const std::pair<CommandCode, std::string> writes[] = {
        {CommandCode::DeviceIp, "C0A80107"},    {CommandCode::SubnetMask, "FFFFFE00"},
        {CommandCode::NetworkMode, "04FFFFFF"}, {CommandCode::RemoteIp, "C0A8010A"},
        {CommandCode::Gateway, "C0A80101"},     {CommandCode::LocalPort, "901F"},
        {CommandCode::SerialSpeed, "FCFFFFFF"}};
    for (const auto& [code, param] : writes) {
        const Reaction r = d.Handle(Req(Write(code, param)));
        EXPECT_EQ(Hex(r), std::vector<std::string>{WriteAckText(code)});
        EXPECT_FALSE(r.committed);
    }
    EXPECT_EQ(d.Committed(), before);
    const auto record = d.Handle(Req("011A2B3C4D5E0AFFFFFFFF"));
    EXPECT_EQ(ReadConfigRecord(Hex(record).at(0)).port, 4001); // the read shows what is in force

    const Reaction commit = d.Handle(Req(Write(CommandCode::Commit, CommitParam())));
    EXPECT_TRUE(commit.committed);
    EXPECT_EQ(Hex(commit), std::vector<std::string>{"FF010D0A"});
    const DeviceProfile after = d.Profile();
    EXPECT_EQ(FormatStateLine(after, d.Committed()),
              "1A2B3C4D5E from=10.77.1.7 ip=192.168.1.7 mask=255.255.254.0 gateway=192.168.1.1 "
              "remote_ip=192.168.1.10 port=8080 mode=04 baud=FC");
    EXPECT_EQ(FormatIpv4(after.sourceIp), "10.77.1.7"); // the new address is for the next start
}

TEST(DevsimDevice, OtherIdsAndBadFramesChangeNothing) {
    SimulatedDevice d = Device();
    EXPECT_EQ(d.Handle(Req(Write(CommandCode::LocalPort, "901F", "00-1A-2B-3C-4D-5F"))).outcome,
              Outcome::OtherDevice);
    EXPECT_EQ(d.Handle(Req("011A2B3C4D5E05901FFFFF")).outcome, Outcome::Ignored);
    EXPECT_EQ(d.Handle(Req(Write(CommandCode::Commit, CommitParam(), "00-1A-2B-3C-4D-5F"))).outcome,
              Outcome::OtherDevice);
    d.Handle(Req(Write(CommandCode::Commit, CommitParam())));
    EXPECT_EQ(d.Committed().port, 4001);
}

TEST(DevsimDevice, UnacknowledgedRequestsAreNotApplied) {
    SimulatedDevice d = Device(",ackfrom=05:2,noack=0A");
    EXPECT_EQ(d.Handle(Req(Write(CommandCode::LocalPort, "901F"))).outcome, Outcome::Dropped);
    d.Handle(Req(Write(CommandCode::Commit, CommitParam())));
    EXPECT_EQ(d.Committed().port, 4001);
    EXPECT_EQ(d.Handle(Req(Write(CommandCode::LocalPort, "3412"))).outcome, Outcome::Answered);
    d.Handle(Req(Write(CommandCode::Commit, CommitParam())));
    EXPECT_EQ(d.Committed().port, 0x1234);
    EXPECT_EQ(d.Handle(Req("011A2B3C4D5E0AFFFFFFFF")).outcome, Outcome::Dropped);
}
