// SPDX-License-Identifier: GPL-3.0-or-later
// The device operations of the main window: scan, configuration read, the receive handler through
// which every datagram enters the logic, and the write sequence.
#include "app/Unit1.h"

#include "protocol/ConvertError.h"
#include "adapter/Delay.h"
#include "protocol/DeviceMessages.h"
#include "protocol/WriteSequence.h"
#include "protocol/HexCodec.h"
#include "app/MessageBoxes.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

int ScanPending = 0;
int ReadPending = 0;
std::string LastReplyHex;

namespace {

DelayClock ProgramClock;
OpsClock* OperationsClock = &ProgramClock;

// The framework's list error, raised when a list is read at a row it does not have.
class EListError : public std::runtime_error {
  public:
    explicit EListError(int index)
        : std::runtime_error("List index out of bounds (" + std::to_string(index) + ")") {}
};

std::string SelectedText(const QListWidget& list) {
    const int row = list.currentRow();
    if (row < 0 || row >= list.count()) {
        throw EListError(row);
    }
    return list.item(row)->text().toStdString();
}

// The sender address of the device selected in the lists, or the device IP last written to it (by
// MAC text); no datagram matches while no device is selected.
bool IsSelectedDevice(const QListWidget& ipList, const QListWidget& macList,
                      const std::map<std::string, std::string>& writtenIps, const std::string& senderIp) {
    const int row = ipList.currentRow();
    if (row < 0 || row >= ipList.count() || row >= macList.count()) {
        return false;
    }
    if (ipList.item(row)->text().toStdString() == senderIp) {
        return true;
    }
    const auto written = writtenIps.find(macList.item(row)->text().toStdString());
    return written != writtenIps.end() && written->second == senderIp;
}

std::string DottedText(const Ipv4Octets& octets) {
    return std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." + std::to_string(octets[2]) +
           "." + std::to_string(octets[3]);
}

// Selecting from code raises no click (the lists fire only on user input), so the two lists never
// start reads for each other.
void SelectRow(QListWidget& list, int row) {
    if (row >= 0 && row < list.count()) {
        list.setCurrentRow(row);
    } else {
        list.setCurrentRow(-1);
    }
}

void ShowOctets(const Ipv4Octets& octets, const std::array<QLineEdit*, 4>& edits) {
    for (std::size_t i = 0; i < edits.size(); ++i) {
        edits[i]->setText(QString::number(octets[i]));
    }
}

// A mode or speed code the tables do not know leaves that selection as it was since the read started
// (empty, or what the user picked meanwhile), rather than showing a value the device does not hold.
void ShowConfigRecord(TForm1& form, const std::string& recordHex) {
    const DeviceConfig fields = ReadConfigRecord(recordHex);
    if (const auto entry = ModeEntryForCode(fields.modeCode)) {
        form.SetRadioGroup1ItemIndex(*entry);
    }
    ShowOctets(fields.deviceIp, {form.IP1, form.IP2, form.IP3, form.IP4});
    ShowOctets(fields.subnetMask, {form.ym1, form.ym2, form.ym3, form.ym4});
    ShowOctets(fields.gateway, {form.wg1, form.wg2, form.wg3, form.wg4});
    ShowOctets(fields.remoteIp, {form.YCIP1, form.YCIP2, form.YCIP3, form.YCIP4});
    form.post->setText(QString::number(fields.port));
    if (const auto entry = BaudEntryForCode(fields.baudCode)) {
        form.ComboBox1->setCurrentIndex(*entry);
    }
}

// What the previous device reported must not stay on show for the next one: a write pressed before
// (or without) its record would send those values into it, its device IP included. Empty fields end
// such a write at its first step with the conversion error, before anything is sent.
void ClearConfigFields(TForm1& form) {
    for (QLineEdit* edit :
         {form.IP1, form.IP2, form.IP3, form.IP4, form.ym1, form.ym2, form.ym3, form.ym4, form.wg1, form.wg2,
          form.wg3, form.wg4, form.YCIP1, form.YCIP2, form.YCIP3, form.YCIP4, form.post}) {
        edit->clear();
    }
    form.SetRadioGroup1ItemIndex(-1);
    form.ComboBox1->setCurrentIndex(-1);
}

std::array<std::string, 4> OctetTexts(const std::array<QLineEdit*, 4>& edits) {
    return {edits[0]->text().toStdString(), edits[1]->text().toStdString(), edits[2]->text().toStdString(),
            edits[3]->text().toStdString()};
}

// The edits as the write reads them: at every send, so an edit made during the waits is what the next
// send carries.
class EditedConfig : public ConfigSource {
  public:
    explicit EditedConfig(const TForm1& form) : F(form) {}
    Ipv4Octets Address(CommandCode step) const override {
        switch (step) {
        case CommandCode::SubnetMask:
            return OctetsFromTexts(OctetTexts({F.ym1, F.ym2, F.ym3, F.ym4}));
        case CommandCode::RemoteIp:
            return OctetsFromTexts(OctetTexts({F.YCIP1, F.YCIP2, F.YCIP3, F.YCIP4}));
        case CommandCode::Gateway:
            return OctetsFromTexts(OctetTexts({F.wg1, F.wg2, F.wg3, F.wg4}));
        default:
            return OctetsFromTexts(OctetTexts({F.IP1, F.IP2, F.IP3, F.IP4}));
        }
    }
    uint16_t Port() const override { return PortFromText(F.post->text().toStdString()); }
    std::optional<uint8_t> ModeCode() const override {
        return Code(ModeCodeForEntry(F.RadioGroup1ItemIndex()));
    }
    std::optional<uint8_t> BaudCode() const override {
        return Code(BaudCodeForEntry(F.ComboBox1->currentIndex()));
    }

  private:
    static std::optional<uint8_t> Code(std::optional<int32_t> code) {
        return code ? std::optional(static_cast<uint8_t>(*code)) : std::nullopt;
    }
    const TForm1& F;
};

// The window hears replies only through the receive handler, which keeps the last one: a step's wait
// always runs to its end, and only the last datagram before it ends counts.
class WindowLink : public WriteLink {
  public:
    explicit WindowLink(TForm1& form) : F(form) {}
    void ForgetReplies() override { LastReplyHex.clear(); }
    void Send(CommandCode, const std::string& bytes) override {
        F.IdUDPServer1->Broadcast(bytes, DevicePort);
    }
    void Await(CommandCode, uint32_t waitMs, const std::function<bool(const std::string&)>& take) override {
        OperationsClock->WaitFor(waitMs);
        take(LastReplyHex);
    }

  private:
    TForm1& F;
};

// Keeps the whole window out of the user's reach for one press, and gives it back at every end,
// including an error unwinding towards the report (which must not find a dead window behind it).
class WindowDisabledScope {
  public:
    explicit WindowDisabledScope(QWidget& window) : FWindow(window) { FWindow.setEnabled(false); }
    ~WindowDisabledScope() { FWindow.setEnabled(true); }
    WindowDisabledScope(const WindowDisabledScope&) = delete;
    WindowDisabledScope& operator=(const WindowDisabledScope&) = delete;

  private:
    QWidget& FWindow;
};

} // namespace

void SetOperationsClock(OpsClock* clock) {
    OperationsClock = clock != nullptr ? clock : &ProgramClock;
}

void TForm1::Button2Click(QObject* /*Sender*/) {
    ScanPending = 1;
    ReadPending = 0;
    try {
        ListBox1->clear();
        ListBox2->clear();
        Button1->setEnabled(false);
        SetStatusText(QString());
        IdUDPServer1->Broadcast(ScanRequest(), DevicePort);
        OperationsClock->WaitFor(ScanWaitMs);
        SelectRow(*ListBox1, 0);
        ListBox1Click(nullptr);
    } catch (...) {
        // A scan ends silently whatever went wrong: no device found shows up here as the read's
        // list error, and a failed send needs no box either. Nothing is undone.
    }
}

void TForm1::IdUDPServer1UDPRead(TIdUDPServer& /*Sender*/, TMemoryStream& AData, TIdSocketHandle& ABinding) {
    try {
        LastReplyHex = BytesToHex(AData.ReadAll());
        if (ScanPending == 1) {
            // A reply too short to carry a DeviceId names no device that could be read or written.
            if (const auto mac = MacTextFromScanReply(LastReplyHex)) {
                ListBox1->addItem(QString::fromStdString(ABinding.SenderIP));
                ListBox2->addItem(QString::fromStdString(*mac));
            }
        } else if (ReadPending == 1 &&
                   IsSelectedDevice(*ListBox1, *ListBox2, WrittenDeviceIps, ABinding.SenderIP) &&
                   IsConfigRecord(LastReplyHex)) {
            // Anything else (a late scan reply or acknowledgement, another device, a stranger on the
            // segment) would fill every field with its bytes, and the next write would send them into
            // the selected device; it stays only the last reply, and the read keeps waiting.
            ShowConfigRecord(*this, LastReplyHex);
            ReadPending = 0;
            ScanPending = 0;
        }
    } catch (...) {
        // Nothing raised while taking a datagram in may reach the listener; the flags keep what
        // they had, so the next datagram is read the same way.
    }
}

void TForm1::ListBox1Click(QObject* /*Sender*/) {
    ReadPending = 1;
    ScanPending = 0;
    SelectRow(*ListBox2, ListBox1->currentRow());
    Button1->setEnabled(true);
    const std::string macText = SelectedText(*ListBox2);
    ClearConfigFields(*this);
    IdUDPServer1->Broadcast(ConfigReadRequest(macText), DevicePort);
}

void TForm1::ListBox2Click(QObject* /*Sender*/) {
    SelectRow(*ListBox1, ListBox2->currentRow());
    ListBox1Click(nullptr);
}

void TForm1::Button1Click(QObject* /*Sender*/) {
    const WindowDisabledScope disabled(*this);
    // A read still waiting for its record would take the first acknowledgement as that record and
    // overwrite the very fields the later steps send.
    ReadPending = 0;
    SetStatusText(QString());
    if (ListBox1->currentRow() < 0 || ListBox2->currentRow() < 0) {
        ShowWarning(QString::fromUtf8("要设置的设备不能为空，请选择一个要配置的设备！"));
        return;
    }
    const std::string macText = SelectedText(*ListBox2);
    WindowLink link(*this);
    const EditedConfig edited(*this);
    const WriteOutcome outcome =
        RunWrite(WindowWritePolicy, macText, edited, link, [&](const WriteStepInfo& step, int) {
            if (step.code == CommandCode::DeviceIp) {
                WrittenDeviceIps[macText] = DottedText(edited.Address(CommandCode::DeviceIp));
            }
            SetStatusText(QString::fromUtf8(step.successText));
        });
    if (outcome.failedStep) {
        ShowWarning(QString::fromUtf8(WriteSequence[*outcome.failedStep].warningText));
    }
}
