// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/ConvertError.h"
#include "protocol/DeviceMessages.h"
#include "protocol/HexCodec.h"

#include "ByteRows.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

const std::string Mac = "00-1A-2B-3C-4D-5E";

std::string ConvertErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EConvertError& e) {
        return e.what();
    }
    return "(no error)";
}

// --- Requests ---------------------------------------------------------------------------------------

TEST(Requests, ScanRequestIsFiveZeroBytes) {
    EXPECT_EQ(ScanRequest(), Bytes({0, 0, 0, 0, 0}));
}

TEST(Requests, DeviceIdIsTheFiveGroupsWithoutSeparators) {
    EXPECT_EQ(DeviceIdFromMac(Mac), "1A2B3C4D5E");
}

TEST(Requests, ConfigReadRequestIsElevenBytes) {
    EXPECT_EQ(ConfigReadRequest(Mac),
              Bytes({0x01, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x0A, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(Requests, DeviceIpCommandCarriesTheFourOctets) {
    const auto param = OctetsParam(OctetsFromTexts({"192", "168", "1", "7"}));
    EXPECT_EQ(param, "C0A80107");
    EXPECT_EQ(WriteCommand(Mac, CommandCode::DeviceIp, param),
              Bytes({0x01, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x01, 0xC0, 0xA8, 0x01, 0x07}));
}

TEST(Requests, PortCommandIsNineBytesLowByteFirst) {
    EXPECT_EQ(WriteCommand(Mac, CommandCode::LocalPort, PortParam(PortFromText("8080"))),
              Bytes({0x01, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x05, 0x90, 0x1F}));
}

TEST(Requests, PortIsSentLowByteFirstOverItsWholeRange) {
    EXPECT_EQ(PortParam(PortFromText("4660")), "3412");
    EXPECT_EQ(PortParam(PortFromText("0")), "0000");
    EXPECT_EQ(PortParam(PortFromText("65535")), "FFFF");
    EXPECT_EQ(PortParam(PortFromText("00080")), "5000");
}

TEST(Requests, CommitIsCodeAndFourFFs) {
    EXPECT_EQ(WriteCommand(Mac, CommandCode::Commit, CommitParam()),
              Bytes({0x01, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(Requests, SpeedAndModeCommandsCarryTheirCodeThenFFs) {
    EXPECT_EQ(WriteCommand(Mac, CommandCode::SerialSpeed, CodeParam(*BaudCodeForEntry(8))),
              Bytes({0x01, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x06, 0xFC, 0xFF, 0xFF, 0xFF}));
    // "UDP 客户端" is entry 3 and carries 04, not 03.
    EXPECT_EQ(WriteCommand(Mac, CommandCode::NetworkMode, CodeParam(*ModeCodeForEntry(3))),
              Bytes({0x01, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x04, 0x04, 0xFF, 0xFF, 0xFF}));
}

TEST(Requests, NothingSelectedBuildsNoModeOrSpeed) {
    EXPECT_FALSE(ModeCodeForEntry(-1));
    EXPECT_FALSE(ModeCodeForEntry(4));
    EXPECT_FALSE(BaudCodeForEntry(-1));
    EXPECT_FALSE(BaudCodeForEntry(9));
}

// --- Parameter conversion errors --------------------------------------------------------------------

TEST(ParamErrors, EmptyOrNonNumericOctetRaisesWithItsText) {
    EXPECT_EQ(ConvertErrorOf([] {
                  OctetsParam(OctetsFromTexts({"", "1", "2", "3"}));
              }),
              "'' is not a valid integer value");
    EXPECT_EQ(ConvertErrorOf([] {
                  OctetsParam(OctetsFromTexts({"10", "1", "x", "3"}));
              }),
              "'x' is not a valid integer value");
}

TEST(ParamErrors, OctetOutOfRangeRaisesRatherThanShiftTheFrame) {
    EXPECT_EQ(ConvertErrorOf([] {
                  OctetsParam(OctetsFromTexts({"192", "256", "1", "1"}));
              }),
              "'256' is not a valid integer value");
    EXPECT_EQ(ConvertErrorOf([] {
                  OctetsParam(OctetsFromTexts({"-1", "0", "0", "0"}));
              }),
              "'-1' is not a valid integer value");
    EXPECT_EQ(OctetsParam(OctetsFromTexts({"0", "255", "00", "9"})), "00FF0009");
}

TEST(ParamErrors, PortThatIsNoNumberOrOutOfRangeRaisesWithItsText) {
    EXPECT_EQ(ConvertErrorOf([] { PortParam(PortFromText("")); }), "'' is not a valid integer value");
    EXPECT_EQ(ConvertErrorOf([] { PortParam(PortFromText("4294967296")); }),
              "'4294967296' is not a valid integer value");
    // Cut to 16 bits these would be other ports (4464, 0, 65535), written and reported as success.
    EXPECT_EQ(ConvertErrorOf([] { PortParam(PortFromText("70000")); }),
              "'70000' is not a valid integer value");
    EXPECT_EQ(ConvertErrorOf([] { PortParam(PortFromText("65536")); }),
              "'65536' is not a valid integer value");
    EXPECT_EQ(ConvertErrorOf([] { PortParam(PortFromText("-1")); }), "'-1' is not a valid integer value");
}

// --- Code tables, both directions by list entry -----------------------------------------------------

TEST(CodeTables, ModeCodesByEntry) {
    const std::vector<std::pair<int, int32_t>> rows = {{0, 0x00}, {1, 0x01}, {2, 0x02}, {3, 0x04}};
    for (const auto& [entry, code] : rows) {
        EXPECT_EQ(ModeCodeForEntry(entry), code) << entry;
        EXPECT_EQ(ModeEntryForCode(code), entry) << code;
    }
    EXPECT_EQ(CodeParam(*ModeCodeForEntry(0)), "00FFFFFF");
    EXPECT_EQ(CodeParam(*ModeCodeForEntry(2)), "02FFFFFF");
}

TEST(CodeTables, ModeCodesOutsideTheTableHaveNoEntry) {
    for (const int32_t code : {0x03, 0x05, 0xFF, -1, 0x100})
        EXPECT_FALSE(ModeEntryForCode(code)) << code;
}

TEST(CodeTables, BaudCodesByEntry) {
    // 2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600, 115200
    const std::vector<int32_t> codes = {0x40, 0xA0, 0xD0, 0xE0, 0xE8, 0xF0, 0xF4, 0xF8, 0xFC};
    for (int entry = 0; entry < static_cast<int>(codes.size()); ++entry) {
        EXPECT_EQ(BaudCodeForEntry(entry), codes[static_cast<size_t>(entry)]) << entry;
        EXPECT_EQ(BaudEntryForCode(codes[static_cast<size_t>(entry)]), entry) << entry;
    }
    EXPECT_EQ(CodeParam(*BaudCodeForEntry(0)), "40FFFFFF");
    EXPECT_EQ(CodeParam(*BaudCodeForEntry(1)), "A0FFFFFF");
}

TEST(CodeTables, BaudCodesOutsideTheTableHaveNoEntry) {
    // 0x00 is what an empty record reads; 0xFE would be 230400 by the formula but is not in the list.
    for (const int32_t code : {0x00, 0x41, 0xFE, 0xFF, 0x140})
        EXPECT_FALSE(BaudEntryForCode(code)) << code;
    EXPECT_FALSE(BaudCodeForEntry(-1));
    EXPECT_FALSE(BaudCodeForEntry(9));
}

// --- WriteAck ---------------------------------------------------------------------------------------

TEST(WriteAck, TextsAreCodeThen010D0A) {
    EXPECT_EQ(WriteAckText(CommandCode::DeviceIp), "01010D0A");
    EXPECT_EQ(WriteAckText(CommandCode::SubnetMask), "07010D0A");
    EXPECT_EQ(WriteAckText(CommandCode::NetworkMode), "04010D0A");
    EXPECT_EQ(WriteAckText(CommandCode::RemoteIp), "02010D0A");
    EXPECT_EQ(WriteAckText(CommandCode::Gateway), "03010D0A");
    EXPECT_EQ(WriteAckText(CommandCode::LocalPort), "05010D0A");
    EXPECT_EQ(WriteAckText(CommandCode::SerialSpeed), "06010D0A");
    EXPECT_EQ(WriteAckText(CommandCode::Commit), "FF010D0A");
}

TEST(WriteAck, MatchesOnlyItsOwnCodeAndOnlyWhole) {
    const std::string ack = BytesToHex(Bytes({0x01, 0x01, 0x0D, 0x0A}));
    EXPECT_EQ(ack, WriteAckText(CommandCode::DeviceIp));
    EXPECT_NE(ack, WriteAckText(CommandCode::SubnetMask));
    EXPECT_NE(BytesToHex(Bytes({0x01, 0x01, 0x0D, 0x0A, 0x00})), WriteAckText(CommandCode::DeviceIp));
}

// --- ScanReply --------------------------------------------------------------------------------------

TEST(ScanReply, MacIsTheFiveBytesBeforeTheLast) {
    const std::string reply = Bytes({0xC0, 0xA8, 0x01, 0x07, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x09});
    EXPECT_EQ(MacTextFromScanReply(BytesToHex(reply)), "00-1A-2B-3C-4D-5E");
}

TEST(ScanReply, FiveBytesAreAllTheDeviceId) {
    EXPECT_EQ(MacTextFromScanReply("A1B2C3D4E5"), "00-A1-B2-C3-D4-E5");
    EXPECT_EQ(MacTextFromScanReply("A1B2C3D4E5F6"), "00-A1-B2-C3-D4-E5");
}

TEST(ScanReply, UnderFiveBytesGivesNoMac) {
    EXPECT_FALSE(MacTextFromScanReply(""));
    EXPECT_FALSE(MacTextFromScanReply("01020304"));
}

TEST(ScanReply, MacRoundTripsToTheDeviceIdOfRequests) {
    const auto mac = MacTextFromScanReply("FFFF0A0B0C0D0E00");
    ASSERT_TRUE(mac);
    EXPECT_EQ(DeviceIdFromMac(*mac), "0A0B0C0D0E");
}

// --- ConfigRecord -----------------------------------------------------------------------------------

std::string SixtyByteRecord() {
    std::string r(60, '\0');
    for (int i = 0; i < 60; ++i)
        r[static_cast<size_t>(i)] = static_cast<char>(i + 100);
    r[0] = 0x04;
    r[8] = static_cast<char>(0x90);
    r[9] = 0x1F;
    r[59] = static_cast<char>(0xFC);
    return BytesToHex(r);
}

TEST(ConfigRecord, ReadsEveryFieldOfAFullRecord) {
    const auto f = ReadConfigRecord(SixtyByteRecord());
    EXPECT_EQ(f.modeCode, 0x04);
    EXPECT_EQ(f.port, 8080);
    EXPECT_EQ(f.deviceIp, (Ipv4Octets{140, 141, 142, 143}));
    EXPECT_EQ(f.remoteIp, (Ipv4Octets{144, 145, 146, 147}));
    EXPECT_EQ(f.gateway, (Ipv4Octets{148, 149, 150, 151}));
    EXPECT_EQ(f.subnetMask, (Ipv4Octets{152, 153, 154, 155}));
    EXPECT_EQ(f.baudCode, 0xFC);
}

TEST(ConfigRecord, EmptyReadsZeroEverywhere) {
    const auto f = ReadConfigRecord("");
    EXPECT_EQ(f.modeCode, 0);
    EXPECT_EQ(f.port, 0);
    EXPECT_EQ(f.deviceIp, (Ipv4Octets{}));
    EXPECT_EQ(f.subnetMask, (Ipv4Octets{}));
    EXPECT_EQ(f.baudCode, 0);
    EXPECT_FALSE(BaudEntryForCode(f.baudCode));
    EXPECT_EQ(ModeEntryForCode(f.modeCode), 0);
}

TEST(ConfigRecord, FieldsPastTheEndReadTheLastByte) {
    const auto one = ReadConfigRecord("AB");
    EXPECT_EQ(one.modeCode, 0xAB);
    EXPECT_EQ(one.port, 0xABAB);
    EXPECT_EQ(one.gateway, (Ipv4Octets{0xAB, 0xAB, 0xAB, 0xAB}));
    EXPECT_EQ(one.baudCode, 0xAB);

    // 42 bytes: the device IP is cut at its third octet, everything after reads byte 41.
    std::string r(42, '\x11');
    r[40] = 0x0A;
    r[41] = 0x0B;
    const auto f = ReadConfigRecord(BytesToHex(r));
    EXPECT_EQ(f.deviceIp, (Ipv4Octets{0x0A, 0x0B, 0x0B, 0x0B}));
    EXPECT_EQ(f.remoteIp, (Ipv4Octets{0x0B, 0x0B, 0x0B, 0x0B}));
    EXPECT_EQ(f.port, 0x1111);
    EXPECT_EQ(f.baudCode, 0x0B);
}

TEST(ConfigRecord, SpeedOfALongRecordIsByte255) {
    std::string r(300, '\0');
    r[255] = static_cast<char>(0xE8);
    r[299] = static_cast<char>(0xFC);
    EXPECT_EQ(ReadConfigRecord(BytesToHex(r)).baudCode, 0xE8);
}

TEST(ConfigRecord, CorruptTextReadsDigitsAsFarAsTheyGo) {
    // Odd length: every byte past the first is cut from the last two characters that exist.
    const auto odd = ReadConfigRecord("ABC");
    EXPECT_EQ(odd.modeCode, 0xAB);
    EXPECT_EQ(odd.port, 0xBCBC);
    // Non-hex characters read as 0 or stop the number.
    const auto f = ReadConfigRecord("ZZ1G");
    EXPECT_EQ(f.modeCode, 0);
    EXPECT_EQ(f.baudCode, 1);
}

} // namespace
