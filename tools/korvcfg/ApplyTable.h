// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// `korvcfg apply`: the table (ApplyFile.h), applied device by device.
#include "tools/korvcfg/ApplyFile.h"
#include "tools/korvcfg/DeviceSession.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvcfg {

struct ApplyOptions {
    bool verify = false;
    std::size_t parallel = 1; // devices configured at once
    bool dryRun = false;      // read each device and work out its change, but write nothing
    bool force = false;       // write even the addresses that another holds
};

struct ApplyResult {
    std::string mac;
    bool ok = false; // configured (in a dry run: read)
    std::string error;
    std::optional<DeviceConfig> current, target; // once read
    // Why the address guard refused (or in a dry run would refuse) the device its new IP.
    std::optional<std::string> refused;
};

// One scan finds them all; each row is then read, written and (with verify) read back, going on after a
// device fails. One device after another in file order, or up to parallel at once; the results are
// in file order either way. Before a device's first write step, the address guard refuses it a new
// device IP that another device or this workstation holds, or that another row gives too.
std::vector<ApplyResult> ApplyTable(DeviceSession& session, const std::vector<ApplyRow>& rows,
                                    const ApplyOptions& options);
std::vector<ApplyResult> ApplyTable(DeviceSession& session, const std::vector<ApplyRow>& rows, bool verify,
                                    std::size_t parallel = 1);
// The same after a scan of the caller's (found), with records already read by MAC; the guard reads
// the others' records itself when a row gives a new IP.
std::vector<ApplyResult> ApplyFound(DeviceSession& session, const std::vector<FoundDevice>& found,
                                    const std::vector<ApplyRow>& rows, const ApplyOptions& options,
                                    std::map<std::string, DeviceConfig> records = {});

} // namespace korvcfg
