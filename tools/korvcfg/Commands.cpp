// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/Commands.h"

#include "protocol/WriteSequence.h"
#include "tools/korvcfg/AddressGuard.h"
#include "tools/korvcfg/ApplyTable.h"
#include "tools/korvcfg/DeviceSession.h"
#include "tools/korvcfg/JsonOutput.h"
#include "tools/korvcfg/Values.h"

#include "net/IdComponent.h"
#include "net/IdStack.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

namespace korvcfg {

std::optional<std::string> Request::Field(const ConfigField& field) const {
    return Given(WriteOption(field), fields[static_cast<std::size_t>(&field - ConfigFields.data())]);
}

namespace {

uint32_t WaitMs(const Request& r) {
    const auto text = r.Given("--wait", r.wait);
    return text ? ParseWaitMs(*text) : ScanWaitMs;
}

// Opens the session on the adapter --interface names (every adapter without it). An unknown name
// ends the command as a wrong command line does, listing the adapters, before port 60001 is bound:
// a wrong name is reported as such even while another program holds the port.
void Open(DeviceSession& session, const Request& r) {
    session.Targets = r.to.empty() ? std::vector<std::string>() : ParseTargets(r.to);
    const auto name = r.Given("--interface", r.interface);
    if (name) {
        // The socket layer exists only while a component does.
        const TIdComponent socketLayer;
        std::string known;
        bool listed = false;
        for (const TIdBroadcastAdapter& adapter : TIdStack::Instance().BroadcastAdapters()) {
            listed = listed || adapter.Name == *name;
            known += "\n  " + adapter.Name + "  " + DottedQuad(adapter.Address);
        }
        if (!listed) {
            throw InputError("--interface: no adapter '" + *name + "' that can broadcast; the adapters are:" +
                             (known.empty() ? std::string("\n  (none but loopback)") : known));
        }
    }
    session.Interface = name.value_or("");
    session.Open();
}

OpsMessages MessagesTo(std::ostream& err) {
    return OpsMessages{[&err](const std::string& line) { err << line << "\n"
                                                             << std::flush; },
                       [&err](const std::string& line) {
                           err << "korvcfg: warning: " << line << "\n" << std::flush;
                       }};
}

Json FieldJson(const ConfigField& field, const DeviceConfig& config) {
    const std::string shown = Shown(field, config);
    if (!Known(field, config)) {
        return nullptr;
    }
    return IsNumber(field) ? Json(std::stol(shown)) : Json(shown);
}

Json ConfigJson(const std::string& mac, const DeviceConfig& config) {
    Json object;
    object["mac"] = mac;
    for (const ConfigField& field : ConfigFields) {
        object[field.key] = FieldJson(field, config);
    }
    return object;
}

void PrintSettings(std::ostream& out, const std::string& mac, const DeviceConfig& config, bool json) {
    if (json) {
        out << OneLine(ConfigJson(mac, config)) << "\n";
        return;
    }
    out << "mac: " << mac << "\n";
    for (const ConfigField& field : ConfigFields) {
        const std::string shown = Shown(field, config);
        out << field.key << ": " << (Known(field, config) ? shown : "unknown (" + shown + ")") << "\n";
    }
}

// What a dry run found for one device: each field that would change, old and new.
void PrintChanges(std::ostream& out, const ApplyResult& result) {
    out << result.mac;
    bool any = false;
    for (const ConfigField& field : ConfigFields) {
        if (field.get(*result.current) != field.get(*result.target)) {
            out << "\n  " << field.key << ": " << Shown(field, *result.current) << " -> "
                << Shown(field, *result.target);
            any = true;
        }
    }
    out << (any ? "" : "  no change");
    if (result.refused) {
        out << "\n  refused: " << *result.refused;
    }
    out << "\n";
}

Json ChangesJson(const ApplyResult& result) {
    Json changes = Json::object();
    for (const ConfigField& field : ConfigFields) {
        if (field.get(*result.current) != field.get(*result.target)) {
            changes[field.key] = {FieldJson(field, *result.current), FieldJson(field, *result.target)};
        }
    }
    Json object = {{"mac", result.mac}, {"changes", changes}};
    if (result.refused) {
        object["refused"] = *result.refused;
    }
    return object;
}

Json ResultJson(const ApplyResult& result) {
    return {{"mac", result.mac}, {"ok", result.ok}, {"error", result.ok ? Json() : Json(result.error)}};
}

ApplyOptions OptionsOf(const Request& r) {
    const auto parallel = r.Given("--parallel", r.parallel);
    return {r.verify, parallel ? ParseParallel(*parallel) : 1, r.dryRun, r.force};
}

// A result line per device (in a dry run, its changes) and the summary; with --json one array, and the
// summary on standard error. Returns the exit status.
int Report(const Request& r, const std::vector<ApplyResult>& results, std::ostream& out, std::ostream& err,
           const std::function<Json(const ApplyResult&)>& json = ResultJson) {
    std::size_t failed = 0;
    std::vector<Json> items;
    for (const ApplyResult& result : results) {
        failed += result.ok ? 0 : 1;
        if (r.json) {
            items.push_back(r.dryRun && result.current ? ChangesJson(result)
                            : r.dryRun                 ? Json{{"mac", result.mac}, {"error", result.error}}
                                                       : json(result));
        } else if (r.dryRun && result.current) {
            PrintChanges(out, result);
        } else {
            out << result.mac << "  " << (result.ok ? "ok" : "FAILED: " + result.error) << "\n";
        }
    }
    if (r.json) {
        out << JsonArray(items);
    }
    // With --json the summary stays off standard output, which holds the one JSON document.
    std::ostream& summary = r.json ? err : out;
    summary << results.size() << " device" << (results.size() == 1 ? "" : "s") << ": "
            << results.size() - failed << (r.dryRun ? " read, " : " configured, ") << failed << " failed"
            << (r.dryRun ? "; a dry run, nothing was written\n" : "\n");
    return failed == 0 ? ExitDone : ExitFailed;
}

// The change the command line gives: the write options (--ip, --mask, ...) that were given.
SettingsChange ChangeOf(const Request& r) {
    SettingsChange change;
    for (const ConfigField& field : ConfigFields) {
        if (const auto text = r.Field(field)) {
            change[field] = ParseField(field, *text, WriteOption(field));
        }
    }
    return change;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw InputError(path + ": cannot be read");
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// The MACs --only names, each once, in the order given.
std::vector<std::string> OnlyMacs(const std::string& list) {
    std::vector<std::string> macs;
    std::istringstream items(list);
    for (std::string item; std::getline(items, item, ',');) {
        const std::string mac = ParseMac(item);
        if (std::find(macs.begin(), macs.end(), mac) == macs.end()) {
            macs.push_back(mac);
        }
    }
    if (macs.empty()) {
        throw InputError("--only names no device");
    }
    return macs;
}

} // namespace

int Scan(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock) {
    const uint32_t waitMs = WaitMs(r);
    DeviceSession session(clock, MessagesTo(err));
    Open(session, r);
    const std::vector<FoundDevice> found = session.Scan(waitMs);
    if (r.json) {
        std::vector<Json> items;
        for (const FoundDevice& device : found) {
            items.push_back({{"ip", device.ip}, {"mac", device.mac}});
        }
        out << JsonArray(items);
    } else {
        for (const FoundDevice& device : found) {
            out << device.ip << "  " << device.mac << "\n";
        }
    }
    if (found.empty()) {
        err << "korvcfg: no device answered within " << waitMs << " ms\n";
    }
    return ExitDone;
}

int Read(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock) {
    const std::string mac = ParseMac(r.target);
    const uint32_t waitMs = WaitMs(r);
    DeviceSession session(clock, MessagesTo(err));
    Open(session, r);
    const FoundDevice device = Locate(session.Scan(waitMs), mac, waitMs);
    PrintSettings(out, device.mac, session.Read(device), r.json);
    return ExitDone;
}

int Write(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock) {
    const ApplyRow row{0, ParseMac(r.target), ChangeOf(r)};
    DeviceSession session(clock, MessagesTo(err));
    Open(session, r);
    const ApplyResult result = ApplyTable(session, {row}, OptionsOf(r)).front();
    if (r.dryRun && result.current) {
        if (r.json) {
            out << OneLine(ChangesJson(result)) << "\n";
        } else {
            PrintChanges(out, result);
        }
        return ExitDone;
    }
    if (r.json) {
        out << OneLine(ResultJson(result)) << "\n";
    }
    if (!result.ok) {
        throw OpsError(OpsError::Kind::NotAcknowledged, result.error);
    }
    if (!r.json) {
        // As the window says after its commit: the device runs on what it took once it has restarted.
        out << result.mac << " configured" << (r.verify ? " and verified" : "")
            << "; restart the device to put the new settings to use\n";
    }
    return ExitDone;
}

int Apply(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock) {
    const std::string& path = r.target;
    const ApplyOptions options = OptionsOf(r);
    std::vector<ApplyRow> rows;
    try {
        rows = ParseApplyTable(ReadWholeFile(path));
    } catch (const InputError& e) {
        const std::string what = e.what();
        throw InputError(what.rfind(path, 0) == 0 ? what : path + ": " + what);
    }
    DeviceSession session(clock, MessagesTo(err));
    Open(session, r);
    return Report(r, ApplyTable(session, rows, options), out, err);
}

int Export(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock) {
    const uint32_t waitMs = WaitMs(r);
    DeviceSession session(clock, MessagesTo(err));
    Open(session, r);
    const std::vector<FoundDevice> found = session.Scan(waitMs);
    if (found.empty()) {
        err << "korvcfg: no device answered within " << waitMs << " ms\n";
    }
    std::vector<Json> items;
    std::string csv = ApplyHeader() + "\n";
    std::set<std::string> listed;
    bool missed = false;
    for (const FoundDevice& device : found) {
        // apply takes a MAC once; the scan has already warned of one that answered from two addresses.
        if (!listed.insert(device.mac).second) {
            err << "korvcfg export: " << device.mac << " (" << device.ip
                << ") left out: listed once already\n";
            missed = true;
            continue;
        }
        DeviceConfig config;
        try {
            config = session.Read(device);
        } catch (const OpsError& e) {
            err << "korvcfg export: " << e.what() << "; left out\n";
            missed = true;
            continue;
        }
        items.push_back(ConfigJson(device.mac, config));
        csv += device.mac;
        for (const ConfigField& field : ConfigFields) {
            csv += "," + (Known(field, config) ? Shown(field, config) : std::string());
        }
        csv += "\n";
    }
    out << (r.json ? JsonArray(items) : csv);
    return missed ? ExitFailed : ExitDone;
}

int Assign(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock) {
    const Ipv4Octets first = ParseAddress(r.target, "FIRST_IP");
    SettingsChange change = ChangeOf(r);
    const auto only = r.Given("--only", r.only);
    const std::vector<std::string> named = only ? OnlyMacs(*only) : std::vector<std::string>();
    const ApplyOptions options = OptionsOf(r);
    DeviceSession session(clock, MessagesTo(err));
    Open(session, r);
    const std::vector<FoundDevice> found = session.Scan(ScanWaitMs);
    // The batch in MAC order, the order printed on the devices' labels.
    std::vector<std::string> macs = named;
    for (const FoundDevice& device : found) {
        if (!only && std::find(macs.begin(), macs.end(), device.mac) == macs.end()) {
            macs.push_back(device.mac);
        }
    }
    std::sort(macs.begin(), macs.end());
    for (const std::string& mac : macs) {
        Locate(found, mac, ScanWaitMs); // every device of the batch answered, from one address
    }
    if (macs.empty()) {
        err << "korvcfg: no device answered within " << ScanWaitMs << " ms\n";
        return ExitDone;
    }
    // Every answering device's record: the addresses they hold, and the batch's own masks.
    const std::map<std::string, DeviceConfig> records = session.ReadMany(found);
    std::vector<BatchDevice> batch;
    std::vector<ApplyResult> unread;
    for (const std::string& mac : macs) {
        const auto record = records.find(mac);
        if (record == records.end()) {
            unread.push_back({mac, false, mac + " did not answer the configuration read", {}, {}, {}});
            continue;
        }
        const auto mask = change.Get("mask");
        batch.push_back({mac, mask ? ValueOctets(*mask) : record->second.subnetMask});
    }
    const std::vector<Ipv4Octets> plan =
        PlanAddresses(batch, first, HeldAddresses(found, records, session.WorkstationAddresses()));
    std::ostream& planOut = r.json ? err : out;
    std::vector<ApplyRow> rows;
    std::vector<Json> planned;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const std::string oldIp = FormatAddress(records.at(batch[i].mac).deviceIp);
        const std::string newIp = FormatAddress(plan[i]);
        planOut << batch[i].mac << "  " << oldIp << " -> " << newIp << "\n";
        planned.push_back({{"mac", batch[i].mac}, {"old_ip", oldIp}, {"new_ip", newIp}});
        rows.push_back({0, batch[i].mac, change});
        rows.back().change.Set("ip", OctetsValue(plan[i]));
    }
    if (r.dryRun) {
        if (r.json) {
            out << JsonArray(planned);
        }
        for (const ApplyResult& result : unread) {
            err << "korvcfg assign: " << result.error << "; left out\n";
        }
        return unread.empty() ? ExitDone : ExitFailed;
    }
    // The plan holds no address that anyone else holds: the guard has nothing left to refuse.
    ApplyOptions writing = options;
    writing.force = true;
    std::vector<ApplyResult> results = ApplyFound(session, found, rows, writing, records);
    results.insert(results.end(), unread.begin(), unread.end());
    return Report(r, results, out, err, [&](const ApplyResult& result) {
        Json item = ResultJson(result);
        for (const Json& p : planned) {
            if (p["mac"] == result.mac) {
                item = {{"mac", result.mac},
                        {"old_ip", p["old_ip"]},
                        {"new_ip", p["new_ip"]},
                        {"ok", item["ok"]},
                        {"error", item["error"]}};
            }
        }
        return item;
    });
}

} // namespace korvcfg
