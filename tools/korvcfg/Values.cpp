// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/Values.h"

#include "net/IdStack.h"
#include "protocol/DeviceMessages.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <stdexcept>

namespace korvcfg {

namespace {

bool AllDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// Whole non-negative number; none when the text is not one or is absurdly long.
std::optional<unsigned long long> WholeNumber(const std::string& text) {
    if (!AllDigits(text) || text.size() > 12) {
        return std::nullopt;
    }
    unsigned long long value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

} // namespace

std::string ParseMac(const std::string& text) {
    const InputError bad("invalid MAC " + Quoted(text) +
                         ": six hex pairs are expected, as in 00-4C-5A-1E-0B-21");
    if (text.size() != 17) {
        throw bad;
    }
    const char separator = text[2];
    if (separator != '-' && separator != ':') {
        throw bad;
    }
    std::string mac;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i % 3 == 2) {
            if (c != separator) {
                throw bad;
            }
            mac += '-';
        } else if (std::isxdigit(static_cast<unsigned char>(c))) {
            mac += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else {
            throw bad;
        }
    }
    return mac;
}

Ipv4Octets ParseAddress(const std::string& text, const std::string& what) {
    uint8_t bytes[4];
    if (!ParseDottedQuad(text, bytes)) {
        throw InputError(what + ": " + Quoted(text) +
                         " is not an IPv4 address (four numbers from 0 to 255, as in " + "192.168.1.7)");
    }
    return {bytes[0], bytes[1], bytes[2], bytes[3]};
}

uint16_t ParsePort(const std::string& text) {
    const auto value = WholeNumber(text);
    if (!value || *value > 65535) {
        throw InputError("port " + Quoted(text) + " is not a number from 0 to 65535");
    }
    return static_cast<uint16_t>(*value);
}

int ParseModeName(const std::string& text) {
    for (std::size_t entry = 0; entry < ModeRows.size(); ++entry) {
        if (text == ModeRows[entry].name) {
            return static_cast<int>(entry);
        }
    }
    throw InputError("unknown mode " + Quoted(text) + "; one of " + ModeNames());
}

int BaudEntryForValue(long long baud, const std::string& shown) {
    for (int entry = 0; const auto value = BaudForEntry(entry); ++entry) {
        if (*value == baud) {
            return entry;
        }
    }
    throw InputError("unknown speed " + Quoted(shown) + "; one of " + BaudValues() + " baud");
}

int ParseBaud(const std::string& text) {
    const auto value = WholeNumber(text);
    return BaudEntryForValue(value ? static_cast<long long>(*value) : -1, text);
}

uint32_t ParseWaitMs(const std::string& text) {
    const auto value = WholeNumber(text);
    // An hour is far past any device's answer; a bigger number is a typo.
    if (!value || *value < 1 || *value > 3600000) {
        throw InputError("--wait " + Quoted(text) + " is not a number of milliseconds from 1 to 3600000");
    }
    return static_cast<uint32_t>(*value);
}

std::size_t ParseParallel(const std::string& text) {
    const auto value = WholeNumber(text);
    // Past a few hundred the conversations only wait on each other's sends.
    if (!value || *value < 1 || *value > 256) {
        throw InputError("--parallel " + Quoted(text) + " is not a number of devices from 1 to 256");
    }
    return static_cast<std::size_t>(*value);
}

std::optional<std::string> ModeNameOfEntry(int entry) {
    if (entry < 0 || entry >= static_cast<int>(ModeRows.size())) {
        return std::nullopt;
    }
    return ModeRows[static_cast<std::size_t>(entry)].name;
}

std::string ModeNames() {
    std::string names;
    for (const ModeRow& row : ModeRows) {
        names += (names.empty() ? "" : ", ") + std::string(row.name);
    }
    return names;
}

std::string BaudValues() {
    std::string values;
    for (int entry = 0; const auto value = BaudForEntry(entry); ++entry) {
        values += (values.empty() ? "" : ", ") + std::to_string(*value);
    }
    return values;
}

std::string FormatAddress(const Ipv4Octets& octets) {
    const uint8_t bytes[4] = {octets[0], octets[1], octets[2], octets[3]};
    return DottedQuad(bytes);
}

std::optional<std::string> ModeName(const DeviceConfig& config) {
    const auto entry = ModeEntryForCode(config.modeCode);
    return entry ? ModeNameOfEntry(*entry) : std::nullopt;
}

std::optional<int> Baud(const DeviceConfig& config) {
    const auto entry = BaudEntryForCode(config.baudCode);
    return entry ? BaudForEntry(*entry) : std::nullopt;
}

DeviceConfig Merged(const DeviceConfig& current, const SettingsChange& change) {
    DeviceConfig c = current;
    c.deviceIp = change.ip.value_or(c.deviceIp);
    c.subnetMask = change.mask.value_or(c.subnetMask);
    c.gateway = change.gateway.value_or(c.gateway);
    c.remoteIp = change.remoteIp.value_or(c.remoteIp);
    c.port = change.port.value_or(c.port);
    if (change.modeEntry) {
        c.modeCode = static_cast<uint8_t>(ModeCodeForEntry(*change.modeEntry).value_or(c.modeCode));
    }
    if (change.baudEntry) {
        c.baudCode = static_cast<uint8_t>(BaudCodeForEntry(*change.baudEntry).value_or(c.baudCode));
    }
    return c;
}

namespace {

std::string CodeText(uint8_t code) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    return std::string("code ") + Hex[code >> 4] + Hex[code & 0xF];
}

} // namespace

// clang-format off
const std::array<ConfigField, 7> ConfigFields{{
    {"ip", false,
     [](const DeviceConfig& c) { return FormatAddress(c.deviceIp); }, [](const DeviceConfig&) { return true; },
     [](SettingsChange& s, const std::string& t, const std::string& w) { s.ip = ParseAddress(t, w); }},
    {"mask", false,
     [](const DeviceConfig& c) { return FormatAddress(c.subnetMask); }, [](const DeviceConfig&) { return true; },
     [](SettingsChange& s, const std::string& t, const std::string& w) { s.mask = ParseAddress(t, w); }},
    {"gateway", false,
     [](const DeviceConfig& c) { return FormatAddress(c.gateway); }, [](const DeviceConfig&) { return true; },
     [](SettingsChange& s, const std::string& t, const std::string& w) { s.gateway = ParseAddress(t, w); }},
    {"remote_ip", false,
     [](const DeviceConfig& c) { return FormatAddress(c.remoteIp); }, [](const DeviceConfig&) { return true; },
     [](SettingsChange& s, const std::string& t, const std::string& w) { s.remoteIp = ParseAddress(t, w); }},
    {"port", true,
     [](const DeviceConfig& c) { return std::to_string(c.port); }, [](const DeviceConfig&) { return true; },
     [](SettingsChange& s, const std::string& t, const std::string&) { s.port = ParsePort(t); }},
    {"mode", false,
     [](const DeviceConfig& c) { return ModeName(c).value_or(CodeText(c.modeCode)); },
     [](const DeviceConfig& c) { return ModeName(c).has_value(); },
     [](SettingsChange& s, const std::string& t, const std::string&) { s.modeEntry = ParseModeName(t); }},
    {"baud", true,
     [](const DeviceConfig& c) { return Baud(c) ? std::to_string(*Baud(c)) : CodeText(c.baudCode); },
     [](const DeviceConfig& c) { return Baud(c).has_value(); },
     [](SettingsChange& s, const std::string& t, const std::string&) { s.baudEntry = ParseBaud(t); }},
}};
// clang-format on

std::string WriteOption(const ConfigField& field) {
    std::string option = std::string("--") + field.name;
    std::replace(option.begin(), option.end(), '_', '-');
    return option;
}

std::vector<std::string> DifferingFields(const DeviceConfig& a, const DeviceConfig& b) {
    std::vector<std::string> names;
    for (const ConfigField& field : ConfigFields) {
        if (field.shown(a) != field.shown(b)) {
            names.emplace_back(field.name);
        }
    }
    return names;
}

const ConfigField& FieldNamed(const std::string& name) {
    for (const ConfigField& field : ConfigFields) {
        if (name == field.name) {
            return field;
        }
    }
    throw std::logic_error("no configuration field " + name);
}

} // namespace korvcfg
