// SPDX-License-Identifier: GPL-3.0-or-later
// Faults from outside the program: the port taken by someone else, a device that vanishes in the
// middle of a write, the window closed while a scan waits, and the endpoint stopped with a delivery
// still queued.
#include "ChildProcess.h"
#include "DevsimHarness.h"
#include "app/ProgramShell.h"
#include "QtTestMain.h"
#include "TestDevices.h"
#include "WindowHarness.h"

#include "protocol/DeviceMessages.h"
#include "protocol/HexCodec.h"
#include "net/MainThreadQueue.h"
#include "app/MessageBoxes.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const QString PortInUse = "本软件的网络端口被占用，请关闭相应的网络软件！";

// Another program holding UDP port 60001 on all interfaces, as long as the object lives.
class PortBlocker {
  public:
    PortBlocker() {
        FSocket = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(60001);
        FBound = FSocket >= 0 && ::bind(FSocket, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0;
    }
    ~PortBlocker() { Release(); }
    PortBlocker(const PortBlocker&) = delete;
    PortBlocker& operator=(const PortBlocker&) = delete;
    bool Bound() const { return FBound; }
    void Release() {
        if (FSocket >= 0)
            ::close(FSocket);
        FSocket = -1;
    }

  private:
    int FSocket = -1;
    bool FBound = false;
};

} // namespace

TEST(Fault, PortTakenAtStartWarnsOnceAndTheNextScanAfterItIsFreedBindsAndWorks) {
    DevsimProcess sim(DeviceArgs({DeviceA.Profile()}));
    ASSERT_TRUE(sim.Started()) << sim.Failure();
    PortBlocker blocker;
    ASSERT_TRUE(blocker.Bound());

    WindowHarness window;
    TForm1& form = window.Form();
    ASSERT_EQ(window.Boxes().size(), 1u);
    EXPECT_EQ(window.Boxes()[0].text, PortInUse);
    EXPECT_FALSE(form.IdUDPServer1->Active());

    // Still taken: the scan's send fails, the scan ends silently, nothing is listed.
    form.Button2->click();
    EXPECT_EQ(form.ListBox1->count(), 0);
    EXPECT_EQ(window.Boxes().size(), 1u);
    EXPECT_FALSE(form.IdUDPServer1->Active());

    blocker.Release();
    form.Button2->click();
    EXPECT_TRUE(form.IdUDPServer1->Active());
    EXPECT_GE(window.ListedRow(DeviceA.ip, DeviceA.mac), 0);
    ASSERT_TRUE(QTest::qWaitFor([] { return ReadPending == 0; }, 5000));
    EXPECT_EQ(form.post->text(), "8080");
    EXPECT_EQ(window.Boxes().size(), 1u);
}

TEST(Fault, DeviceThatVanishesMidWriteEndsTheWriteWithTheStepWarningAndTheWindowIsUsableAgain) {
    std::optional<DevsimProcess> sim(std::in_place, DeviceArgs({DeviceA.Profile()}));
    ASSERT_TRUE(sim->Started()) << sim->Failure();
    WindowHarness window;
    TForm1& form = window.Form();
    form.Button2->click();
    ASSERT_TRUE(QTest::qWaitFor([] { return ReadPending == 0; }, 5000));
    ASSERT_GE(window.ListedRow(DeviceA.ip, DeviceA.mac), 0);

    // The device goes away as soon as it has acknowledged the network mode (step 3 of 8); step 4,
    // the remote IP, then never gets its acknowledgement.
    bool vanished = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!vanished && LastReplyHex == "04010D0A") {
            vanished = true;
            sim.reset();
        }
    });
    watch.start(20);
    form.Button1->click();
    watch.stop();

    ASSERT_TRUE(vanished) << "the write never reached the network mode";
    ASSERT_EQ(window.Boxes().size(), 1u);
    EXPECT_EQ(window.Boxes()[0].text, "远程IP写入缓冲区失败！");
    EXPECT_FALSE(window.Boxes()[0].windowEnabled);
    EXPECT_EQ(form.StatusText(), "网络模式写入成功！");
    EXPECT_TRUE(form.isEnabled());

    // Usable again: the device comes back and a scan finds it.
    sim.emplace(DeviceArgs({DeviceA.Profile()}));
    ASSERT_TRUE(sim->Started()) << sim->Failure();
    form.Button2->click();
    EXPECT_GE(window.ListedRow(DeviceA.ip, DeviceA.mac), 0);
    EXPECT_TRUE(QTest::qWaitFor([] { return ReadPending == 0; }, 5000));
}

// The program's own shell, run in-process: the user presses Scan and closes the window while the
// scan waits. The scan runs to its end, the shell returns 0, and no delivery reaches a window that
// is being destroyed, while a stranger keeps sending to the port all along.
TEST(Fault, ClosingTheWindowDuringTheScanWaitLetsTheScanFinishAndEndsWithStatusZero) {
    DevsimProcess sim(DeviceArgs({DeviceA.Profile("delay=300")}));
    ASSERT_TRUE(sim.Started()) << sim.Failure();
    ChildProcess flood(
        {FLOOD_PATH, "--from", "10.77.1.200", "--count", "20000", "--max-bytes", "1500", "--seconds", "8"},
        "/dev/null");

    std::vector<BoxRecord> boxes;
    SetMessageBoxHook([&](const BoxRecord& box) { boxes.push_back(box); });
    bool closeAsked = false, scanReturned = false, windowGone = false;
    std::size_t deliveriesAfterClose = 0, deliveriesToGoneWindow = 0;
    int listedAtScanEnd = -1;
    std::string readRequestAtScanEnd;

    QTimer::singleShot(0, [&] {
        TForm1* form = Form1;
        ASSERT_NE(form, nullptr);
        QObject::connect(form, &QObject::destroyed, [&] { windowGone = true; });
        auto deliver = form->IdUDPServer1->OnUDPRead;
        form->IdUDPServer1->OnUDPRead = [&, deliver](TIdUDPServer& s, TMemoryStream& d, TIdSocketHandle& b) {
            if (windowGone || Form1 == nullptr)
                ++deliveriesToGoneWindow;
            if (closeAsked)
                ++deliveriesAfterClose;
            deliver(s, d, b);
        };
        // Halfway through the scan's 1.5 s wait, the user closes the window.
        QTimer::singleShot(750, [&] {
            closeAsked = true;
            Form1->Button7->click();
        });
        form->Button2->click();
        scanReturned = true;
        listedAtScanEnd = form->ListBox1->count();
        if (listedAtScanEnd > 0)
            readRequestAtScanEnd =
                BytesToHex(ConfigReadRequest(form->ListBox2->item(0)->text().toStdString()));
    });
    const int status = RunProgram();
    ReinstallQtWakeUp();
    SetMessageBoxHook(
        [](const BoxRecord& box) { ADD_FAILURE() << "unexpected box: " << box.text.toStdString(); });

    EXPECT_EQ(status, 0);
    EXPECT_TRUE(closeAsked);
    EXPECT_TRUE(scanReturned);
    EXPECT_TRUE(windowGone);
    EXPECT_EQ(deliveriesToGoneWindow, 0u);
    EXPECT_GT(deliveriesAfterClose, 0u) << "the scan's wait went on receiving after the close";
    EXPECT_TRUE(boxes.empty());
    // The scan went on past the close: it listed what answered and asked for the first entry's record
    // (the stranger's datagrams are listed too, so that entry is not always the device).
    ASSERT_GE(listedAtScanEnd, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.Log().size() >= 2; }, 3000));
    const auto log = sim.Log();
    EXPECT_EQ(log.front().hex, BytesToHex(ScanRequest()));
    EXPECT_EQ(log.back().hex, readRequestAtScanEnd);
}

// Deliveries that the listener has read but the main thread has not yet run, when the endpoint
// stops: the one that is queued runs on the main thread before the stop returns, while the window
// is whole, and nothing runs afterwards.
class QueuedDelivery : public ::testing::TestWithParam<bool> {};

TEST_P(QueuedDelivery, RunsBeforeTheStopReturnsAndNothingAfter) {
    const bool destroyWindow = GetParam();
    auto window = std::make_unique<WindowHarness>();
    TForm1& form = window->Form();
    ASSERT_TRUE(form.IdUDPServer1->Active());
    std::vector<std::string> delivered;
    bool fieldsWhole = true;
    window->OnDelivery = [&](const std::string&, std::size_t) {
        fieldsWhole = fieldsWhole && Form1 != nullptr && form.post != nullptr && form.ListBox1 != nullptr;
    };
    QPointer<QLineEdit> post = form.post;

    // The window awaits the record of the device it lists at the sender's address, so the delivery
    // writes into its fields.
    form.ListBox1->addItem("10.77.1.50");
    form.ListBox2->addItem("00-1A-2B-3C-4D-50");
    form.ListBox1->setCurrentRow(0);
    form.ListBox2->setCurrentRow(0);
    ReadPending = 1;
    RunPendingCalls(); // resets the sync event, so the next one is ours
    // The first is a record of the shortest length taken as one: mode 04, port 0x1451 low byte first.
    const std::vector<std::string> sent{"04000000000000005114" + std::string(2 * 47, '0'), "0A0B0C", "FFFF"};
    for (const std::string& hex : sent)
        SendFromAddress("10.77.1.50", HexToBytes(hex));
    // No event is pumped from here on: the listener has read the first datagram and waits for the
    // main thread, the others wait in the socket.
    ASSERT_TRUE(WaitForSyncEvent(std::chrono::milliseconds(5000)));

    const std::size_t before = window->Deliveries();
    if (destroyWindow) {
        window->Close();
    } else {
        form.ShutdownEndpoint();
        EXPECT_FALSE(form.IdUDPServer1->Active());
    }
    EXPECT_EQ(window->Deliveries() - before, 1u);
    EXPECT_EQ(LastReplyHex, sent[0]);
    EXPECT_EQ(ReadPending, 0);
    EXPECT_TRUE(fieldsWhole);
    if (!destroyWindow)
        EXPECT_EQ(form.post->text(), "5201"); // 0x1451, low byte first in the record
    else
        EXPECT_TRUE(post.isNull());
    // The listener is gone: nothing is queued and nothing more arrives.
    EXPECT_FALSE(RunPendingCalls());
    QCoreApplication::processEvents();
    EXPECT_EQ(LastReplyHex, sent[0]);
}

INSTANTIATE_TEST_SUITE_P(Fault, QueuedDelivery, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "WindowDestroyed" : "EndpointStopped";
                         });
