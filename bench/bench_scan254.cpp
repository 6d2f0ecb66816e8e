// SPDX-License-Identifier: GPL-3.0-or-later
// One scan answered by 254 devices at once: how many the window lists, and what the scan costs the
// process in CPU time. Prints figures; asserts nothing.
#include "DevsimHarness.h"
#include "net/MainThreadQueue.h"
#include "app/MessageBoxes.h"
#include "adapter/QtWakeUp.h"
#include "app/Unit1.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int Devices = 254;
constexpr int Rounds = 5;

double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetMainThread();
    const auto wakeUp = InstallQtWakeUp();
    SetMessageBoxHook([](const BoxRecord& box) { std::printf("box: %s\n", box.text.toUtf8().constData()); });

    DevsimProcess sim({"--many", std::to_string(Devices) + ",base_ip=10.77.1.1"});
    if (!sim.Started()) {
        std::fprintf(stderr, "devsim: %s\n", sim.Failure().c_str());
        return 1;
    }
    TForm1 form;
    Form1 = &form;
    if (!form.IdUDPServer1->Active()) {
        form.FormCreate(nullptr);
    }
    form.show();

    std::printf("scan of %d simulated devices, %d rounds\n", Devices, Rounds);
    std::vector<double> cpu;
    for (int round = 1; round <= Rounds; ++round) {
        const double cpuStart = ProcessCpuMs();
        const auto wallStart = std::chrono::steady_clock::now();
        form.Button2->click();
        const double cpuMs = ProcessCpuMs() - cpuStart;
        const double wallMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart).count();
        std::set<QString> distinct;
        for (int i = 0; i < form.ListBox1->count(); ++i) {
            distinct.insert(form.ListBox1->item(i)->text());
        }
        std::printf(
            "round %d: listed %d (distinct addresses %zu, lost %d), process CPU %.1f ms, wall %.0f ms\n",
            round, form.ListBox1->count(), distinct.size(), Devices - static_cast<int>(distinct.size()),
            cpuMs, wallMs);
        cpu.push_back(cpuMs);
        // The scan ends by requesting the first device's record; a record still in flight would be
        // listed as a device by the next scan.
        if (!QTest::qWaitFor([] { return ReadPending == 0; }, 3000)) {
            std::printf("round %d: the first device's record did not come\n", round);
        }
    }
    std::sort(cpu.begin(), cpu.end());
    std::printf("process CPU per scan: min %.1f ms, median %.1f ms, max %.1f ms\n", cpu.front(),
                cpu[cpu.size() / 2], cpu.back());
    return 0;
}
