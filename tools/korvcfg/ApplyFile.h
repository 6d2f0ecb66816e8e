// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The table that `korvcfg apply` works through, read from a CSV or a JSON file (told apart by the
// content, not the name) and checked whole before anything is sent. The file may come from anywhere:
// whatever it holds ends in rows or in one InputError that names its line.
#include "tools/korvcfg/Values.h"

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

} // namespace korvcfg
