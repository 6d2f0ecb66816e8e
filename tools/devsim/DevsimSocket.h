// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The simulator's one UDP socket: bound to 0.0.0.0 on the device port, receiving every request,
// and sending each answer from the address of the device that gives it. POSIX only.
#include "tools/devsim/DeviceProfile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();
    int Get() const { return fd_; }

  private:
    int fd_ = -1;
};

struct ReceivedDatagram {
    std::string payload;
    Ipv4 fromIp{};
    uint16_t fromPort = 0;
    // Sent to this one address rather than broadcast: only a device at that address hears it.
    std::optional<Ipv4> unicastTo;
};

class DevsimSocket {
  public:
    explicit DevsimSocket(uint16_t port); // throws std::runtime_error
    int Fd() const { return fd_.Get(); }
    // Nothing when the socket has nothing to read right now.
    std::optional<ReceivedDatagram> Receive();
    // Errors are reported on stderr and otherwise ignored: one lost answer must not stop the others.
    void SendFrom(const Ipv4& source, const Ipv4& to, uint16_t port, const std::string& payload);

  private:
    FileDescriptor fd_;
};

// Throws std::runtime_error naming the address when `ip` is not an address of this namespace.
void RequireLocalAddress(const Ipv4& ip);
// Moves the process into the network namespace at path (a /proc/PID/ns/net of the private LAN's
// segments); throws std::runtime_error when it cannot.
void EnterNetworkNamespace(const std::string& path);
