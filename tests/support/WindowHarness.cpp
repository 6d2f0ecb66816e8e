// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowHarness.h"

#include "FakeNetwork.h"
#include "QtTestMain.h"
#include "protocol/HexCodec.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

void RecordNoBoxes() {
    SetMessageBoxHook([](const BoxRecord& box) {
        ADD_FAILURE() << "box shown with no window: " << box.text.toStdString();
    });
}

WindowHarness::WindowHarness(WindowOptions options) : FOptions(options) {
    ScanPending = 0;
    ReadPending = 0;
    LastReplyHex.clear();
    ReinstallQtWakeUp();
    SetMessageBoxHook([this](const BoxRecord& box) {
        FBoxes.push_back({box, FForm && FForm->isEnabled(), FForm ? FForm->StatusText() : QString()});
    });
    if (FOptions.virtualTime != nullptr) {
        SetOperationsClock(&FClock);
    }
    FForm = std::make_unique<TForm1>();
    Form1 = FForm.get();
    if (FOptions.create) {
        FForm->FormCreate(FForm.get());
    }
    auto deliver = FForm->IdUDPServer1->OnUDPRead;
    FForm->IdUDPServer1->OnUDPRead = [this, deliver](TIdUDPServer& sender, TMemoryStream& data,
                                                     TIdSocketHandle& binding) {
        ++FDeliveries;
        if (OnDelivery) {
            OnDelivery(binding.SenderIP, data.Size());
        }
        if (FOptions.recordDatagrams) {
            FDatagrams.push_back(
                {binding.SenderIP,
                 BytesToHex(std::string(reinterpret_cast<const char*>(data.Memory()), data.Size())),
                 FForm->StatusText(), FForm->isEnabled(), FForm->Button1->isEnabled()});
        }
        deliver(sender, data, binding);
    };
    if (FOptions.show) {
        FForm->show();
        if (!QTest::qWaitForWindowExposed(FForm.get())) {
            FForm->activateWindow();
        }
    }
}

WindowHarness::~WindowHarness() {
    Close();
}

void WindowHarness::Close() {
    if (!FForm) {
        return;
    }
    FForm->ShutdownEndpoint();
    Form1 = nullptr;
    FForm.reset();
    if (FOptions.virtualTime != nullptr) {
        SetOperationsClock(nullptr);
    }
    RecordNoBoxes();
}

void WindowHarness::ShowActive() {
    FForm->show();
    FForm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(FForm.get()));
}

void WindowHarness::ClickInto(QWidget& widget) {
    QTest::mouseClick(&widget, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == &widget; }, 2000));
}

void WindowHarness::ClickRow(QListWidget& list, int row) {
    const QRect rect = list.visualItemRect(list.item(row));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

void WindowHarness::ClickDevice(int row) {
    FForm->ListBox2->setCurrentRow(row);
    FForm->ListBox2Click(FForm->ListBox2);
}

int WindowHarness::ListedRow(const QString& ip, const QString& mac) const {
    for (int row = 0; row < FForm->ListBox1->count() && row < FForm->ListBox2->count(); ++row) {
        if (FForm->ListBox1->item(row)->text() == ip && FForm->ListBox2->item(row)->text() == mac) {
            return row;
        }
    }
    return -1;
}

bool WindowHarness::WaitFor(const std::function<bool()>& done, int timeoutMs) {
    if (FOptions.virtualTime == nullptr) {
        return QTest::qWaitFor(done, timeoutMs);
    }
    return RunVirtual(FOptions.virtualTime->Now() + std::chrono::milliseconds(timeoutMs), done);
}

bool WindowHarness::WaitForRecord(int timeoutMs) {
    return WaitFor([] { return ReadPending == 0; }, timeoutMs);
}

bool WindowHarness::WaitForDatagrams(std::size_t count, int timeoutMs) {
    return WaitFor([&] { return FDeliveries >= count; }, timeoutMs);
}

void WindowHarness::At(std::chrono::milliseconds at, std::function<void()> action) {
    FTimed.push_back({at, std::move(action)});
}

bool WindowHarness::RunVirtual(std::chrono::milliseconds deadline, const std::function<bool()>& done) {
    FakeNetwork& net = *FOptions.virtualTime;
    const auto pumped = [&] {
        QCoreApplication::processEvents();
        return done();
    };
    for (;;) {
        auto next = deadline;
        for (const Timed& t : FTimed) {
            next = std::min(next, t.at);
        }
        if (net.RunUntil(std::max(next, net.Now()), pumped)) {
            return true;
        }
        if (next == deadline && net.Now() >= deadline) {
            return false;
        }
        // An action may start a wait of its own (a press during a wait), so it leaves the list first.
        const auto due =
            std::find_if(FTimed.begin(), FTimed.end(), [&](const Timed& t) { return t.at <= net.Now(); });
        if (due != FTimed.end()) {
            const auto action = std::move(due->action);
            FTimed.erase(due);
            action();
        }
    }
}

std::chrono::milliseconds WindowHarness::VirtualClock::Now() {
    return H.FOptions.virtualTime->Now();
}

std::vector<QString> WindowHarness::ListTexts(const QListWidget& list) const {
    std::vector<QString> texts;
    for (int i = 0; i < list.count(); ++i) {
        texts.push_back(list.item(i)->text());
    }
    return texts;
}

std::string WindowHarness::FieldsText() const {
    const TForm1& f = *FForm;
    const auto octets = [](QLineEdit* a, QLineEdit* b, QLineEdit* c, QLineEdit* d) {
        return (a->text() + "." + b->text() + "." + c->text() + "." + d->text()).toStdString();
    };
    return "mode=" + std::to_string(f.RadioGroup1ItemIndex()) +
           " devip=" + octets(f.IP1, f.IP2, f.IP3, f.IP4) + " mask=" + octets(f.ym1, f.ym2, f.ym3, f.ym4) +
           " gateway=" + octets(f.wg1, f.wg2, f.wg3, f.wg4) +
           " remoteip=" + octets(f.YCIP1, f.YCIP2, f.YCIP3, f.YCIP4) +
           " port=" + f.post->text().toStdString() + " speed=" + std::to_string(f.ComboBox1->currentIndex());
}

namespace {
void SetAddress(QLineEdit* a, QLineEdit* b, QLineEdit* c, QLineEdit* d, const QString& dotted) {
    const QStringList parts = dotted.split('.');
    a->setText(parts[0]);
    b->setText(parts[1]);
    c->setText(parts[2]);
    d->setText(parts[3]);
}
} // namespace

void EnterEditedConfiguration(TForm1& f) {
    SetAddress(f.IP1, f.IP2, f.IP3, f.IP4, "192.168.5.20");
    SetAddress(f.ym1, f.ym2, f.ym3, f.ym4, "255.255.0.0");
    SetAddress(f.YCIP1, f.YCIP2, f.YCIP3, f.YCIP4, "10.1.2.3");
    SetAddress(f.wg1, f.wg2, f.wg3, f.wg4, "192.168.5.1");
    f.SetRadioGroup1ItemIndex(2);
    f.post->setText("4660");
    f.ComboBox1->setCurrentIndex(4);
}

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
