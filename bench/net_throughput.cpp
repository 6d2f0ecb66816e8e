// SPDX-License-Identifier: GPL-3.0-or-later
// Receive rate of the whole delivery path (the listener reads ahead and posts a call to the main thread,
// which takes the datagrams read ahead one after another into OnUDPRead with an empty handler) beside
// a plain blocking recvfrom loop, in the same run, on 127.0.0.1.
// The main thread waits for the queue's sync event and drains the queue as the program's Qt wake-up
// does (DrainPendingCalls, 100 us linger, 5 ms budget), without Qt, so the same source builds for
// Windows. The sender keeps at most kWindow datagrams unreceived, so the socket buffer never overflows
// and every missing datagram is a real loss; the order is checked on every datagram.
#include "net/IdUDPServer.h"
#include "net/MainThreadQueue.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace {
constexpr uint64_t kWindow = 64;
constexpr uint64_t kAbandoned = uint64_t{1} << 60;

#ifdef _WIN32
using Socket = SOCKET;
using SockLen = int;
void CloseSocket(Socket s) {
    ::closesocket(s);
}
void SetReceiveTimeout(Socket s, int seconds) {
    const DWORD ms = static_cast<DWORD>(seconds) * 1000;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}
#else
using Socket = int;
using SockLen = socklen_t;
void CloseSocket(Socket s) {
    ::close(s);
}
void SetReceiveTimeout(Socket s, int seconds) {
    timeval stall{seconds, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &stall, sizeof stall);
}
#endif

struct Progress {
    std::atomic<uint64_t> received{0};
    // The sender sleeps on a full window until half of it has drained; woken only then, it does not
    // take a core from the receiving threads for every datagram. (A lock and condition rather than an
    // atomic wait, which GCC 12 on Windows can leave asleep for good.)
    std::atomic<uint64_t> wakeSenderAt{~uint64_t{0}};
    std::mutex lock;
    std::condition_variable changed;
    uint64_t outOfOrder = 0;
    uint64_t nextExpected = 0;

    void Take(const void* data, std::size_t size) {
        uint64_t seq = ~uint64_t{0};
        if (size == sizeof seq) {
            std::memcpy(&seq, data, sizeof seq);
        }
        if (seq != nextExpected) {
            ++outOfOrder;
        }
        nextExpected = seq + 1;
        if (received.fetch_add(1) + 1 >= wakeSenderAt.load()) {
            wakeSenderAt.store(~uint64_t{0});
            std::lock_guard guard(lock);
            changed.notify_one();
        }
    }
    void Abandon() {
        received.fetch_add(kAbandoned);
        std::lock_guard guard(lock);
        changed.notify_one();
    }
};

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// Sends count sequence numbers, waiting whenever kWindow of them are still unreceived.
std::thread StartSender(uint16_t port, uint64_t count, Progress& progress) {
    return std::thread([port, count, &progress] {
        const Socket fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in to = Loopback(port);
        for (uint64_t seq = 0; seq < count;) {
            const uint64_t got = progress.received.load();
            if (got >= kAbandoned) {
                break;
            }
            if (seq - got >= kWindow) {
                const uint64_t resumeAt = seq - kWindow / 2;
                std::unique_lock guard(progress.lock);
                progress.wakeSenderAt.store(resumeAt);
                progress.changed.wait(guard, [&] { return progress.received.load() >= resumeAt; });
                continue;
            }
            ::sendto(fd, reinterpret_cast<const char*>(&seq), sizeof seq, 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to);
            ++seq;
        }
        CloseSocket(fd);
    });
}

struct Result {
    double seconds;
    uint64_t received;
    uint64_t outOfOrder;
};

Result PlainLoop(uint64_t count) {
    const Socket fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr = Loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    SockLen len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    SetReceiveTimeout(fd, 1);

    Progress progress;
    const auto start = std::chrono::steady_clock::now();
    std::thread sender = StartSender(ntohs(addr.sin_port), count, progress);
    char buffer[8192];
    uint64_t received = 0;
    while (received < count) {
        sockaddr_in from{};
        SockLen fromLen = sizeof from;
        const auto n = ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0) {
            break; // a second without a datagram: the rest were lost
        }
        progress.Take(buffer, static_cast<std::size_t>(n));
        ++received;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    progress.Abandon();
    sender.join();
    CloseSocket(fd);
    return {seconds, received, progress.outOfOrder};
}

Result ThroughEndpoint(uint64_t count) {
    TIdUDPServer server;
    Progress progress;
    uint64_t received = 0;
    std::chrono::steady_clock::time_point end;
    bool done = false;
    server.OnUDPRead = [&](TIdUDPServer&, TMemoryStream& data, TIdSocketHandle&) {
        progress.Take(data.Memory(), data.Size());
        if (++received == count) {
            end = std::chrono::steady_clock::now();
            done = true;
        }
    };
    server.Bindings().Add().IP = "127.0.0.1";
    server.SetActive(true);

    const auto start = std::chrono::steady_clock::now();
    std::thread sender = StartSender(static_cast<uint16_t>(server.Bindings()[0].Port), count, progress);
    // The event loop's part: sleep until a call is queued, then drain as the Qt wake-up does; give up
    // after a second without a datagram (the rest were lost).
    uint64_t seenAtLastCheck = 0;
    auto lastCheck = start;
    while (!done) {
        if (WaitForSyncEvent(std::chrono::milliseconds(100))) {
            DrainPendingCalls(std::chrono::microseconds(100), std::chrono::milliseconds(5));
        }
        const auto now = std::chrono::steady_clock::now();
        if (!done && now - lastCheck >= std::chrono::seconds(1)) {
            if (received == seenAtLastCheck) {
                end = now;
                break;
            }
            seenAtLastCheck = received;
            lastCheck = now;
        }
    }
    progress.Abandon();
    sender.join();
    server.SetActive(false);
    return {std::chrono::duration<double>(end - start).count(), received, progress.outOfOrder};
}

void Print(const char* name, const Result& r, uint64_t count) {
    std::printf("%-34s %9.0f datagrams/s  (%llu of %llu in %.3f s, lost %llu, out of order %llu)\n", name,
                static_cast<double>(r.received) / r.seconds, static_cast<unsigned long long>(r.received),
                static_cast<unsigned long long>(count), r.seconds,
                static_cast<unsigned long long>(count - r.received),
                static_cast<unsigned long long>(r.outOfOrder));
}
} // namespace

int main(int argc, char** argv) {
    SetMainThread();
#ifdef _WIN32
    // The plain loop and the sender use the socket library directly; the endpoint loads its own.
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        std::fprintf(stderr, "cannot start the socket library\n");
        return 1;
    }
#endif
    const uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200000;

    for (int round = 1; round <= 2; ++round) {
        const Result plain = PlainLoop(count);
        const Result endpoint = ThroughEndpoint(count);
        std::printf("round %d\n", round);
        Print("  plain recvfrom loop", plain, count);
        Print("  listener -> main thread -> OnUDPRead", endpoint, count);
        std::printf("  ratio %.1f %%\n", 100.0 * (static_cast<double>(endpoint.received) / endpoint.seconds) /
                                             (static_cast<double>(plain.received) / plain.seconds));
        std::fflush(stdout);
    }
    return 0;
}
