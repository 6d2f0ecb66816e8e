// SPDX-License-Identifier: GPL-3.0-or-later
// Who holds an address, the guard's verdict on a new one, and the batch plan's arithmetic around the
// addresses held.
#include "tools/korvcfg/AddressGuard.h"

#include <gtest/gtest.h>

using namespace korvcfg;

namespace {

const std::string A = "00-4C-5A-1E-0B-21", B = "00-4C-5A-1E-0B-22", C = "00-4C-5A-1E-0B-23";

Ipv4Octets Ip(const std::string& text) {
    return ParseAddress(text, "test");
}

// A answers from .11; B from .22, but its record already holds .50 (written, not yet restarted); the
// workstation is .100.
HeldAddresses Segment() {
    DeviceConfig recordB;
    recordB.deviceIp = Ip("10.77.1.50");
    return HeldAddresses({{"10.77.1.11", A}, {"10.77.1.22", B}}, {{B, recordB}}, {"10.77.1.100"});
}

} // namespace

TEST(AddressGuardTest, ANewAddressThatAnotherHoldsIsRefusedNamingTheHolder) {
    const struct {
        const char* newIp;
        const char* holder; // "" when the write may go ahead
    } rows[] = {
        {"10.77.1.22", "00-4C-5A-1E-0B-22"}, // where B answered the scan from
        {"10.77.1.50", "00-4C-5A-1E-0B-22"}, // what B's record holds
        {"10.77.1.100", "this workstation"},
        {"10.77.1.11", ""}, // A's own address
        {"10.77.1.60", ""},
    };
    for (const auto& row : rows) {
        const auto conflict = AddressConflict(Segment(), A, Ip("10.77.1.11"), Ip(row.newIp));
        EXPECT_EQ(conflict.has_value(), *row.holder != '\0') << row.newIp;
        if (conflict) {
            EXPECT_EQ(conflict->rfind(std::string(row.newIp) + " is held by " + row.holder, 0), 0u)
                << *conflict;
        }
    }
}

TEST(AddressGuardTest, ABatchTakesTheNextFreeAddressesAndMustFitItsNetwork) {
    const Ipv4Octets slash24 = Ip("255.255.255.0");
    const auto plan = [&](const char* first, std::vector<BatchDevice> batch) {
        std::string text;
        for (const Ipv4Octets& ip : PlanAddresses(batch, Ip(first), Segment())) {
            text += (text.empty() ? "" : " ") + FormatAddress(ip);
        }
        return text;
    };
    // .11, .22 and .50 are held by others, .100 by the workstation; A may keep its own .11.
    EXPECT_EQ(plan("10.77.1.10", {{A, slash24}, {C, slash24}}), "10.77.1.10 10.77.1.12");
    EXPECT_EQ(plan("10.77.1.10", {{C, slash24}, {A, slash24}}), "10.77.1.10 10.77.1.11");
    EXPECT_EQ(plan("10.77.1.21", {{A, slash24}, {C, slash24}}), "10.77.1.21 10.77.1.23");
    EXPECT_EQ(plan("10.77.1.99", {{A, slash24}, {C, slash24}}), "10.77.1.99 10.77.1.101");
    EXPECT_EQ(plan("10.77.1.253", {{A, slash24}, {C, slash24}}), "10.77.1.253 10.77.1.254");
    for (const auto& [first, mask] :
         {std::pair{"10.77.1.254", slash24}, {"10.77.1.0", slash24}, {"10.77.1.62", Ip("255.255.255.252")}}) {
        EXPECT_THROW(plan(first, {{A, mask}, {C, mask}}), InputError) << first;
    }
}
