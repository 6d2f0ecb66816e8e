// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether this process could reach a real network. The private networks of the test runners
// (tests/netns-run, tests/private-lan, and Wine inside them through tests/wine-lan) are network
// namespaces holding loopback and the links lan0 to lan7 alone. A program that exists only to broadcast
// to simulated devices (the simulator, the test programs) refuses to run anywhere else, however it
// was started, so that nothing of it reaches a segment with real devices on it.
#include <optional>
#include <string>
#include <vector>

// lo and lan0 to lan7: the links the private networks make.
bool IsPrivateNetworkLink(const std::string& name);

// Every interface this process could send through, down ones included, by the name the system gives
// it: the link's name on Linux, the adapter's friendly name on Windows (Wine gives its adapters the
// names of the namespace's links). None when the system cannot list them. Defined next to the
// socket layer that the build selects.
std::optional<std::vector<std::string>> NetworkInterfaceNames();

// Empty when every interface is one the private network made; otherwise the name of the first other
// one, or "(interfaces unreadable)" when there is no telling.
std::string ForeignInterface();
