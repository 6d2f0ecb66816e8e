// SPDX-License-Identifier: GPL-3.0-or-later
#include "PrivateNetworkGuard.h"

#include "net/PrivateNetwork.h"

void PrivateNetworkGuard::SetUp() {
    const std::string foreign = ForeignInterface();
    // A fatal failure here runs no case and fails the program.
    ASSERT_TRUE(foreign.empty()) << "refusing to run: interface '" << foreign
                                 << "' may reach a real network; run this program inside tests/netns-run, "
                                    "tests/private-lan or (Windows) tests/wine-lan";
}
