// SPDX-License-Identifier: GPL-3.0-or-later
// devsim: stands in for the serial-to-Ethernet devices, one or many, on UDP port 60000.
#include "tools/devsim/DeviceProfile.h"
#include "tools/devsim/DevsimSocket.h"
#include "tools/devsim/Simulator.h"
#include "net/PrivateNetwork.h"

#include <csignal>
#include <cstring>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char Usage[] =
    R"(usage: devsim [--log FILE] [--state FILE] [--ready FILE] [--netns PATH] DEVICE... [-- COMMAND...]
  DEVICE := --device key=value[,key=value...]
          | --many N,base_ip=A.B.C.D[,stagger=MS][,key=value...]

Simulates devices on UDP 0.0.0.0:60000. Each device answers from its own address (from=), port
60000, to the requester's address at port 60001.

SAFETY: answers go to whoever asked, so devsim belongs in a private network namespace only. Start
it through tests/private-lan (or tests/netns-run); it refuses to start when its namespace has any
interface besides the private LAN's own (lo and lan0 to lan7: its wires, its second segment's and its
routed segment's), or when a device address is not an address of the namespace.

Configuration keys, korvcfg's names for the fields: ip=, mask=, gateway=, remote_ip= (dotted
  quads), port=N (decimal), mode=MM (hex), baud=BB (hex BaudCode, e.g. FC = 115200); id=10 hex
  digits, from=A.B.C.D (the address it answers from).
  Defaults: id=5AD7 + the device's ordinal on the command line (1-based) as six hex digits,
  from=<ip>, or 10.77.1.<ordinal> when ip= is not given either; ip=<from>, mode=00, port=4001,
  remote_ip=10.77.0.100, gateway=<A.B.C of from>.254, mask=255.255.255.0, baud=D0 (9600).
Fault keys: delay=MS, ackfrom=CODE:K, noack=CODE, wrongack=CODE:OTHER, scantwice=1, stray=1,
  silent=1, scanreply=short|malformed. CODE: 01 07 04 02 03 05 06 FF, and 0A (the read, answered
  by the record) for ackfrom and noack. Requests a device does not acknowledge are not applied.
  Written values take effect on the commit (FF).
--many: N devices from base_ip, base_ip+1, ...; ids from their ordinals; stagger=MS adds k*MS to
  the delay of the k-th device of the group (from 0).
--log FILE:   one line per received datagram: <ms since start> <src-ip>:<src-port> <HEX>
--state FILE: the committed configuration of every device, rewritten at start and at each commit:
  <id> from=<ip> ip=<ip> mask=<ip> gateway=<ip> remote_ip=<ip> port=<n> mode=<MM> baud=<BB>
--ready FILE: written ("ready") once the socket is bound and the state file is written.
--netns PATH: runs in that network namespace (one of tests/private-lan --second-segment's segments,
  $KORV_SEGMENT1_NETNS or $KORV_SEGMENT2_NETNS); the interface check above applies there.
-- COMMAND...: runs COMMAND beside the devices once they answer, in the same namespace, and ends
  with it, exiting with its status (128 + N when signal N ended it).
SIGTERM and SIGINT end it with status 0, or with COMMAND's status once it has ended.
)";

// COMMAND as a child; a thread waits for it and then asks the simulator to stop with the signal
// that Run reads, so the devices answer for exactly as long as COMMAND runs.
int RunBeside(Simulator& simulator, const std::vector<char*>& command) {
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (child == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execvp(command[0], command.data());
        std::cerr << "devsim: cannot run " << command[0] << ": " << std::strerror(errno) << "\n";
        ::_exit(127);
    }
    // The waiter leaves the child unreaped, so its process id cannot pass to another process before
    // the stop below.
    std::thread waiter([child] {
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
        }
        ::kill(::getpid(), SIGTERM);
    });
    int simulated = 1;
    std::exception_ptr failure;
    try {
        simulated = simulator.Run();
    } catch (...) {
        failure = std::current_exception();
    }
    ::kill(child, SIGTERM); // a stop from outside, or the simulator's failure, ends COMMAND too
    waiter.join();
    int status = 0;
    ::waitpid(child, &status, 0);
    if (failure)
        std::rethrow_exception(failure);
    if (simulated != 0)
        return simulated;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

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
    std::vector<char*> command;
    try {
        int ordinal = 1;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--help" || arg == "-h") {
                std::cout << Usage;
                return 0;
            }
            if (arg == "--") {
                command.assign(argv + i + 1, argv + argc);
                break;
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
        if (command.empty() && std::string(argv[argc - 1]) == "--")
            throw ProfileError("no command after --");
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
        if (command.empty())
            return simulator.Run();
        command.push_back(nullptr);
        return RunBeside(simulator, command);
    } catch (const std::exception& e) {
        std::cerr << "devsim: " << e.what() << "\n";
        return 1;
    }
}
