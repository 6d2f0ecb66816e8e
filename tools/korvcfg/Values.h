// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The values a user gives korvcfg, as text on the command line or in an apply file: checked here,
// before anything is sent, and named back in the same words.
#include "protocol/DeviceConfig.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvcfg {

// The command line or an input file is wrong: korvcfg ends with status 2 and sends nothing.
class InputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Six hex pairs separated by dashes or colons, either case; returns the form the window lists
// ("00-4C-5A-1E-0B-21"), which is also what the request builders read the DeviceId from.
std::string ParseMac(const std::string& text);
// "A.B.C.D", each 0 to 255. what names the value in the error ("--ip", "gateway").
Ipv4Octets ParseAddress(const std::string& text, const std::string& what);
uint16_t ParsePort(const std::string& text);
// A network mode name to its entry in the mode list.
int ParseModeName(const std::string& text);
// A speed in baud to its entry in the speed list; only the speeds the list holds.
int ParseBaud(const std::string& text);
int BaudEntryForValue(long long baud, const std::string& shown);
// A whole number of milliseconds for --wait.
uint32_t ParseWaitMs(const std::string& text);
// How many devices apply configures at once.
std::size_t ParseParallel(const std::string& text);

std::optional<std::string> ModeNameOfEntry(int entry);
std::string ModeNames(); // "tcp-server, tcp-client, ..." for messages and help
std::string BaudValues();
std::string FormatAddress(const Ipv4Octets& octets);

std::optional<std::string> ModeName(const DeviceConfig& config); // none: a code that names no mode
std::optional<int> Baud(const DeviceConfig& config);             // none: a code that names no speed

// What to change; an empty member keeps the device's value.
struct SettingsChange {
    std::optional<Ipv4Octets> ip, mask, gateway, remoteIp;
    std::optional<uint16_t> port;
    std::optional<int> modeEntry, baudEntry;
};
DeviceConfig Merged(const DeviceConfig& current, const SettingsChange& change);

// One field of a configuration as korvcfg names it: in what it prints, as an apply file's column or
// key, and (with dashes) as a write option.
struct ConfigField {
    const char* name;
    bool number; // a JSON number rather than a string
    // As korvcfg shows it; a mode or speed code that names no row shows as "code XX".
    std::string (*shown)(const DeviceConfig&);
    bool (*known)(const DeviceConfig&); // false for such a code
    // A user's text into the change; InputError naming what when it is not a value of the field.
    void (*parse)(SettingsChange&, const std::string& text, const std::string& what);
};
extern const std::array<ConfigField, 7> ConfigFields;
std::string WriteOption(const ConfigField& field); // "--remote-ip"
// The names of the fields in which two configurations differ, in ConfigFields' order.
std::vector<std::string> DifferingFields(const DeviceConfig& a, const DeviceConfig& b);
const ConfigField& FieldNamed(const std::string& name);

} // namespace korvcfg
