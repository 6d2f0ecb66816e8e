// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window TForm1 and the state its handlers share.
#include "net/IdUDPServer.h"

#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

class QPushButton;
class QListWidget;
class QGroupBox;
class QLabel;
class QLineEdit;
class QStatusBar;
class QComboBox;
class QMenu;
class QButtonGroup;
class QRadioButton;
class QCloseEvent;
class QFocusEvent;
class QKeyEvent;

// Module state of Unit1, shared by the handlers; main thread only.
extern int ScanPending;
extern int ReadPending;
extern std::string LastReplyHex;

class OpsClock;
// The scan's wait and each write send's wait go through this clock. The program leaves it unset, which
// waits with Delay; a test sets a clock of its own so a write with all its retries runs in no real
// time. Main thread only; nullptr goes back to Delay.
void SetOperationsClock(OpsClock* clock);

class TForm1 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Components, in declaration order. Owned by the window (Qt parent) except the endpoint.
    QPushButton* Button2;
    QListWidget* ListBox1;
    QGroupBox* GroupBox1;
    QPushButton* Button1;
    QListWidget* ListBox2;
    QLabel* label14;
    QLabel* Label15;
    std::unique_ptr<TIdUDPServer> IdUDPServer1;
    QStatusBar* StatusBar1;
    QLabel* StatusPanel0; // panel 0 of StatusBar1
    QGroupBox* GroupBox2;
    QLabel *Label3, *Label4, *Label5, *Label6, *Label1, *Label2, *Label7, *Label8, *Label9, *Label10,
        *Label11, *Label12, *Label13;
    QLineEdit *IP1, *IP2, *IP3, *IP4, *ym1, *ym2, *ym3, *ym4, *wg1, *wg2, *wg3, *wg4, *post;
    QPushButton* Button7;
    QGroupBox* RadioGroup1; // radio group: RadioGroup1ItemIndex()/SetRadioGroup1ItemIndex()
    QGroupBox* GroupBox3;
    QLabel* Label16;
    QComboBox* ComboBox1;
    QLabel* Label17;
    QLineEdit* YCIP1;
    QLabel* Label18;
    QLineEdit* YCIP2;
    QLabel* Label19;
    QLineEdit* YCIP3;
    QLabel* Label20;
    QLineEdit* YCIP4;
    QMenu* PopupMenu1;

    // Radio group access by index (-1 when none).
    int RadioGroup1ItemIndex() const;
    void SetRadioGroup1ItemIndex(int index);
    // Status bar panel 0.
    void SetStatusText(const QString& text);
    QString StatusText() const;

    // Handlers, in declaration order. Each receives the object that raised the event (nullptr when
    // called directly).
    void Button2Click(QObject* Sender);
    void IdUDPServer1UDPRead(TIdUDPServer& Sender, TMemoryStream& AData, TIdSocketHandle& ABinding);
    void FormCreate(QObject* Sender);
    void ListBox1Click(QObject* Sender);
    void ListBox2Click(QObject* Sender);
    void Button1Click(QObject* Sender);
    void Button7Click(QObject* Sender);
    void Editclick(QObject* Sender);
    void IP1KeyPress(QObject* Sender, char& Key);
    void IP1Exit(QObject* Sender);
    void IP2Exit(QObject* Sender);

    // Deactivates the endpoint; called at shutdown before any control the receive handler touches
    // is destroyed.
    void ShutdownEndpoint();

  private:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    void CreateComponents();
    void CreateRadioGroup1Items();
    void PlaceRadioGroup1TabStop();
    void SetTabOrder();
    void WireEvents();
    void WireEditRules();
    bool FilterEditKey(QLineEdit& edit, QKeyEvent& event);
    void EditFocusLeft(QLineEdit& edit, const QFocusEvent& event);
    void EditContextMenu(QLineEdit& edit);

    QButtonGroup* RadioGroup1Items;
    // The device IP that a write from this window last had acknowledged, by MAC text. A device
    // answers from there once it has taken it (at the commit, or at its next start), while the IP
    // list still shows the address it answered the scan from.
    std::map<std::string, std::string> WrittenDeviceIps;
};

extern TForm1* Form1;
