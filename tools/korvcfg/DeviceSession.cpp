// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/DeviceSession.h"

#include "net/IdException.h"
#include "net/IdUDPServer.h"
#include "protocol/DeviceMessages.h"
#include "protocol/HexCodec.h"
#include "protocol/WriteSequence.h"

#include <algorithm>
#include <map>

namespace korvcfg {

namespace {

Octets ToOctets(const std::array<int32_t, 4>& values) {
    // The record reader yields single bytes, so every value already fits.
    return {static_cast<uint8_t>(values[0]), static_cast<uint8_t>(values[1]), static_cast<uint8_t>(values[2]),
            static_cast<uint8_t>(values[3])};
}

std::array<std::string, 4> OctetTexts(const Octets& octets) {
    return {std::to_string(octets[0]), std::to_string(octets[1]), std::to_string(octets[2]),
            std::to_string(octets[3])};
}

std::string Named(const FoundDevice& device) {
    return device.mac + " (" + device.ip + ")";
}

std::string CodeText(int32_t code) {
    return BytesToHex(std::string(1, static_cast<char>(code & 0xFF)));
}

std::string FieldValue(const DeviceSettings& s, const std::string& field) {
    if (field == "ip")
        return FormatAddress(s.ip);
    if (field == "mask")
        return FormatAddress(s.mask);
    if (field == "gateway")
        return FormatAddress(s.gateway);
    if (field == "remote_ip")
        return FormatAddress(s.remoteIp);
    if (field == "port")
        return std::to_string(s.port);
    if (field == "mode")
        return s.ModeName().value_or("code " + CodeText(s.modeCode));
    const auto baud = s.Baud();
    return baud ? std::to_string(*baud) : "code " + CodeText(s.baudCode);
}

// The parameter of each step, all worked out before the first send: a value that cannot be written
// must stop the write before the device has taken any part of it.
std::vector<std::string> StepParams(const FoundDevice& device, const DeviceSettings& target) {
    std::vector<std::string> params;
    for (const WriteStepInfo& step : WriteSequence) {
        std::optional<std::string> param;
        switch (step.code) {
        case CommandCode::DeviceIp:
            param = OctetsParam(OctetTexts(target.ip));
            break;
        case CommandCode::SubnetMask:
            param = OctetsParam(OctetTexts(target.mask));
            break;
        case CommandCode::RemoteIp:
            param = OctetsParam(OctetTexts(target.remoteIp));
            break;
        case CommandCode::Gateway:
            param = OctetsParam(OctetTexts(target.gateway));
            break;
        case CommandCode::LocalPort:
            param = PortParam(std::to_string(target.port));
            break;
        case CommandCode::NetworkMode:
            param = target.ModeEntry() ? ModeParam(*target.ModeEntry()) : std::nullopt;
            if (!param) {
                throw OpsError(OpsError::Kind::UnknownCode,
                               Named(device) + " reports network mode code " + CodeText(target.modeCode) +
                                   ", which names no mode; give --mode to write it (nothing was written)");
            }
            break;
        case CommandCode::SerialSpeed:
            param = target.BaudEntry() ? BaudParam(*target.BaudEntry()) : std::nullopt;
            if (!param) {
                throw OpsError(OpsError::Kind::UnknownCode,
                               Named(device) + " reports speed code " + CodeText(target.baudCode) +
                                   ", which names no speed; give --baud to write it (nothing was written)");
            }
            break;
        case CommandCode::Commit:
        case CommandCode::ReadConfig:
            param = CommitParam();
            break;
        }
        params.push_back(*param);
    }
    return params;
}

} // namespace

std::optional<int> DeviceSettings::ModeEntry() const {
    return ModeEntryForCode(modeCode);
}

std::optional<int> DeviceSettings::BaudEntry() const {
    return BaudEntryForCode(baudCode);
}

std::optional<std::string> DeviceSettings::ModeName() const {
    const auto entry = ModeEntry();
    return entry ? ModeNameOfEntry(*entry) : std::nullopt;
}

std::optional<int> DeviceSettings::Baud() const {
    const auto entry = BaudEntry();
    return entry ? BaudForEntry(*entry) : std::nullopt;
}

DeviceSettings Merged(const DeviceSettings& current, const SettingsChange& change) {
    DeviceSettings s = current;
    s.ip = change.ip.value_or(s.ip);
    s.mask = change.mask.value_or(s.mask);
    s.gateway = change.gateway.value_or(s.gateway);
    s.remoteIp = change.remoteIp.value_or(s.remoteIp);
    s.port = change.port.value_or(s.port);
    if (change.modeEntry) {
        s.modeCode = ModeCodeForEntry(*change.modeEntry).value_or(s.modeCode);
    }
    if (change.baudEntry) {
        s.baudCode = BaudCodeForEntry(*change.baudEntry).value_or(s.baudCode);
    }
    return s;
}

std::vector<std::string> DifferingFields(const DeviceSettings& a, const DeviceSettings& b) {
    std::vector<std::string> fields;
    if (a.ip != b.ip)
        fields.push_back("ip");
    if (a.mask != b.mask)
        fields.push_back("mask");
    if (a.gateway != b.gateway)
        fields.push_back("gateway");
    if (a.remoteIp != b.remoteIp)
        fields.push_back("remote_ip");
    if (a.port != b.port)
        fields.push_back("port");
    if (a.modeCode != b.modeCode)
        fields.push_back("mode");
    if (a.baudCode != b.baudCode)
        fields.push_back("baud");
    return fields;
}

DeviceSession::DeviceSession(OpsClock& clock, OpsMessages messages)
    : FClock(clock), FMessages(std::move(messages)) {}

DeviceSession::~DeviceSession() {
    if (FServer) {
        try {
            FServer->SetActive(false);
        } catch (...) {
            // Ending anyway; the endpoint's destructor closes whatever is still open.
        }
    }
}

void DeviceSession::Open() {
    try {
        FServer = std::make_unique<TIdUDPServer>();
        FServer->OnUDPRead = [this](TIdUDPServer&, TMemoryStream& data, TIdSocketHandle& binding) {
            FInbox.push_back({binding.SenderIP, BytesToHex(data.ReadAll())});
        };
        FServer->SetDefaultPort(WorkstationPort);
        FServer->BroadcastInterface = Interface;
        FServer->SetActive(true);
    } catch (const EIdCouldNotBindSocket&) {
        FServer.reset();
        throw OpsError(OpsError::Kind::PortInUse,
                       "UDP port " + std::to_string(WorkstationPort) +
                           " is in use by another program (the configuration window, perhaps); "
                           "close it and try again");
    } catch (const EIdException& e) {
        FServer.reset();
        throw OpsError(OpsError::Kind::Network,
                       "cannot open UDP port " + std::to_string(WorkstationPort) + ": " + e.what());
    }
}

void DeviceSession::Send(const std::string& bytes) {
    try {
        FServer->Broadcast(bytes, DevicePort);
    } catch (const EIdException& e) {
        throw OpsError(OpsError::Kind::Network, std::string("cannot send: ") + e.what());
    }
}

bool DeviceSession::SendAndAwait(const std::string& bytes, uint32_t waitMs,
                                 const std::function<bool(const Datagram&)>& take) {
    Send(bytes);
    const auto deadline = FClock.Now() + std::chrono::milliseconds(waitMs);
    return FClock.WaitUntil(deadline, [&] {
        while (!FInbox.empty()) {
            const Datagram d = std::move(FInbox.front());
            FInbox.pop_front();
            if (take(d)) {
                return true;
            }
        }
        return false;
    });
}

std::vector<FoundDevice> DeviceSession::Scan(uint32_t waitMs) {
    FInbox.clear();
    std::vector<FoundDevice> found;
    SendAndAwait(ScanRequest(), waitMs, [&](const Datagram& d) {
        if (const auto mac = MacTextFromScanReply(d.hex)) {
            const FoundDevice device{d.ip, *mac};
            if (std::find(found.begin(), found.end(), device) == found.end()) {
                found.push_back(device);
            }
        }
        return false;
    });
    std::map<std::string, std::vector<std::string>> macsByIp;
    std::map<std::string, std::vector<std::string>> ipsByMac;
    for (const FoundDevice& device : found) {
        macsByIp[device.ip].push_back(device.mac);
        ipsByMac[device.mac].push_back(device.ip);
    }
    auto joined = [](const std::vector<std::string>& items) {
        std::string text;
        for (const std::string& item : items) {
            text += (text.empty() ? "" : ", ") + item;
        }
        return text;
    };
    if (FMessages.warning) {
        for (const auto& [ip, macs] : macsByIp) {
            if (macs.size() > 1) {
                FMessages.warning("address conflict: " + ip + " answered for " + std::to_string(macs.size()) +
                                  " devices (" + joined(macs) + ")");
            }
        }
        for (const auto& [mac, ips] : ipsByMac) {
            if (ips.size() > 1) {
                FMessages.warning(mac + " answered from " + std::to_string(ips.size()) + " addresses (" +
                                  joined(ips) + ")");
            }
        }
    }
    return found;
}

DeviceSettings DeviceSession::Read(const FoundDevice& device) {
    FInbox.clear();
    const std::size_t recordDigits = 2 * ConfigRecordMinBytes();
    std::string record;
    for (int send = 1; send <= RecordSends; ++send) {
        // A record that answers an earlier request still counts: the inbox is kept across the sends.
        const bool got = SendAndAwait(ConfigReadRequest(device.mac), RecordWaitMs, [&](const Datagram& d) {
            if (d.ip != device.ip || d.hex.size() < recordDigits) {
                return false;
            }
            record = d.hex;
            return true;
        });
        if (got) {
            const ConfigRecordFields f = ReadConfigRecord(record);
            DeviceSettings s;
            s.ip = ToOctets(f.deviceIp);
            s.mask = ToOctets(f.subnetMask);
            s.gateway = ToOctets(f.gateway);
            s.remoteIp = ToOctets(f.remoteIp);
            s.port = static_cast<uint16_t>(f.port);
            s.modeCode = f.modeCode;
            s.baudCode = f.baudCode;
            return s;
        }
    }
    throw OpsError(OpsError::Kind::NoAnswer, Named(device) + " did not answer the configuration read (" +
                                                 std::to_string(RecordSends) + " requests, " +
                                                 std::to_string(RecordWaitMs) + " ms each)");
}

void DeviceSession::Write(const FoundDevice& device, const DeviceSettings& target) {
    const std::vector<std::string> params = StepParams(device, target);
    // The device may take its new IP on the commit and acknowledge it from there.
    const std::string writtenIp = FormatAddress(target.ip);
    for (std::size_t i = 0; i < WriteSequence.size(); ++i) {
        const WriteStepInfo& step = WriteSequence[i];
        const std::string request = WriteCommand(device.mac, step.code, params[i]);
        const std::string ack = WriteAckText(step.code);
        const auto fromDevice = [&](const std::string& ip) {
            return ip == device.ip || (step.code == CommandCode::Commit && ip == writtenIp);
        };
        FInbox.clear();
        bool acknowledged = false;
        int sends = 0;
        // Unlike the window, the acknowledgement of the last send counts too: it is waited for all the
        // same, and a device that took the value should not be reported as having refused it.
        while (!acknowledged && sends < SendsPerWriteStep) {
            ++sends;
            if (step.code == CommandCode::Commit) {
                FCommitSentAt = FClock.Now();
            }
            acknowledged = SendAndAwait(request, step.waitMs,
                                        [&](const Datagram& d) { return fromDevice(d.ip) && d.hex == ack; });
        }
        if (!acknowledged) {
            throw OpsError(OpsError::Kind::NotAcknowledged,
                           Named(device) + ": the " + step.name + " step was not acknowledged after " +
                               std::to_string(sends) + " sends; nothing after it was sent");
        }
        if (FMessages.progress) {
            FMessages.progress(device.mac + ": " + step.name + " acknowledged" +
                               (sends > 1 ? " (send " + std::to_string(sends) + ")" : ""));
        }
    }
}

void DeviceSession::Verify(const FoundDevice& device, const DeviceSettings& written, uint32_t scanWaitMs) {
    // The device takes the whole configuration on the commit; asking before the commit's wait is over
    // could find it busy with that.
    const auto commitWait = std::chrono::milliseconds(WriteSequence.back().waitMs);
    FClock.WaitUntil(FCommitSentAt + commitWait, [] { return false; });
    const FoundDevice again = Locate(Scan(scanWaitMs), device.mac, scanWaitMs);
    const DeviceSettings readBack = Read(again);
    const std::vector<std::string> differing = DifferingFields(written, readBack);
    if (differing.empty()) {
        return;
    }
    std::string fields;
    for (const std::string& field : differing) {
        fields += (fields.empty() ? "" : ", ") + field + " (wrote " + FieldValue(written, field) +
                  ", reads " + FieldValue(readBack, field) + ")";
    }
    throw OpsError(OpsError::Kind::Mismatch,
                   Named(again) + ": read back after the commit, differs from what was written in " + fields);
}

FoundDevice Locate(const std::vector<FoundDevice>& found, const std::string& mac, uint32_t scanWaitMs) {
    std::vector<FoundDevice> matches;
    std::copy_if(found.begin(), found.end(), std::back_inserter(matches),
                 [&](const FoundDevice& d) { return d.mac == mac; });
    if (matches.empty()) {
        throw OpsError(OpsError::Kind::NotFound, mac + " not found: no answer to the scan within " +
                                                     std::to_string(scanWaitMs) + " ms");
    }
    if (matches.size() > 1) {
        throw OpsError(OpsError::Kind::NotFound, mac + " answered from more than one address (" +
                                                     matches[0].ip + ", " + matches[1].ip +
                                                     "); cannot tell which is the device");
    }
    return matches.front();
}

} // namespace korvcfg
