// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The values a user gives korvcfg, as text on the command line or in an apply file: checked here,
// before anything is sent, and named back in the same words.
#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace korvcfg {

using Octets = std::array<uint8_t, 4>;

// The command line or an input file is wrong: korvcfg ends with status 2 and sends nothing.
class InputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Six hex pairs separated by dashes or colons, either case; returns the form the window lists
// ("00-4C-5A-1E-0B-21"), which is also what the request builders read the DeviceId from.
std::string ParseMac(const std::string& text);
// "A.B.C.D", each 0 to 255. what names the value in the error ("--ip", "gateway").
Octets ParseAddress(const std::string& text, const std::string& what);
uint16_t ParsePort(const std::string& text);
// A network mode name to its entry in the mode list.
int ParseModeName(const std::string& text);
// A speed in baud to its entry in the speed list; only the speeds the list holds.
int ParseBaud(const std::string& text);
int BaudEntryForValue(long long baud, const std::string& shown);
// A whole number of milliseconds for --wait.
uint32_t ParseWaitMs(const std::string& text);

std::optional<std::string> ModeNameOfEntry(int entry);
std::string ModeNames(); // "tcp-server, tcp-client, ..." for messages and help
std::string BaudValues();
std::string FormatAddress(const Octets& octets);

} // namespace korvcfg
