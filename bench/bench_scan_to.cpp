// SPDX-License-Identifier: GPL-3.0-or-later
// korvcfg scan of devices one router away by a --to sweep of a /24 and of a /20, against the plain
// broadcast scan of as many devices on the workstation's own segment: seconds each, and how many
// answered. Prints figures; asserts nothing. Run it inside the routed private LAN:
//   tests/private-lan --routed <build>/bench/bench_scan_to [devices]
#include "DevsimHarness.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    const int devices = argc > 1 ? std::atoi(argv[1]) : 200;
    const char* routed = std::getenv("KORV_ROUTED_NETNS");
    if (!InPrivateLan() || routed == nullptr || devices < 1 || devices > 250) {
        std::fprintf(stderr,
                     "bench_scan_to: run it inside tests/private-lan --routed, with 1 to 250 devices\n");
        return 2;
    }
    // The same number on each side: from 10.79.0.2 behind the router, from 10.77.1.1 beside it.
    DevsimProcess far({"--netns", routed, "--many", std::to_string(devices) + ",base_ip=10.79.0.2"});
    DevsimProcess near({"--many", std::to_string(devices) + ",base_ip=10.77.1.1"});
    if (!far.Started() || !near.Started()) {
        std::fprintf(stderr, "devsim: %s%s\n", far.Failure().c_str(), near.Failure().c_str());
        return 1;
    }
    std::printf("korvcfg scan of %d simulated devices (wait 1500 ms after the last send)\n", devices);
    const std::pair<const char*, std::string> scans[] = {
        {"broadcast, own segment", ""},
        {"--to 10.79.0.0/24 (254 sends)", " --to 10.79.0.0/24"},
        {"--to 10.79.0.0/20 (4094 sends)", " --to 10.79.0.0/20"},
    };
    for (const auto& [name, options] : scans) {
        const auto start = std::chrono::steady_clock::now();
        const CommandResult r = RunCommand(std::string(KORVCFG_PATH) + " scan" + options);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::size_t listed = 0;
        for (const char c : r.out)
            listed += c == '\n' ? 1 : 0;
        std::printf("  %-32s %5.2f s, %zu listed, status %d\n", name, seconds, listed, r.status);
    }
    return 0;
}
