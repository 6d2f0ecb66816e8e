// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/Values.h"

#include "net/IdStack.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>
#include <sstream>
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

std::string CodeText(FieldValue code) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    return std::string("code ") + Hex[(code >> 4) & 0xF] + Hex[code & 0xF];
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
    for (const SpeedRow& row : SpeedRows) {
        values += (values.empty() ? "" : ", ") + std::to_string(row.baud);
    }
    return values;
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

uint8_t ParseModeName(const std::string& text) {
    for (const ModeRow& row : ModeRows) {
        if (text == row.name) {
            return row.code;
        }
    }
    throw InputError("unknown mode " + Quoted(text) + "; one of " + ModeNames());
}

uint8_t ParseBaud(const std::string& text) {
    const auto value = WholeNumber(text);
    for (const SpeedRow& row : SpeedRows) {
        if (value && *value == static_cast<unsigned long long>(row.baud)) {
            return row.code;
        }
    }
    throw InputError("unknown speed " + Quoted(text) + "; one of " + BaudValues() + " baud");
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

std::vector<std::string> ParseTargets(const std::vector<std::string>& lists) {
    std::vector<std::string> targets;
    std::set<FieldValue> seen;
    const auto address = [](const std::string& text, const std::string& target) {
        uint8_t bytes[4];
        if (!ParseDottedQuad(text, bytes)) {
            throw InputError("--to: " + Quoted(target) +
                             " is not an address, a block A.B.C.D/N or a range A-B");
        }
        return OctetsValue({bytes[0], bytes[1], bytes[2], bytes[3]});
    };
    for (const std::string& list : lists) {
        std::istringstream items(list);
        std::string item;
        bool any = false;
        while (std::getline(items, item, ',')) {
            any = true;
            FieldValue first = 0, last = 0;
            if (const auto slash = item.find('/'); slash != std::string::npos) {
                const auto prefix = WholeNumber(item.substr(slash + 1));
                if (!prefix || *prefix > 32) {
                    throw InputError("--to: " + Quoted(item) + " has no prefix length from 20 to 32");
                }
                if (*prefix < 20) {
                    throw InputError("--to: " + Quoted(item) + " is wider than /20 (" +
                                     std::to_string(MaxTargets) + " addresses)");
                }
                const FieldValue size = FieldValue{1} << (32 - *prefix);
                first = address(item.substr(0, slash), item) & ~(size - 1);
                last = first + (size - 1);
                if (*prefix <= 30) { // a network's own address and its broadcast address are no device's
                    ++first;
                    --last;
                }
            } else if (const auto dash = item.find('-'); dash != std::string::npos) {
                first = address(item.substr(0, dash), item);
                last = address(item.substr(dash + 1), item);
                if (first > last) {
                    throw InputError("--to: " + Quoted(item) + " runs backwards");
                }
            } else {
                first = last = address(item, item);
            }
            if (last - first >= MaxTargets) {
                throw InputError("--to: " + Quoted(item) + " holds more than " + std::to_string(MaxTargets) +
                                 " addresses");
            }
            for (FieldValue a = first;; ++a) {
                if (seen.insert(a).second) {
                    targets.push_back(FormatAddress(ValueOctets(a)));
                }
                if (targets.size() > MaxTargets) {
                    throw InputError("--to: more than " + std::to_string(MaxTargets) + " addresses in all");
                }
                if (a == last) {
                    break;
                }
            }
        }
        if (!any) {
            throw InputError("--to: " + Quoted(list) + " names no target");
        }
    }
    return targets;
}

std::string FormatAddress(const Ipv4Octets& octets) {
    const uint8_t bytes[4] = {octets[0], octets[1], octets[2], octets[3]};
    return DottedQuad(bytes);
}

std::optional<std::string> ModeName(const DeviceConfig& config) {
    for (const ModeRow& row : ModeRows) {
        if (row.code == config.modeCode) {
            return row.name;
        }
    }
    return std::nullopt;
}

std::optional<int> Baud(const DeviceConfig& config) {
    for (const SpeedRow& row : SpeedRows) {
        if (row.code == config.baudCode) {
            return row.baud;
        }
    }
    return std::nullopt;
}

std::string Shown(const ConfigField& field, const DeviceConfig& config) {
    const FieldValue value = field.get(config);
    switch (field.kind) {
    case FieldKind::Address:
        return FormatAddress(ValueOctets(value));
    case FieldKind::Port:
        return std::to_string(value);
    case FieldKind::Mode:
        return ModeName(config).value_or(CodeText(value));
    case FieldKind::Speed:
        break;
    }
    const auto baud = Baud(config);
    return baud ? std::to_string(*baud) : CodeText(value);
}

bool Known(const ConfigField& field, const DeviceConfig& config) {
    return IsListed(field, field.get(config));
}

bool IsNumber(const ConfigField& field) {
    return field.kind == FieldKind::Port || field.kind == FieldKind::Speed;
}

FieldValue ParseField(const ConfigField& field, const std::string& text, const std::string& what) {
    switch (field.kind) {
    case FieldKind::Address:
        return OctetsValue(ParseAddress(text, what));
    case FieldKind::Port:
        return ParsePort(text);
    case FieldKind::Mode:
        return ParseModeName(text);
    case FieldKind::Speed:
        break;
    }
    return ParseBaud(text);
}

std::string WriteOption(const ConfigField& field) {
    std::string option = std::string("--") + field.key;
    std::replace(option.begin(), option.end(), '_', '-');
    return option;
}

const ConfigField& Field(std::string_view key) {
    if (const ConfigField* field = FieldNamed(key)) {
        return *field;
    }
    throw std::logic_error("no configuration field " + std::string(key));
}

std::optional<FieldValue>& SettingsChange::operator[](const ConfigField& field) {
    return values[static_cast<std::size_t>(&field - ConfigFields.data())];
}

std::optional<FieldValue> SettingsChange::operator[](const ConfigField& field) const {
    return values[static_cast<std::size_t>(&field - ConfigFields.data())];
}

DeviceConfig Merged(const DeviceConfig& current, const SettingsChange& change) {
    DeviceConfig merged = current;
    for (const ConfigField& field : ConfigFields) {
        if (const auto value = change[field]) {
            field.set(merged, *value);
        }
    }
    return merged;
}

std::vector<std::string> DifferingFields(const DeviceConfig& a, const DeviceConfig& b) {
    std::vector<std::string> keys;
    for (const ConfigField& field : ConfigFields) {
        if (field.get(a) != field.get(b)) {
            keys.emplace_back(field.key);
        }
    }
    return keys;
}

} // namespace korvcfg
