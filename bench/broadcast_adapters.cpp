// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of one datagram to 255.255.255.255 through the endpoint on a workstation with 1, 2 and 8
// adapters, beside its parts: reading the adapter list, and the one plain send that a broadcast used
// to be. Each count runs in a network namespace of its own, made here and gone with its thread, with
// that many veth adapters; nothing leaves the machine. Needs root in the calling namespace:
//   tests/netns-run <build>/bench/bench_broadcast_adapters [sends]
#include "net/IdStack.h"
#include "net/IdUDPServer.h"

#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;

double MicrosecondsEach(Clock::time_point start, int count) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count;
}

bool MakeAdapters(int count) {
    std::string batch = "link set lo up\n";
    for (int i = 0; i < count; ++i) {
        const std::string name = "bench" + std::to_string(i);
        batch += "link add " + name + " type veth peer name " + name + "p\n";
        batch += "address add 10.99." + std::to_string(i) + ".1/24 dev " + name + "\n";
        batch += "link set " + name + " up\nlink set " + name + "p up\n";
    }
    batch += "route add default dev bench0\n";
    std::FILE* ip = ::popen("ip -batch -", "w");
    if (ip == nullptr) {
        return false;
    }
    std::fputs(batch.c_str(), ip);
    return ::pclose(ip) == 0;
}

// One row: the endpoint's send, the list alone, and one plain send to 255.255.255.255.
bool Measure(int adapters, int sends) {
    if (::unshare(CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "cannot make a network namespace (%s): run through tests/netns-run\n",
                     std::strerror(errno));
        return false;
    }
    if (!MakeAdapters(adapters)) {
        std::fprintf(stderr, "cannot make %d adapters\n", adapters);
        return false;
    }
    const std::string scan(5, '\0');
    TIdUDPServer server;
    server.SetDefaultPort(60001);
    server.SetActive(true);
    TIdStack& stack = TIdStack::Instance();
    // Links come up with their carrier a moment later; an adapter without one is not listed.
    for (int tries = 0; tries < 500 && static_cast<int>(stack.BroadcastAdapters().size()) != adapters;
         ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (static_cast<int>(stack.BroadcastAdapters().size()) != adapters) {
        std::fprintf(stderr, "%d adapters made, %zu listed\n", adapters, stack.BroadcastAdapters().size());
        return false;
    }
    for (int i = 0; i < sends / 10; ++i) { // warm-up
        server.Broadcast(scan, 60000);
    }

    auto start = Clock::now();
    for (int i = 0; i < sends; ++i) {
        server.Broadcast(scan, 60000);
    }
    const double send = MicrosecondsEach(start, sends);

    start = Clock::now();
    std::size_t listed = 0;
    for (int i = 0; i < sends; ++i) {
        listed += stack.BroadcastAdapters().size();
    }
    const double list = MicrosecondsEach(start, sends);

    const int plain = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(60000);
    to.sin_addr.s_addr = INADDR_BROADCAST;
    ::setsockopt(plain, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    start = Clock::now();
    for (int i = 0; i < sends; ++i) {
        if (::sendto(plain, scan.data(), scan.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) <
            0) {
            std::fprintf(stderr, "plain send: %s\n", std::strerror(errno));
            break;
        }
    }
    const double once = MicrosecondsEach(start, sends);
    ::close(plain);

    std::printf("%8d  %13.1f  %10.1f  %14.1f\n", adapters, send, list, once);
    return listed == static_cast<std::size_t>(adapters) * static_cast<std::size_t>(sends);
}
} // namespace

int main(int argc, char** argv) {
    const int sends = argc > 1 ? std::atoi(argv[1]) : 20000;
    if (sends <= 0) {
        std::fprintf(stderr, "usage: bench_broadcast_adapters [sends]\n");
        return 2;
    }
    std::printf("%d sends each; microseconds per send\n", sends);
    std::printf("adapters  endpoint send  list alone  one plain send\n");
    bool ok = true;
    for (const int adapters : {1, 2, 8}) {
        // A thread of its own per count: its namespace, and the adapters in it, go when it ends.
        std::thread([&] { ok = Measure(adapters, sends) && ok; }).join();
    }
    return ok ? 0 : 1;
}
