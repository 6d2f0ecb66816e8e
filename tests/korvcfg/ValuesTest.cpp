// SPDX-License-Identifier: GPL-3.0-or-later
// What korvcfg accepts from its user, and that names and speeds reach the protocol's own tables.
#include "protocol/DeviceMessages.h"
#include "tools/korvcfg/Values.h"

#include <gtest/gtest.h>

using namespace korvcfg;

TEST(ValuesTest, MacTextIsTakenInTheWindowsFormWithColonsOrLowerCase) {
    EXPECT_EQ(ParseMac("00-4C-5A-1E-0B-21"), "00-4C-5A-1E-0B-21");
    EXPECT_EQ(ParseMac("00:4c:5a:1e:0b:21"), "00-4C-5A-1E-0B-21");
    // The request builders read the DeviceId from the dashed form's fixed positions.
    EXPECT_EQ(DeviceIdFromMac(ParseMac("00:4c:5a:1e:0b:21")), "4C5A1E0B21");
    for (const char* bad :
         {"", "00-4C-5A-1E-0B", "00-4C-5A-1E-0B-2", "00-4C-5A-1E-0B-211", "00-4C-5A:1E-0B-21",
          "00-4C-5A-1E-0B-2G", "004C5A1E0B21", "00_4C_5A_1E_0B_21", " 00-4C-5A-1E-0B-21"}) {
        EXPECT_THROW(ParseMac(bad), InputError) << bad;
    }
}

TEST(ValuesTest, AddressesAndPortsAreCheckedAtTheirBounds) {
    EXPECT_EQ(ParseAddress("0.0.0.0", "--ip"), (Ipv4Octets{0, 0, 0, 0}));
    EXPECT_EQ(ParseAddress("255.255.255.255", "--ip"), (Ipv4Octets{255, 255, 255, 255}));
    for (const char* bad :
         {"256.1.1.1", "1.2.3", "1.2.3.4.5", "1.2.3.-4", "1..3.4", "a.b.c.d", "1.2.3.4 ", ""}) {
        EXPECT_THROW(ParseAddress(bad, "--ip"), InputError) << bad;
    }
    EXPECT_EQ(ParsePort("0"), 0);
    EXPECT_EQ(ParsePort("65535"), 65535);
    for (const char* bad : {"65536", "-1", "4001x", "", "99999999999999999999", "0x10"}) {
        EXPECT_THROW(ParsePort(bad), InputError) << bad;
    }
}

TEST(ValuesTest, ModeNamesAndSpeedsMapThroughTheProtocolTables) {
    // udp-client is code 04, not 03: a mapping by arithmetic would get it wrong.
    const std::pair<const char*, int32_t> modes[] = {
        {"tcp-server", 0x00}, {"tcp-client", 0x01}, {"udp-server", 0x02}, {"udp-client", 0x04}};
    for (const auto& [name, code] : modes) {
        EXPECT_EQ(ParseModeName(name), code) << name;
        DeviceConfig config;
        config.modeCode = static_cast<uint8_t>(code);
        EXPECT_EQ(ModeName(config), name);
    }
    EXPECT_THROW(ParseModeName("TCP-server"), InputError);
    EXPECT_THROW(ParseModeName("udp"), InputError);

    EXPECT_EQ(ParseBaud("9600"), 0xD0);
    EXPECT_EQ(ParseBaud("115200"), 0xFC);
    EXPECT_EQ(ParseBaud("2400"), 0x40);
    for (const char* bad : {"1234", "0", "9600.0", "", "-9600", "230400"}) {
        EXPECT_THROW(ParseBaud(bad), InputError) << bad;
    }
}

TEST(ValuesTest, TargetsExpandToTheirAddressesEachOnce) {
    const struct {
        std::vector<std::string> lists;
        std::size_t count;
        std::string first, last;
    } rows[] = {
        {{"10.79.0.11"}, 1, "10.79.0.11", "10.79.0.11"},
        {{"10.79.0.0/24"}, 254, "10.79.0.1", "10.79.0.254"}, // without the network and its broadcast
        {{"10.79.0.77/24"}, 254, "10.79.0.1", "10.79.0.254"},
        {{"10.79.0.6/31"}, 2, "10.79.0.6", "10.79.0.7"},
        {{"10.79.0.20-10.79.0.40"}, 21, "10.79.0.20", "10.79.0.40"},
        {{"10.79.0.255-10.79.1.0"}, 2, "10.79.0.255", "10.79.1.0"},
        {{"10.79.0.11,10.79.0.8/30", "10.79.0.9,10.79.0.11"}, 3, "10.79.0.11", "10.79.0.10"},
        {{"10.79.0.0/20"}, 4094, "10.79.0.1", "10.79.15.254"},
    };
    for (const auto& row : rows) {
        const std::vector<std::string> targets = ParseTargets(row.lists);
        ASSERT_EQ(targets.size(), row.count) << row.lists[0];
        EXPECT_EQ(targets.front(), row.first) << row.lists[0];
        EXPECT_EQ(targets.back(), row.last) << row.lists[0];
    }
}
