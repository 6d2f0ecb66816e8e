// SPDX-License-Identifier: GPL-3.0-or-later
// korvcfg apply of one table of simulated devices, one after another and several at once: seconds
// each, and how many were configured. Prints figures; asserts nothing. Run it inside the private LAN:
//   tests/private-lan <build>/bench/bench_apply [devices] [answer delay ms]
#include "DevsimHarness.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    const int devices = argc > 1 ? std::atoi(argv[1]) : 50;
    const int delayMs = argc > 2 ? std::atoi(argv[2]) : 0;
    if (!InPrivateLan()) {
        std::fprintf(stderr, "bench_apply: run it inside tests/private-lan\n");
        return 2;
    }
    DevsimProcess sim(
        {"--many", std::to_string(devices) + ",base_ip=10.77.1.1,delay=" + std::to_string(delayMs)});
    if (!sim.Started()) {
        std::fprintf(stderr, "devsim: %s\n", sim.Failure().c_str());
        return 1;
    }
    // devsim's default identities: 5AD7 and the ordinal as six hex digits.
    const std::string path = "/tmp/bench-apply.csv";
    std::printf("korvcfg apply --verify of %d simulated devices (each answer delayed %d ms)\n", devices,
                delayMs);
    for (const int parallel : {1, 16}) {
        {
            std::ofstream table(path);
            table << "mac,port\n";
            for (int k = 1; k <= devices; ++k) {
                char mac[32];
                std::snprintf(mac, sizeof mac, "00-5A-D7-%02X-%02X-%02X", (k >> 16) & 0xFF, (k >> 8) & 0xFF,
                              k & 0xFF);
                table << mac << "," << 5000 + parallel * 100 + k << "\n";
            }
        }
        const auto start = std::chrono::steady_clock::now();
        const CommandResult r = RunCommand(std::string(KORVCFG_PATH) + " apply " + path +
                                           " --verify --parallel " + std::to_string(parallel));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const std::size_t summary = r.out.rfind('\n', r.out.size() - 2);
        std::printf("  --parallel %2d: %6.1f s, status %d, %s", parallel, seconds, r.status,
                    r.out.substr(summary == std::string::npos ? 0 : summary + 1).c_str());
    }
    std::remove(path.c_str());
    return 0;
}
