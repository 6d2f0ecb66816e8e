// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary datagram sequences through the receive handler of a real (offscreen) main window, in each
// of the three states that decide how a datagram is read. The window is never opened by FormCreate,
// so its endpoint binds nothing: the handler is called the way a delivery calls it.
//
// Input: a sequence of records, each
//   op (1 byte): bits 0-1 the state set before the datagram (0 keep what the last datagram left,
//                1 Idle, 2 Collecting, 3 Awaiting record); bits 2-3 the sender address; with state 3,
//                bits 4-6 the selected device entry (7: none; an empty list gets one at the first
//                sender address first)
//   length (2 bytes, low first), clamped to what is left and to the 8192 bytes a delivery can hold
//   the datagram itself
// A broken invariant aborts so the fuzzer keeps the input.
#include "protocol/HexCodec.h"
#include "net/IdSocketHandle.h"
#include "net/IdUDPServer.h"
#include "net/MainThreadQueue.h"
#include "net/MemoryStream.h"
#include "app/MessageBoxes.h"
#include "app/Unit1.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

enum class State { Idle, Collecting, AwaitingRecord };

constexpr std::size_t MaxDatagram = 8192;

const std::array<const char*, 4> Senders{"10.77.1.11", "0.0.0.0", "255.255.255.255", "192.168.100.254"};

struct Fixture {
    // Qt keeps a reference to argc and argv for the life of the application object.
    int argc = 1;
    char name[16] = "fuzz_receive";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> application;
    std::unique_ptr<TForm1> form;
    TIdSocketHandle binding{60001};
};

Fixture& TheFixture() {
    static Fixture fixture;
    return fixture;
}

void SetState(State state) {
    ScanPending = state == State::Collecting ? 1 : 0;
    ReadPending = state == State::AwaitingRecord ? 1 : 0;
}

State CurrentState() {
    if (ScanPending == 1)
        return State::Collecting;
    if (ReadPending == 1)
        return State::AwaitingRecord;
    return State::Idle;
}

bool IsNumberIn(const QLineEdit& edit, int low, int high) {
    bool ok = false;
    const int value = edit.text().toInt(&ok);
    return ok && value >= low && value <= high;
}

bool IsMacText(const QString& text) {
    if (text.size() != 17 || !text.startsWith("00"))
        return false;
    for (int i = 2; i < 17; i += 3) {
        if (text[i] != '-')
            return false;
        for (int d = 1; d <= 2; ++d) {
            if (!QString("0123456789ABCDEF").contains(text[i + d]))
                return false;
        }
    }
    return true;
}

// The device whose read is under way: entry `choice` of the lists (modulo their length), none for 7.
void SelectDevice(Fixture& fx, int choice) {
    TForm1& form = *fx.form;
    if (form.ListBox1->count() == 0) {
        form.ListBox1->addItem(Senders[0]);
        form.ListBox2->addItem("00-1A-2B-3C-4D-01");
    }
    const int row = choice == 7 ? -1 : choice % form.ListBox1->count();
    form.ListBox1->setCurrentRow(row);
    form.ListBox2->setCurrentRow(row);
}

void Deliver(Fixture& fx, const std::string& datagram, const char* sender) {
    TForm1& form = *fx.form;
    const State before = CurrentState();
    const int listed = form.ListBox1->count();
    const QString portBefore = form.post->text();
    const int selected = form.ListBox1->currentRow();
    const bool fromSelected = selected >= 0 && form.ListBox1->item(selected)->text() == QString(sender);

    TMemoryStream data;
    data.SetSize(datagram.size());
    if (!datagram.empty())
        std::memcpy(data.Memory(), datagram.data(), datagram.size());
    data.SetPosition(0);
    fx.binding.SenderIP = sender;
    form.IdUDPServer1UDPRead(*form.IdUDPServer1, data, fx.binding);

    // Whatever the state, the datagram is the last reply.
    Check(LastReplyHex == BytesToHex(datagram));
    Check(form.ListBox1->count() == form.ListBox2->count());

    switch (before) {
    case State::Idle:
        Check(CurrentState() == State::Idle);
        Check(form.ListBox1->count() == listed);
        Check(form.post->text() == portBefore);
        break;
    case State::Collecting: {
        Check(CurrentState() == State::Collecting);
        // Too short to name a device: not listed. Anything else: listed once, beside its sender.
        const int expected = listed + (datagram.size() >= 5 ? 1 : 0);
        Check(form.ListBox1->count() == expected);
        if (expected > listed) {
            Check(form.ListBox1->item(listed)->text() == QString(sender));
            Check(IsMacText(form.ListBox2->item(listed)->text()));
        }
        break;
    }
    case State::AwaitingRecord:
        Check(form.ListBox1->count() == listed);
        if (!fromSelected || datagram.size() < 57) {
            // Not the selected device, or too short to be a record: the read goes on waiting, and the
            // fields keep what they had.
            Check(CurrentState() == State::AwaitingRecord);
            Check(form.post->text() == portBefore);
            break;
        }
        // Any datagram of record length from the selected device is the record, and taking it ends
        // the read.
        Check(CurrentState() == State::Idle);
        for (const QLineEdit* edit :
             {form.IP1, form.IP2, form.IP3, form.IP4, form.ym1, form.ym2, form.ym3, form.ym4, form.wg1,
              form.wg2, form.wg3, form.wg4, form.YCIP1, form.YCIP2, form.YCIP3, form.YCIP4})
            Check(IsNumberIn(*edit, 0, 255));
        Check(IsNumberIn(*form.post, 0, 65535));
        Check(form.ComboBox1->currentIndex() >= -1 &&
              form.ComboBox1->currentIndex() < form.ComboBox1->count());
        Check(form.RadioGroup1ItemIndex() >= -1 && form.RadioGroup1ItemIndex() < 4);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Fixture& fx = TheFixture();
    fx.application = std::make_unique<QApplication>(fx.argc, fx.argv);
    SetMainThread();
    // The receive handler shows nothing; a box out of it would block a real user's window.
    SetMessageBoxHook([](const BoxRecord&) { std::abort(); });
    fx.form = std::make_unique<TForm1>();
    Form1 = fx.form.get();
    Check(!fx.form->IdUDPServer1->Active());
    std::atexit([] {
        Fixture& f = TheFixture();
        Form1 = nullptr;
        f.form.reset();
        SetMessageBoxHook({});
        f.application.reset();
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Fixture& fx = TheFixture();
    fx.form->ListBox1->clear();
    fx.form->ListBox2->clear();
    LastReplyHex.clear();
    SetState(State::Idle);

    std::size_t at = 0;
    while (at < size) {
        const uint8_t op = data[at++];
        std::size_t length = 0;
        if (at < size)
            length = data[at++];
        if (at < size)
            length |= static_cast<std::size_t>(data[at++]) << 8;
        length = std::min({length, size - at, MaxDatagram});
        const std::string datagram(reinterpret_cast<const char*>(data + at), length);
        at += length;

        switch (op & 3) {
        case 1:
            SetState(State::Idle);
            break;
        case 2:
            SetState(State::Collecting);
            break;
        case 3:
            SetState(State::AwaitingRecord);
            SelectDevice(fx, (op >> 4) & 7);
            break;
        default:
            break;
        }
        Deliver(fx, datagram, Senders[(op >> 2) & 3]);
    }
    return 0;
}
