// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The command line of korvcfg: parses the arguments into the operations and prints what they return.
// Results go to out, progress, warnings and errors to err; the return value is the exit status.
#include "tools/korvcfg/Commands.h"

#include <ostream>
#include <string>
#include <vector>

namespace korvcfg {

// args without the program name.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   OpsClock& clock);

} // namespace korvcfg
