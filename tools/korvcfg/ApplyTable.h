// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The table that `korvcfg apply` works through: read from a CSV or a JSON file (told apart by the
// content, not the name), checked whole before anything is sent, then applied device by device.
#include "tools/korvcfg/DeviceSession.h"

#include <string>
#include <vector>

namespace korvcfg {

struct ApplyRow {
    int line = 0; // where the device's row or object starts in the file
    std::string mac;
    SettingsChange change;
};

// "mac,ip,mask,...": the columns of a CSV table, in the order korvcfg prints them.
std::string ApplyHeader();
// InputError "line N: ..." for a malformed file, an unknown column or key, or an invalid value.
std::vector<ApplyRow> ParseApplyTable(const std::string& content);

struct ApplyResult {
    std::string mac;
    bool ok = false;
    std::string error;
};

// One scan finds them all; each row is then read, written and (with verify) read back, going on after a
// device fails. One device after another in file order, or up to parallel at once; the results are
// in file order either way.
std::vector<ApplyResult> ApplyTable(DeviceSession& session, const std::vector<ApplyRow>& rows, bool verify,
                                    std::size_t parallel = 1);

} // namespace korvcfg
