// Scan, configuration read and the receive handler, driven through the real window against
// simulated devices in the private LAN.
#include "DevSimProcess.h"
#include "TestDevices.h"
#include "WindowHarness.h"

#include "protocol/HexCodec.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

const std::string ScanRequestHex = "0000000000";

std::vector<std::string> LoggedHex(const DevSimProcess& sim) {
    std::vector<std::string> hex;
    for (const DevSimLogLine& line : sim.Log()) {
        EXPECT_EQ(line.source, Workstation);
        hex.push_back(line.hex);
    }
    return hex;
}

// A record whose fields are all distinct: mode, port 8080, device IP 192.168.1.7, remote IP
// 10.0.0.9, gateway 192.168.1.1, mask 255.255.255.0, speed code last.
std::string RecordBytes(uint8_t mode, uint8_t speed) {
    std::string record(60, '\x11');
    record[0] = static_cast<char>(mode);
    record[8] = '\x90';
    record[9] = '\x1F';
    const std::string addresses("\xC0\xA8\x01\x07"
                                "\x0A\x00\x00\x09"
                                "\xC0\xA8\x01\x01"
                                "\xFF\xFF\xFF\x00",
                                16);
    record.replace(40, addresses.size(), addresses);
    record[59] = static_cast<char>(speed);
    return record;
}

#define START_DEVSIM(name, args)                                                                             \
    DevSimProcess name(args);                                                                                \
    ASSERT_TRUE(name.Ready()) << name.Failure()

} // namespace

TEST(Discovery, TwoDevicesListedInArrivalOrderFirstReadAtOnceThenEitherListSelectsTheOther) {
    // A answers late, so B is first although A has the lower address.
    START_DEVSIM(sim, DeviceA.Args("delay=300") + DeviceB.Args());
    WindowHarness window;
    TForm1& form = window.Form();
    form.Button1->setEnabled(true);
    form.SetStatusText("stale");

    form.Button2->click();

    EXPECT_EQ(window.ListTexts(*form.ListBox1), (std::vector<QString>{DeviceB.ip, DeviceA.ip}));
    EXPECT_EQ(window.ListTexts(*form.ListBox2), (std::vector<QString>{DeviceB.mac, DeviceA.mac}));
    ASSERT_GE(window.Datagrams().size(), 1u);
    EXPECT_EQ(window.Datagrams()[0].statusBefore, "") << "status emptied before the scan was sent";
    EXPECT_FALSE(window.Datagrams()[0].setButtonEnabled) << "Set disabled before the scan was sent";
    EXPECT_EQ(form.ListBox1->currentRow(), 0);
    EXPECT_EQ(form.ListBox2->currentRow(), 0);
    ASSERT_TRUE(window.WaitForRecord());
    EXPECT_EQ(window.FieldsText(), DeviceB.fields);
    EXPECT_TRUE(form.Button1->isEnabled());
    ASSERT_TRUE(sim.WaitForLogLines(2, 3000));
    EXPECT_EQ(LoggedHex(sim), (std::vector<std::string>{ScanRequestHex, DeviceB.Request("0AFFFFFFFF")}));

    window.ClickRow(*form.ListBox2, 1);
    EXPECT_EQ(form.ListBox1->currentRow(), 1);
    ASSERT_TRUE(window.WaitForRecord());
    EXPECT_EQ(window.FieldsText(), DeviceA.fields);

    window.ClickRow(*form.ListBox1, 0);
    EXPECT_EQ(form.ListBox2->currentRow(), 0);
    ASSERT_TRUE(window.WaitForRecord());
    EXPECT_EQ(window.FieldsText(), DeviceB.fields);

    ASSERT_TRUE(sim.WaitForLogLines(4, 3000));
    EXPECT_EQ(LoggedHex(sim),
              (std::vector<std::string>{ScanRequestHex, DeviceB.Request("0AFFFFFFFF"),
                                        DeviceA.Request("0AFFFFFFFF"), DeviceB.Request("0AFFFFFFFF")}));
    EXPECT_TRUE(window.Boxes().empty());
}

TEST(Discovery, DeviceAnsweringTwiceIsListedTwiceAndTooShortReplyIsNotListed) {
    START_DEVSIM(sim, DeviceA.Args("scantwice=1") + DeviceB.Args("scanreply=short"));
    WindowHarness window;
    TForm1& form = window.Form();

    form.Button2->click();

    EXPECT_EQ(window.ListTexts(*form.ListBox1), (std::vector<QString>{DeviceA.ip, DeviceA.ip}));
    EXPECT_EQ(window.ListTexts(*form.ListBox2), (std::vector<QString>{DeviceA.mac, DeviceA.mac}));
    const auto& seen = window.Datagrams();
    EXPECT_EQ(
        std::count_if(seen.begin(), seen.end(), [](const SeenDatagram& d) { return d.hex.size() < 10; }), 1)
        << "the short reply reached the window during the scan";
    ASSERT_TRUE(window.WaitForRecord());
    EXPECT_EQ(window.FieldsText(), DeviceA.fields);
}

TEST(Discovery, NoDeviceEndsSilentlyWithSetEnabledWhichThenWarnsAndSendsNothing) {
    START_DEVSIM(sim, DeviceA.Args("silent=1"));
    WindowHarness window;
    TForm1& form = window.Form();
    form.SetStatusText("stale");

    form.Button2->click();

    EXPECT_EQ(form.ListBox1->count(), 0);
    EXPECT_EQ(form.ListBox2->count(), 0);
    EXPECT_EQ(form.StatusText(), "");
    EXPECT_TRUE(form.Button1->isEnabled());
    EXPECT_TRUE(window.Boxes().empty());
    EXPECT_EQ(ReadPending, 1) << "the scan's read was started before it found nothing to read";
    EXPECT_EQ(ScanPending, 0);

    form.Button1->click();

    ASSERT_EQ(window.Boxes().size(), 1u);
    EXPECT_EQ(window.Boxes()[0].box.kind, BoxKind::Warning);
    EXPECT_EQ(window.Boxes()[0].box.text, "要设置的设备不能为空，请选择一个要配置的设备！");
    EXPECT_FALSE(window.Boxes()[0].windowEnabled) << "the window comes back only when the box is closed";
    EXPECT_TRUE(form.isEnabled());
    EXPECT_EQ(ReadPending, 0);
    ASSERT_TRUE(sim.WaitForLogLines(1, 3000));
    EXPECT_EQ(LoggedHex(sim), (std::vector<std::string>{ScanRequestHex}));
}

TEST(Discovery, ReadTakesItsRecordOnlyFromTheSelectedDeviceAndIdleTakesNone) {
    // A is listed and selected but never answers its read, so the read keeps awaiting its record.
    START_DEVSIM(sim, DeviceA.Args("noack=0A"));
    WindowHarness window;
    TForm1& form = window.Form();
    form.Button2->click();
    ASSERT_EQ(window.ListTexts(*form.ListBox1), std::vector<QString>{DeviceA.ip});
    ASSERT_EQ(ReadPending, 1);
    form.SetRadioGroup1ItemIndex(2);
    form.ComboBox1->setCurrentIndex(5);
    const std::string untouched = window.FieldsText();

    // A record-shaped datagram from a stranger on the segment is only the last reply.
    const std::string stranger = RecordBytes(0x04, 0x40);
    SendFromDeviceAddress("10.77.1.50", stranger);
    ASSERT_TRUE(QTest::qWaitFor([&] { return LastReplyHex == BytesToHex(stranger); }, 5000));
    EXPECT_EQ(window.FieldsText(), untouched);
    EXPECT_EQ(ReadPending, 1);

    // From the selected device's address it is the record. Mode 03 and speed 00 have no entries:
    // those selections stay, every other field is shown.
    const std::string record = RecordBytes(0x03, 0x00);
    SendFromDeviceAddress(DeviceA.ip, record);
    ASSERT_TRUE(window.WaitForRecord());
    EXPECT_EQ(window.FieldsText(), "mode=2 devip=192.168.1.7 mask=255.255.255.0 gateway=192.168.1.1 "
                                   "remoteip=10.0.0.9 port=8080 speed=5");
    EXPECT_EQ(LastReplyHex, BytesToHex(record));
    EXPECT_EQ(ScanPending, 0);

    // Idle: a record-shaped datagram, even from the selected device, changes nothing but the last reply.
    const std::string late = RecordBytes(0x04, 0x40);
    SendFromDeviceAddress(DeviceA.ip, late);
    ASSERT_TRUE(QTest::qWaitFor([&] { return LastReplyHex == BytesToHex(late); }, 5000));
    EXPECT_EQ(window.FieldsText(), "mode=2 devip=192.168.1.7 mask=255.255.255.0 gateway=192.168.1.1 "
                                   "remoteip=10.0.0.9 port=8080 speed=5");
    EXPECT_EQ(form.ListBox1->count(), 1);
    EXPECT_EQ(ReadPending, 0);
    EXPECT_EQ(ScanPending, 0);
    EXPECT_TRUE(window.Boxes().empty());
}

TEST(Discovery, ScanPressedAgainDuringTheWaitRestartsTheListAndBothScansRead) {
    START_DEVSIM(sim, DeviceA.Args() + DeviceB.Args());
    WindowHarness window;
    TForm1& form = window.Form();
    QTimer::singleShot(300, &form, [&] { form.Button2->click(); });

    form.Button2->click();

    // The outer scan's replies were cleared by the nested one: each device once, not twice.
    EXPECT_EQ(form.ListBox1->count(), 2);
    EXPECT_EQ(form.ListBox2->count(), 2);
    ASSERT_TRUE(sim.WaitForLogLines(4, 3000));
    const auto log = sim.Log();
    ASSERT_EQ(log.size(), 4u);
    const std::string firstMac = form.ListBox2->item(0)->text().toStdString();
    const TestDevice& first = firstMac == DeviceA.mac ? DeviceA : DeviceB;
    EXPECT_EQ(LoggedHex(sim),
              (std::vector<std::string>{ScanRequestHex, ScanRequestHex, first.Request("0AFFFFFFFF"),
                                        first.Request("0AFFFFFFFF")}));
    EXPECT_GE(log[1].ms - log[0].ms, 250) << "the second scan was sent from inside the first one's wait";
    EXPECT_GE(log[2].ms - log[1].ms, 1400) << "the nested scan waited its own 1500 ms";

    // Two scan replies for each scan, then two records: the second finds the window idle.
    ASSERT_TRUE(window.WaitForDatagrams(6));
    ASSERT_TRUE(window.WaitForRecord());
    EXPECT_EQ(window.FieldsText(), first.fields);
    EXPECT_EQ(ScanPending, 0);
    EXPECT_TRUE(window.Boxes().empty());
}
