// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/Values.h"

#include "net/IdStack.h"
#include "protocol/DeviceMessages.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace korvcfg {

namespace {

// The names of the mode list's entries, in entry order; the codes stay in the protocol's table.
constexpr std::array<const char*, 4> ModeNameTable = {"tcp-server", "tcp-client", "udp-server", "udp-client"};

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

Octets ParseAddress(const std::string& text, const std::string& what) {
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
    for (std::size_t entry = 0; entry < ModeNameTable.size(); ++entry) {
        if (text == ModeNameTable[entry] && ModeCodeForEntry(static_cast<int>(entry))) {
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

std::optional<std::string> ModeNameOfEntry(int entry) {
    if (entry < 0 || entry >= static_cast<int>(ModeNameTable.size())) {
        return std::nullopt;
    }
    return ModeNameTable[static_cast<std::size_t>(entry)];
}

std::string ModeNames() {
    std::string names;
    for (const char* name : ModeNameTable) {
        names += (names.empty() ? "" : ", ") + std::string(name);
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

std::string FormatAddress(const Octets& octets) {
    const uint8_t bytes[4] = {octets[0], octets[1], octets[2], octets[3]};
    return DottedQuad(bytes);
}

} // namespace korvcfg
