// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The test mains' guard: a test program that opens real sockets scans, reads and writes by broadcast,
// so it runs no case at all (and ends with a non-zero status, naming what it found) in a network
// namespace that has an interface the private LAN did not make. CTest starts those programs inside
// tests/netns-run or tests/private-lan, Windows programs inside tests/wine-lan; started by hand they
// need the same. A program whose sockets are all on the fake layer links the mains' _fake_network
// variant, which does not look.
#include <gtest/gtest.h>

class PrivateNetworkGuard : public ::testing::Environment {
  public:
    void SetUp() override;
};
