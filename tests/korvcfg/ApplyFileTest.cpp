// SPDX-License-Identifier: GPL-3.0-or-later
// The apply table from CSV and JSON: what an empty cell or a missing key means, and that every error
// names the line it is on.
#include "tools/korvcfg/ApplyTable.h"

#include <gtest/gtest.h>

using namespace korvcfg;

namespace {

// The message of the InputError the content raises, or "" when it parses.
std::string ErrorOf(const std::string& content) {
    try {
        ParseApplyTable(content);
    } catch (const InputError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(ApplyFileTest, CsvCellsLeftEmptyKeepTheDevicesValue) {
    const auto rows =
        ParseApplyTable("mac,ip,mask,gateway,remote_ip,port,mode,baud\r\n"
                        "00-4C-5A-1E-0B-21,192.168.4.11,255.255.255.0,192.168.4.1,192.168.4.2,4001,"
                        "udp-client,115200\r\n"
                        "\r\n"
                        "00:4c:5a:1e:0b:22, , , , ,4002,,\r\n");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].line, 2);
    EXPECT_EQ(rows[0].change.Get("ip"), OctetsValue({192, 168, 4, 11}));
    EXPECT_EQ(rows[0].change.Get("mode"), 0x04u);
    EXPECT_EQ(rows[0].change.Get("baud"), 0xFCu);
    EXPECT_EQ(rows[1].line, 4);
    EXPECT_EQ(rows[1].mac, "00-4C-5A-1E-0B-22");
    for (const char* kept : {"ip", "mask", "gateway", "remote_ip", "mode", "baud"}) {
        EXPECT_FALSE(rows[1].change.Get(kept)) << kept;
    }
    EXPECT_EQ(rows[1].change.Get("port"), 4002u);
}

TEST(ApplyFileTest, JsonKeysMissingOrNullKeepTheDevicesValue) {
    const auto rows =
        ParseApplyTable("[\n"
                        "  {\"mac\": \"00-4C-5A-1E-0B-21\", \"port\": 4001, \"baud\": 9600},\n"
                        "  {\"mac\": \"00-4C-5A-1E-0B-22\", \"ip\": null, \"mode\": \"tcp-client\"}\n"
                        "]\n");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].change.Get("port"), 4001u);
    EXPECT_EQ(rows[0].change.Get("baud"), 0xD0u);
    EXPECT_FALSE(rows[0].change.Get("ip"));
    EXPECT_EQ(rows[1].line, 3);
    EXPECT_FALSE(rows[1].change.Get("ip"));
    EXPECT_EQ(rows[1].change.Get("mode"), 0x01u);
}

TEST(ApplyFileTest, TheContentNotTheNameTellsJsonFromCsv) {
    // A UTF-8 mark and blank lines before the array still make it JSON.
    EXPECT_EQ(ParseApplyTable("\xEF\xBB\xBF\n\n  [{\"mac\": \"00-4C-5A-1E-0B-21\"}]").size(), 1u);
    EXPECT_EQ(ParseApplyTable("mac\n00-4C-5A-1E-0B-21\n").size(), 1u);
}

TEST(ApplyFileTest, EveryErrorNamesItsLine) {
    const std::string header = "mac,ip,mask,gateway,remote_ip,port,mode,baud\n";
    const std::string good = "00-4C-5A-1E-0B-21,,,,,,,\n";
    const std::pair<std::string, std::string> cases[] = {
        {header + good + "00-4C-5A-1E-0B-22,,,,,70000,,\n", "line 3: port '70000'"},
        {header + good + "00-4C-5A-1E-0B-22,10.0.0.256,,,,,,\n", "line 3: ip: '10.0.0.256'"},
        {header + "00-4C-5A-1E-0B-2,,,,,,,\n", "line 2: invalid MAC"},
        {header + good + "00-4C-5A-1E-0B-22,,,,,,tcp,\n", "line 3: unknown mode 'tcp'"},
        {header + good + "00-4C-5A-1E-0B-22,,,,,,,1200\n", "line 3: unknown speed '1200'"},
        {header + good + "00-4C-5A-1E-0B-22,,,\n", "line 3: 4 cells, but the header has 8"},
        {header + ",,,,,,,\n", "line 2: the mac cell is empty"},
        {"mac,speed\n", "line 1: unknown column 'speed'"},
        {"ip,port\n", "line 1: the header has no 'mac' column"},
        {header + good + good, "line 3: 00-4C-5A-1E-0B-21 is listed again (first on line 2)"},
        {header, "the file lists no device"},
        {"", "the file is empty"},
        {"[\n {\"mac\": \"00-4C-5A-1E-0B-21\",\n  \"port\": \"4001\"}\n]", "line 3: port must be a number"},
        {"[\n {\"mac\": \"00-4C-5A-1E-0B-21\",\n  \"port\": 4001.5}\n]",
         "line 3: port 4001.5 is not a whole"},
        {"[\n {\"mac\": \"00-4C-5A-1E-0B-21\",\n  \"speed\": 9600}\n]", "line 3: unknown key 'speed'"},
        {"[\n {\"mac\": \"00-4C-5A-1E-0B-21\",\n  \"baud\": 9600,\n}\n]", "line 4: expected a key"},
        {"[\n {\"mac\": \"00-4C-5A-1E-0B-21\"}\n {\"mac\": \"00-4C-5A-1E-0B-22\"}\n]",
         "line 3: expected ']'"},
        {"[\n {\"port\": 4001}\n]", "line 2: the device object has no mac"},
        {"[\n \"00-4C-5A-1E-0B-21\"\n]", "line 2: expected a device object"},
        {"{\"mac\": \"00-4C-5A-1E-0B-21\"}", "line 1: expected an array"},
        {"[\n {\"mac\": \"00-4C-5A-1E-0B-21\", \"ip\": \"10.0.0.1\n\"}]", "line 2: control character"},
        {"[{\"mac\": \"00-4C-5A-1E-0B-21\"}", "line 1: expected ']' before the end of the file"},
    };
    for (const auto& [content, expected] : cases) {
        const std::string error = ErrorOf(content);
        EXPECT_EQ(error.rfind(expected, 0), 0u) << "content:\n" << content << "\nerror: " << error;
    }
}
