// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The simulator's event loop: every datagram on the device port is logged, offered to every
// simulated device, and their answers are sent (at once or after the device's delay) from the
// device's address to the requester's port 60001.
#include "tools/devsim/DevsimSocket.h"
#include "tools/devsim/SimulatedDevice.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <queue>
#include <string>
#include <vector>

struct SimulatorOptions {
    std::string logPath;   // empty: no log
    std::string statePath; // empty: no state file
    std::string readyPath; // empty: no ready file
    uint16_t listenPort = 60000;
    uint16_t replyPort = 60001;
};

class Simulator {
  public:
    Simulator(SimulatorOptions options, std::vector<DeviceProfile> devices); // throws std::runtime_error
    // Runs until SIGTERM or SIGINT (which the caller has blocked); returns the exit status.
    int Run();

  private:
    using Clock = std::chrono::steady_clock;
    struct Outgoing {
        Clock::time_point due;
        uint64_t seq; // keeps answers of equal delay in the order they were produced
        Ipv4 from;
        Ipv4 to;
        std::string payload;
        bool operator>(const Outgoing& o) const { return due != o.due ? due > o.due : seq > o.seq; }
    };
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };

    void OnDatagram(const ReceivedDatagram& d);
    void SendDue();
    int MillisecondsToNextDue() const;
    void WriteStateFile() const;
    long long MsSinceStart() const;

    SimulatorOptions options_;
    std::vector<SimulatedDevice> devices_;
    DevsimSocket socket_;
    std::unique_ptr<std::FILE, FileCloser> log_;
    Clock::time_point start_ = Clock::now();
    std::priority_queue<Outgoing, std::vector<Outgoing>, std::greater<>> queue_;
    uint64_t nextSeq_ = 0;
};

// Writes `text` to `path` through a temporary file and a rename, so a reader never sees half of it.
void WriteFileAtomically(const std::string& path, const std::string& text);
