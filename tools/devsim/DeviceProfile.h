// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What one simulated device is: its identity, the configuration it answers with, and the faults it
// plays. Parsed from the command line; pure data, no sockets.
#include "protocol/DeviceConfig.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

using Ipv4 = Ipv4Octets;

// What a device answers with when its command line names nothing else.
inline constexpr DeviceConfig SimulatedDefaults{.modeCode = 0x00,
                                                .port = 4001,
                                                .remoteIp = {10, 77, 0, 100},
                                                .subnetMask = {255, 255, 255, 0},
                                                .baudCode = 0xD0};

enum class ScanReplyShape { Normal, Short, Malformed };

struct FaultKnobs {
    int delayMs = 0;
    std::map<uint8_t, int> ackFrom;      // code -> first send (1-based) that is answered
    std::set<uint8_t> noAck;             // codes never answered
    std::map<uint8_t, uint8_t> wrongAck; // code -> code whose ack is sent instead
    bool scanTwice = false;
    bool stray = false;
    bool silent = false;
    ScanReplyShape scanReply = ScanReplyShape::Normal;
};

struct DeviceProfile {
    std::string id; // ten upper-case hex digits
    Ipv4 sourceIp{};
    DeviceConfig config = SimulatedDefaults;
    FaultKnobs faults;
};

struct ProfileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// `--device` text: key=value pairs, the configuration's under the table's keys (ip, mask, gateway,
// remote_ip, port, mode, baud), id= and from= (the address it answers from; by default its ip=).
// `ordinal` (1-based, across the whole command line) gives the defaults: id 5AD7 followed by the
// ordinal as six hex digits, from and ip 10.77.1.<ordinal>.
DeviceProfile ParseDeviceProfile(const std::string& text, int ordinal);
// `--many` text: "N,base_ip=A.B.C.D[,key=value...]"; devices take ordinals first, first+1, ...
// Besides the --device keys (but id=, from= and ip=) it takes stagger=MS: device k of the group (from 0)
// waits delay + k * stagger before answering, so a crowd does not answer in one burst.
std::vector<DeviceProfile> ParseManyProfile(const std::string& text, int firstOrdinal);

std::string FormatIpv4(const Ipv4& ip);
std::optional<Ipv4> ParseIpv4(const std::string& text);
// One line of the state file, without the newline.
std::string FormatStateLine(const DeviceProfile& profile, const DeviceConfig& committed);
