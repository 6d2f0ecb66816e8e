// SPDX-License-Identifier: GPL-3.0-or-later
// A workstation with two adapters (tests/private-lan --second-segment): lan0 at 10.77.0.100, which has
// the default route, wired to segment 1, and lan2 at 10.77.2.100 wired to segment 2. Each segment's
// simulator runs in a namespace of its own, so it hears a request only if the window sent it out of
// the adapter on its wire. Every simulator logs all it hears, requests for the other devices too.
#include "DevsimHarness.h"
#include "TestDevices.h"
#include "WindowHarness.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

// On segment 2, with device B's configuration, so the window shows the same fields for it.
const TestDevice FarDevice{"7A8B9C0D02", "10.77.2.33", DeviceB.config, "00-7A-8B-9C-0D-02", DeviceB.fields};

const std::string ReadCode = "0AFFFFFFFF";

std::vector<std::string> InSegment(const char* segment, const TestDevice& device) {
    return {"--netns", qEnvironmentVariable(segment).toStdString(), "--device", device.Profile()};
}

// Waits, pumping the window's events, until the simulator has heard count datagrams.
bool WaitForHeard(const DevsimProcess& sim, std::size_t count) {
    return QTest::qWaitFor([&] { return sim.Log().size() >= count; }, 3000);
}

// What a simulator heard, each request checked to have come from the workstation's address on its wire.
std::vector<std::string> Heard(const DevsimProcess& sim, const std::string& workstation) {
    std::vector<std::string> hex;
    for (const DevsimLogLine& line : sim.Log()) {
        EXPECT_EQ(line.source, workstation);
        hex.push_back(line.hex);
    }
    return hex;
}

std::vector<QString> Sorted(std::vector<QString> texts) {
    std::sort(texts.begin(), texts.end());
    return texts;
}

class TwoSegments : public ::testing::Test {
  protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("KORV_SEGMENT2_NETNS")) {
            GTEST_SKIP() << "needs the second segment: run under tests/private-lan --second-segment";
        }
        FNear = std::make_unique<DevsimProcess>(InSegment("KORV_SEGMENT1_NETNS", DeviceA));
        ASSERT_TRUE(FNear->Started()) << FNear->Failure();
        FFar = std::make_unique<DevsimProcess>(InSegment("KORV_SEGMENT2_NETNS", FarDevice));
        ASSERT_TRUE(FFar->Started()) << FFar->Failure();
        FWindow = std::make_unique<WindowHarness>();
    }

    // Presses Scan and waits for the read of the first listed device.
    void Scan() {
        Form().Button2->click();
        ASSERT_GE(Form().ListBox1->count(), 1);
        ASSERT_TRUE(FWindow->WaitForRecord());
    }
    std::vector<QString> Listed() const { return Sorted(FWindow->ListTexts(*Form().ListBox1)); }

    static void Ip(const std::string& args) { ASSERT_EQ(std::system(("ip " + args).c_str()), 0) << args; }
    // A second adapter on segment 1's network, as a laptop's wireless beside its cable on one office
    // LAN: lan4 at 10.77.0.101/24, its far end on one bridge with lan1. TearDown takes it away again,
    // since the simulator starts only beside the private LAN's own links.
    static void AddSecondAdapterOnSegment1() {
        ASSERT_EQ(std::system("ip link add lan4 type veth peer name lan5 netns $KORV_SEGMENT1_NETNS && "
                              "ip address add 10.77.0.101/24 dev lan4 && ip link set lan4 up && "
                              "nsenter --net=$KORV_SEGMENT1_NETNS sh -c 'ip link add br1 type bridge && "
                              "ip link set lan1 master br1 && ip link set lan5 master br1 up && "
                              "ip link set br1 up && ip route replace 10.77.0.0/24 dev br1'"),
                  0);
        WaitForCarrier("lan4");
    }
    void TearDown() override {
        EXPECT_EQ(std::system("! ip link del lan4 2>/dev/null || nsenter --net=$KORV_SEGMENT1_NETNS sh -c "
                              "'ip link del br1 && ip route replace 10.77.0.0/24 dev lan1'"),
                  0);
    }
    // A link brought up gets its carrier a moment later, and until then it is not used.
    static void WaitForCarrier(const std::string& link) {
        const std::string check = "ip -o link show " + link + " | grep -q 'state UP'";
        ASSERT_TRUE(QTest::qWaitFor([&] { return std::system(check.c_str()) == 0; }, 5000)) << link;
    }

    TForm1& Form() const { return FWindow->Form(); }

    std::unique_ptr<DevsimProcess> FNear;
    std::unique_ptr<DevsimProcess> FFar;
    std::unique_ptr<WindowHarness> FWindow;
};

} // namespace

TEST_F(TwoSegments, OneScanFindsBothAndTheFarDeviceIsReadAndWrittenEachRequestHeardOncePerSegment) {
    // Segment 1 is reached by two adapters: one copy of each request is enough there.
    ASSERT_NO_FATAL_FAILURE(AddSecondAdapterOnSegment1());
    ASSERT_NO_FATAL_FAILURE(Scan());
    EXPECT_EQ(Listed(), (std::vector<QString>{DeviceA.ip, FarDevice.ip}));
    const bool farFirst = Form().ListBox1->item(0)->text() == FarDevice.ip;

    QListWidget& macs = *Form().ListBox2;
    const auto rows = macs.findItems(FarDevice.mac, Qt::MatchExactly);
    ASSERT_EQ(rows.size(), 1);
    FWindow->ClickRow(macs, macs.row(rows[0]));
    ASSERT_TRUE(FWindow->WaitForRecord());
    EXPECT_EQ(FWindow->FieldsText(), FarDevice.fields);

    TForm1& f = Form();
    EnterEditedConfiguration(f);
    const auto nearBefore = FNear->Devices();
    f.Button1->click();
    EXPECT_EQ(f.StatusText(), WriteDone);
    EXPECT_TRUE(FWindow->Boxes().empty());

    EXPECT_EQ(FFar->Devices().at(FarDevice.id),
              "from=10.77.2.33 ip=192.168.5.20 mask=255.255.0.0 gateway=192.168.5.1 "
              "remote_ip=10.1.2.3 port=4660 mode=02 baud=E8");
    EXPECT_EQ(FNear->Devices(), nearBefore);

    // Every request exactly once on each wire, from the workstation's address on that wire: a second
    // copy would mean a datagram crossed over or left twice.
    const std::vector<std::string> requests{ScanRequestHex,
                                            (farFirst ? FarDevice : DeviceA).Request(ReadCode),
                                            FarDevice.Request(ReadCode),
                                            FarDevice.Request("01C0A80514"),
                                            FarDevice.Request("07FFFF0000"),
                                            FarDevice.Request("0402FFFFFF"),
                                            FarDevice.Request("020A010203"),
                                            FarDevice.Request("03C0A80501"),
                                            FarDevice.Request("053412"),
                                            FarDevice.Request("06E8FFFFFF"),
                                            FarDevice.Request("FFFFFFFFFF")};
    ASSERT_TRUE(WaitForHeard(*FFar, requests.size()));
    ASSERT_TRUE(WaitForHeard(*FNear, requests.size()));
    QTest::qWait(300); // room for a late duplicate to show
    EXPECT_EQ(Heard(*FFar, "10.77.2.100:60001"), requests);
    EXPECT_EQ(Heard(*FNear, "10.77.0.100:60001"), requests);
}

TEST_F(TwoSegments, AnAdapterDownBetweenScansLeavesItsSegmentOutAndIsUsedAgainOnceUp) {
    ASSERT_NO_FATAL_FAILURE(Scan());
    EXPECT_EQ(Listed(), (std::vector<QString>{DeviceA.ip, FarDevice.ip}));

    ASSERT_NO_FATAL_FAILURE(Ip("link set lan2 down"));
    const std::size_t farHeard = FFar->Log().size();
    ASSERT_NO_FATAL_FAILURE(Scan());
    EXPECT_EQ(Listed(), (std::vector<QString>{DeviceA.ip}));
    EXPECT_TRUE(FWindow->Boxes().empty());
    EXPECT_EQ(FFar->Log().size(), farHeard);

    // The default route's adapter down instead: the scan still reaches segment 2.
    ASSERT_NO_FATAL_FAILURE(Ip("link set lan2 up"));
    ASSERT_NO_FATAL_FAILURE(WaitForCarrier("lan2"));
    ASSERT_NO_FATAL_FAILURE(Ip("link set lan0 down"));
    ASSERT_NO_FATAL_FAILURE(Scan());
    EXPECT_EQ(Listed(), (std::vector<QString>{FarDevice.ip}));
    EXPECT_TRUE(FWindow->Boxes().empty());

    ASSERT_NO_FATAL_FAILURE(Ip("link set lan0 up"));
    ASSERT_NO_FATAL_FAILURE(WaitForCarrier("lan0"));
    ASSERT_NO_FATAL_FAILURE(Ip("route add default dev lan0"));
    ASSERT_NO_FATAL_FAILURE(Scan());
    EXPECT_EQ(Listed(), (std::vector<QString>{DeviceA.ip, FarDevice.ip}));
    EXPECT_TRUE(FWindow->Boxes().empty());
}

#ifdef KORVCFG_PATH
// korvcfg uses every adapter as the window does, or the one --interface names.
TEST(TwoSegmentsKorvcfg, InterfaceSendsThroughThatAdapterOnlyAndAnUnknownNameListsTheAdapters) {
    if (qEnvironmentVariableIsEmpty("KORV_SEGMENT2_NETNS")) {
        GTEST_SKIP() << "needs the second segment: run under tests/private-lan --second-segment";
    }
    DevsimProcess nearSim(InSegment("KORV_SEGMENT1_NETNS", DeviceA));
    ASSERT_TRUE(nearSim.Started()) << nearSim.Failure();
    DevsimProcess farSim(InSegment("KORV_SEGMENT2_NETNS", FarDevice));
    ASSERT_TRUE(farSim.Started()) << farSim.Failure();
    struct Run {
        int status;
        QString out, err;
    };
    const auto korvcfg = [](const std::string& args) {
        const CommandResult r = RunKorvcfg(KORVCFG_PATH, args);
        return Run{r.status, QString::fromStdString(r.out), QString::fromStdString(r.err)};
    };
    const QString nearLine = QString("%1  %2\n").arg(DeviceA.ip, DeviceA.mac);
    const QString farLine = QString("%1  %2\n").arg(FarDevice.ip, FarDevice.mac);

    const Run all = korvcfg("scan --wait 800");
    EXPECT_EQ(all.status, 0) << all.err.toStdString();
    EXPECT_TRUE(all.out == nearLine + farLine || all.out == farLine + nearLine) << all.out.toStdString();

    const Run far = korvcfg(std::string("read ") + FarDevice.mac + " --wait 800 --interface lan2");
    EXPECT_EQ(far.status, 0) << far.err.toStdString();
    EXPECT_TRUE(far.out.contains("ip: 10.0.0.5\n")) << far.out.toStdString();
    EXPECT_EQ(Heard(nearSim, "10.77.0.100:60001"), std::vector<std::string>{ScanRequestHex})
        << "the read on lan2 reached segment 1";
    EXPECT_EQ(Heard(farSim, "10.77.2.100:60001"),
              (std::vector<std::string>{ScanRequestHex, ScanRequestHex, FarDevice.Request(ReadCode)}));

    const Run unknown = korvcfg("scan --interface eth9");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(unknown.out.isEmpty());
    EXPECT_TRUE(unknown.err.contains("no adapter 'eth9'") && unknown.err.contains("\n  lan0  10.77.0.100") &&
                unknown.err.contains("\n  lan2  10.77.2.100"))
        << unknown.err.toStdString();
    EXPECT_EQ(nearSim.Log().size() + farSim.Log().size(), 4u) << "the unknown name sent something";
}
#endif
