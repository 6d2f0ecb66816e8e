// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Figures of the private LAN's network namespace and of this process, for the report of a flood.
#include <cstddef>

// The namespace's UDP counters (/proc/net/snmp), for the figures of a flood.
struct UdpCounters {
    long long inDatagrams = 0;
    long long inErrors = 0;
    long long rcvbufErrors = 0;
};
UdpCounters ReadUdpCounters();
// Bytes waiting in the receive queue of the namespace's UDP socket bound to this local port
// (/proc/net/udp); 0 when there is none.
long ReceiveQueueBytes(int port);

// CPU seconds (user + system) this process has used so far.
double ProcessCpuSeconds();
// The most memory this process has had resident so far, in KiB.
long PeakResidentKiB();
