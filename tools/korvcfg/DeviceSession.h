// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One korvcfg run's conversation with the devices: the endpoint on UDP port 60001, the scan, the
// configuration read and the eight write steps, on the window's datagrams and its table of steps.
// Stricter than the window: a record or an acknowledgement counts only when it comes from the address
// at which the scan found the device (the commit's also from the device IP being written, which the
// device may take at once), so a stranger's datagram or another device's late reply is never taken
// for one.
#include "net/OpsClock.h"
#include "protocol/DeviceConfig.h"
#include "tools/korvcfg/Values.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

class TIdUDPServer;

namespace korvcfg {

// How long a configuration read waits for the record after each request, and how often the request
// is sent: a record is one datagram and can be lost like any other.
inline constexpr uint32_t RecordWaitMs = 1000;
inline constexpr int RecordSends = 3;
// A sweep of a /20 (4,096 addresses) takes about a second this way, rather than flooding the link at
// once.
inline constexpr std::size_t UnicastScansPerMs = 4;

// An operation failed: korvcfg ends with status 1.
class OpsError : public std::runtime_error {
  public:
    enum class Kind { PortInUse, Network, NotFound, NoAnswer, NotAcknowledged, UnknownCode, Mismatch };
    OpsError(Kind kind, const std::string& message) : std::runtime_error(message), FKind(kind) {}
    Kind WhatFailed() const { return FKind; }

  private:
    Kind FKind;
};

struct FoundDevice {
    std::string ip; // where its scan reply came from: the only address korvcfg hears it at
    std::string mac;
    bool operator==(const FoundDevice&) const = default;
};

struct OpsMessages {
    std::function<void(const std::string&)> progress; // one line per acknowledged step
    std::function<void(const std::string&)> warning;
};

class DeviceSession {
  public:
    DeviceSession(OpsClock& clock, OpsMessages messages);
    // A second conversation on shared's open endpoint, waiting on a clock of its own (see
    // RunTakingTurns): it hears every datagram shared hears, from the moment it is made, and shared
    // hears none while it exists. Its messages are shared's.
    DeviceSession(DeviceSession& shared, OpsClock& clock);
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Binds 0.0.0.0:60001; OpsError PortInUse when another program (the window, say) holds it.
    void Open();
    // Every send leaves through this adapter only (see TIdUDPBase::BroadcastInterface); empty: through
    // every adapter. Taken by Open.
    std::string Interface;
    // Devices behind a router, which no broadcast reaches: with targets, the scan goes by unicast to
    // each of them (paced, UnicastScansPerMs), and every later request to the address its device
    // answered from. Empty: everything is broadcast, as the window does.
    std::vector<std::string> Targets;

    // Every device that answers one ScanRequest within waitMs (counted from the last send), in arrival
    // order, each (IP, MAC) once. With targets, the request also goes to alsoTo (where a written device
    // may answer from now).
    std::vector<FoundDevice> Scan(uint32_t waitMs, const std::vector<std::string>& alsoTo = {});
    DeviceConfig Read(const FoundDevice& device);
    // The records of many devices at once: every request sent (paced as the scan's), then one wait
    // for all the records, RecordSends rounds for those still missing. By MAC; a device that never
    // answers, or that shares its address with another (whose records could not be told apart), is
    // left out.
    std::map<std::string, DeviceConfig> ReadMany(const std::vector<FoundDevice>& devices);
    // This workstation's own IPv4 addresses, as far as its adapters tell (while the session is open).
    std::vector<std::string> WorkstationAddresses() const;
    // The eight steps in the window's order, each sent until acknowledged, at most SendsPerWriteStep
    // times; stops at the first step that runs out of sends (OpsError NotAcknowledged naming it).
    void Write(const FoundDevice& device, const DeviceConfig& target);
    // After a Write: gives the device the commit's whole wait, finds it again by a scan (a new IP
    // takes effect on the commit), reads it back and compares (OpsError Mismatch naming the fields).
    void Verify(const FoundDevice& device, const DeviceConfig& written, uint32_t scanWaitMs);
    // The part of Verify after its scan, for many devices written at once and found again by one scan:
    // reads the device back where found lists it and compares.
    void VerifyFound(const std::vector<FoundDevice>& found, const FoundDevice& device,
                     const DeviceConfig& written, uint32_t scanWaitMs);
    // When this conversation's last commit was sent (0 before any).
    std::chrono::milliseconds CommitSentAt() const { return FCommitSentAt; }

    OpsClock& Clock() { return FClock; }

  private:
    struct Datagram {
        std::string ip;
        std::string hex;
    };
    // Broadcasts bytes, then runs deliveries for up to waitMs, handing each received datagram to take
    // until it returns true.
    bool SendAndAwait(const std::string& bytes, const std::string& to, uint32_t waitMs,
                      const std::function<bool(const Datagram&)>& take);
    bool Await(uint32_t waitMs, const std::function<bool(const Datagram&)>& take);
    // Sends bytesFor(k) to the k-th address, UnicastScansPerMs to a millisecond; the replies wait in
    // the inbox.
    void SendPaced(const std::vector<std::string>& to,
                   const std::function<std::string(std::size_t)>& bytesFor);
    // To the address given by unicast when there are targets; broadcast otherwise, or without one.
    void Send(const std::string& bytes, const std::string& to);
    class Link;

    OpsClock& FClock;
    OpsMessages FMessages;
    std::deque<Datagram> FInbox; // filled on the main thread only, by the endpoint's deliveries
    std::chrono::milliseconds FCommitSentAt{0};
    DeviceSession* FShared = nullptr;      // whose endpoint a second conversation uses
    std::vector<DeviceSession*> FForks;    // the conversations on this one's endpoint
    std::unique_ptr<TIdUDPServer> FServer; // after FInbox: stopped before what its deliveries touch goes
};

// The one device with this MAC in a scan; OpsError NotFound when none, or when it answered from more
// than one address (korvcfg could not tell which is the device).
FoundDevice Locate(const std::vector<FoundDevice>& found, const std::string& mac, uint32_t scanWaitMs);

} // namespace korvcfg
