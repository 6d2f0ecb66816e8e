// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The device side of the wire: how a simulated device reads a request and lays out its answers.
// The workstation's readers (DeviceMessages.h) fix only a few bytes of each answer; the rest is
// filled the way a real unit would fill it, so that nothing downstream can lean on zeros.
#include "tools/devsim/DeviceProfile.h"

#include <cstdint>
#include <string>

enum class RequestKind {
    Scan,      // five zero bytes
    Addressed, // lead byte 01, DeviceId, code, parameters of the right length
    Malformed, // starts like an addressed request but is cut short, too long or has a wrong fill
    Foreign,   // anything else
};

struct Request {
    RequestKind kind = RequestKind::Foreign;
    std::string deviceId; // ten hex digits, for Addressed and Malformed frames that carry one
    uint8_t code = 0;
    std::string params; // raw parameter bytes
    std::string why;    // for Malformed and Foreign: what is wrong, for the diagnostics
};

Request ParseRequest(const std::string& datagram);

std::string ScanReplyBytes(const std::string& deviceId, const DeviceConfig& config, ScanReplyShape shape);
std::string ConfigRecordBytes(const std::string& deviceId, const DeviceConfig& config);
std::string WriteAckBytes(uint8_t code);
// The unsolicited datagram of the stray=1 knob: a link-status notice, which is no acknowledgement.
std::string StrayBytes();

inline constexpr size_t ConfigRecordSize = 64;
