// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/PrivateNetwork.h"

#include <algorithm>
#include <array>

namespace {
// One list for every runner: the default LAN's wire (lan0 <-> lan1), the second segment's (lan2 <->
// lan3) and the routed segment's (lan4 to lan7).
const std::array<const char*, 9> PrivateLinks = {"lo",   "lan0", "lan1", "lan2", "lan3",
                                                 "lan4", "lan5", "lan6", "lan7"};
} // namespace

bool IsPrivateNetworkLink(const std::string& name) {
    return std::find(PrivateLinks.begin(), PrivateLinks.end(), name) != PrivateLinks.end();
}

std::string ForeignInterface() {
    const auto names = NetworkInterfaceNames();
    if (!names) {
        return "(interfaces unreadable)";
    }
    const auto foreign = std::find_if_not(names->begin(), names->end(), IsPrivateNetworkLink);
    return foreign != names->end() ? *foreign : std::string();
}
