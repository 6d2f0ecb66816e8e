// SPDX-License-Identifier: GPL-3.0-or-later
#include "NamespaceFigures.h"

#include <sys/resource.h>

#include <fstream>
#include <sstream>
#include <string>

UdpCounters ReadUdpCounters() {
    std::ifstream snmp("/proc/net/snmp");
    std::string names, values;
    for (std::string line; std::getline(snmp, line);) {
        if (line.rfind("Udp: ", 0) != 0)
            continue;
        if (names.empty())
            names = line;
        else {
            values = line;
            break;
        }
    }
    UdpCounters c;
    std::istringstream n(names), v(values);
    std::string name, value;
    n >> name; // "Udp:"
    v >> value;
    while (n >> name && v >> value) {
        const long long number = std::stoll(value);
        if (name == "InDatagrams")
            c.inDatagrams = number;
        else if (name == "InErrors")
            c.inErrors = number;
        else if (name == "RcvbufErrors")
            c.rcvbufErrors = number;
    }
    return c;
}

long ReceiveQueueBytes(int port) {
    std::ifstream udp("/proc/net/udp");
    std::string line;
    std::getline(udp, line); // header
    while (std::getline(udp, line)) {
        // "  sl  local_address rem_address   st tx_queue:rx_queue ..." with addresses as HEXIP:HEXPORT
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        if (!(fields >> slot >> local >> remote >> state >> queues))
            continue;
        const auto colon = local.find(':');
        if (colon == std::string::npos || std::stoi(local.substr(colon + 1), nullptr, 16) != port)
            continue;
        return std::stol(queues.substr(queues.find(':') + 1), nullptr, 16);
    }
    return 0;
}

double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long PeakResidentKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
