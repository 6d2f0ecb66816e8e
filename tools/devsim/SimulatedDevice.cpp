// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/devsim/SimulatedDevice.h"

#include "protocol/DeviceMessages.h"

#include <utility>

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

void SimulatedDevice::Buffer(uint8_t code, const std::string& params) {
    if (const ConfigField* field = FieldOfStep(static_cast<CommandCode>(code))) {
        field->set(pending_, FieldFromBytes(*field, params));
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
