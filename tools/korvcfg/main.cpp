// SPDX-License-Identifier: GPL-3.0-or-later
// korvcfg: find, read and write the devices from a terminal or a script.
#include "net/MainThreadQueue.h"
#include "tools/korvcfg/Cli.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // The listener hands every datagram to this thread, which runs them in the operations' waits.
    SetMainThread();
    RealClock clock;
    return korvcfg::RunCommandLine(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr,
                                   clock);
}
