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

// The window's four octet edits of each address field, by the step that writes it.
struct AddressEditsRow {
    CommandCode step;
    std::array<QLineEdit * TForm1::*, 4> edits;
};
const AddressEditsRow AddressEditsRows[] = {
    {CommandCode::DeviceIp, {&TForm1::IP1, &TForm1::IP2, &TForm1::IP3, &TForm1::IP4}},
    {CommandCode::SubnetMask, {&TForm1::ym1, &TForm1::ym2, &TForm1::ym3, &TForm1::ym4}},
    {CommandCode::Gateway, {&TForm1::wg1, &TForm1::wg2, &TForm1::wg3, &TForm1::wg4}},
    {CommandCode::RemoteIp, {&TForm1::YCIP1, &TForm1::YCIP2, &TForm1::YCIP3, &TForm1::YCIP4}},
};

std::array<QLineEdit*, 4> AddressEdits(const TForm1& form, CommandCode step) {
    for (const AddressEditsRow& row : AddressEditsRows) {
        if (row.step == step) {
            return {form.*row.edits[0], form.*row.edits[1], form.*row.edits[2], form.*row.edits[3]};
        }
    }
    throw std::logic_error("no edits for an address field");
}

// A mode or speed code the tables do not know leaves that selection as it was since the read started
// (empty, or what the user picked meanwhile), rather than showing a value the device does not hold.
void ShowConfigRecord(TForm1& form, const std::string& recordHex) {
    const DeviceConfig config = ReadConfigRecord(recordHex);
    for (const ConfigField& field : ConfigFields) {
        const FieldValue value = field.get(config);
        switch (field.kind) {
        case FieldKind::Address: {
            const Ipv4Octets octets = ValueOctets(value);
            const auto edits = AddressEdits(form, field.step);
            for (std::size_t i = 0; i < edits.size(); ++i) {
                edits[i]->setText(QString::number(octets[i]));
            }
            break;
        }
        case FieldKind::Port:
            form.post->setText(QString::number(value));
            break;
        case FieldKind::Mode:
            if (const auto entry = ModeEntryForCode(static_cast<int32_t>(value))) {
                form.SetRadioGroup1ItemIndex(*entry);
            }
            break;
        case FieldKind::Speed:
            if (const auto entry = BaudEntryForCode(static_cast<int32_t>(value))) {
                form.ComboBox1->setCurrentIndex(*entry);
            }
            break;
        }
    }
}

// What the previous device reported must not stay on show for the next one: a write pressed before
// (or without) its record would send those values into it, its device IP included. Empty fields end
// such a write at its first step with the conversion error, before anything is sent.
void ClearConfigFields(TForm1& form) {
    for (const AddressEditsRow& row : AddressEditsRows) {
        for (QLineEdit* edit : AddressEdits(form, row.step)) {
            edit->clear();
        }
    }
    form.post->clear();
    form.SetRadioGroup1ItemIndex(-1);
    form.ComboBox1->setCurrentIndex(-1);
}

// The edits as the write reads them: at every send, so an edit made during the waits is what the next
// send carries.
class EditedConfig : public ConfigSource {
  public:
    explicit EditedConfig(const TForm1& form) : F(form) {}
    std::optional<FieldValue> Value(const ConfigField& field) const override {
        switch (field.kind) {
        case FieldKind::Address: {
            const auto edits = AddressEdits(F, field.step);
            return OctetsValue(
                OctetsFromTexts({edits[0]->text().toStdString(), edits[1]->text().toStdString(),
                                 edits[2]->text().toStdString(), edits[3]->text().toStdString()}));
        }
        case FieldKind::Port:
            return PortFromText(F.post->text().toStdString());
        case FieldKind::Mode:
            return Code(ModeCodeForEntry(F.RadioGroup1ItemIndex()));
        case FieldKind::Speed:
            return Code(BaudCodeForEntry(F.ComboBox1->currentIndex()));
        }
        return std::nullopt;
    }

  private:
    static std::optional<FieldValue> Code(std::optional<int32_t> code) {
        return code ? std::optional(static_cast<FieldValue>(*code)) : std::nullopt;
    }
    const TForm1& F;
};

// The window's words for each write step: the status bar after its acknowledgement, the warning box
// when its sends run out.
struct WriteStepTexts {
    CommandCode step;
    const char* success;
    const char* warning;
};
const WriteStepTexts StepTexts[] = {
    {CommandCode::DeviceIp, "IP写入成功！", "IP写入缓冲区失败！"},
    {CommandCode::SubnetMask, "子掩码写入成功！", "子掩码写入缓冲区失败！"},
    {CommandCode::NetworkMode, "网络模式写入成功！", "网络模式写入缓冲区失败！"},
    {CommandCode::RemoteIp, "远程IP写入成功！", "远程IP写入缓冲区失败！"},
    {CommandCode::Gateway, "网关写入成功！", "网关写入缓冲区失败！"},
    {CommandCode::LocalPort, "端口号写入成功！", "端口号写入缓冲区失败！"},
    {CommandCode::SerialSpeed, "波特率写入成功！", "波特率写入缓冲区失败！"},
    {CommandCode::Commit, "设置成功！请重新启动一下设备！", "设置失败！"},
};

const WriteStepTexts& TextsOf(CommandCode step) {
    for (const WriteStepTexts& texts : StepTexts) {
        if (texts.step == step) {
            return texts;
        }
    }
    throw std::logic_error("no texts for a write step");
}

// The window hears replies only through the receive handler, which keeps the last one: a step's wait
// always runs to its end, and only the last datagram before it ends counts.
class WindowLink : public WriteLink {
  public:
    explicit WindowLink(TForm1& form) : F(form) {}
    void ForgetReplies() override { LastReplyHex.clear(); }
    void Send(CommandCode step, const std::string& bytes) override {
        F.IdUDPServer1->Broadcast(bytes, DevicePort);
        if (step == CommandCode::DeviceIp) {
            const std::string ip = bytes.substr(FrameParamOffset, 4);
            SentDeviceIp = DottedText({static_cast<uint8_t>(ip[0]), static_cast<uint8_t>(ip[1]),
                                       static_cast<uint8_t>(ip[2]), static_cast<uint8_t>(ip[3])});
        }
    }
    // The device IP the last send of its step carried: what an acknowledgement of that step took.
    std::string SentDeviceIp;
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
    const WriteOutcome outcome =
        RunWrite(WindowWritePolicy, macText, EditedConfig(*this), link, [&](const WriteStepInfo& step, int) {
            if (step.code == CommandCode::DeviceIp) {
                WrittenDeviceIps[macText] = link.SentDeviceIp;
            }
            SetStatusText(QString::fromUtf8(TextsOf(step.code).success));
        });
    if (outcome.failedStep) {
        ShowWarning(QString::fromUtf8(TextsOf(WriteSequence[*outcome.failedStep].code).warning));
    }
}
