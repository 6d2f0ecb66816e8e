// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/devsim/SimulatedDevice.h"

#include "protocol/DeviceMessages.h"

#include <utility>

namespace {

Ipv4 Octets(const std::string& params) {
    return {static_cast<uint8_t>(params[0]), static_cast<uint8_t>(params[1]), static_cast<uint8_t>(params[2]),
            static_cast<uint8_t>(params[3])};
}

} // namespace

SimulatedDevice::SimulatedDevice(DeviceProfile profile)
    : profile_(std::move(profile)), pending_(profile_.config) {}

bool SimulatedDevice::Acknowledges(uint8_t code) {
    const int send = ++sends_[code];
    const FaultKnobs& f = profile_.faults;
    if (f.noAck.count(code) != 0)
        return false;
    const auto from = f.ackFrom.find(code);
    return from == f.ackFrom.end() || send >= from->second;
}

void SimulatedDevice::Buffer(uint8_t code, const std::string& p) {
    switch (static_cast<CommandCode>(code)) {
    case CommandCode::DeviceIp:
        pending_.deviceIp = Octets(p);
        break;
    case CommandCode::SubnetMask:
        pending_.subnetMask = Octets(p);
        break;
    case CommandCode::RemoteIp:
        pending_.remoteIp = Octets(p);
        break;
    case CommandCode::Gateway:
        pending_.gateway = Octets(p);
        break;
    case CommandCode::NetworkMode:
        pending_.modeCode = static_cast<uint8_t>(p[0]);
        break;
    case CommandCode::SerialSpeed:
        pending_.baudCode = static_cast<uint8_t>(p[0]);
        break;
    case CommandCode::LocalPort: // low byte first on the wire
        pending_.port = static_cast<uint16_t>(static_cast<uint8_t>(p[0]) | static_cast<uint8_t>(p[1]) << 8);
        break;
    default:
        break;
    }
}

Reaction SimulatedDevice::Handle(const Request& request) {
    Reaction r;
    const FaultKnobs& f = profile_.faults;
    if (request.kind == RequestKind::Malformed || request.kind == RequestKind::Foreign)
        return r;
    if (request.kind == RequestKind::Addressed && request.deviceId != profile_.id) {
        r.outcome = Outcome::OtherDevice;
        return r;
    }
    if (f.silent) {
        r.outcome = Outcome::Dropped;
        return r;
    }
    if (request.kind == RequestKind::Scan) {
        r.outcome = Outcome::Answered;
        r.replies.push_back(ScanReplyBytes(profile_.id, profile_.config, f.scanReply));
        if (f.scanTwice)
            r.replies.push_back(r.replies.front());
        return r;
    }
    // A request the device does not acknowledge is treated as lost: nothing of it is applied.
    if (!Acknowledges(request.code)) {
        r.outcome = Outcome::Dropped;
        return r;
    }
    r.outcome = Outcome::Answered;
    if (request.code == static_cast<uint8_t>(CommandCode::ReadConfig)) {
        r.replies.push_back(ConfigRecordBytes(profile_.id, profile_.config));
        return r;
    }
    if (request.code == static_cast<uint8_t>(CommandCode::Commit)) {
        profile_.config = pending_;
        r.committed = true;
    } else {
        Buffer(request.code, request.params);
    }
    const auto wrong = f.wrongAck.find(request.code);
    r.replies.push_back(WriteAckBytes(wrong == f.wrongAck.end() ? request.code : wrong->second));
    if (f.stray)
        r.replies.push_back(StrayBytes());
    return r;
}
