// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The values a user gives korvcfg, as text on the command line or in an apply file: checked here,
// before anything is sent, and named back in the same words. The fields are the configuration
// table's (protocol/DeviceConfig.h): their keys are korvcfg's columns, JSON keys and (with dashes)
// write options.
#include "protocol/DeviceConfig.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
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
// A network mode name or a speed in baud to its code; only the rows' own.
uint8_t ParseModeName(const std::string& text);
uint8_t ParseBaud(const std::string& text);
// A whole number of milliseconds for --wait.
uint32_t ParseWaitMs(const std::string& text);
// How many devices apply configures at once.
std::size_t ParseParallel(const std::string& text);

// --to's lists (the option may repeat): addresses, CIDR blocks (/20 to /32; to /30 without their
// network and broadcast address) and ranges A-B, comma-separated. The addresses in the order given,
// each once, at most MaxTargets of them; InputError naming the target that is wrong.
inline constexpr std::size_t MaxTargets = 4096;
std::vector<std::string> ParseTargets(const std::vector<std::string>& lists);

std::string FormatAddress(const Ipv4Octets& octets);
std::optional<std::string> ModeName(const DeviceConfig& config); // none: a code that names no mode
std::optional<int> Baud(const DeviceConfig& config);             // none: a code that names no speed

// A field as korvcfg shows it (a mode or speed code that names no row: "code XX"); Known is false for
// such a code. Port and baud are JSON numbers, the others strings.
std::string Shown(const ConfigField& field, const DeviceConfig& config);
bool Known(const ConfigField& field, const DeviceConfig& config);
bool IsNumber(const ConfigField& field);
// A user's text as the field's value; InputError naming what when it is not one.
FieldValue ParseField(const ConfigField& field, const std::string& text, const std::string& what);
std::string WriteOption(const ConfigField& field); // "--remote-ip"
// The field with this key; a key that is none is a fault of korvcfg's own.
const ConfigField& Field(std::string_view key);

// What to change: a value for each field given; the others keep the device's.
struct SettingsChange {
    std::array<std::optional<FieldValue>, ConfigFields.size()> values;
    std::optional<FieldValue>& operator[](const ConfigField& field);
    std::optional<FieldValue> operator[](const ConfigField& field) const;
    void Set(std::string_view key, FieldValue value) { (*this)[Field(key)] = value; }
    std::optional<FieldValue> Get(std::string_view key) const { return (*this)[Field(key)]; }
};
DeviceConfig Merged(const DeviceConfig& current, const SettingsChange& change);

// The keys of the fields in which two configurations differ, in the table's order.
std::vector<std::string> DifferingFields(const DeviceConfig& a, const DeviceConfig& b);

} // namespace korvcfg
