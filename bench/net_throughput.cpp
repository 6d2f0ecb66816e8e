// Receive rate of the whole delivery path (listener -> RunOnMainThread -> Qt wake-up -> OnUDPRead with
// an empty handler) beside a plain blocking recvfrom loop, in the same run, on 127.0.0.1.
// The sender keeps at most kWindow datagrams unreceived, so the socket buffer never overflows and
// every missing datagram is a real loss; the order is checked on every datagram.
#include "net/IdUDPServer.h"
#include "net/MainThreadQueue.h"
#include "adapter/QtWakeUp.h"

#include <QCoreApplication>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {
constexpr uint64_t kWindow = 64;
constexpr uint64_t kAbandoned = uint64_t{1} << 60;

struct Progress {
    std::atomic<uint64_t> received{0};
    // The sender sleeps on a full window until half of it has drained; woken only then, it does not
    // take a core from the receiving threads for every datagram.
    std::atomic<uint64_t> wakeSenderAt{~uint64_t{0}};
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
        if (received.fetch_add(1) + 1 >= wakeSenderAt.load(std::memory_order_relaxed)) {
            wakeSenderAt.store(~uint64_t{0}, std::memory_order_relaxed);
            received.notify_one();
        }
    }
    void Abandon() {
        received.fetch_add(kAbandoned);
        received.notify_one();
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
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in to = Loopback(port);
        for (uint64_t seq = 0; seq < count;) {
            const uint64_t got = progress.received.load();
            if (got >= kAbandoned) {
                break;
            }
            if (seq - got >= kWindow) {
                progress.wakeSenderAt.store(seq - kWindow / 2);
                if (progress.received.load() < seq - kWindow / 2) {
                    progress.received.wait(got);
                }
                continue;
            }
            ::sendto(fd, &seq, sizeof seq, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            ++seq;
        }
        ::close(fd);
    });
}

struct Result {
    double seconds;
    uint64_t received;
    uint64_t outOfOrder;
};

Result PlainLoop(uint64_t count) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr = Loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    timeval stall{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &stall, sizeof stall);

    Progress progress;
    const auto start = std::chrono::steady_clock::now();
    std::thread sender = StartSender(ntohs(addr.sin_port), count, progress);
    char buffer[8192];
    uint64_t received = 0;
    while (received < count) {
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n =
            ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0) {
            break; // a second without a datagram: the rest were lost
        }
        progress.Take(buffer, static_cast<std::size_t>(n));
        ++received;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    progress.Abandon();
    sender.join();
    ::close(fd);
    return {seconds, received, progress.outOfOrder};
}

Result ThroughEndpoint(uint64_t count) {
    TIdUDPServer server;
    Progress progress;
    uint64_t received = 0;
    std::chrono::steady_clock::time_point end;
    server.OnUDPRead = [&](TIdUDPServer&, TMemoryStream& data, TIdSocketHandle&) {
        progress.Take(data.Memory(), data.Size());
        if (++received == count) {
            end = std::chrono::steady_clock::now();
            QCoreApplication::quit();
        }
    };
    server.Bindings().Add().IP = "127.0.0.1";
    server.SetActive(true);

    uint64_t seenAtLastCheck = 0;
    QTimer stallCheck;
    QObject::connect(&stallCheck, &QTimer::timeout, [&] {
        if (received == seenAtLastCheck) {
            end = std::chrono::steady_clock::now();
            QCoreApplication::quit();
        }
        seenAtLastCheck = received;
    });
    stallCheck.start(1000);

    const auto start = std::chrono::steady_clock::now();
    std::thread sender = StartSender(static_cast<uint16_t>(server.Bindings()[0].Port), count, progress);
    QCoreApplication::exec();
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
    QCoreApplication app(argc, argv);
    SetMainThread();
    const auto wakeUp = InstallQtWakeUp();
    const uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200000;

    for (int round = 1; round <= 2; ++round) {
        const Result plain = PlainLoop(count);
        const Result endpoint = ThroughEndpoint(count);
        std::printf("round %d\n", round);
        Print("  plain recvfrom loop", plain, count);
        Print("  listener -> main thread -> OnUDPRead", endpoint, count);
        std::printf("  ratio %.1f %%\n", 100.0 * (static_cast<double>(endpoint.received) / endpoint.seconds) /
                                             (static_cast<double>(plain.received) / plain.seconds));
    }
    return 0;
}
