// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/ApplyTable.h"

#include "protocol/WriteSequence.h"
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
    const std::vector<FoundDevice> found = session.Scan(ScanWaitMs);
    std::vector<ApplyResult> results;
    std::vector<std::optional<FoundDevice>> devices;
    for (const ApplyRow& row : rows) {
        results.push_back({row.mac, false, ""});
        try {
            devices.push_back(Locate(found, row.mac, ScanWaitMs));
        } catch (const OpsError& e) {
            devices.emplace_back();
            results.back().error = e.what();
        }
    }
    const auto configure = [&](DeviceSession& s, std::size_t i) {
        try {
            const DeviceConfig target = Merged(s.Read(*devices[i]), rows[i].change);
            s.Write(*devices[i], target);
            if (verify) {
                s.Verify(*devices[i], target, ScanWaitMs);
            }
            results[i].ok = true;
        } catch (const OpsError& e) {
            results[i].error = e.what();
        }
    };
    if (parallel <= 1) {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (devices[i]) {
                configure(session, i);
            }
        }
        return results;
    }
    std::vector<std::function<void(OpsClock&)>> jobs;
    for (const std::vector<std::size_t>& lane : Lanes(rows, devices)) {
        jobs.emplace_back([&, lane](OpsClock& clock) {
            DeviceSession conversation(session, clock);
            for (const std::size_t i : lane) {
                configure(conversation, i);
            }
        });
    }
    RunTakingTurns(session.Clock(), jobs, parallel);
    return results;
}

} // namespace korvcfg
