// SPDX-License-Identifier: GPL-3.0-or-later
// The real window against the device simulator in the private LAN, through the real socket layer and
// the real waits: one scan, one read, one full write, one retry, one step never acknowledged. Every
// other case of these operations runs on the fake socket layer in virtual time (tests/app).
#include "DevsimHarness.h"
#include "TestDevices.h"
#include "WindowHarness.h"

#include "protocol/HexCodec.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>

namespace {

class EndToEnd : public ::testing::Test {
  protected:
    void Start(const std::vector<std::string>& profiles) {
        FSim = std::make_unique<DevsimProcess>(DeviceArgs(profiles));
        ASSERT_TRUE(FSim->Started()) << FSim->Failure();
        FWindow = std::make_unique<WindowHarness>();
    }
    // Starts the simulator, scans and waits until the first device's record is shown.
    void StartAndRead(const std::vector<std::string>& profiles) {
        ASSERT_NO_FATAL_FAILURE(Start(profiles));
        Form().Button2->click();
        ASSERT_TRUE(Window().WaitForRecord());
        ASSERT_TRUE(WaitForHeard(2));
    }
    bool WaitForHeard(std::size_t count) {
        return Window().WaitFor([&] { return FSim->Log().size() >= count; }, 3000);
    }
    // What the simulator heard from the mark on, each from the workstation's port.
    std::vector<std::string> Heard(std::size_t mark = 0) const {
        std::vector<std::string> hex;
        const auto log = FSim->Log();
        for (std::size_t i = mark; i < log.size(); ++i) {
            EXPECT_EQ(log[i].source, Workstation);
            hex.push_back(log[i].hex);
        }
        return hex;
    }

    void Press() {
        FLogMark = FSim->Log().size();
        FBoxMark = Window().Boxes().size();
        Form().Button1->click();
    }
    std::vector<std::string> HeardByPress() const { return Heard(FLogMark); }
    // Sends of one press are a real wait apart at least: an early acknowledgement never cuts one short.
    void ExpectSendsAWaitApart() const {
        const auto log = FSim->Log();
        for (std::size_t i = FLogMark + 1; i < log.size(); ++i) {
            EXPECT_GE(log[i].ms - log[i - 1].ms, 900) << "send " << i - FLogMark + 1;
        }
    }

    TForm1& Form() const { return FWindow->Form(); }
    WindowHarness& Window() const { return *FWindow; }
    DevsimProcess& Sim() const { return *FSim; }

    std::size_t FBoxMark = 0;

  private:
    std::unique_ptr<DevsimProcess> FSim;
    std::unique_ptr<WindowHarness> FWindow;
    std::size_t FLogMark = 0;
};

} // namespace

TEST_F(EndToEnd, ScanListsInArrivalOrderAndEitherListReadsTheOther) {
    // A answers late, so B is first although A has the lower address.
    ASSERT_NO_FATAL_FAILURE(Start({DeviceA.Profile("delay=300"), DeviceB.Profile()}));
    TForm1& form = Form();
    QElapsedTimer clock;
    clock.start();

    form.Button2->click();

    EXPECT_GE(clock.elapsed(), 1500) << "the scan waits its whole time";
    EXPECT_EQ(Window().ListTexts(*form.ListBox1), (std::vector<QString>{DeviceB.ip, DeviceA.ip}));
    EXPECT_EQ(Window().ListTexts(*form.ListBox2), (std::vector<QString>{DeviceB.mac, DeviceA.mac}));
    ASSERT_TRUE(Window().WaitForRecord());
    EXPECT_EQ(Window().FieldsText(), DeviceB.fields);

    Window().ClickRow(*form.ListBox2, 1);
    EXPECT_EQ(form.ListBox1->currentRow(), 1);
    ASSERT_TRUE(Window().WaitForRecord());
    EXPECT_EQ(Window().FieldsText(), DeviceA.fields);

    ASSERT_TRUE(WaitForHeard(3));
    EXPECT_EQ(Heard(),
              (std::vector<std::string>{ScanRequestHex, ReadRequestHex(DeviceB), ReadRequestHex(DeviceA)}));
    EXPECT_TRUE(Window().Boxes().empty());
}

TEST_F(EndToEnd, ReadTakesItsRecordOnlyFromTheSelectedDevicesAddress) {
    // A is listed and selected but never answers its read, so the read keeps awaiting its record.
    ASSERT_NO_FATAL_FAILURE(Start({DeviceA.Profile("noack=0A")}));
    TForm1& form = Form();
    form.Button2->click();
    ASSERT_EQ(Window().ListTexts(*form.ListBox1), std::vector<QString>{DeviceA.ip});
    ASSERT_EQ(ReadPending, 1);
    form.SetRadioGroup1ItemIndex(2);
    form.ComboBox1->setCurrentIndex(5);
    const std::string untouched = Window().FieldsText();

    const std::string stranger = RecordBytes(0x04, 0x40);
    SendFromAddress("10.77.1.50", stranger);
    ASSERT_TRUE(Window().WaitFor([&] { return LastReplyHex == BytesToHex(stranger); }, 5000));
    EXPECT_EQ(Window().FieldsText(), untouched);
    EXPECT_EQ(ReadPending, 1);

    SendFromAddress(DeviceA.ip, RecordBytes(0x03, 0x00));
    ASSERT_TRUE(Window().WaitForRecord());
    EXPECT_EQ(Window().FieldsText(), "mode=2 devip=192.168.1.7 mask=255.255.255.0 gateway=192.168.1.1 "
                                     "remoteip=10.0.0.9 port=8080 speed=5");
    EXPECT_TRUE(Window().Boxes().empty());
}

TEST_F(EndToEnd, FullWriteSendsTheEditedValuesInStepOrderAndTheDeviceCommitsThem) {
    ASSERT_NO_FATAL_FAILURE(StartAndRead({DeviceA.Profile(), DeviceB.Profile("delay=200")}));
    const auto before = Sim().Devices();
    TForm1& f = Form();
    ASSERT_EQ(f.ListBox2->item(1)->text(), DeviceB.mac);
    Window().ClickRow(*f.ListBox2, 1);
    ASSERT_TRUE(Window().WaitForRecord());
    EnterEditedConfiguration(f);

    Press();

    EXPECT_EQ(HeardByPress(),
              (std::vector<std::string>{DeviceB.Request("01C0A80514"), DeviceB.Request("07FFFF0000"),
                                        DeviceB.Request("0402FFFFFF"), DeviceB.Request("020A010203"),
                                        DeviceB.Request("03C0A80501"), DeviceB.Request("053412"),
                                        DeviceB.Request("06E8FFFFFF"), DeviceB.Request("FFFFFFFFFF")}));
    ExpectSendsAWaitApart();
    EXPECT_EQ(f.StatusText(), WriteDone);
    EXPECT_TRUE(f.isEnabled());
    EXPECT_TRUE(Window().Boxes().empty());
    const auto state = Sim().Devices();
    EXPECT_EQ(state.at(DeviceB.id), "from=10.77.1.12 ip=192.168.5.20 mask=255.255.0.0 gateway=192.168.5.1 "
                                    "remote_ip=10.1.2.3 port=4660 mode=02 baud=E8");
    EXPECT_EQ(state.at(DeviceA.id), before.at(DeviceA.id));
}

TEST_F(EndToEnd, StepAnsweredOnlyAtItsSecondSendIsSentAgainThenTheWriteGoesOn) {
    ASSERT_NO_FATAL_FAILURE(StartAndRead({DeviceB.Profile("ackfrom=01:2")}));
    const auto before = Sim().Devices();

    Press();

    EXPECT_EQ(HeardByPress(),
              (std::vector<std::string>{
                  DeviceB.Request("010A000005"), DeviceB.Request("010A000005"), DeviceB.Request("07FF000000"),
                  DeviceB.Request("0404FFFFFF"), DeviceB.Request("020A000009"), DeviceB.Request("030A000001"),
                  DeviceB.Request("05F601"), DeviceB.Request("0640FFFFFF"), DeviceB.Request("FFFFFFFFFF")}));
    EXPECT_EQ(Form().StatusText(), WriteDone);
    EXPECT_TRUE(Window().Boxes().empty());
    EXPECT_EQ(Sim().Devices(), before) << "what was read, written back";
}

TEST_F(EndToEnd, StepNeverAcknowledgedIsSentTenTimesThenWarns) {
    ASSERT_NO_FATAL_FAILURE(StartAndRead({DeviceA.Profile("noack=01")}));
    const auto before = Sim().Devices();

    Press();

    EXPECT_EQ(HeardByPress(), std::vector<std::string>(10, DeviceA.Request("01C0A80107")));
    ExpectSendsAWaitApart();
    const auto& boxes = Window().Boxes();
    ASSERT_EQ(boxes.size(), FBoxMark + 1);
    EXPECT_EQ(boxes.back().kind, BoxKind::Warning);
    EXPECT_EQ(boxes.back().text, "IP写入缓冲区失败！");
    EXPECT_FALSE(boxes.back().windowEnabled) << "the window comes back only when the box is closed";
    EXPECT_TRUE(Form().isEnabled());
    EXPECT_EQ(Sim().Devices(), before);
}
