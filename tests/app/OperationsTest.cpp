// SPDX-License-Identifier: GPL-3.0-or-later
// The window's device operations (scan, read, the write sequence with its retries) on the real
// endpoint over the fake socket layer, with the simulator's devices answering in virtual time: the
// waits run on the fake network's clock, so a whole write with every retry takes milliseconds.
#include "FakeDevices.h"
#include "FakeNetwork.h"
#include "TestDevices.h"
#include "WindowHarness.h"

#include "protocol/HexCodec.h"
#include "tools/devsim/DeviceProfile.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>

using namespace std::chrono_literals;

namespace {

const QString IpWarning = "IP写入缓冲区失败！";

// Device A's values as its record shows them, as the write sends them back.
const std::vector<std::string> DeviceAUnchanged{DeviceA.Request("01C0A80107"), DeviceA.Request("07FFFFFF00"),
                                                DeviceA.Request("0401FFFFFF"), DeviceA.Request("02C0A801C8"),
                                                DeviceA.Request("03C0A80101"), DeviceA.Request("05901F"),
                                                DeviceA.Request("06FCFFFFFF"), DeviceA.Request("FFFFFFFFFF")};

std::vector<std::string> Repeated(const std::string& hex, int times) {
    return std::vector<std::string>(static_cast<std::size_t>(times), hex);
}

class Operations : public ::testing::Test {
  protected:
    void Start(const std::vector<std::string>& profiles) {
        FDevices = std::make_unique<FakeDevices>(net, profiles);
        FWindow = std::make_unique<WindowHarness>(WindowOptions{.virtualTime = &net});
    }
    // Starts the devices, scans and waits until the first device's record is shown.
    void StartAndRead(const std::vector<std::string>& profiles) {
        Start(profiles);
        Form().Button2->click();
        ASSERT_TRUE(Window().WaitForRecord());
    }
    // Selects a listed device the way a user does and waits for its record.
    void SelectDevice(const TestDevice& device) {
        QListWidget& macs = *Form().ListBox2;
        const auto rows = macs.findItems(device.mac, Qt::MatchExactly);
        ASSERT_EQ(rows.size(), 1);
        Window().ClickRow(macs, macs.row(rows[0]));
        ASSERT_TRUE(Window().WaitForRecord());
        ASSERT_EQ(Window().FieldsText(), device.fields);
    }

    // Presses Set; returns how long the press lasted in virtual time.
    std::chrono::milliseconds Press() {
        FSentMark = net.Sent().size();
        FSeenMark = Window().Datagrams().size();
        FBoxMark = Window().Boxes().size();
        const auto start = net.Now();
        Form().Button1->click();
        return net.Now() - start;
    }

    // What the window sent from the mark on; every datagram a broadcast from its port to the devices'.
    std::vector<FakeDatagram> SentSince(std::size_t mark) const {
        const auto sent = net.Sent();
        for (const FakeDatagram& d : sent) {
            EXPECT_EQ(d.fromPort, 60001);
            EXPECT_EQ(d.toIp, "255.255.255.255");
            EXPECT_EQ(d.toPort, 60000);
        }
        return {sent.begin() + static_cast<std::ptrdiff_t>(std::min(mark, sent.size())), sent.end()};
    }
    std::vector<std::string> SentHex(std::size_t mark = 0) const {
        std::vector<std::string> hex;
        for (const FakeDatagram& d : SentSince(mark)) {
            hex.push_back(BytesToHex(d.bytes));
        }
        return hex;
    }
    std::vector<std::string> SentByPress() const { return SentHex(FSentMark); }
    std::vector<SeenDatagram> SeenByPress() const {
        const auto& seen = Window().Datagrams();
        return {seen.begin() + static_cast<std::ptrdiff_t>(FSeenMark), seen.end()};
    }
    std::vector<SeenBox> BoxesOfPress() const {
        const auto& boxes = Window().Boxes();
        return {boxes.begin() + static_cast<std::ptrdiff_t>(FBoxMark), boxes.end()};
    }
    // Each send of a press is followed by its step's whole wait: an early acknowledgement never
    // cuts a wait short.
    void ExpectSendsAWaitApart() const {
        const auto sent = SentSince(FSentMark);
        for (std::size_t i = 1; i < sent.size(); ++i) {
            EXPECT_GE(sent[i].at - sent[i - 1].at, 1000ms) << "send " << i + 1;
        }
    }
    void ExpectOneWarning(const QString& text, const QString& status) const {
        const auto boxes = BoxesOfPress();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].kind, BoxKind::Warning);
        EXPECT_EQ(boxes[0].text, text);
        EXPECT_EQ(boxes[0].statusText, status);
        EXPECT_FALSE(boxes[0].windowEnabled) << "the window comes back only when the box is closed";
        EXPECT_TRUE(Form().isEnabled());
    }
    void ExpectConversionError(const QString& text, const QString& status) const {
        const auto boxes = BoxesOfPress();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].kind, BoxKind::ErrorReport);
        EXPECT_EQ(boxes[0].text, text);
        EXPECT_TRUE(boxes[0].windowEnabled) << "the window is usable again before the report shows";
        EXPECT_EQ(boxes[0].statusText, status);
    }

    // The committed configuration of each device, as devsim's state file would hold it.
    std::map<std::string, std::string> State() const {
        std::map<std::string, std::string> state;
        for (std::size_t i = 0; i < FDevices->Count(); ++i) {
            const SimulatedDevice& d = (*FDevices)[i];
            const std::string line = FormatStateLine(d.Profile(), d.Committed());
            const auto space = line.find(' ');
            state[line.substr(0, space)] = line.substr(space + 1);
        }
        return state;
    }

    TForm1& Form() const { return FWindow->Form(); }
    WindowHarness& Window() const { return *FWindow; }

    FakeNetwork net;

  private:
    std::unique_ptr<FakeDevices> FDevices;
    std::unique_ptr<WindowHarness> FWindow;
    std::size_t FSentMark = 0;
    std::size_t FSeenMark = 0;
    std::size_t FBoxMark = 0;
};

} // namespace

TEST_F(Operations, ScanListsInArrivalOrderReadsTheFirstAtOnceThenEitherListSelectsTheOther) {
    // A answers late, so B is first although A has the lower address.
    Start({DeviceA.Profile("delay=300"), DeviceB.Profile()});
    TForm1& form = Form();
    form.Button1->setEnabled(true);
    form.SetStatusText("stale");

    form.Button2->click();

    EXPECT_EQ(net.Now(), 1500ms) << "the scan waits its whole time";
    EXPECT_EQ(Window().ListTexts(*form.ListBox1), (std::vector<QString>{DeviceB.ip, DeviceA.ip}));
    EXPECT_EQ(Window().ListTexts(*form.ListBox2), (std::vector<QString>{DeviceB.mac, DeviceA.mac}));
    ASSERT_GE(Window().Datagrams().size(), 1u);
    EXPECT_EQ(Window().Datagrams()[0].statusBefore, "") << "status emptied before the scan was sent";
    EXPECT_FALSE(Window().Datagrams()[0].setButtonEnabled) << "Set disabled before the scan was sent";
    EXPECT_EQ(form.ListBox1->currentRow(), 0);
    EXPECT_EQ(form.ListBox2->currentRow(), 0);
    ASSERT_TRUE(Window().WaitForRecord());
    EXPECT_EQ(Window().FieldsText(), DeviceB.fields);
    EXPECT_TRUE(form.Button1->isEnabled());
    EXPECT_EQ(SentHex(), (std::vector<std::string>{ScanRequestHex, ReadRequestHex(DeviceB)}));

    Window().ClickRow(*form.ListBox2, 1);
    EXPECT_EQ(form.ListBox1->currentRow(), 1);
    ASSERT_TRUE(Window().WaitForRecord());
    EXPECT_EQ(Window().FieldsText(), DeviceA.fields);

    Window().ClickRow(*form.ListBox1, 0);
    EXPECT_EQ(form.ListBox2->currentRow(), 0);
    ASSERT_TRUE(Window().WaitForRecord());
    EXPECT_EQ(Window().FieldsText(), DeviceB.fields);

    EXPECT_EQ(SentHex(), (std::vector<std::string>{ScanRequestHex, ReadRequestHex(DeviceB),
                                                   ReadRequestHex(DeviceA), ReadRequestHex(DeviceB)}));
    EXPECT_TRUE(Window().Boxes().empty());
}

TEST_F(Operations, DeviceAnsweringTwiceIsListedTwiceAndTooShortReplyIsNotListed) {
    Start({DeviceA.Profile("scantwice=1"), DeviceB.Profile("scanreply=short")});
    TForm1& form = Form();

    form.Button2->click();

    EXPECT_EQ(Window().ListTexts(*form.ListBox1), (std::vector<QString>{DeviceA.ip, DeviceA.ip}));
    EXPECT_EQ(Window().ListTexts(*form.ListBox2), (std::vector<QString>{DeviceA.mac, DeviceA.mac}));
    const auto& seen = Window().Datagrams();
    EXPECT_EQ(
        std::count_if(seen.begin(), seen.end(),
                      [](const SeenDatagram& d) { return d.senderIp == DeviceB.ip && d.hex.size() < 10; }),
        1)
        << "the short reply reached the window during the scan";
    ASSERT_TRUE(Window().WaitForRecord());
    EXPECT_EQ(Window().FieldsText(), DeviceA.fields);
}

TEST_F(Operations, NoDeviceEndsTheScanSilentlyWithSetEnabledWhichThenWarnsAndSendsNothing) {
    Start({DeviceA.Profile("silent=1")});
    TForm1& form = Form();
    form.SetStatusText("stale");

    form.Button2->click();

    EXPECT_EQ(form.ListBox1->count(), 0);
    EXPECT_EQ(form.ListBox2->count(), 0);
    EXPECT_EQ(form.StatusText(), "");
    EXPECT_TRUE(form.Button1->isEnabled());
    EXPECT_TRUE(Window().Boxes().empty());
    EXPECT_EQ(ReadPending, 1) << "the scan's read was started before it found nothing to read";
    EXPECT_EQ(ScanPending, 0);

    form.Button1->click();

    ASSERT_EQ(Window().Boxes().size(), 1u);
    EXPECT_EQ(Window().Boxes()[0].kind, BoxKind::Warning);
    EXPECT_EQ(Window().Boxes()[0].text, "要设置的设备不能为空，请选择一个要配置的设备！");
    EXPECT_FALSE(Window().Boxes()[0].windowEnabled) << "the window comes back only when the box is closed";
    EXPECT_TRUE(form.isEnabled());
    EXPECT_EQ(ReadPending, 0);
    EXPECT_EQ(SentHex(), (std::vector<std::string>{ScanRequestHex}));
}

TEST_F(Operations, ScanPressedAgainDuringTheWaitRestartsTheListAndBothScansRead) {
    Start({DeviceA.Profile(), DeviceB.Profile()});
    TForm1& form = Form();
    Window().At(300ms, [&] { form.Button2->click(); });

    form.Button2->click();

    // The outer scan's replies were cleared by the nested one: each device once, not twice.
    EXPECT_EQ(form.ListBox1->count(), 2);
    EXPECT_EQ(form.ListBox2->count(), 2);
    const auto sent = SentSince(0);
    ASSERT_EQ(sent.size(), 4u);
    const std::string firstMac = form.ListBox2->item(0)->text().toStdString();
    const TestDevice& first = firstMac == DeviceA.mac ? DeviceA : DeviceB;
    EXPECT_EQ(SentHex(), (std::vector<std::string>{ScanRequestHex, ScanRequestHex, ReadRequestHex(first),
                                                   ReadRequestHex(first)}));
    EXPECT_EQ(sent[1].at, 300ms) << "the second scan was sent from inside the first one's wait";
    EXPECT_EQ(sent[2].at, 1800ms) << "the nested scan waited its own 1500 ms";

    // Two scan replies for each scan, then two records: the second finds the window idle.
    ASSERT_TRUE(Window().WaitForDatagrams(6));
    ASSERT_TRUE(Window().WaitForRecord());
    EXPECT_EQ(Window().FieldsText(), first.fields);
    EXPECT_EQ(ScanPending, 0);
    EXPECT_TRUE(Window().Boxes().empty());
}

TEST_F(Operations, ReadTakesItsRecordOnlyFromTheSelectedDeviceAndIdleTakesNone) {
    // A is listed and selected but never answers its read, so the read keeps awaiting its record.
    Start({DeviceA.Profile("noack=0A"), DeviceB.Profile("delay=100,noack=0A")});
    TForm1& form = Form();
    form.Button2->click();
    ASSERT_EQ(Window().ListTexts(*form.ListBox1), (std::vector<QString>{DeviceA.ip, DeviceB.ip}));
    ASSERT_EQ(ReadPending, 1);
    form.SetRadioGroup1ItemIndex(2);
    form.ComboBox1->setCurrentIndex(5);
    const std::string untouched = Window().FieldsText();

    // A record-shaped datagram from a stranger on the segment, or from the other listed device, is
    // only the last reply; so is a datagram from the selected device too short to be a record (a late
    // scan reply), whose last byte would fill the address fields.
    const std::string other = RecordBytes(0x04, 0x40);
    const std::pair<std::string, std::string> notRecords[] = {
        {"10.77.1.50", other}, {DeviceB.ip, other}, {DeviceA.ip, other.substr(0, 56)}};
    for (const auto& [sender, datagram] : notRecords) {
        net.Deliver(sender, 60000, 60001, datagram);
        const std::string hex = BytesToHex(datagram);
        ASSERT_TRUE(Window().WaitFor([&] { return LastReplyHex == hex; }, 100)) << sender;
        EXPECT_EQ(Window().FieldsText(), untouched) << sender;
        EXPECT_EQ(ReadPending, 1) << sender;
        LastReplyHex.clear();
    }

    // From the selected device's address it is the record. Mode 03 and speed 00 have no entries:
    // those selections stay, every other field is shown.
    const std::string record = RecordBytes(0x03, 0x00);
    net.Deliver(DeviceA.ip, 60000, 60001, record);
    ASSERT_TRUE(Window().WaitForRecord());
    const std::string shown = "mode=2 devip=192.168.1.7 mask=255.255.255.0 gateway=192.168.1.1 "
                              "remoteip=10.0.0.9 port=8080 speed=5";
    EXPECT_EQ(Window().FieldsText(), shown);
    EXPECT_EQ(LastReplyHex, BytesToHex(record));
    EXPECT_EQ(ScanPending, 0);

    // Idle: a record-shaped datagram, even from the selected device, changes nothing but the last reply.
    const std::string late = RecordBytes(0x04, 0x40);
    net.Deliver(DeviceA.ip, 60000, 60001, late);
    ASSERT_TRUE(Window().WaitFor([&] { return LastReplyHex == BytesToHex(late); }, 100));
    EXPECT_EQ(Window().FieldsText(), shown);
    EXPECT_EQ(form.ListBox1->count(), 2);
    EXPECT_EQ(ReadPending, 0);
    EXPECT_EQ(ScanPending, 0);

    // With no device selected, nothing is a record.
    form.ListBox1->setCurrentRow(-1);
    ReadPending = 1;
    net.Deliver(DeviceA.ip, 60000, 60001, RecordBytes(0x04, 0x40));
    ASSERT_FALSE(Window().WaitForRecord(100));
    EXPECT_EQ(Window().FieldsText(), shown);
    EXPECT_TRUE(Window().Boxes().empty());
}

TEST_F(Operations, AfterAWriteOfANewDeviceIpTheRecordComesFromThatAddressToo) {
    // A answers no read, so its record comes only where this test sends it from.
    Start({DeviceA.Profile("noack=0A")});
    TForm1& form = Form();
    form.Button2->click();
    EnterEditedConfiguration(form); // device IP 192.168.5.20
    Press();
    ASSERT_EQ(form.StatusText(), WriteDone);

    // Restarted, the device answers from its new address while the list still shows the scan's.
    Window().ClickRow(*form.ListBox1, 0);
    net.Deliver("192.168.5.20", 60000, 60001, RecordBytes(0x01, 0xFC));
    EXPECT_TRUE(Window().WaitForRecord());
}

TEST_F(Operations, EveryCommandAcknowledgedAtOnceSendsTheEditedValuesInStepOrder) {
    // B never answers a read, so the press starts with a read still awaiting its record: no
    // acknowledgement may be taken for that record, or the fields the later steps send would change.
    ASSERT_NO_FATAL_FAILURE(StartAndRead({DeviceA.Profile(), DeviceB.Profile("delay=400,noack=0A")}));
    ASSERT_EQ(Form().ListBox2->item(1)->text(), DeviceB.mac);
    const auto before = State();
    TForm1& f = Form();
    Window().ClickRow(*f.ListBox2, 1);
    ASSERT_EQ(ReadPending, 1);
    ASSERT_EQ(SentHex().back(), ReadRequestHex(DeviceB));
    EnterEditedConfiguration(f);

    const auto lasted = Press();

    EXPECT_EQ(SentByPress(),
              (std::vector<std::string>{DeviceB.Request("01C0A80514"), DeviceB.Request("07FFFF0000"),
                                        DeviceB.Request("0402FFFFFF"), DeviceB.Request("020A010203"),
                                        DeviceB.Request("03C0A80501"), DeviceB.Request("053412"),
                                        DeviceB.Request("06E8FFFFFF"), DeviceB.Request("FFFFFFFFFF")}));
    ExpectSendsAWaitApart();
    EXPECT_EQ(lasted, 7 * 1000ms + 1200ms) << "every step waits its whole time once";
    const std::vector<QString> statusAtEachAck{"",
                                               "IP写入成功！",
                                               "子掩码写入成功！",
                                               "网络模式写入成功！",
                                               "远程IP写入成功！",
                                               "网关写入成功！",
                                               "端口号写入成功！",
                                               "波特率写入成功！"};
    const auto seen = SeenByPress();
    ASSERT_EQ(seen.size(), statusAtEachAck.size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].statusBefore, statusAtEachAck[i]) << "acknowledgement " << i + 1;
        EXPECT_FALSE(seen[i].windowEnabled) << "acknowledgement " << i + 1;
    }
    EXPECT_EQ(f.StatusText(), WriteDone);
    EXPECT_TRUE(f.isEnabled());
    EXPECT_TRUE(BoxesOfPress().empty());
    EXPECT_EQ(ReadPending, 0) << "the read awaiting its record was ended by the press";
    const auto state = State();
    EXPECT_EQ(state.at(DeviceB.id), "from=10.77.1.12 ip=192.168.5.20 mask=255.255.0.0 gateway=192.168.5.1 "
                                    "remote_ip=10.1.2.3 port=4660 mode=02 baud=E8");
    EXPECT_EQ(state.at(DeviceA.id), before.at(DeviceA.id))
        << "the other device heard every broadcast and took none of it";
}

TEST_F(Operations, WritingBackWhatWasReadLeavesTheDeviceUnchanged) {
    ASSERT_NO_FATAL_FAILURE(StartAndRead({DeviceB.Profile()}));
    const auto before = State();

    Press();

    EXPECT_EQ(SentByPress(),
              (std::vector<std::string>{DeviceB.Request("010A000005"), DeviceB.Request("07FF000000"),
                                        DeviceB.Request("0404FFFFFF"), DeviceB.Request("020A000009"),
                                        DeviceB.Request("030A000001"), DeviceB.Request("05F601"),
                                        DeviceB.Request("0640FFFFFF"), DeviceB.Request("FFFFFFFFFF")}));
    EXPECT_EQ(Form().StatusText(), WriteDone);
    EXPECT_EQ(State(), before);
}

TEST_F(Operations, UnansweredStepSendsTenTimesWarnsAndSendsNothingElse) {
    ASSERT_NO_FATAL_FAILURE(StartAndRead({DeviceA.Profile("noack=01")}));
    const auto before = State();

    const auto lasted = Press();

    EXPECT_EQ(SentByPress(), Repeated(DeviceAUnchanged[0], 10));
    ExpectSendsAWaitApart();
    EXPECT_EQ(lasted, 10 * 1000ms) << "the warning comes after the tenth send's whole wait";
    ExpectOneWarning(IpWarning, "");
    EXPECT_EQ(Form().StatusText(), "");
    EXPECT_EQ(State(), before);
}

TEST_F(Operations, AcknowledgementLeftFromBeforeTheStepDoesNotCount) {
    // The device IP acknowledgement of an earlier press is still the last reply; this device never
    // acknowledges the step, so counting it would report the device IP written and go on to the mask.
    ASSERT_NO_FATAL_FAILURE(StartAndRead({DeviceA.Profile("noack=01")}));
    LastReplyHex = "01010D0A";

    Press();

    EXPECT_EQ(SentByPress(), Repeated(DeviceAUnchanged[0], 10));
    ExpectOneWarning(IpWarning, "");
}

TEST_F(Operations, FirstAnswerToTheNinthSendIsSeen) {
    ASSERT_NO_FATAL_FAILURE(StartAndRead({DeviceA.Profile("ackfrom=01:9")}));

    Press();

    std::vector<std::string> expected = Repeated(DeviceAUnchanged[0], 9);
    expected.insert(expected.end(), DeviceAUnchanged.begin() + 1, DeviceAUnchanged.end());
    EXPECT_EQ(SentByPress(), expected);
    EXPECT_EQ(Form().StatusText(), WriteDone);
    EXPECT_TRUE(BoxesOfPress().empty());
}

TEST_F(Operations, AnswerToTheTenthSendOnlyIsNeverSeen) {
    ASSERT_NO_FATAL_FAILURE(StartAndRead({DeviceA.Profile("ackfrom=01:10")}));

    Press();

    EXPECT_EQ(SentByPress(), Repeated(DeviceAUnchanged[0], 10));
    ASSERT_FALSE(SeenByPress().empty());
    EXPECT_EQ(SeenByPress().back().hex, "01010D0A") << "the acknowledgement did come, after the tenth send";
    ExpectOneWarning(IpWarning, "");
}

TEST_F(Operations, WrongAcknowledgementOrRightOneFollowedByAnotherDatagramIsNotAccepted) {
    ASSERT_NO_FATAL_FAILURE(
        StartAndRead({DeviceA.Profile("wrongack=01:07"), DeviceB.Profile("delay=400,stray=1")}));

    Press();

    EXPECT_EQ(SentByPress(), Repeated(DeviceAUnchanged[0], 10));
    ExpectOneWarning(IpWarning, "");

    ASSERT_NO_FATAL_FAILURE(SelectDevice(DeviceB));
    Press();

    EXPECT_EQ(SentByPress(), Repeated(DeviceB.Request("010A000005"), 10));
    const auto seen = SeenByPress();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].hex, "01010D0A") << "the right acknowledgement did come, before its trailer";
    ExpectOneWarning(IpWarning, "");
}

TEST_F(Operations, NoSpeedSelectedWritesStepsOneToSixThenSendsNothingForTheSpeed) {
    ASSERT_NO_FATAL_FAILURE(StartAndRead({DeviceA.Profile()}));
    const auto before = State();
    Form().ComboBox1->setCurrentIndex(-1);
    Form().post->setText("65535");

    const auto lasted = Press();

    std::vector<std::string> expected(DeviceAUnchanged.begin(), DeviceAUnchanged.begin() + 6);
    expected[5] = DeviceA.Request("05FFFF");
    EXPECT_EQ(SentByPress(), expected);
    EXPECT_EQ(lasted, 16 * 1000ms)
        << "six acknowledged steps, then ten waits of the speed step with nothing sent";
    ExpectOneWarning("波特率写入缓冲区失败！", "端口号写入成功！");
    EXPECT_EQ(State(), before) << "nothing committed";
}

TEST_F(Operations, EmptyAddressOrPortOutOfRangeEndsThePressWithTheConversionErrorAtItsStep) {
    ASSERT_NO_FATAL_FAILURE(StartAndRead({DeviceA.Profile(), DeviceB.Profile("delay=400,noack=0A")}));
    Form().IP1->clear();

    Press();

    EXPECT_TRUE(SentByPress().empty());
    ExpectConversionError("'' is not a valid integer value.", "");

    Form().IP1->setText("192");
    Form().ym1->clear();
    Press();

    EXPECT_EQ(SentByPress(), (std::vector<std::string>{DeviceAUnchanged[0]}));
    ExpectConversionError("'' is not a valid integer value.", "IP写入成功！");

    // Cut to its low 16 bits, 70000 would be written as port 4464 and reported as written.
    Form().ym1->setText("255");
    Form().post->setText("70000");
    Press();

    EXPECT_EQ(SentByPress(),
              std::vector<std::string>(DeviceAUnchanged.begin(), DeviceAUnchanged.begin() + 5));
    ExpectConversionError("'70000' is not a valid integer value.", "网关写入成功！");
    EXPECT_TRUE(Form().isEnabled());
    EXPECT_EQ(Form().StatusText(), "网关写入成功！");

    // B never answers its read: none of A's values stay on show to be written into B.
    Window().ClickRow(*Form().ListBox2, 1);
    EXPECT_EQ(Window().FieldsText(), "mode=-1 devip=... mask=... gateway=... remoteip=... port= speed=-1");
    Press();
    EXPECT_TRUE(SentByPress().empty());
    ExpectConversionError("'' is not a valid integer value.", "");
}

TEST_F(Operations, AListenerThatEndsByItselfIsReportedOnceAndTheNextScanOpensTheEndpointAgain) {
    net.FailListenerWait(10055);
    Start({DeviceA.Profile()});
    ASSERT_TRUE(Window().WaitFor([&] { return !Window().Boxes().empty(); }, 1000));
    EXPECT_EQ(Window().Boxes()[0].kind, BoxKind::ErrorReport);
    EXPECT_EQ(Window().Boxes()[0].text, "Socket Error # 10055\r\nNo buffer space available.");
    EXPECT_FALSE(Form().IdUDPServer1->Active()) << "nothing receives on the port any more";

    Form().Button2->click();
    EXPECT_EQ(Window().ListTexts(*Form().ListBox1), (std::vector<QString>{DeviceA.ip}));
    EXPECT_TRUE(Window().WaitForRecord());
    EXPECT_EQ(Window().Boxes().size(), 1u);
}
