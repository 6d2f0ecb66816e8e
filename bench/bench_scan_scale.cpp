// SPDX-License-Identifier: GPL-3.0-or-later
// One scan answered at once by a whole segment of devices (254, 1,000 and the 1,022 of a /22): how
// many the window lists and how many `korvcfg scan --json` prints, the datagrams the namespace's
// kernel dropped for a full receive buffer meanwhile, and the CPU time of the scan. Prints figures;
// asserts nothing. Run it inside the private LAN: tests/private-lan <build>/bench/bench_scan_scale
// [rounds] [count...]
#include "DevsimHarness.h"
#include "adapter/QtWakeUp.h"
#include "app/MessageBoxes.h"
#include "app/Unit1.h"
#include "net/MainThreadQueue.h"
#include "tests/reliability/NamespaceFigures.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <set>
#include <string>
#include <vector>

namespace {

double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double ChildrenCpuMs() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + t.tv_usec / 1e3; };
    return ms(u.ru_utime) + ms(u.ru_stime);
}

double WallMsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void WindowRounds(int devices, int rounds) {
    TForm1 form;
    Form1 = &form;
    form.FormCreate(nullptr);
    form.show();
    for (int round = 1; round <= rounds; ++round) {
        const long long dropsBefore = ReadUdpCounters().rcvbufErrors;
        const double cpuStart = ProcessCpuMs();
        const auto wallStart = std::chrono::steady_clock::now();
        form.Button2->click();
        const double cpuMs = ProcessCpuMs() - cpuStart;
        const double wallMs = WallMsSince(wallStart);
        std::set<QString> distinct;
        for (int i = 0; i < form.ListBox1->count(); ++i) {
            distinct.insert(form.ListBox1->item(i)->text());
        }
        // The scan ends by requesting the first device's record; a record still in flight would be
        // listed as a device by the next scan.
        const bool recordCame = QTest::qWaitFor([] { return ReadPending == 0; }, 3000);
        std::printf("  window  %4d devices, round %d: listed %4zu, receive-buffer drops %5lld, CPU %7.1f ms, "
                    "wall %5.0f ms%s\n",
                    devices, round, distinct.size(), ReadUdpCounters().rcvbufErrors - dropsBefore, cpuMs,
                    wallMs, recordCame ? "" : " (the first device's record did not come)");
    }
    Form1 = nullptr;
}

void KorvcfgRounds(int devices, int rounds) {
    const std::string command = std::string(KORVCFG_PATH) + " scan --wait 3000 --json";
    for (int round = 1; round <= rounds; ++round) {
        const long long dropsBefore = ReadUdpCounters().rcvbufErrors;
        const double cpuStart = ChildrenCpuMs();
        const auto wallStart = std::chrono::steady_clock::now();
        const CommandResult result = RunCommand(command);
        const double wallMs = WallMsSince(wallStart);
        // The children's figure also holds the shell that ran korvcfg, a millisecond or two.
        const double cpuMs = ChildrenCpuMs() - cpuStart;
        std::set<std::string> distinct;
        for (std::size_t at = result.out.find("\"ip\""); at != std::string::npos;
             at = result.out.find("\"ip\"", at + 1)) {
            const std::size_t open = result.out.find('"', at + 4);
            const std::size_t close = result.out.find('"', open + 1);
            distinct.insert(result.out.substr(open + 1, close - open - 1));
        }
        std::printf("  korvcfg %4d devices, round %d: listed %4zu, receive-buffer drops %5lld, CPU %7.1f ms, "
                    "wall %5.0f ms, exit %d\n",
                    devices, round, distinct.size(), ReadUdpCounters().rcvbufErrors - dropsBefore, cpuMs,
                    wallMs, result.status);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (!InPrivateLan()) {
        std::fprintf(stderr, "bench_scan_scale: run it inside tests/private-lan\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetMainThread();
    const auto wakeUp = InstallQtWakeUp();
    SetMessageBoxHook([](const BoxRecord& box) { std::printf("box: %s\n", box.text.toUtf8().constData()); });

    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    std::vector<int> counts;
    for (int i = 2; i < argc; ++i) {
        counts.push_back(std::atoi(argv[i]));
    }
    if (counts.empty()) {
        counts = {254, 1000, 1022};
    }
    for (const int devices : counts) {
        // 10.77.4.0/22 on the private LAN's loopback: the whole segment answers from one simulator.
        DevsimProcess sim({"--many", std::to_string(devices) + ",base_ip=10.77.4.1"});
        if (!sim.Started()) {
            std::fprintf(stderr, "devsim: %s\n", sim.Failure().c_str());
            return 1;
        }
        std::printf("one scan of %d simulated devices, %d rounds each\n", devices, rounds);
        WindowRounds(devices, rounds);
        KorvcfgRounds(devices, rounds);
        std::fflush(stdout);
    }
    return 0;
}
