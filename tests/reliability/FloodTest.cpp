// SPDX-License-Identifier: GPL-3.0-or-later
// A stranger floods port 60001 with random datagrams while the window scans, reads and writes against
// a simulated device. The window must survive it, keep receiving afterwards, and end its write in one
// of the ways the write has. The run prints its figures: what was sent, what reached the window, what
// the kernel dropped, and the CPU time the program spent.
#include "ChildProcess.h"
#include "DevsimHarness.h"
#include "TestDevices.h"
#include "NamespaceFigures.h"
#include "WindowHarness.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// Inside the private LAN but not a device of the test.
const char* const FloodSource = "10.77.1.200";
constexpr int FloodCount = 100000;
// Long enough to cover the scan, the read and at least the first step of the write.
constexpr int FloodSeconds = 12;

const std::vector<QString> StepWarnings{
    "IP写入缓冲区失败！",   "子掩码写入缓冲区失败！", "网络模式写入缓冲区失败！", "远程IP写入缓冲区失败！",
    "网关写入缓冲区失败！", "端口号写入缓冲区失败！", "波特率写入缓冲区失败！",   "设置失败！"};

// The flood generator's one line, read once it has ended; the file goes with it.
QString ReadReport(const std::string& path) {
    QFile file(QString::fromStdString(path));
    const QString line =
        file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
    file.remove();
    return line;
}

long Field(const QString& line, const char* name) {
    const auto match = QRegularExpression(QString("\\b%1=(\\d+)").arg(name)).match(line);
    return match.hasMatch() ? match.captured(1).toLong() : -1;
}

} // namespace

TEST(Flood, WindowSurvivesAndKeepsReceivingThroughHundredThousandRandomDatagrams) {
    DevsimProcess sim(DeviceArgs({DeviceA.Profile()}));
    ASSERT_TRUE(sim.Started()) << sim.Failure();
    // A flood only counts its datagrams.
    WindowHarness window(WindowOptions{.recordDatagrams = false});
    TForm1& form = window.Form();
    ASSERT_TRUE(form.IdUDPServer1->Active());

    std::size_t fromFlood = 0, fromDevice = 0, longest = 0;
    long long floodBytes = 0;
    window.OnDelivery = [&](const std::string& ip, std::size_t bytes) {
        if (ip == FloodSource) {
            ++fromFlood;
            floodBytes += static_cast<long long>(bytes);
        } else if (ip == DeviceA.ip) {
            ++fromDevice;
        }
        longest = std::max(longest, bytes);
    };

    const UdpCounters kernelBefore = ReadUdpCounters();
    const double cpuBefore = ProcessCpuSeconds();
    const long residentBefore = PeakResidentKiB();
    QElapsedTimer wall;
    wall.start();
    const std::string reportFile = "/tmp/flood-report-" + std::to_string(::getpid());
    ChildProcess flood({FLOOD_PATH, "--from", FloodSource, "--count", std::to_string(FloodCount),
                        "--max-bytes", "9000", "--seconds", std::to_string(FloodSeconds), "--seed", "60001"},
                       reportFile);

    // Scan and read under the flood. Its datagrams are listed as devices like any other (a scan
    // cannot tell them apart) and must not break the window; a record is taken only from the selected
    // entry's address. A reply the full socket dropped is asked for again, as a user would by another
    // click. A slow build (a sanitizer's) drains the socket slower than the flood fills it, so every
    // try while the flood lasts may lose the reply: the tries go on until the flood has ended, and
    // the record must come in at one of the few after it.
    form.Button2->click();
    const int rowUnderFlood = window.ListedRow(DeviceA.ip, DeviceA.mac);
    int row = rowUnderFlood;
    bool recordTaken = false, takenUnderFlood = false;
    int clicks = 0;
    for (int afterFlood = 0; !recordTaken && afterFlood < 3 && clicks < 40; ++clicks) {
        const bool floodRunning = flood.Running();
        if (!floodRunning)
            ++afterFlood;
        if (row < 0) {
            form.Button2->click();
            row = window.ListedRow(DeviceA.ip, DeviceA.mac);
            continue;
        }
        window.ClickDevice(row);
        recordTaken = QTest::qWaitFor([] { return ReadPending == 0; }, 2000);
        takenUnderFlood = recordTaken && floodRunning;
    }
    ASSERT_TRUE(recordTaken) << "no record taken in " << clicks << " clicks";
    EXPECT_EQ(form.ListBox1->currentRow(), row) << "the record came while another entry was selected";
    const int listedUnderFlood = form.ListBox1->count();

    // The write: flood datagrams arriving after an acknowledgement hide it, so a step may run out of
    // sends; either way the write ends, once, and gives the window back.
    ASSERT_TRUE(form.Button1->isEnabled());
    form.Button1->click();
    ASSERT_TRUE(form.isEnabled());
    ASSERT_LE(window.Boxes().size(), 1u);
    QString writeEnd = form.StatusText();
    if (window.Boxes().empty()) {
        EXPECT_EQ(form.StatusText(), WriteDone);
    } else {
        writeEnd = window.Boxes().front().text;
        EXPECT_NE(std::find(StepWarnings.begin(), StepWarnings.end(), writeEnd), StepWarnings.end())
            << writeEnd.toStdString();
        EXPECT_FALSE(window.Boxes().front().windowEnabled);
    }

    ASSERT_TRUE(QTest::qWaitFor([&] { return !flood.Running(); }, 120000));
    const QString report = ReadReport(reportFile);
    ASSERT_EQ(flood.ExitStatus(), 0) << report.toStdString();
    const double seconds = wall.elapsed() / 1000.0;
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    const UdpCounters kernelAfter = ReadUdpCounters();
    const long sent = Field(report, "sent");
    EXPECT_EQ(sent, FloodCount) << report.toStdString();

    // Nothing longer than the receive buffer reaches the window; every delivery came from a sender.
    EXPECT_LE(longest, 8192u);
    EXPECT_GT(fromFlood, 0u);
    EXPECT_LE(fromFlood, static_cast<std::size_t>(sent - Field(report, "oversize")));

    // Afterwards the window still hears the device: a new scan lists it and its record comes in. What
    // the flood left in the socket and in the virtual wire's queues is taken in first; a reply that
    // arrived while the socket was still full would be dropped by the kernel, which no program can
    // help. Nothing tells when the wire's queues are empty, so the sign is a second without a
    // stranger's datagram and an empty socket.
    QElapsedTimer quiet;
    quiet.start();
    std::size_t floodSeen = fromFlood;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            if (fromFlood != floodSeen) {
                floodSeen = fromFlood;
                quiet.restart();
            }
            return quiet.elapsed() >= 1000 && ReceiveQueueBytes(60001) == 0;
        },
        30000));
    const std::size_t deviceBefore = fromDevice;
    form.Button2->click();

    EXPECT_GE(window.ListedRow(DeviceA.ip, DeviceA.mac), 0) << "device not listed after the flood";
    EXPECT_TRUE(QTest::qWaitFor([] { return ReadPending == 0; }, 5000));
    EXPECT_GE(fromDevice, deviceBefore + 2) << "scan reply and record";

    const std::string figures =
        "flood: " + report.toStdString() + " over " + std::to_string(seconds) + " s\n" +
        "delivered to the window: " + std::to_string(fromFlood) + " flood datagrams (" +
        std::to_string(floodBytes) + " bytes, longest " + std::to_string(longest) + "), " +
        std::to_string(fromDevice) + " from the device\n" +
        "kernel UDP: " + std::to_string(kernelAfter.inDatagrams - kernelBefore.inDatagrams) + " received, " +
        std::to_string(kernelAfter.rcvbufErrors - kernelBefore.rcvbufErrors) +
        " dropped, receive buffer full\n" +
        "device listed during the flooded scan: " + (rowUnderFlood >= 0 ? "yes" : "no") + " (" +
        std::to_string(listedUnderFlood) + " entries listed)\n" + "record taken " +
        (takenUnderFlood ? "while the flood ran" : "after the flood") + ", at click " +
        std::to_string(clicks) + "\n" + "write ended with: " + writeEnd.toStdString() + "\n" +
        "program CPU time: " + std::to_string(cpu) + " s in " + std::to_string(seconds) + " s wall\n" +
        // The listener's read-ahead is bounded at 4 MiB of datagrams: the flood must not add much more.
        "program peak resident memory: " + std::to_string(residentBefore / 1024) + " MiB before the flood, " +
        std::to_string(PeakResidentKiB() / 1024) + " MiB at its end\n";
    std::fputs(figures.c_str(), stdout);
    ::testing::Test::RecordProperty("flood_figures", figures);
}
