// SPDX-License-Identifier: GPL-3.0-or-later
// A stranger on the segment: sends random datagrams of random length from an address of the private
// LAN to the workstation's port, paced evenly over a given time, and prints what it sent.
//   reliability_flood --from A.B.C.D [--to A.B.C.D] [--port N] [--count N] [--max-bytes N]
//                     [--seconds S] [--seed N]
// Output, one line: "sent=N bytes=N oversize=N failed=N" (oversize: longer than the 8192 bytes the
// program can receive).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
    std::string from;
    std::string to = "10.77.0.100";
    int port = 60001;
    long count = 100000;
    int maxBytes = 9000;
    double seconds = 0; // 0: as fast as the socket takes them
    unsigned seed = 1;
};

[[noreturn]] void Usage(const char* why) {
    std::fprintf(stderr, "reliability_flood: %s\n", why);
    std::exit(2);
}

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string key = argv[i];
        if (i + 1 >= argc)
            Usage(("missing value for " + key).c_str());
        const char* value = argv[++i];
        if (key == "--from")
            o.from = value;
        else if (key == "--to")
            o.to = value;
        else if (key == "--port")
            o.port = std::atoi(value);
        else if (key == "--count")
            o.count = std::atol(value);
        else if (key == "--max-bytes")
            o.maxBytes = std::atoi(value);
        else if (key == "--seconds")
            o.seconds = std::atof(value);
        else if (key == "--seed")
            o.seed = static_cast<unsigned>(std::atol(value));
        else
            Usage(("unknown option " + key).c_str());
    }
    if (o.from.empty())
        Usage("--from is required");
    return o;
}

sockaddr_in Address(const std::string& dotted, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, dotted.c_str(), &a.sin_addr) != 1)
        Usage(("not an address: " + dotted).c_str());
    return a;
}

} // namespace

int main(int argc, char** argv) {
    const Options o = Parse(argc, argv);
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        std::perror("socket");
        return 1;
    }
    const sockaddr_in from = Address(o.from, 0);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) {
        std::perror("bind");
        return 1;
    }
    const sockaddr_in to = Address(o.to, o.port);

    std::mt19937 random(o.seed);
    std::uniform_int_distribution<int> length(0, o.maxBytes);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<char> buffer(static_cast<std::size_t>(o.maxBytes));

    long sent = 0, failed = 0, oversize = 0;
    long long bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < o.count; ++i) {
        if (o.seconds > 0) {
            // Even pacing, so the flood covers the whole run instead of one burst at its start.
            const auto due = start + std::chrono::duration<double>(o.seconds * static_cast<double>(i) /
                                                                   static_cast<double>(o.count));
            std::this_thread::sleep_until(due);
        }
        const auto n = static_cast<std::size_t>(length(random));
        for (std::size_t k = 0; k < n; ++k)
            buffer[k] = static_cast<char>(byte(random));
        if (::sendto(fd, buffer.data(), n, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
            static_cast<ssize_t>(n)) {
            ++sent;
            bytes += static_cast<long long>(n);
            oversize += n > 8192 ? 1 : 0;
        } else {
            ++failed;
        }
    }
    ::close(fd);
    std::printf("sent=%ld bytes=%lld oversize=%ld failed=%ld\n", sent, bytes, oversize, failed);
    return 0;
}
