// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Drives a real devsim process from a test running inside tests/private-lan: starts it with a log,
// a state file and a ready file in a fresh directory, and talks to it from the workstation's port.
#include "ChildProcess.h"

#include <chrono>
#include <memory>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct Reply {
    std::string hex;
    std::string fromIp;
    int fromPort = 0;
};

// One datagram the simulator heard: milliseconds since its start, "a.b.c.d:port" of the sender, bytes.
struct DevsimLogLine {
    long ms = 0;
    std::string source;
    std::string hex;
};

class DevsimProcess {
  public:
    explicit DevsimProcess(const std::vector<std::string>& deviceArgs); // waits for --ready
    ~DevsimProcess();
    DevsimProcess(const DevsimProcess&) = delete;
    DevsimProcess& operator=(const DevsimProcess&) = delete;

    bool Started() const { return started_; }
    // Why it did not start; empty when it did.
    const std::string& Failure() const { return failure_; }
    std::string State() const;
    // The committed configuration by DeviceId: the rest of the device's state line.
    std::map<std::string, std::string> Devices() const;
    std::vector<DevsimLogLine> Log() const;
    std::vector<std::string> LogLines() const;
    bool Running();
    int Stop(); // SIGTERM, then the exit status (or -1 when it did not exit normally)

  private:
    std::string dir_;
    std::unique_ptr<ChildProcess> process_;
    bool started_ = false;
    std::string failure_;
};

class UdpClient {
  public:
    UdpClient(); // 0.0.0.0:60001 with broadcast allowed and a large receive buffer
    ~UdpClient();
    UdpClient(const UdpClient&) = delete;
    UdpClient& operator=(const UdpClient&) = delete;

    void Broadcast(const std::string& hex);                     // to 255.255.255.255:60000
    void SendTo(const std::string& ip, const std::string& hex); // to ip:60000
    std::optional<Reply> Receive(std::chrono::milliseconds bound = std::chrono::milliseconds(3000));

  private:
    int fd_ = -1;
};

std::string DevsimPath();
bool InPrivateLan();
struct CommandResult {
    int status = -1;
    std::string out;
    std::string err;
};
// Runs a shell command line; returns its exit status and what it wrote to stdout and stderr.
CommandResult RunCommand(const std::string& command);
// Runs korvcfg with args: the one built beside the test, or the command KORV_KORVCFG names (the
// Windows build runs these suites with korvcfg.exe under Wine). A Windows program ends its lines
// with CR LF; they are returned as LF, which is what the suites compare.
CommandResult RunKorvcfg(const std::string& builtPath, const std::string& args);

// Sends one datagram from sourceIp (an address of the private LAN) to the workstation's port, the
// way a device or a stranger that nobody asked would.
void SendFromAddress(const std::string& sourceIp, const std::string& bytes,
                     const std::string& toIp = "10.77.0.100", int toPort = 60001);
