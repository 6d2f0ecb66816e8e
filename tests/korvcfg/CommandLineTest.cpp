// SPDX-License-Identifier: GPL-3.0-or-later
// The command line in-process, on the fake network: what reaches standard output and standard error,
// the exit status, and that a wrong command line or file sends nothing at all.
#include "FakeDevices.h"
#include "FakeNetwork.h"
#include "VirtualClock.h"

#include "tools/korvcfg/ApplyTable.h"
#include "tools/korvcfg/Cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace korvcfg;

namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

class CommandLineTest : public testing::Test {
  protected:
    FakeNetwork net;
    VirtualClock clock{net};

    CliRun Run(const std::vector<std::string>& args) {
        std::ostringstream out;
        std::ostringstream err;
        const int status = RunCommandLine(args, out, err, clock);
        return {status, out.str(), err.str()};
    }

    std::string File(const std::string& name, const std::string& content) {
        const auto path =
            std::filesystem::temp_directory_path() /
            ("korvcfg-test-" + std::to_string(std::hash<std::string>()(name + content)) + "-" + name);
        std::ofstream(path, std::ios::binary) << content;
        files.push_back(path);
        return path.string();
    }

    void TearDown() override {
        for (const auto& path : files) {
            std::filesystem::remove(path);
        }
    }

    std::vector<std::filesystem::path> files;
};

const char ThreeDevices[] = "id=4C5A1E0B21,ip=10.77.1.11";

} // namespace

TEST_F(CommandLineTest, InvalidInputEndsWithStatusTwoAndSendsNothing) {
    FakeDevices devices(net, {ThreeDevices});
    net.Occupy(60001); // each case is refused before korvcfg binds its port
    const std::string mac = "00-4C-5A-1E-0B-21";
    const std::string badCsv = File("bad.csv", "mac,ip,mask,gateway,remote_ip,port,mode,baud\n" + mac +
                                                   ",,,,,,,\n00-4C-5A-1E-0B-22,,,,,65536,,\n");
    const std::string badJson = File("bad.txt", "[\n {\"mac\": \"" + mac + "\"},\n {\"mac\": 5}\n]\n");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"read", "00-4C-5A-1E-0B"}, "invalid MAC"},
        {{"read", "00-4C-5A-1E-0B-2Z", "--json"}, "invalid MAC"},
        {{"write", mac, "--ip", "10.0.0.256"}, "--ip: '10.0.0.256'"},
        {{"write", mac, "--gateway", "10.0.0"}, "--gateway: '10.0.0'"},
        {{"write", mac, "--port", "65536"}, "port '65536'"},
        {{"write", mac, "--mode", "tcp"}, "unknown mode 'tcp'"},
        {{"write", mac, "--baud", "9601"}, "unknown speed '9601'"},
        {{"write", mac, "--port=4001", "--port", "4002"}, "--port is given twice"},
        {{"write", mac, "--speed", "9600"}, "unknown option --speed"},
        {{"write", "--port", "4001"}, "write needs MAC"},
        {{"scan", "--wait", "soon"}, "--wait 'soon'"},
        {{"scan", "extra"}, "unexpected argument 'extra'"},
        {{"scan", "--interface", "eth9"}, "no adapter 'eth9' that can broadcast; the adapters are:\n  (none"},
        {{"apply", badCsv}, "bad.csv: line 3: port '65536'"},
        {{"apply", badJson, "--json"}, "bad.txt: line 3: mac must be a string"},
        {{"apply", File("missing-dir-name", "") + ".none"}, "cannot be read"},
        {{"configure"}, "unknown command 'configure'"},
        {{"apply", badCsv, "--parallel", "0"}, "--parallel '0'"},
        {{"apply", badCsv, "--parallel", "-2"}, "--parallel '-2'"},
        {{"apply", badCsv, "--parallel", "many"}, "--parallel 'many'"},
    };
    for (const auto& [args, message] : cases) {
        const CliRun o = Run(args);
        EXPECT_EQ(o.status, ExitUsage) << args[0] << " " << message;
        EXPECT_NE(o.err.find(message), std::string::npos) << o.err;
        EXPECT_TRUE(o.out.empty()) << o.out;
    }
    EXPECT_TRUE(net.Sent().empty());
}

TEST_F(CommandLineTest, ScanPrintsOneLineOrOneJsonArray) {
    FakeDevices devices(net,
                        {"id=4C5A1E0B21,ip=10.77.1.11,delay=20", "id=4C5A1E0B22,ip=10.77.1.11,delay=10"});
    const CliRun text = Run({"scan", "--wait", "300"});
    EXPECT_EQ(text.status, ExitDone);
    EXPECT_EQ(text.out, "10.77.1.11  00-4C-5A-1E-0B-22\n10.77.1.11  00-4C-5A-1E-0B-21\n");
    EXPECT_NE(text.err.find("warning: address conflict: 10.77.1.11"), std::string::npos) << text.err;
    const CliRun json = Run({"scan", "--json"});
    EXPECT_EQ(json.out, "[\n"
                        "  {\"ip\": \"10.77.1.11\", \"mac\": \"00-4C-5A-1E-0B-22\"},\n"
                        "  {\"ip\": \"10.77.1.11\", \"mac\": \"00-4C-5A-1E-0B-21\"}\n"
                        "]\n");
    net.ClearResponders();
    EXPECT_EQ(Run({"scan", "--json"}).out, "[]\n");
}

TEST_F(CommandLineTest, ReadShowsCodesOutsideTheTablesAsNull) {
    // Mode code 03 and speed code 41 name nothing in the tables.
    FakeDevices devices(net, {"id=4C5A1E0B21,ip=10.77.1.11,mode=03,baud=41,port=502,devip=192.168.1.7,"
                              "mask=255.255.0.0,gateway=192.168.1.1,remoteip=192.168.1.200"});
    const CliRun json = Run({"read", "00:4c:5a:1e:0b:21", "--json"});
    EXPECT_EQ(json.status, ExitDone) << json.err;
    EXPECT_EQ(json.out,
              "{\"mac\": \"00-4C-5A-1E-0B-21\", \"ip\": \"192.168.1.7\", \"mask\": \"255.255.0.0\", "
              "\"gateway\": \"192.168.1.1\", \"remote_ip\": \"192.168.1.200\", \"port\": 502, "
              "\"mode\": null, \"baud\": null}\n");
    const CliRun text = Run({"read", "00-4C-5A-1E-0B-21"});
    EXPECT_NE(text.out.find("mode: unknown (code 03)\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("port: 502\n"), std::string::npos) << text.out;
    // Writing it back as it is would send a code outside the tables: refused before any step.
    net.ClearSent();
    const CliRun write = Run({"write", "00-4C-5A-1E-0B-21", "--port", "503"});
    EXPECT_EQ(write.status, ExitFailed);
    EXPECT_NE(write.err.find("network mode code 03"), std::string::npos) << write.err;
    for (const FakeDatagram& d : net.Sent()) {
        EXPECT_TRUE(d.bytes.size() == 5 || static_cast<uint8_t>(d.bytes[6]) == 0x0A)
            << "a write step was sent";
    }
}

TEST_F(CommandLineTest, WriteReportsEachStepAndFailuresNameTheDeviceAndStep) {
    FakeDevices devices(net, {"id=4C5A1E0B21,ip=10.77.1.11", "id=4C5A1E0B22,ip=10.77.1.22,noack=03"});
    const CliRun ok = Run({"write", "00-4C-5A-1E-0B-21", "--baud", "38400", "--verify"});
    EXPECT_EQ(ok.status, ExitDone) << ok.err;
    EXPECT_EQ(ok.out, "00-4C-5A-1E-0B-21 configured and verified; restart the device to put the new "
                      "settings to use\n");
    EXPECT_NE(ok.err.find("00-4C-5A-1E-0B-21: baud rate acknowledged\n"), std::string::npos) << ok.err;
    EXPECT_EQ(devices[0].Committed().baudCode, 0xF4);

    const CliRun failed = Run({"write", "00-4C-5A-1E-0B-22", "--gateway", "10.77.1.1"});
    EXPECT_EQ(failed.status, ExitFailed);
    EXPECT_NE(failed.err.find("00-4C-5A-1E-0B-22 (10.77.1.22): the gateway step was not acknowledged"),
              std::string::npos)
        << failed.err;
    const CliRun missing = Run({"read", "00-4C-5A-1E-0B-99"});
    EXPECT_EQ(missing.status, ExitFailed);
    EXPECT_NE(missing.err.find("00-4C-5A-1E-0B-99 not found"), std::string::npos) << missing.err;
}

TEST_F(CommandLineTest, ApplyPrintsAResultPerDeviceAndASummary) {
    FakeDevices devices(net, {"id=4C5A1E0B21,ip=10.77.1.11", "id=4C5A1E0B22,ip=10.77.1.22,noack=06"});
    const std::string table = File("table.json", "[{\"mac\": \"00-4C-5A-1E-0B-21\", \"port\": 4100},\n"
                                                 " {\"mac\": \"00-4C-5A-1E-0B-22\", \"baud\": 115200}]");
    const CliRun json = Run({"apply", table, "--json"});
    EXPECT_EQ(json.status, ExitFailed);
    EXPECT_EQ(
        json.out.rfind("[\n  {\"mac\": \"00-4C-5A-1E-0B-21\", \"ok\": true, \"error\": null},\n"
                       "  {\"mac\": \"00-4C-5A-1E-0B-22\", \"ok\": false, \"error\": \"00-4C-5A-1E-0B-22 "
                       "(10.77.1.22): the baud rate step",
                       0),
        0u)
        << json.out;
    EXPECT_NE(json.err.find("2 devices: 1 configured, 1 failed\n"), std::string::npos) << json.err;
    const CliRun text = Run({"apply", table});
    EXPECT_NE(text.out.find("00-4C-5A-1E-0B-21  ok\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("2 devices: 1 configured, 1 failed\n"), std::string::npos) << text.out;
}

TEST_F(CommandLineTest, ExportPrintsWhatApplyTakesAndLeavesOutASilentDevice) {
    FakeDevices devices(net, {"id=4C5A1E0B21,ip=10.77.1.11,port=502,baud=FC,mode=04",
                              "id=4C5A1E0B22,ip=10.77.1.22,noack=0A", "id=4C5A1E0B23,ip=10.77.1.33,mode=03"});
    for (const bool json : {false, true}) {
        const CliRun o = json ? Run({"export", "--json"}) : Run({"export"});
        EXPECT_EQ(o.status, ExitFailed);
        EXPECT_NE(o.err.find("00-4C-5A-1E-0B-22 (10.77.1.22) did not answer"), std::string::npos) << o.err;
        const std::vector<ApplyRow> rows = ParseApplyTable(o.out);
        ASSERT_EQ(rows.size(), 2u) << o.out;
        EXPECT_EQ(rows[0].mac, "00-4C-5A-1E-0B-21");
        EXPECT_EQ(rows[0].change.port, 502);
        EXPECT_EQ(rows[0].change.modeEntry, 3);
        EXPECT_EQ(rows[0].change.baudEntry, 8);
        EXPECT_EQ(rows[0].change.ip, (Ipv4Octets{10, 77, 1, 11}));
        EXPECT_FALSE(rows[1].change.modeEntry) << "a code that names no mode is kept, not guessed";
        EXPECT_EQ(rows[1].change.baudEntry, 2);
    }
    EXPECT_EQ(Run({"export"}).out.substr(0, 45), "mac,ip,mask,gateway,remote_ip,port,mode,baud\n");
}

TEST_F(CommandLineTest, PortInUseEndsWithStatusOne) {
    net.Occupy(60001);
    const CliRun o = Run({"scan"});
    EXPECT_EQ(o.status, ExitFailed);
    EXPECT_NE(o.err.find("UDP port 60001 is in use"), std::string::npos) << o.err;
    EXPECT_TRUE(o.out.empty());
}
