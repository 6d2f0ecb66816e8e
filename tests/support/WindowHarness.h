// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The real main window under test, opened from the program's initial state (empty module state, a
// new window), with what a user would have seen recorded: every box together with the window's state
// while it was up, and every datagram the window took in with the state just before it arrived.
// Given a FakeNetwork, the operations' waits run on its virtual time instead of the real clock.
#include "app/MessageBoxes.h"
#include "app/Unit1.h"

#include "net/OpsClock.h"

#include <QString>

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

class FakeNetwork;
class QListWidget;
class QWidget;

// The status bar after a whole write.
inline const QString WriteDone = QString::fromUtf8("设置成功！请重新启动一下设备！");
// The edits a user makes before pressing Set, every field other than any test device holds: device
// IP 192.168.5.20, mask 255.255.0.0, remote IP 10.1.2.3, gateway 192.168.5.1, "UDP 服务器" (code
// 02), port 4660, 19200 baud (code E8).
void EnterEditedConfiguration(TForm1& form);
// A record whose fields are all distinct: mode, port 8080, device IP 192.168.1.7, remote IP
// 10.0.0.9, gateway 192.168.1.1, mask 255.255.255.0, speed code last.
std::string RecordBytes(uint8_t mode, uint8_t speed);

// Readable failure messages for QString comparisons.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

struct SeenDatagram {
    std::string senderIp;
    std::string hex;
    QString statusBefore;
    bool windowEnabled;
    bool setButtonEnabled;
};

struct SeenBox : BoxRecord {
    bool windowEnabled; // while the box was up
    QString statusText;
};

struct WindowOptions {
    // FormCreate binds port 60001 the way the program's start-up does; off for tests of start-up itself.
    bool create = true;
    bool show = true;
    // Keeps every datagram's details; a flood only counts them.
    bool recordDatagrams = true;
    // The operations' waits and the harness's own waits run on this network's virtual time.
    FakeNetwork* virtualTime = nullptr;
};

class WindowHarness {
  public:
    explicit WindowHarness(WindowOptions options = {});
    ~WindowHarness(); // Close()
    WindowHarness(const WindowHarness&) = delete;
    WindowHarness& operator=(const WindowHarness&) = delete;

    TForm1& Form() { return *FForm; }
    const std::vector<SeenDatagram>& Datagrams() const { return FDatagrams; }
    const std::vector<SeenBox>& Boxes() const { return FBoxes; }
    void ClearBoxes() { FBoxes.clear(); }
    std::size_t Deliveries() const { return FDeliveries; }

    // Called for every delivery before the receive handler sees it; keep it cheap, floods run here.
    std::function<void(const std::string& senderIp, std::size_t bytes)> OnDelivery;

    // Shows the window and waits until it is the active window, as at start-up.
    void ShowActive();
    // The user's way into an edit: a left click on it.
    void ClickInto(QWidget& widget);
    // A user's mouse click on a row of a device list.
    void ClickRow(QListWidget& list, int row);
    // The click's effect on the MAC list without the mouse: the read of that device starts.
    void ClickDevice(int row);
    // Row of the device listed with both this address and this MAC text; -1 when there is none.
    int ListedRow(const QString& ip, const QString& mac) const;

    // Waits until the read under way has shown its record / the window has taken in count
    // datagrams. On virtual time the bound is virtual too.
    bool WaitForRecord(int timeoutMs = 5000);
    bool WaitForDatagrams(std::size_t count, int timeoutMs = 5000);
    // Pumps events (and, on virtual time, moves the clock) until done or timeoutMs have passed.
    bool WaitFor(const std::function<bool()>& done, int timeoutMs);

    // Virtual time only: runs action on the main thread once a wait reaches virtual time at.
    void At(std::chrono::milliseconds at, std::function<void()> action);

    std::vector<QString> ListTexts(const QListWidget& list) const;
    // The window's fields in record order: mode entry, device IP, mask, gateway, remote IP, port,
    // speed entry.
    std::string FieldsText() const;

    // Destroys the window now, the way the program's shutdown does (endpoint first); from here on a
    // box fails the test.
    void Close();

  private:
    bool RunVirtual(std::chrono::milliseconds deadline, const std::function<bool()>& done);

    // The window's operations on the harness's virtual time: timed actions run during their waits.
    class VirtualClock : public OpsClock {
      public:
        explicit VirtualClock(WindowHarness& harness) : H(harness) {}
        std::chrono::milliseconds Now() override;
        bool WaitUntil(std::chrono::milliseconds deadline, const std::function<bool()>& done) override {
            return H.RunVirtual(deadline, done);
        }

      private:
        WindowHarness& H;
    };
    VirtualClock FClock{*this};

    std::unique_ptr<TForm1> FForm;
    WindowOptions FOptions;
    std::vector<SeenDatagram> FDatagrams;
    std::vector<SeenBox> FBoxes;
    std::size_t FDeliveries = 0;
    struct Timed {
        std::chrono::milliseconds at;
        std::function<void()> action;
    };
    std::vector<Timed> FTimed;
};

// Fails the test on any box shown while no window is under test.
void RecordNoBoxes();

// A fresh window per test, neither shown nor started (tests of start-up call FormCreate themselves).
class WindowTest : public ::testing::Test {
  protected:
    void ShowActive() { window.ShowActive(); }
    void ClickInto(QWidget& widget) { window.ClickInto(widget); }

    WindowHarness window{WindowOptions{.create = false, .show = false}};
    TForm1* const form = &window.Form();
    const std::vector<SeenBox>& boxes = window.Boxes();
};
