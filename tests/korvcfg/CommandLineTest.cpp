// SPDX-License-Identifier: GPL-3.0-or-later
// The command line in-process, on the fake network: what reaches standard output and standard error,
// the exit status, and that a wrong command line or file sends nothing at all.
#include "FakeDevices.h"
#include "FakeNetwork.h"
#include "VirtualClock.h"

#include "protocol/HexCodec.h"
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
        {{"scan", "--to", "10.79.0.0/19"}, "--to: '10.79.0.0/19' is wider than /20"},
        {{"read", mac, "--to", "10.79.0.40-10.79.0.20"}, "'10.79.0.40-10.79.0.20' runs backwards"},
        {{"write", mac, "--to", "10.79.0.1,10.79.0.256"}, "--to: '10.79.0.256' is not an address"},
        {{"export", "--to", "10.79.0.0/33"}, "'10.79.0.0/33' has no prefix length"},
        {{"scan", "--to", ","}, "--to: '' is not an address"},
        {{"scan", "--to", "10.79.0.0/20", "--to", "10.80.0.1-10.80.0.3"}, "more than 4096 addresses in all"},
        {{"scan", "--to", "10.0.0.0-10.1.0.0"}, "holds more than 4096 addresses"},
        {{"scan", "--to"}, "--to needs a value"},
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
    FakeDevices devices(net, {"id=4C5A1E0B21,from=10.77.1.11,mode=03,baud=41,port=502,ip=192.168.1.7,"
                              "mask=255.255.0.0,gateway=192.168.1.1,remote_ip=192.168.1.200"});
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
        EXPECT_EQ(rows[0].change.Get("port"), 502u);
        EXPECT_EQ(rows[0].change.Get("mode"), 0x04u);
        EXPECT_EQ(rows[0].change.Get("baud"), 0xFCu);
        EXPECT_EQ(rows[0].change.Get("ip"), OctetsValue({10, 77, 1, 11}));
        EXPECT_FALSE(rows[1].change.Get("mode")) << "a code that names no mode is kept, not guessed";
        EXPECT_EQ(rows[1].change.Get("baud"), 0xD0u);
    }
    EXPECT_EQ(Run({"export"}).out.substr(0, 45), "mac,ip,mask,gateway,remote_ip,port,mode,baud\n");
}

TEST_F(CommandLineTest, DevicesBehindARouterAreReachedByUnicastOnly) {
    FakeDevices devices(net, {"id=4C5A1E0B21,ip=10.77.1.11", "id=4C5A1E0B31,ip=10.79.0.11"});
    const CliRun scan = Run({"scan", "--to", "10.79.0.8-10.79.0.15"});
    EXPECT_EQ(scan.out, "10.79.0.11  00-4C-5A-1E-0B-31\n") << "the broadcast's device is not listed";
    const std::vector<FakeDatagram> sweep = net.Sent();
    ASSERT_EQ(sweep.size(), 8u);
    EXPECT_EQ(sweep[3].toIp, "10.79.0.11");
    EXPECT_EQ(sweep[4].at - sweep[3].at, std::chrono::milliseconds(1)) << "four to a millisecond";
    net.ClearSent();
    const CliRun write =
        Run({"write", "00-4C-5A-1E-0B-31", "--to", "10.79.0.11", "--port", "4100", "--verify"});
    EXPECT_EQ(write.status, ExitDone) << write.err;
    EXPECT_EQ(devices[1].Committed().port, 4100);
    for (const FakeDatagram& d : net.Sent()) {
        EXPECT_EQ(d.toIp, "10.79.0.11") << BytesToHex(d.bytes);
    }
}

// Which write steps (command codes) went out, in order; scans and reads are not counted.
std::string WriteSteps(const std::vector<FakeDatagram>& sent) {
    std::string steps;
    for (const FakeDatagram& d : sent) {
        if (d.bytes.size() > 6 && static_cast<uint8_t>(d.bytes[6]) != 0x0A) {
            steps += BytesToHex(d.bytes.substr(6, 1));
        }
    }
    return steps;
}

TEST_F(CommandLineTest, AWriteShowsItsChangeFirstAndTakesNoAddressAnotherHolds) {
    // B answers from .22, its record holding .50 already.
    FakeDevices devices(net, {"id=4C5A1E0B21,ip=10.77.1.11", "id=4C5A1E0B22,from=10.77.1.22,ip=10.77.1.50"});
    const std::string mac = "00-4C-5A-1E-0B-21";
    const CliRun dry =
        Run({"write", mac, "--ip", "10.77.1.60", "--port", "4100", "--mode", "tcp-server", "--dry-run"});
    EXPECT_EQ(dry.status, ExitDone) << dry.err;
    EXPECT_EQ(dry.out, mac + "\n  ip: 10.77.1.11 -> 10.77.1.60\n  port: 4001 -> 4100\n");
    EXPECT_EQ(Run({"write", mac, "--port", "4100", "--dry-run", "--json"}).out,
              "{\"mac\": \"" + mac + "\", \"changes\": {\"port\": [4001, 4100]}}\n");
    for (const char* held : {"10.77.1.22", "10.77.1.50"}) {
        const CliRun refused = Run({"write", mac, "--ip", held});
        EXPECT_EQ(refused.status, ExitFailed);
        EXPECT_NE(refused.err.find(std::string(held) + " is held by 00-4C-5A-1E-0B-22"), std::string::npos)
            << refused.err;
    }
    EXPECT_EQ(WriteSteps(net.Sent()), "") << "neither the dry runs nor the refusals wrote";
    EXPECT_EQ(Run({"write", mac, "--ip", "10.77.1.50", "--force"}).status, ExitDone);
    EXPECT_EQ(devices[0].Committed().deviceIp, (Ipv4Octets{10, 77, 1, 50}));
}

TEST_F(CommandLineTest, ApplyRefusesRowsThatGiveOneAddressTwiceAndGoesOn) {
    FakeDevices devices(
        net, {"id=4C5A1E0B21,ip=10.77.1.11", "id=4C5A1E0B22,ip=10.77.1.22", "id=4C5A1E0B23,ip=10.77.1.33"});
    const std::string table = File("twice.csv", "mac,ip,port\n00-4C-5A-1E-0B-21,10.77.1.70,\n"
                                                "00-4C-5A-1E-0B-22,10.77.1.70,\n00-4C-5A-1E-0B-23,,4133\n");
    const CliRun dry = Run({"apply", table, "--dry-run"});
    EXPECT_EQ(dry.status, ExitDone) << dry.err;
    EXPECT_NE(dry.out.find("00-4C-5A-1E-0B-23\n  port: 4001 -> 4133\n"), std::string::npos) << dry.out;
    EXPECT_NE(dry.out.find("3 devices: 3 read, 0 failed; a dry run, nothing was written\n"),
              std::string::npos);
    EXPECT_EQ(WriteSteps(net.Sent()), "");
    const CliRun applied = Run({"apply", table});
    EXPECT_EQ(applied.status, ExitFailed);
    EXPECT_NE(
        applied.out.find("00-4C-5A-1E-0B-21  FAILED: 10.77.1.70 is given to 00-4C-5A-1E-0B-22 on line 3"),
        std::string::npos)
        << applied.out;
    EXPECT_NE(applied.out.find("00-4C-5A-1E-0B-23  ok\n"), std::string::npos) << applied.out;
    EXPECT_EQ(devices[0].Committed().deviceIp, (Ipv4Octets{10, 77, 1, 11}));
    EXPECT_EQ(devices[2].Committed().port, 4133);
}

TEST_F(CommandLineTest, AssignNumbersABatchInMacOrderAroundHeldAddresses) {
    // Listed out of MAC order; the device at .61 is not in the batch but holds its address.
    FakeDevices devices(net, {"id=4C5A1E0B23,ip=10.77.1.33", "id=4C5A1E0B21,ip=10.77.1.11",
                              "id=4C5A1E0B29,ip=10.77.1.61", "id=4C5A1E0B22,ip=10.77.1.22"});
    const std::vector<std::string> batch = {"assign", "10.77.1.60", "--only",
                                            "00-4C-5A-1E-0B-23,00-4C-5A-1E-0B-21,00-4C-5A-1E-0B-22"};
    const std::string plan = "00-4C-5A-1E-0B-21  10.77.1.11 -> 10.77.1.60\n"
                             "00-4C-5A-1E-0B-22  10.77.1.22 -> 10.77.1.62\n"
                             "00-4C-5A-1E-0B-23  10.77.1.33 -> 10.77.1.63\n";
    std::vector<std::string> dry = batch;
    dry.push_back("--dry-run");
    EXPECT_EQ(Run(dry).out, plan);
    EXPECT_EQ(WriteSteps(net.Sent()), "");
    std::vector<std::string> tooHigh = batch;
    tooHigh[1] = "10.77.1.253";
    EXPECT_EQ(Run(tooHigh).status, ExitUsage) << "the third would be the broadcast address";
    std::vector<std::string> written = batch;
    written.insert(written.end(), {"--gateway", "10.77.1.1", "--verify"});
    const CliRun r = Run(written);
    EXPECT_EQ(r.status, ExitDone) << r.err;
    EXPECT_EQ(r.out, plan + "00-4C-5A-1E-0B-21  ok\n00-4C-5A-1E-0B-22  ok\n00-4C-5A-1E-0B-23  ok\n"
                            "3 devices: 3 configured, 0 failed\n");
    EXPECT_EQ(devices[3].Committed().deviceIp, (Ipv4Octets{10, 77, 1, 62}));
    EXPECT_EQ(devices[3].Committed().gateway, (Ipv4Octets{10, 77, 1, 1}));
    EXPECT_EQ(devices[2].Committed().deviceIp, (Ipv4Octets{10, 77, 1, 61}));
}

TEST_F(CommandLineTest, PortInUseEndsWithStatusOne) {
    net.Occupy(60001);
    const CliRun o = Run({"scan"});
    EXPECT_EQ(o.status, ExitFailed);
    EXPECT_NE(o.err.find("UDP port 60001 is in use"), std::string::npos) << o.err;
    EXPECT_TRUE(o.out.empty());
}
