// SPDX-License-Identifier: GPL-3.0-or-later
// devsim: stands in for the serial-to-Ethernet devices, one or many, on UDP port 60000.
#include "tools/devsim/DeviceProfile.h"
#include "tools/devsim/DevsimSocket.h"
#include "tools/devsim/Simulator.h"

#include <csignal>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char Usage[] = R"(usage: devsim [--log FILE] [--state FILE] [--ready FILE] [--netns PATH] DEVICE...
  DEVICE := --device key=value[,key=value...]
          | --many N,base_ip=A.B.C.D[,stagger=MS][,key=value...]

Simulates devices on UDP 0.0.0.0:60000. Each device answers from its own address (ip=), port 60000,
to the requester's address at port 60001.

SAFETY: answers go to whoever asked, so devsim belongs in a private network namespace only. Start
it through tests/private-lan (or tests/netns-run); it refuses to start when its namespace has any
interface besides the private LAN's own (lo, lan0, lan1, and lan2, lan3 of its second segment), or
when a device address is not an address of the namespace.

Configuration keys: id=10 hex digits, ip=A.B.C.D (source address), mode=MM (hex), port=N (decimal),
  devip=, remoteip=, gateway=, mask= (dotted quads), baud=BB (hex BaudCode, e.g. FC = 115200)
  Defaults: id=5AD7 + the device's ordinal on the command line (1-based) as six hex digits,
  ip=10.77.1.<ordinal>, mode=00, port=4001, devip=<ip>, remoteip=10.77.0.100,
  gateway=<A.B.C of ip>.254, mask=255.255.255.0, baud=D0 (9600).
Fault keys: delay=MS, ackfrom=CODE:K, noack=CODE, wrongack=CODE:OTHER, scantwice=1, stray=1,
  silent=1, scanreply=short|malformed. CODE: 01 07 04 02 03 05 06 FF, and 0A (the read, answered
  by the record) for ackfrom and noack. Requests a device does not acknowledge are not applied.
  Written values take effect on the commit (FF).
--many: N devices at base_ip, base_ip+1, ...; ids from their ordinals; stagger=MS adds k*MS to the
  delay of the k-th device of the group (from 0).
--log FILE:   one line per received datagram: <ms since start> <src-ip>:<src-port> <HEX>
--state FILE: the committed configuration of every device, rewritten at start and at each commit:
  <id> ip=<ip> mode=<MM> port=<n> devip=<ip> remoteip=<ip> gateway=<ip> mask=<ip> baud=<BB>
--ready FILE: written ("ready") once the socket is bound and the state file is written.
--netns PATH: runs in that network namespace (one of tests/private-lan --second-segment's segments,
  $KORV_SEGMENT1_NETNS or $KORV_SEGMENT2_NETNS); the interface check above applies there.
SIGTERM and SIGINT end it with status 0.
)";

} // namespace

int main(int argc, char** argv) {
    // Blocked before anything else, so a stop request that comes early is not lost: Run reads it.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);

    SimulatorOptions options;
    std::string netns;
    std::vector<DeviceProfile> devices;
    try {
        int ordinal = 1;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--help" || arg == "-h") {
                std::cout << Usage;
                return 0;
            }
            if (i + 1 >= argc)
                throw ProfileError(arg + ": missing value (or unknown option)");
            const std::string value = argv[++i];
            if (arg == "--log") {
                options.logPath = value;
            } else if (arg == "--state") {
                options.statePath = value;
            } else if (arg == "--ready") {
                options.readyPath = value;
            } else if (arg == "--netns") {
                netns = value;
            } else if (arg == "--device") {
                devices.push_back(ParseDeviceProfile(value, ordinal++));
            } else if (arg == "--many") {
                auto group = ParseManyProfile(value, ordinal);
                ordinal += static_cast<int>(group.size());
                for (auto& d : group)
                    devices.push_back(std::move(d));
            } else {
                throw ProfileError("unknown option " + arg);
            }
        }
        if (devices.empty())
            throw ProfileError("no device given");
    } catch (const ProfileError& e) {
        std::cerr << "devsim: " << e.what() << "\n\n" << Usage;
        return 2;
    }

    try {
        if (!netns.empty())
            EnterNetworkNamespace(netns);
        const std::string foreign = ForeignInterface();
        if (!foreign.empty())
            throw std::runtime_error("refusing to start: interface '" + foreign +
                                     "' may reach a real network; run devsim inside tests/private-lan");
        Simulator simulator(options, std::move(devices));
        return simulator.Run();
    } catch (const std::exception& e) {
        std::cerr << "devsim: " << e.what() << "\n";
        return 1;
    }
}
