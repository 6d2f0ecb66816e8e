// The write sequence driven through the real window against simulated devices in the private LAN.
// Every wait here is real time (about a second per send), so each case is chosen to catch a fault the
// others cannot.
#include "DevSimProcess.h"
#include "TestDevices.h"
#include "WindowHarness.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>

namespace {

const QString Done = "设置成功！请重新启动一下设备！";

// Device A's values as its record shows them, as the write sends them back.
const std::vector<std::string> DeviceAUnchanged{DeviceA.Request("01C0A80107"), DeviceA.Request("07FFFFFF00"),
                                                DeviceA.Request("0401FFFFFF"), DeviceA.Request("02C0A801C8"),
                                                DeviceA.Request("03C0A80101"), DeviceA.Request("05901F"),
                                                DeviceA.Request("06FCFFFFFF"), DeviceA.Request("FFFFFFFFFF")};

std::vector<std::string> Repeated(const std::string& hex, int times) {
    return std::vector<std::string>(static_cast<std::size_t>(times), hex);
}

void SetAddress(QLineEdit* a, QLineEdit* b, QLineEdit* c, QLineEdit* d, const QString& dotted) {
    const QStringList parts = dotted.split('.');
    a->setText(parts[0]);
    b->setText(parts[1]);
    c->setText(parts[2]);
    d->setText(parts[3]);
}

class WriteSequence : public ::testing::Test {
  protected:
    // Starts the simulator, scans and waits until the first device's record is shown.
    void StartAndRead(const QStringList& devices) {
        FSim = std::make_unique<DevSimProcess>(devices);
        ASSERT_TRUE(FSim->Ready()) << FSim->Failure();
        FWindow = std::make_unique<WindowHarness>();
        Form().Button2->click();
        ASSERT_TRUE(FWindow->WaitForRecord());
        ASSERT_TRUE(FSim->WaitForLogLines(2, 3000));
    }

    // Selects a listed device the way a user does and waits for its record.
    void SelectDevice(const TestDevice& device) {
        QListWidget& macs = *Form().ListBox2;
        const auto rows = macs.findItems(device.mac, Qt::MatchExactly);
        ASSERT_EQ(rows.size(), 1);
        FWindow->ClickRow(macs, macs.row(rows[0]));
        ASSERT_TRUE(FWindow->WaitForRecord());
        ASSERT_EQ(FWindow->FieldsText(), device.fields);
    }

    void ClickRow(QListWidget& list, int row) { FWindow->ClickRow(list, row); }

    // Presses Set; returns how long the press lasted in ms.
    qint64 Press() {
        FLogMark = FSim->Log().size();
        FSeenMark = FWindow->Datagrams().size();
        FBoxMark = FWindow->Boxes().size();
        QElapsedTimer clock;
        clock.start();
        Form().Button1->click();
        return clock.elapsed();
    }

    std::vector<DevSimLogLine> SentByPress() const {
        const auto log = FSim->Log();
        return {log.begin() + static_cast<std::ptrdiff_t>(FLogMark), log.end()};
    }
    std::vector<std::string> SentHex() const {
        std::vector<std::string> hex;
        for (const DevSimLogLine& line : SentByPress()) {
            EXPECT_EQ(line.source, Workstation);
            hex.push_back(line.hex);
        }
        return hex;
    }
    std::vector<SeenDatagram> SeenByPress() const {
        const auto& seen = FWindow->Datagrams();
        return {seen.begin() + static_cast<std::ptrdiff_t>(FSeenMark), seen.end()};
    }
    std::vector<SeenBox> BoxesOfPress() const {
        const auto& boxes = FWindow->Boxes();
        return {boxes.begin() + static_cast<std::ptrdiff_t>(FBoxMark), boxes.end()};
    }
    // Sends of one press are a wait apart at least: an early acknowledgement never cuts a wait short.
    void ExpectSendsAWaitApart() const {
        const auto sent = SentByPress();
        for (std::size_t i = 1; i < sent.size(); ++i) {
            EXPECT_GE(sent[i].ms - sent[i - 1].ms, 900) << "send " << i + 1;
        }
    }
    void ExpectOneWarning(const QString& text, const QString& status) const {
        const auto boxes = BoxesOfPress();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].box.kind, BoxKind::Warning);
        EXPECT_EQ(boxes[0].box.text, text);
        EXPECT_EQ(boxes[0].statusText, status);
        EXPECT_FALSE(boxes[0].windowEnabled) << "the window comes back only when the box is closed";
        EXPECT_TRUE(Form().isEnabled());
    }

    TForm1& Form() const { return FWindow->Form(); }
    DevSimProcess& Sim() const { return *FSim; }

  private:
    std::unique_ptr<DevSimProcess> FSim;
    std::unique_ptr<WindowHarness> FWindow;
    std::size_t FLogMark = 0;
    std::size_t FSeenMark = 0;
    std::size_t FBoxMark = 0;
};

} // namespace

TEST_F(WriteSequence, EveryCommandAcknowledgedAtOnceSendsTheEditedValuesInStepOrder) {
    // B never answers a read, so the press starts with a read still awaiting its record: no
    // acknowledgement may be taken for that record, or the fields the later steps send would change.
    ASSERT_NO_FATAL_FAILURE(StartAndRead(DeviceA.Args() + DeviceB.Args("delay=400,noack=0A")));
    ASSERT_EQ(Form().ListBox2->item(1)->text(), DeviceB.mac);
    const auto before = Sim().State();
    TForm1& f = Form();
    ClickRow(*f.ListBox2, 1);
    ASSERT_EQ(ReadPending, 1);
    ASSERT_TRUE(Sim().WaitForLogLines(3, 3000)) << "B's read request";
    SetAddress(f.IP1, f.IP2, f.IP3, f.IP4, "192.168.5.20");
    SetAddress(f.ym1, f.ym2, f.ym3, f.ym4, "255.255.0.0");
    SetAddress(f.YCIP1, f.YCIP2, f.YCIP3, f.YCIP4, "10.1.2.3");
    SetAddress(f.wg1, f.wg2, f.wg3, f.wg4, "192.168.5.1");
    f.SetRadioGroup1ItemIndex(2);
    f.post->setText("4660");
    f.ComboBox1->setCurrentIndex(4);

    Press();

    EXPECT_EQ(SentHex(),
              (std::vector<std::string>{DeviceB.Request("01C0A80514"), DeviceB.Request("07FFFF0000"),
                                        DeviceB.Request("0402FFFFFF"), DeviceB.Request("020A010203"),
                                        DeviceB.Request("03C0A80501"), DeviceB.Request("053412"),
                                        DeviceB.Request("06E8FFFFFF"), DeviceB.Request("FFFFFFFFFF")}));
    ExpectSendsAWaitApart();
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
    EXPECT_EQ(f.StatusText(), Done);
    EXPECT_TRUE(f.isEnabled());
    EXPECT_TRUE(BoxesOfPress().empty());
    EXPECT_EQ(ReadPending, 0);
    const auto state = Sim().State();
    EXPECT_EQ(state.at(DeviceB.id), "ip=10.77.1.12 mode=02 port=4660 devip=192.168.5.20 remoteip=10.1.2.3 "
                                    "gateway=192.168.5.1 mask=255.255.0.0 baud=E8");
    EXPECT_EQ(state.at(DeviceA.id), before.at(DeviceA.id))
        << "the other device heard every broadcast and took none of it";
}

TEST_F(WriteSequence, WritingBackWhatWasReadLeavesTheDeviceUnchanged) {
    ASSERT_NO_FATAL_FAILURE(StartAndRead(DeviceB.Args()));
    const auto before = Sim().State();
    ASSERT_EQ(before.count(DeviceB.id), 1u);

    Press();

    EXPECT_EQ(SentHex(),
              (std::vector<std::string>{DeviceB.Request("010A000005"), DeviceB.Request("07FF000000"),
                                        DeviceB.Request("0404FFFFFF"), DeviceB.Request("020A000009"),
                                        DeviceB.Request("030A000001"), DeviceB.Request("05F601"),
                                        DeviceB.Request("0640FFFFFF"), DeviceB.Request("FFFFFFFFFF")}));
    EXPECT_EQ(Form().StatusText(), Done);
    EXPECT_EQ(Sim().State(), before);
}

TEST_F(WriteSequence, UnansweredStepSendsTenTimesWarnsAndSendsNothingElse) {
    ASSERT_NO_FATAL_FAILURE(StartAndRead(DeviceA.Args("noack=01")));
    const auto before = Sim().State();

    Press();

    EXPECT_EQ(SentHex(), Repeated(DeviceAUnchanged[0], 10));
    ExpectSendsAWaitApart();
    ExpectOneWarning("IP写入缓冲区失败！", "");
    EXPECT_EQ(Form().StatusText(), "");
    EXPECT_EQ(Sim().State(), before);
}

TEST_F(WriteSequence, FirstAnswerToTheNinthSendIsSeen) {
    ASSERT_NO_FATAL_FAILURE(StartAndRead(DeviceA.Args("ackfrom=01:9")));

    Press();

    std::vector<std::string> expected = Repeated(DeviceAUnchanged[0], 9);
    expected.insert(expected.end(), DeviceAUnchanged.begin() + 1, DeviceAUnchanged.end());
    EXPECT_EQ(SentHex(), expected);
    EXPECT_EQ(Form().StatusText(), Done);
    EXPECT_TRUE(BoxesOfPress().empty());
}

TEST_F(WriteSequence, AnswerToTheTenthSendOnlyIsNeverSeen) {
    ASSERT_NO_FATAL_FAILURE(StartAndRead(DeviceA.Args("ackfrom=01:10")));

    Press();

    EXPECT_EQ(SentHex(), Repeated(DeviceAUnchanged[0], 10));
    ExpectOneWarning("IP写入缓冲区失败！", "");
}

TEST_F(WriteSequence, WrongAcknowledgementOrRightOneFollowedByAnotherDatagramIsNotAccepted) {
    ASSERT_NO_FATAL_FAILURE(StartAndRead(DeviceA.Args("wrongack=01:07") + DeviceB.Args("delay=400,stray=1")));

    Press();

    EXPECT_EQ(SentHex(), Repeated(DeviceAUnchanged[0], 10));
    ExpectOneWarning("IP写入缓冲区失败！", "");

    ASSERT_NO_FATAL_FAILURE(SelectDevice(DeviceB));
    Press();

    EXPECT_EQ(SentHex(), Repeated(DeviceB.Request("010A000005"), 10));
    const auto seen = SeenByPress();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].hex, "01010D0A") << "the right acknowledgement did come, before its trailer";
    ExpectOneWarning("IP写入缓冲区失败！", "");
}

TEST_F(WriteSequence, NoSpeedSelectedWritesStepsOneToSixThenSendsNothingForTheSpeed) {
    ASSERT_NO_FATAL_FAILURE(StartAndRead(DeviceA.Args()));
    const auto before = Sim().State();
    Form().ComboBox1->setCurrentIndex(-1);
    Form().post->setText("65535");

    const qint64 ms = Press();

    std::vector<std::string> expected(DeviceAUnchanged.begin(), DeviceAUnchanged.begin() + 6);
    expected[5] = DeviceA.Request("05FFFF");
    EXPECT_EQ(SentHex(), expected);
    EXPECT_GE(ms, 15900) << "six acknowledged steps, then ten waits of the speed step with nothing sent";
    ExpectOneWarning("波特率写入缓冲区失败！", "端口号写入成功！");
    EXPECT_EQ(Sim().State(), before) << "nothing committed";
}

TEST_F(WriteSequence, EmptyAddressOrPortOutOfRangeEndsThePressWithTheConversionErrorAtItsStep) {
    ASSERT_NO_FATAL_FAILURE(StartAndRead(DeviceA.Args()));
    Form().IP1->clear();

    Press();

    EXPECT_TRUE(SentHex().empty());
    auto boxes = BoxesOfPress();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].box.kind, BoxKind::ErrorReport);
    EXPECT_EQ(boxes[0].box.text, "'' is not a valid integer value.");
    EXPECT_TRUE(boxes[0].windowEnabled) << "the window is usable again before the report shows";
    EXPECT_EQ(boxes[0].statusText, "");

    Form().IP1->setText("192");
    Form().ym1->clear();
    Press();

    EXPECT_EQ(SentHex(), (std::vector<std::string>{DeviceAUnchanged[0]}));
    boxes = BoxesOfPress();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].box.kind, BoxKind::ErrorReport);
    EXPECT_EQ(boxes[0].box.text, "'' is not a valid integer value.");
    EXPECT_TRUE(boxes[0].windowEnabled);
    EXPECT_EQ(boxes[0].statusText, "IP写入成功！");

    // Cut to its low 16 bits, 70000 would be written as port 4464 and reported as written.
    Form().ym1->setText("255");
    Form().post->setText("70000");
    Press();

    EXPECT_EQ(SentHex(), std::vector<std::string>(DeviceAUnchanged.begin(), DeviceAUnchanged.begin() + 5));
    boxes = BoxesOfPress();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].box.kind, BoxKind::ErrorReport);
    EXPECT_EQ(boxes[0].box.text, "'70000' is not a valid integer value.");
    EXPECT_TRUE(boxes[0].windowEnabled);
    EXPECT_EQ(boxes[0].statusText, "网关写入成功！");
    EXPECT_TRUE(Form().isEnabled());
    EXPECT_EQ(Form().StatusText(), "网关写入成功！");
}
