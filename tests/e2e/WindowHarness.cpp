#include "WindowHarness.h"

#include "protocol/HexCodec.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QListWidget>
#include <QTest>

#include <gtest/gtest.h>

WindowHarness::WindowHarness() {
    ScanPending = 0;
    ReadPending = 0;
    LastReplyHex.clear();
    SetMessageBoxHook([this](const BoxRecord& box) {
        FBoxes.push_back({box, FForm && FForm->isEnabled(), FForm ? FForm->StatusText() : QString()});
    });
    FForm = std::make_unique<TForm1>();
    Form1 = FForm.get();
    if (!FForm->IdUDPServer1->Active()) {
        FForm->FormCreate(nullptr);
    }
    auto deliver = FForm->IdUDPServer1->OnUDPRead;
    FForm->IdUDPServer1->OnUDPRead = [this, deliver](TIdUDPServer& sender, TMemoryStream& data,
                                                     TIdSocketHandle& binding) {
        FDatagrams.push_back(
            {BytesToHex(std::string(reinterpret_cast<const char*>(data.Memory()), data.Size())),
             FForm->StatusText(), FForm->isEnabled(), FForm->Button1->isEnabled()});
        deliver(sender, data, binding);
    };
    FForm->show();
    if (!QTest::qWaitForWindowExposed(FForm.get())) {
        FForm->activateWindow();
    }
}

WindowHarness::~WindowHarness() {
    FForm->ShutdownEndpoint();
    FForm.reset();
    Form1 = nullptr;
    SetMessageBoxHook([](const BoxRecord& box) {
        ADD_FAILURE() << "box shown with no window: " << box.text.toStdString();
    });
}

void WindowHarness::ClickRow(QListWidget& list, int row) {
    const QRect rect = list.visualItemRect(list.item(row));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

bool WindowHarness::WaitForRecord(int timeoutMs) {
    return QTest::qWaitFor([] { return ReadPending == 0; }, timeoutMs);
}

bool WindowHarness::WaitForDatagrams(std::size_t count, int timeoutMs) {
    return QTest::qWaitFor([&] { return FDatagrams.size() >= count; }, timeoutMs);
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
