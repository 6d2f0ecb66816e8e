// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// korvcfg's commands: from what the command line said (Cli.cpp parses it) to the operations, and
// what they print. Results go to out, progress, warnings and errors to err; each returns the exit
// status, and raises InputError for a wrong value (status 2, nothing sent) or OpsError (status 1).
#include "net/OpsClock.h"
#include "protocol/DeviceConfig.h"

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace korvcfg {

inline constexpr int ExitDone = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

// What the command line said, as text: every value is checked by the command that takes it, in
// korvcfg's own words, before anything is sent.
struct Request {
    std::string target; // MAC, FILE or FIRST_IP
    std::string wait, interface, parallel, only;
    std::vector<std::string> to;
    std::array<std::string, ConfigFields.size()> fields; // by the table's order, as write options
    bool json = false, verify = false, dryRun = false, force = false;
    std::set<std::string> given; // the options with a value that were given

    std::optional<std::string> Given(const std::string& option, const std::string& value) const {
        return given.count(option) > 0 ? std::optional(value) : std::nullopt;
    }
    std::optional<std::string> Field(const ConfigField& field) const;
};

using Command = int (*)(const Request&, std::ostream& out, std::ostream& err, OpsClock& clock);
int Scan(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock);
int Read(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock);
int Write(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock);
int Apply(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock);
int Export(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock);
int Assign(const Request& r, std::ostream& out, std::ostream& err, OpsClock& clock);

} // namespace korvcfg
