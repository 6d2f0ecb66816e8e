// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/ApplyTable.h"

#include "protocol/WriteSequence.h"
#include "tools/korvcfg/AddressGuard.h"
#include "tools/korvcfg/TurnTaking.h"

#include <algorithm>
#include <map>

namespace korvcfg {

namespace {

// Rows whose devices could hear each other's datagrams as their own run one after another, in one
// lane: acknowledgements carry no DeviceId, only the address they come from tells them apart. Those are
// the rows that share the address the scan found them at, or one's new IP is where another answers.
std::vector<std::vector<std::size_t>> Lanes(const std::vector<ApplyRow>& rows,
                                            const std::vector<std::optional<FoundDevice>>& devices) {
    std::vector<std::size_t> lane(rows.size());
    std::map<std::string, std::size_t> laneOfAddress;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        lane[i] = i;
        if (!devices[i]) {
            continue;
        }
        std::vector<std::string> addresses = {devices[i]->ip};
        if (const auto ip = rows[i].change.Get("ip")) {
            addresses.push_back(FormatAddress(ValueOctets(*ip)));
        }
        for (const std::string& address : addresses) {
            const auto [it, fresh] = laneOfAddress.emplace(address, lane[i]);
            if (!fresh && it->second != lane[i]) {
                // Joins two lanes: every row of the later one moves to the earlier.
                const std::size_t from = std::max(it->second, lane[i]), to = std::min(it->second, lane[i]);
                for (std::size_t& l : lane) {
                    l = l == from ? to : l;
                }
                for (auto& [a, l] : laneOfAddress) {
                    l = l == from ? to : l;
                }
            }
        }
    }
    std::map<std::size_t, std::vector<std::size_t>> byLane;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (devices[i]) {
            byLane[lane[i]].push_back(i);
        }
    }
    std::vector<std::vector<std::size_t>> lanes;
    for (auto& [first, members] : byLane) {
        lanes.push_back(std::move(members));
    }
    return lanes;
}

} // namespace

std::vector<ApplyResult> ApplyTable(DeviceSession& session, const std::vector<ApplyRow>& rows, bool verify,
                                    std::size_t parallel) {
    return ApplyTable(session, rows, ApplyOptions{verify, parallel});
}

std::vector<ApplyResult> ApplyTable(DeviceSession& session, const std::vector<ApplyRow>& rows,
                                    const ApplyOptions& options) {
    return ApplyFound(session, session.Scan(ScanWaitMs), rows, options);
}

std::vector<ApplyResult> ApplyFound(DeviceSession& session, const std::vector<FoundDevice>& found,
                                    const std::vector<ApplyRow>& rows, const ApplyOptions& options,
                                    std::map<std::string, DeviceConfig> records) {
    std::vector<ApplyResult> results;
    std::vector<std::optional<FoundDevice>> devices;
    for (const ApplyRow& row : rows) {
        results.push_back({row.mac, false, "", {}, {}, {}});
        try {
            devices.push_back(Locate(found, row.mac, ScanWaitMs));
        } catch (const OpsError& e) {
            devices.emplace_back();
            results.back().error = e.what();
        }
    }
    // Whom a new IP could collide with is known only from every device's record, read once for all.
    const bool guarded = !options.force && std::any_of(rows.begin(), rows.end(), [](const ApplyRow& row) {
        return row.change.Get("ip").has_value();
    });
    HeldAddresses held;
    if (guarded) {
        for (auto& [mac, record] : session.ReadMany(found)) {
            records.emplace(mac, record);
        }
        held = HeldAddresses(found, records, session.WorkstationAddresses());
    }
    const auto refusal = [&](std::size_t i) -> std::optional<std::string> {
        const DeviceConfig& current = *results[i].current;
        const DeviceConfig& target = *results[i].target;
        if (!guarded || target.deviceIp == current.deviceIp) {
            return std::nullopt;
        }
        for (std::size_t j = 0; j < rows.size(); ++j) {
            if (j != i && rows[j].change.Get("ip") == OctetsValue(target.deviceIp)) {
                return FormatAddress(target.deviceIp) + " is given to " + rows[j].mac + " on line " +
                       std::to_string(rows[j].line) +
                       " too; nothing was written (--force writes it all the same)";
            }
        }
        return AddressConflict(held, rows[i].mac, current.deviceIp, target.deviceIp);
    };
    const auto configure = [&](DeviceSession& s, std::size_t i, bool verifyNow) {
        ApplyResult& result = results[i];
        try {
            const auto record = records.find(rows[i].mac);
            result.current = record != records.end() ? record->second : s.Read(*devices[i]);
            result.target = Merged(*result.current, rows[i].change);
            result.refused = refusal(i);
            if (options.dryRun) {
                result.ok = true;
                return;
            }
            if (result.refused) {
                result.error = *result.refused;
                return;
            }
            s.Write(*devices[i], *result.target);
            if (verifyNow) {
                s.Verify(*devices[i], *result.target, ScanWaitMs);
            }
            result.ok = true;
        } catch (const OpsError& e) {
            result.error = e.what();
        }
    };
    if (options.parallel <= 1) {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (devices[i]) {
                configure(session, i, options.verify);
            }
        }
        return results;
    }
    // At once, every lane writes; then one scan finds every written device again, and the lanes read
    // them back: a scan per lane would cost each lane a whole wait and repeat every warning.
    const std::vector<std::vector<std::size_t>> lanes = Lanes(rows, devices);
    std::chrono::milliseconds lastCommit{0};
    const auto inLanes = [&](const std::function<void(DeviceSession&, std::size_t)>& each) {
        std::vector<std::function<void(OpsClock&)>> jobs;
        for (const std::vector<std::size_t>& lane : lanes) {
            jobs.emplace_back([&, lane](OpsClock& clock) {
                DeviceSession conversation(session, clock);
                for (const std::size_t i : lane) {
                    each(conversation, i);
                }
                lastCommit = std::max(lastCommit, conversation.CommitSentAt());
            });
        }
        RunTakingTurns(session.Clock(), jobs, options.parallel);
    };
    inLanes([&](DeviceSession& s, std::size_t i) { configure(s, i, false); });
    if (!options.verify || options.dryRun ||
        std::none_of(results.begin(), results.end(), [](const ApplyResult& r) { return r.ok; })) {
        return results;
    }
    // The devices take the whole configuration on the commit: none is asked before the last one's wait.
    const auto commitWait = std::chrono::milliseconds(WriteSequence.back().waitMs);
    session.Clock().WaitUntil(lastCommit + commitWait, [] { return false; });
    std::vector<std::string> written;
    for (const ApplyResult& result : results) {
        if (result.ok) {
            written.push_back(FormatAddress(result.target->deviceIp));
        }
    }
    const std::vector<FoundDevice> again = session.Scan(ScanWaitMs, written);
    inLanes([&](DeviceSession& s, std::size_t i) {
        if (!results[i].ok) {
            return;
        }
        try {
            s.VerifyFound(again, *devices[i], *results[i].target, ScanWaitMs);
        } catch (const OpsError& e) {
            results[i].ok = false;
            results[i].error = e.what();
        }
    });
    return results;
}

} // namespace korvcfg
