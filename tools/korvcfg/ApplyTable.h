// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// `korvcfg apply`: the table (ApplyFile.h), applied device by device.
#include "tools/korvcfg/ApplyFile.h"
#include "tools/korvcfg/DeviceSession.h"

#include <string>
#include <vector>

namespace korvcfg {

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
