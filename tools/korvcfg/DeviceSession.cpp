// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/DeviceSession.h"

#include "net/IdException.h"
#include "net/IdStack.h"
#include "net/IdUDPServer.h"
#include "protocol/DeviceMessages.h"
#include "protocol/HexCodec.h"
#include "protocol/WriteSequence.h"

#include <algorithm>
#include <map>

namespace korvcfg {

namespace {

std::string Named(const FoundDevice& device) {
    return device.mac + " (" + device.ip + ")";
}

std::string HexByte(int32_t code) {
    return BytesToHex(std::string(1, static_cast<char>(code & 0xFF)));
}

const std::string ReceivingStopped = "receiving on UDP port " + std::to_string(WorkstationPort) + " stopped";

} // namespace

// A write's replies are those from the address at which the scan found the device; the commit's may
// also come from the device IP being written, which the device may take at once.
class DeviceSession::Link : public WriteLink {
  public:
    Link(DeviceSession& session, const FoundDevice& device, const DeviceConfig& target)
        : S(session), FDevice(device), FWrittenIp(FormatAddress(target.deviceIp)) {}
    void ForgetReplies() override { S.FInbox.clear(); }
    void Send(CommandCode step, const std::string& bytes) override {
        if (step == CommandCode::Commit) {
            S.FCommitSentAt = S.FClock.Now();
        }
        S.Send(bytes, FDevice.ip);
    }
    void Await(CommandCode step, uint32_t waitMs,
               const std::function<bool(const std::string&)>& take) override {
        S.Await(waitMs, [&](const Datagram& d) {
            return (d.ip == FDevice.ip || (step == CommandCode::Commit && d.ip == FWrittenIp)) && take(d.hex);
        });
    }

  private:
    DeviceSession& S;
    const FoundDevice& FDevice;
    const std::string FWrittenIp;
};

DeviceSession::DeviceSession(OpsClock& clock, OpsMessages messages)
    : FClock(clock), FMessages(std::move(messages)) {}

DeviceSession::DeviceSession(DeviceSession& shared, OpsClock& clock)
    : Targets(shared.Targets), FClock(clock), FMessages(shared.FMessages), FShared(&shared) {
    shared.FForks.push_back(this);
}

DeviceSession::~DeviceSession() {
    if (FShared != nullptr) {
        std::erase(FShared->FForks, this);
    }
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
            Datagram d{binding.SenderIP, BytesToHex(data.ReadAll())};
            if (FForks.empty()) {
                FInbox.push_back(std::move(d));
            }
            for (DeviceSession* fork : FForks) {
                fork->FInbox.push_back(d);
            }
        };
        FServer->SetDefaultPort(WorkstationPort);
        FServer->BroadcastInterface = Interface;
        // A target may be a segment's broadcast address (to reach it as well as those behind a router),
        // which the system sends to only with the broadcast option on.
        FServer->SetBroadcastEnabled(!Targets.empty());
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

void DeviceSession::Send(const std::string& bytes, const std::string& to) {
    try {
        TIdUDPServer& server = *(FShared != nullptr ? FShared->FServer : FServer);
        if (Targets.empty() || to.empty()) {
            server.Broadcast(bytes, DevicePort);
        } else {
            server.SendDatagramThrough(to, DevicePort, bytes);
        }
    } catch (const EIdException& e) {
        throw OpsError(OpsError::Kind::Network, std::string("cannot send: ") + e.what());
    }
}

void DeviceSession::SendPaced(const std::vector<std::string>& to,
                              const std::function<std::string(std::size_t)>& bytesFor) {
    const auto start = FClock.Now();
    for (std::size_t k = 0; k < to.size(); ++k) {
        // The answers that come meanwhile wait in the inbox for the wait that follows.
        if (k > 0 && k % UnicastScansPerMs == 0) {
            FClock.WaitUntil(start + std::chrono::milliseconds(k / UnicastScansPerMs), [] { return false; });
        }
        Send(bytesFor(k), to[k]);
    }
}

bool DeviceSession::SendAndAwait(const std::string& bytes, const std::string& to, uint32_t waitMs,
                                 const std::function<bool(const Datagram&)>& take) {
    Send(bytes, to);
    return Await(waitMs, take);
}

bool DeviceSession::Await(uint32_t waitMs, const std::function<bool(const Datagram&)>& take) {
    const auto deadline = FClock.Now() + std::chrono::milliseconds(waitMs);
    const bool taken = FClock.WaitUntil(deadline, [&] {
        while (!FInbox.empty()) {
            const Datagram d = std::move(FInbox.front());
            FInbox.pop_front();
            if (take(d)) {
                return true;
            }
        }
        return false;
    });
    // A wait in which nothing could be received must not pass for one in which no device answered:
    // "no device answered" with status 0 would be a failure reported as success.
    if (const std::exception_ptr error = (FShared != nullptr ? FShared->FServer : FServer)->ListenerError()) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            throw OpsError(OpsError::Kind::Network, ReceivingStopped + ": " + e.what());
        } catch (...) {
            throw OpsError(OpsError::Kind::Network, ReceivingStopped);
        }
    }
    return taken;
}

std::vector<FoundDevice> DeviceSession::Scan(uint32_t waitMs, const std::vector<std::string>& alsoTo) {
    FInbox.clear();
    if (Targets.empty()) {
        Send(ScanRequest(), "");
    } else {
        std::vector<std::string> to = Targets;
        for (const std::string& ip : alsoTo) {
            if (std::find(to.begin(), to.end(), ip) == to.end()) {
                to.push_back(ip);
            }
        }
        SendPaced(to, [](std::size_t) { return ScanRequest(); });
    }
    std::vector<FoundDevice> found;
    Await(waitMs, [&](const Datagram& d) {
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

DeviceConfig DeviceSession::Read(const FoundDevice& device) {
    FInbox.clear();
    std::string record;
    for (int send = 1; send <= RecordSends; ++send) {
        // A record that answers an earlier request still counts: the inbox is kept across the sends.
        const bool got =
            SendAndAwait(ConfigReadRequest(device.mac), device.ip, RecordWaitMs, [&](const Datagram& d) {
                if (d.ip != device.ip || !IsConfigRecord(d.hex)) {
                    return false;
                }
                record = d.hex;
                return true;
            });
        if (got) {
            return ReadConfigRecord(record);
        }
    }
    throw OpsError(OpsError::Kind::NoAnswer, Named(device) + " did not answer the configuration read (" +
                                                 std::to_string(RecordSends) + " requests, " +
                                                 std::to_string(RecordWaitMs) + " ms each)");
}

std::map<std::string, DeviceConfig> DeviceSession::ReadMany(const std::vector<FoundDevice>& devices) {
    std::map<std::string, int> atAddress;
    for (const FoundDevice& device : devices) {
        ++atAddress[device.ip];
    }
    std::map<std::string, const FoundDevice*> missing; // by address
    for (const FoundDevice& device : devices) {
        if (atAddress[device.ip] == 1) {
            missing[device.ip] = &device;
        }
    }
    std::map<std::string, DeviceConfig> records;
    for (int round = 1; round <= RecordSends && !missing.empty(); ++round) {
        FInbox.clear();
        std::vector<const FoundDevice*> asked;
        std::vector<std::string> to;
        for (const auto& [ip, device] : missing) {
            asked.push_back(device);
            to.push_back(ip);
        }
        SendPaced(to, [&](std::size_t k) { return ConfigReadRequest(asked[k]->mac); });
        Await(RecordWaitMs, [&](const Datagram& d) {
            const auto it = missing.find(d.ip);
            if (it != missing.end() && IsConfigRecord(d.hex)) {
                records[it->second->mac] = ReadConfigRecord(d.hex);
                missing.erase(it);
            }
            return missing.empty();
        });
    }
    return records;
}

std::vector<std::string> DeviceSession::WorkstationAddresses() const {
    std::vector<std::string> addresses;
    for (const TIdBroadcastAdapter& adapter : TIdStack::Instance().BroadcastAdapters()) {
        addresses.push_back(DottedQuad(adapter.Address));
    }
    return addresses;
}

void DeviceSession::Write(const FoundDevice& device, const DeviceConfig& target) {
    Link link(*this, device, target);
    const WriteOutcome outcome = RunWrite(
        KorvcfgWritePolicy, device.mac, FixedConfig(target), link, [&](const WriteStepInfo& step, int sends) {
            if (FMessages.progress) {
                FMessages.progress(device.mac + ": " + step.name + " acknowledged" +
                                   (sends > 1 ? " (send " + std::to_string(sends) + ")" : ""));
            }
        });
    if (!outcome.failedStep) {
        return;
    }
    const WriteStepInfo& step = WriteSequence[*outcome.failedStep];
    if (outcome.nothingSent) {
        const bool mode = step.code == CommandCode::NetworkMode;
        throw OpsError(OpsError::Kind::UnknownCode,
                       Named(device) + " reports " + (mode ? "network mode" : "speed") + " code " +
                           HexByte(mode ? target.modeCode : target.baudCode) + ", which names no " +
                           (mode ? "mode; give --mode" : "speed; give --baud") +
                           " to write it (nothing was written)");
    }
    throw OpsError(OpsError::Kind::NotAcknowledged,
                   Named(device) + ": the " + step.name + " step was not acknowledged after " +
                       std::to_string(SendsPerWriteStep) + " sends; nothing after it was sent");
}

void DeviceSession::Verify(const FoundDevice& device, const DeviceConfig& written, uint32_t scanWaitMs) {
    // The device takes the whole configuration on the commit; asking before the commit's wait is over
    // could find it busy with that.
    const auto commitWait = std::chrono::milliseconds(WriteSequence.back().waitMs);
    FClock.WaitUntil(FCommitSentAt + commitWait, [] { return false; });
    VerifyFound(Scan(scanWaitMs, {FormatAddress(written.deviceIp)}), device, written, scanWaitMs);
}

void DeviceSession::VerifyFound(const std::vector<FoundDevice>& found, const FoundDevice& device,
                                const DeviceConfig& written, uint32_t scanWaitMs) {
    const FoundDevice again = Locate(found, device.mac, scanWaitMs);
    const DeviceConfig readBack = Read(again);
    const std::vector<std::string> differing = DifferingFields(written, readBack);
    if (differing.empty()) {
        return;
    }
    std::string fields;
    for (const std::string& key : differing) {
        const ConfigField& field = Field(key);
        fields += (fields.empty() ? "" : ", ") + key + " (wrote " + Shown(field, written) + ", reads " +
                  Shown(field, readBack) + ")";
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
