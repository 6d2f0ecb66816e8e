// SPDX-License-Identifier: GPL-3.0-or-later
// The korvcfg program against devsim in the private LAN: what the devices received, what they took,
// and what the program printed and returned.
#include "DevsimHarness.h"

#include "protocol/HexCodec.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

const std::string A = "id=4C5A1E0B21,ip=10.77.1.11,mode=00,port=4001,gateway=10.77.1.1,baud=D0";
const std::string B = "id=4C5A1E0B22,ip=10.77.1.22,mode=01,port=8080,gateway=10.77.1.1,baud=FC";
const std::string C = "id=7E0F93A4C5,ip=10.77.1.150,mode=04,port=20108,mask=255.255.0.0,gateway=10.77.1.254,"
                      "remote_ip=10.77.0.50,baud=F4";
const std::string MacA = "00-4C-5A-1E-0B-21";
const std::string MacB = "00-4C-5A-1E-0B-22";
const std::string MacC = "00-7E-0F-93-A4-C5";

CommandResult Korvcfg(const std::string& args) {
    return RunKorvcfg(KORVCFG_PATH, args);
}

// The hex of every datagram the simulator received, in order, each checked to have come from the
// workstation's port (every request is a broadcast).
std::vector<std::string> Received(const DevsimProcess& sim) {
    std::vector<std::string> hex;
    for (const DevsimLogLine& line : sim.Log()) {
        EXPECT_EQ(line.source, "10.77.0.100:60001") << line.hex;
        hex.push_back(line.hex);
    }
    return hex;
}

std::string StateOf(const DevsimProcess& sim, const std::string& id) {
    std::istringstream in(sim.State());
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(id, 0) == 0)
            return line;
    }
    return "";
}

// Someone at 10.77.1.200 sending the same datagram to the workstation every 10 ms while it lives.
class Stranger {
  public:
    explicit Stranger(const std::string& hex)
        : FThread([this, bytes = HexToBytes(hex)] {
              while (!FStop) {
                  SendFromAddress("10.77.1.200", bytes);
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
              }
          }) {}
    ~Stranger() {
        FStop = true;
        FThread.join();
    }

  private:
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

class KorvcfgTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!InPrivateLan())
            GTEST_SKIP() << "runs inside tests/private-lan only";
    }
};

} // namespace

TEST_F(KorvcfgTest, ScanListsThreeDevicesAsTextAndJson) {
    DevsimProcess sim({"--device", A, "--device", B, "--device", C + ",delay=50"});
    ASSERT_TRUE(sim.Started());
    const CommandResult text = Korvcfg("scan --wait 500");
    EXPECT_EQ(text.status, 0) << text.err;
    // Arrival order: the third device answers last.
    const std::string firstTwo = text.out.substr(0, text.out.find('\n', text.out.find('\n') + 1) + 1);
    EXPECT_TRUE(firstTwo == "10.77.1.11  " + MacA + "\n10.77.1.22  " + MacB + "\n" ||
                firstTwo == "10.77.1.22  " + MacB + "\n10.77.1.11  " + MacA + "\n")
        << text.out;
    EXPECT_EQ(text.out.substr(firstTwo.size()), "10.77.1.150  " + MacC + "\n");
    const CommandResult json = Korvcfg("scan --json --wait 500");
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.out.front(), '[');
    EXPECT_NE(json.out.find("{\"ip\": \"10.77.1.150\", \"mac\": \"" + MacC + "\"}\n]\n"), std::string::npos)
        << json.out;
    EXPECT_EQ(Received(sim), (std::vector<std::string>{"0000000000", "0000000000"}));
}

TEST_F(KorvcfgTest, ReadPrintsTheConfigurationAsTextAndJson) {
    DevsimProcess sim({"--device", A, "--device", C});
    ASSERT_TRUE(sim.Started());
    const CommandResult text = Korvcfg("read 00:7e:0f:93:a4:c5 --wait 300");
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out,
              "mac: " + MacC +
                  "\nip: 10.77.1.150\nmask: 255.255.0.0\ngateway: 10.77.1.254\nremote_ip: 10.77.0.50\n"
                  "port: 20108\nmode: udp-client\nbaud: 38400\n");
    const CommandResult json = Korvcfg("read " + MacC + " --wait 300 --json");
    EXPECT_EQ(json.out,
              "{\"mac\": \"" + MacC +
                  "\", \"ip\": \"10.77.1.150\", \"mask\": \"255.255.0.0\", \"gateway\": \"10.77.1.254\", "
                  "\"remote_ip\": \"10.77.0.50\", \"port\": 20108, \"mode\": \"udp-client\", \"baud\": "
                  "38400}\n");
    EXPECT_EQ(Korvcfg("read 00-4C-5A-1E-0B-99 --wait 300").status, 1) << "a device that is not there";
}

TEST_F(KorvcfgTest, WriteSendsEveryFieldAsTheDeviceTakesItAndVerifies) {
    DevsimProcess sim({"--device", A, "--device", B});
    ASSERT_TRUE(sim.Started());
    const CommandResult r =
        Korvcfg("write " + MacB +
                " --ip 192.168.4.12 --mask 255.255.252.0 --gateway 192.168.4.1 "
                "--remote-ip 192.168.4.200 --port 502 --mode udp-server --baud 2400 --verify");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, MacB + " configured and verified; restart the device to put the new settings to use\n");
    // A new device IP: every answering device's record is read first, for the address guard.
    const std::string lead = "014C5A1E0B22";
    const std::vector<std::string> expected = {
        "0000000000",        "014C5A1E0B210AFFFFFFFF", lead + "0AFFFFFFFF", lead + "01C0A8040C",
        lead + "07FFFFFC00", lead + "0402FFFFFF",      lead + "02C0A804C8", lead + "03C0A80401",
        lead + "05F601",     lead + "0640FFFFFF",      lead + "FFFFFFFFFF", "0000000000",
        lead + "0AFFFFFFFF"};
    EXPECT_EQ(Received(sim), expected);
    EXPECT_EQ(StateOf(sim, "4C5A1E0B22"),
              "4C5A1E0B22 from=10.77.1.22 ip=192.168.4.12 mask=255.255.252.0 gateway=192.168.4.1 "
              "remote_ip=192.168.4.200 port=502 mode=02 baud=40");
    std::size_t steps = 0;
    for (std::size_t at = 0; (at = r.err.find(" acknowledged", at)) != std::string::npos; ++at)
        ++steps;
    EXPECT_EQ(steps, 8u) << r.err;
}

TEST_F(KorvcfgTest, AWriteWithoutVerifyAsksForTheRestartAndTheDeviceCommits) {
    DevsimProcess sim({"--device", A});
    ASSERT_TRUE(sim.Started());
    const CommandResult r = Korvcfg("write " + MacA + " --port 4321 --baud 115200");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, MacA + " configured; restart the device to put the new settings to use\n");
    EXPECT_EQ(StateOf(sim, "4C5A1E0B21"),
              "4C5A1E0B21 from=10.77.1.11 ip=10.77.1.11 mask=255.255.255.0 gateway=10.77.1.1 "
              "remote_ip=10.77.0.100 port=4321 mode=00 baud=FC");
}

TEST_F(KorvcfgTest, AStepNeverAcknowledgedEndsTheWriteNamingIt) {
    DevsimProcess sim({"--device", A + ",noack=04"});
    ASSERT_TRUE(sim.Started());
    const CommandResult r = Korvcfg("write " + MacA + " --port 4002");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(MacA + " (10.77.1.11): the network mode step was not acknowledged after 10 sends"),
              std::string::npos)
        << r.err;
    const std::vector<std::string> received = Received(sim);
    ASSERT_EQ(received.size(), 14u); // scan, read, device IP, mask, ten network modes
    for (std::size_t i = 4; i < received.size(); ++i)
        EXPECT_EQ(received[i], "014C5A1E0B210400FFFFFF") << i;
    EXPECT_EQ(StateOf(sim, "4C5A1E0B21").find("port=4002"), std::string::npos);
}

TEST_F(KorvcfgTest, AStrangersRecordIsNotTakenForTheDevices) {
    // The device answers the read late; meanwhile a stranger keeps sending a record of another
    // configuration (port 9999, baud code 40).
    std::string record(64, '\0');
    record[8] = static_cast<char>(0x0F);
    record[9] = static_cast<char>(0x27);
    record[63] = static_cast<char>(0x40);
    DevsimProcess sim({"--device", A + ",delay=200"});
    ASSERT_TRUE(sim.Started());
    Stranger stranger(BytesToHex(record));
    const CommandResult r = Korvcfg("read " + MacA + " --wait 400 --json");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"ip\": \"10.77.1.11\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"port\": 4001, \"mode\": \"tcp-server\", \"baud\": 9600}"), std::string::npos)
        << r.out;
}

TEST_F(KorvcfgTest, AStrangersAcknowledgementIsNotTakenForTheDevices) {
    // The device never takes the device IP step; a stranger acknowledges it all along.
    DevsimProcess sim({"--device", A + ",noack=01"});
    ASSERT_TRUE(sim.Started());
    Stranger stranger("01010D0A");
    const CommandResult r = Korvcfg("write " + MacA + " --ip 10.77.1.99");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the device IP step was not acknowledged after 10 sends"), std::string::npos)
        << r.err;
    const std::vector<std::string> received = Received(sim);
    EXPECT_EQ(received.size(), 12u);
    EXPECT_EQ(received.back(), "014C5A1E0B21010A4D0163");
}

TEST_F(KorvcfgTest, ApplyGoesOnAfterAFailedDevice) {
    DevsimProcess sim({"--device", A, "--device", B + ",noack=05", "--device", C});
    ASSERT_TRUE(sim.Started());
    const std::string path = "/tmp/korvcfg-e2e-apply.csv";
    std::ofstream(path) << "mac,ip,mask,gateway,remote_ip,port,mode,baud\n"
                        << MacA << ",10.77.1.61,,,,6001,,115200\n"
                        << MacB << ",10.77.1.62,,,,6002,,\n"
                        << MacC << ",,,,,6003,tcp-server,\n";
    const CommandResult r = Korvcfg("apply " + path);
    std::remove(path.c_str());
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find(MacA + "  ok\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(MacB + "  FAILED: " + MacB + " (10.77.1.22): the local port step"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(MacC + "  ok\n3 devices: 2 configured, 1 failed\n"), std::string::npos) << r.out;
    EXPECT_NE(StateOf(sim, "4C5A1E0B21").find(" ip=10.77.1.61 "), std::string::npos) << sim.State();
    EXPECT_NE(StateOf(sim, "4C5A1E0B21").find("port=6001 "), std::string::npos) << sim.State();
    EXPECT_NE(StateOf(sim, "4C5A1E0B21").find("baud=FC"), std::string::npos) << sim.State();
    EXPECT_NE(StateOf(sim, "4C5A1E0B22").find(" ip=10.77.1.22 "), std::string::npos) << sim.State();
    EXPECT_NE(StateOf(sim, "4C5A1E0B22").find("port=8080 "), std::string::npos) << sim.State();
    EXPECT_NE(StateOf(sim, "7E0F93A4C5").find("port=6003 mode=00"), std::string::npos) << sim.State();
}

TEST_F(KorvcfgTest, ExportEditApplyInParallelIsARoundTrip) {
    DevsimProcess sim({"--device", A, "--device", B, "--device", C});
    ASSERT_TRUE(sim.Started());
    const CommandResult exported = Korvcfg("export");
    ASSERT_EQ(exported.status, 0) << exported.err;
    // The first device's port changed by hand, as a user would edit the exported table.
    std::string table = exported.out;
    const std::size_t port = table.find(",4001,");
    ASSERT_NE(port, std::string::npos) << table;
    table.replace(port, 6, ",7001,");
    const std::string path = "/tmp/korvcfg-e2e-export.csv";
    std::ofstream(path) << table;
    const CommandResult applied = Korvcfg("apply " + path + " --verify --parallel 3");
    std::remove(path.c_str());
    EXPECT_EQ(applied.status, 0) << applied.out << applied.err;
    EXPECT_NE(applied.out.find("3 devices: 3 configured, 0 failed\n"), std::string::npos) << applied.out;
    EXPECT_NE(StateOf(sim, "4C5A1E0B21").find("port=7001"), std::string::npos) << sim.State();
    EXPECT_NE(StateOf(sim, "7E0F93A4C5").find("mask=255.255.0.0"), std::string::npos) << sim.State();
}

TEST_F(KorvcfgTest, InvalidInputSendsNothing) {
    DevsimProcess sim({"--device", A});
    ASSERT_TRUE(sim.Started());
    const std::string csv = "/tmp/korvcfg-e2e-bad.csv";
    const std::string json = "/tmp/korvcfg-e2e-bad.json";
    std::ofstream(csv) << "mac,port\n" << MacA << ",4001\n" << MacB << ",4001,9600\n";
    std::ofstream(json) << "[\n  {\"mac\": \"" << MacA << "\", \"baud\": 9600},\n  {\"mac\": \"" << MacB
                        << "\", \"baud\": \"fast\"}\n]\n";
    const std::pair<std::string, std::string> cases[] = {
        {"read 00-4C-5A-1E-0B", "invalid MAC"},
        {"write 4C-5A-1E-0B-21-00-11", "invalid MAC"},
        {"write " + MacA + " --ip 10.77.1.300", "'10.77.1.300'"},
        {"write " + MacA + " --remote-ip 256.0.0.1", "'256.0.0.1'"},
        {"write " + MacA + " --port 65536", "port '65536'"},
        {"write " + MacA + " --mode tcp-listener", "unknown mode 'tcp-listener'"},
        {"write " + MacA + " --baud 9601", "unknown speed '9601'"},
        {"apply " + csv, "korvcfg-e2e-bad.csv: line 3: 3 cells, but the header has 2"},
        {"apply " + json, "korvcfg-e2e-bad.json: line 3: baud must be a number"},
    };
    for (const auto& [args, message] : cases) {
        const CommandResult r = Korvcfg(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find(message), std::string::npos) << args << ": " << r.err;
    }
    std::remove(csv.c_str());
    std::remove(json.c_str());
    // Give a stray send the time to arrive before concluding there was none.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(sim.LogLines().empty());
}

TEST_F(KorvcfgTest, APortAlreadyTakenEndsWithStatusOne) {
    DevsimProcess sim({"--device", A});
    ASSERT_TRUE(sim.Started());
    UdpClient holder; // the configuration window, say
    const CommandResult r = Korvcfg("read " + MacA);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("UDP port 60001 is in use"), std::string::npos) << r.err;
    EXPECT_TRUE(sim.LogLines().empty());
}

TEST_F(KorvcfgTest, AssignGivesABatchConsecutiveAddressesPastTheWorkstationsOwn) {
    DevsimProcess sim({"--device", C, "--device", B, "--device", A});
    ASSERT_TRUE(sim.Started());
    const CommandResult r = Korvcfg("assign 10.77.0.99 --mask 255.255.255.0 --verify");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("  ok")), MacA + "  10.77.1.11 -> 10.77.0.99\n" + MacB +
                                                       "  10.77.1.22 -> 10.77.0.101\n" + MacC +
                                                       "  10.77.1.150 -> 10.77.0.102\n" + MacA)
        << r.out;
    EXPECT_NE(r.out.find("3 devices: 3 configured, 0 failed\n"), std::string::npos) << r.out;
    EXPECT_NE(StateOf(sim, "4C5A1E0B22").find(" ip=10.77.0.101 mask=255.255.255.0 "), std::string::npos)
        << sim.State();
    EXPECT_NE(StateOf(sim, "7E0F93A4C5").find(" ip=10.77.0.102 mask=255.255.255.0 "), std::string::npos)
        << sim.State();
}

// Devices one router away (tests/private-lan --routed): no broadcast reaches them, --to does, and each
// command finds them by that sweep and goes on by unicast.
TEST(KorvcfgRoutedTest, DevicesBehindARouterAreScannedReadAndWrittenByUnicast) {
    const char* routed = std::getenv("KORV_ROUTED_NETNS");
    if (routed == nullptr)
        GTEST_SKIP() << "runs inside tests/private-lan --routed only";
    DevsimProcess local({"--device", A});
    DevsimProcess far({"--netns", routed, "--device", "id=4C5A1E0B31,ip=10.79.0.11,port=4001", "--device",
                       "id=4C5A1E0B32,ip=10.79.0.22,port=4002"});
    ASSERT_TRUE(local.Started() && far.Started()) << local.Failure() << far.Failure();
    EXPECT_EQ(Korvcfg("scan").out, "10.77.1.11  " + MacA + "\n");
    const std::string mac1 = "00-4C-5A-1E-0B-31", mac2 = "00-4C-5A-1E-0B-32";
    const CommandResult swept = Korvcfg("scan --to 10.79.0.0/24");
    EXPECT_EQ(swept.out, "10.79.0.11  " + mac1 + "\n10.79.0.22  " + mac2 + "\n") << swept.err;

    const CommandResult written = Korvcfg("write " + mac1 + " --to 10.79.0.0/24 --port 4100 --verify");
    EXPECT_EQ(written.status, 0) << written.err;
    EXPECT_NE(StateOf(far, "4C5A1E0B31").find("port=4100 "), std::string::npos) << far.State();
    const CommandResult table = Korvcfg("export --to 10.79.0.11,10.79.0.22");
    ASSERT_EQ(table.status, 0) << table.err;
    const std::string path = testing::TempDir() + "routed.csv";
    std::ofstream(path) << table.out.substr(0, table.out.rfind(",4002,")) << ",4202,"
                        << table.out.substr(table.out.rfind(",4002,") + 6);
    const CommandResult applied =
        Korvcfg("apply " + path + " --to 10.79.0.20-10.79.0.22 --to 10.79.0.11 --verify");
    std::remove(path.c_str());
    EXPECT_EQ(applied.status, 0) << applied.out << applied.err;
    EXPECT_NE(StateOf(far, "4C5A1E0B32").find("port=4202 "), std::string::npos) << far.State();
    for (const DevsimLogLine& line : far.Log())
        EXPECT_EQ(line.source, "10.77.0.100:60001") << line.hex;
    EXPECT_EQ(local.Log().size(), 1u) << "the local device heard the one broadcast scan only";
}
