// SPDX-License-Identifier: GPL-3.0-or-later
// The window as built from its description: first look, places, fonts, tab order, wiring of the
// endpoint and the port warning.
#include "WindowHarness.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<QLineEdit*> AllEdits(TForm1& f) {
    return {f.IP1, f.IP2, f.IP3, f.IP4,  f.ym1,   f.ym2,   f.ym3,   f.ym4,  f.wg1,
            f.wg2, f.wg3, f.wg4, f.post, f.YCIP1, f.YCIP2, f.YCIP3, f.YCIP4};
}

using MainWindow = WindowTest;

TEST_F(MainWindow, FirstLook) {
    form->FormCreate(form);
    ShowActive();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(form->ListBox1->count(), 0);
    EXPECT_EQ(form->ListBox2->count(), 0);
    for (QLineEdit* edit : AllEdits(*form)) {
        EXPECT_TRUE(edit->text().isEmpty()) << edit->objectName().toStdString();
    }
    EXPECT_EQ(form->RadioGroup1ItemIndex(), 0);
    EXPECT_EQ(form->findChild<QRadioButton*>("RadioGroup1Item0")->text(), QString::fromUtf8("TCP/IP 服务器"));
    EXPECT_EQ(form->ComboBox1->currentIndex(), -1);
    EXPECT_TRUE(form->ComboBox1->currentText().isEmpty());
    EXPECT_EQ(form->ComboBox1->count(), 9);
    EXPECT_FALSE(form->Button1->isEnabled());
    EXPECT_TRUE(form->Button2->isEnabled());
    EXPECT_TRUE(form->Button7->isEnabled());
    EXPECT_TRUE(form->StatusText().isEmpty());
    EXPECT_EQ(QApplication::focusWidget(), form->Button2);
    EXPECT_TRUE(form->IdUDPServer1->Active());
}

TEST_F(MainWindow, CaptionAndIcon) {
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8("Korvantis") + QString(14, ' ') +
                                       QString::fromUtf8("中国官网：www.korvantis.com.cn"));
    const QList<QSize> sizes = form->windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
}

std::vector<std::string> TabCycle(int presses) {
    std::vector<std::string> seen;
    for (int i = 0; i < presses; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen.push_back(QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString()
                                                   : "");
    }
    return seen;
}

TEST_F(MainWindow, TabOrderCyclesThroughTheControls) {
    ShowActive();
    const std::vector<std::string> withoutSet{
        "ListBox1",  "ListBox2", "IP1",   "IP2",   "IP3",   "IP4",     "ym1",
        "ym2",       "ym3",      "ym4",   "wg1",   "wg2",   "wg3",     "wg4",
        "post",      "YCIP1",    "YCIP2", "YCIP3", "YCIP4", "Button7", "RadioGroup1Item0",
        "ComboBox1", "Button2"};
    EXPECT_EQ(TabCycle(static_cast<int>(withoutSet.size())), withoutSet);

    form->Button1->setEnabled(true);
    std::vector<std::string> withSet = withoutSet;
    withSet.insert(withSet.begin() + 2, "Button1");
    EXPECT_EQ(TabCycle(static_cast<int>(withSet.size())), withSet);

    // The radio group is one stop, at whichever item is selected, or at its first while a read under
    // way shows none.
    form->SetRadioGroup1ItemIndex(-1);
    form->Button7->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(TabCycle(2), (std::vector<std::string>{"RadioGroup1Item0", "ComboBox1"}));
    form->SetRadioGroup1ItemIndex(3);
    form->Button7->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(TabCycle(2), (std::vector<std::string>{"RadioGroup1Item3", "ComboBox1"}));
    // Within the group the arrow keys move the selection, and the tab stop with it.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_EQ(form->RadioGroup1ItemIndex(), 2);
    form->Button7->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(TabCycle(1), (std::vector<std::string>{"RadioGroup1Item2"}));
    EXPECT_TRUE(boxes.empty());
}

QRect Place(int left, int top, int width, int height) {
    return {left, top, width, height};
}

TEST_F(MainWindow, ControlsStandWhereDesigned) {
    ShowActive();
    EXPECT_EQ(form->size(), QSize(537, 393));
    EXPECT_EQ(form->GroupBox1->geometry(), Place(8, 8, 265, 305));
    EXPECT_EQ(form->RadioGroup1->geometry(), Place(280, 8, 257, 73));
    EXPECT_EQ(form->GroupBox3->geometry(), Place(280, 248, 257, 65));
    EXPECT_EQ(form->Button1->geometry(), Place(368, 336, 75, 25));
    EXPECT_EQ(form->Button7->geometry(), Place(448, 336, 75, 25));
    EXPECT_EQ(form->ListBox2->geometry(), Place(128, 40, 129, 257));
    EXPECT_EQ(form->ListBox2->parentWidget(), form->GroupBox1);
    EXPECT_EQ(form->ym3->geometry(), Place(168, 48, 33, 21));
    EXPECT_EQ(form->YCIP4->geometry(), Place(208, 100, 33, 21));
    EXPECT_EQ(form->post->geometry(), Place(88, 127, 81, 21));
    EXPECT_EQ(form->YCIP1->parentWidget(), form->GroupBox2);
    EXPECT_EQ(form->Label4->geometry(), Place(16, 53, 73, 13));
    EXPECT_EQ(form->Label20->pos(), QPoint(201, 97));
    EXPECT_EQ(form->Label8->pos(), QPoint(201, 45));
    EXPECT_EQ(form->ComboBox1->geometry(), Place(120, 24, 97, 21));
    EXPECT_EQ(form->StatusBar1->geometry(), Place(0, 374, 537, 19));
    EXPECT_EQ(form->IP1->maxLength(), 3);
    EXPECT_GT(form->post->maxLength(), 5);

    // Only the status bar follows the window's size.
    form->resize(700, 520);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->StatusBar1->geometry() == Place(0, 501, 700, 19); }, 2000))
        << form->StatusBar1->geometry().y();
    EXPECT_EQ(form->Button2->geometry(), Place(288, 336, 75, 25));
    EXPECT_EQ(form->GroupBox2->geometry(), Place(280, 88, 257, 155));
    EXPECT_EQ(form->ListBox1->geometry(), Place(8, 40, 113, 257));
}

TEST_F(MainWindow, FontsShowEveryCaption) {
    EXPECT_EQ(form->IP1->font().pixelSize(), 11);
    EXPECT_EQ(form->Label16->font().pixelSize(), 11);
    EXPECT_EQ(form->Label7->font().pixelSize(), 24);
    EXPECT_TRUE(form->Label7->font().bold());
    EXPECT_FALSE(form->Label3->font().bold());
    QStringList captions;
    for (const QLabel* label : form->findChildren<QLabel*>()) {
        captions << label->text();
    }
    for (const QAbstractButton* button : form->findChildren<QAbstractButton*>()) {
        captions << button->text();
    }
    for (const QGroupBox* group : form->findChildren<QGroupBox*>()) {
        captions << group->title();
    }
    for (const QString& caption : captions) {
        for (const char32_t c : caption.toUcs4()) {
            EXPECT_TRUE(QFontMetrics(form->font()).inFontUcs4(c))
                << caption.toStdString() << " U+" << std::hex << static_cast<unsigned>(c);
        }
    }
}

// The device lists' click event is the user's selection, never a change made from code.
TEST_F(MainWindow, ListsRaiseClickOnlyForTheUser) {
    ShowActive();
    form->ListBox1->addItem("10.77.0.5");
    form->ListBox1->addItem("10.77.0.6");
    form->ListBox2->addItem("00-01-02-03-04-05");
    form->ListBox2->addItem("00-01-02-03-04-06");
    form->ListBox1->setCurrentRow(1);
    form->ListBox1->clear();
    EXPECT_EQ(ReadPending, 0);

    form->ListBox1->addItem("10.77.0.5");
    form->ListBox1->addItem("10.77.0.6");
    const QRect row = form->ListBox1->visualItemRect(form->ListBox1->item(1));
    QTest::mouseClick(form->ListBox1->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    // ListBox1Click took the user's row to the MAC list and started a read.
    EXPECT_EQ(ReadPending, 1);
    EXPECT_EQ(form->ListBox2->currentRow(), 1);
    EXPECT_TRUE(form->Button1->isEnabled());

    ReadPending = 0;
    QTest::keyClick(form->ListBox1, Qt::Key_Up);
    EXPECT_EQ(ReadPending, 1);
    EXPECT_EQ(form->ListBox2->currentRow(), 0);
}

std::vector<int> SelectedRows(const QListWidget& list) {
    std::vector<int> rows;
    for (const QListWidgetItem* item : list.selectedItems()) {
        rows.push_back(list.row(item));
    }
    return rows;
}

void ListDevices(TForm1& f) {
    f.ListBox1->addItem("10.77.1.11");
    f.ListBox1->addItem("10.77.1.12");
    f.ListBox2->addItem("00-1A-2B-3C-4D-01");
    f.ListBox2->addItem("00-5E-6F-70-81-92");
}

// The row the window works on is the row the user sees highlighted, whatever the modifiers.
TEST_F(MainWindow, CtrlClickOrCtrlSpaceLeavesTheSelectedDeviceSelected) {
    ShowActive();
    ListDevices(*form);
    const auto click = [](QListWidget& list, int row, Qt::KeyboardModifiers mods) {
        const QRect rect = list.visualItemRect(list.item(row));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, mods, rect.center());
    };
    click(*form->ListBox1, 1, Qt::NoModifier);
    ASSERT_EQ(SelectedRows(*form->ListBox2), std::vector<int>{1});

    click(*form->ListBox1, 1, Qt::ControlModifier);
    EXPECT_EQ(form->ListBox1->currentRow(), 1);
    EXPECT_EQ(SelectedRows(*form->ListBox1), std::vector<int>{1});
    EXPECT_EQ(SelectedRows(*form->ListBox2), std::vector<int>{1});

    click(*form->ListBox2, 1, Qt::ControlModifier);
    EXPECT_EQ(SelectedRows(*form->ListBox2), std::vector<int>{1});
    EXPECT_EQ(SelectedRows(*form->ListBox1), std::vector<int>{1});

    QTest::keyClick(form->ListBox1, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(form->ListBox1->currentRow(), 1);
    EXPECT_EQ(SelectedRows(*form->ListBox1), std::vector<int>{1});
    EXPECT_TRUE(boxes.empty());
}

class FirstPortHolder {
  public:
    FirstPortHolder() {
        FSocket = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(60001);
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        FBound = ::bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~FirstPortHolder() { ::close(FSocket); }
    FirstPortHolder(const FirstPortHolder&) = delete;
    FirstPortHolder& operator=(const FirstPortHolder&) = delete;
    bool Bound() const { return FBound; }

  private:
    int FSocket;
    bool FBound;
};

TEST_F(MainWindow, PortTakenWarnsAndTheWindowOpensUsable) {
    const FirstPortHolder other;
    ASSERT_TRUE(other.Bound());
    form->FormCreate(form);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, BoxKind::Warning);
    EXPECT_EQ(boxes[0].caption, QString::fromUtf8("警告"));
    EXPECT_EQ(boxes[0].text, QString::fromUtf8("本软件的网络端口被占用，请关闭相应的网络软件！"));
    EXPECT_FALSE(form->IdUDPServer1->Active());

    ShowActive();
    ClickInto(*form->IP2);
    QTest::keyClicks(form->IP2, "12");
    EXPECT_EQ(form->IP2->text(), "12");
    QTest::mouseClick(form->Button7, Qt::LeftButton);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(MainWindow, DatagramsReachTheReceiveHandler) {
    form->FormCreate(form);
    ASSERT_TRUE(boxes.empty());
    const int device = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(60001);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const unsigned char datagram[] = {0x01, 0x02, 0xA0};
    ASSERT_EQ(::sendto(device, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 3);
    ::close(device);
    EXPECT_TRUE(QTest::qWaitFor([] { return LastReplyHex == "0102A0"; }, 5000)) << LastReplyHex;
}

} // namespace
