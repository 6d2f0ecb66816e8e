// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/devsim/DeviceProfile.h"

#include "net/IdStack.h"

#include <cctype>
#include <cstdio>
#include <sstream>

namespace {

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, sep))
        parts.push_back(part);
    if (!text.empty() && text.back() == sep)
        parts.emplace_back();
    return parts;
}

bool IsHexDigits(const std::string& text, size_t count) {
    if (text.size() != count)
        return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

long ParseDecimal(const std::string& key, const std::string& value, long min, long max) {
    if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
        throw ProfileError(key + "=" + value + ": expected a decimal number");
    const long n = std::stol(value);
    if (n < min || n > max)
        throw ProfileError(key + "=" + value + ": out of range " + std::to_string(min) + ".." +
                           std::to_string(max));
    return n;
}

uint8_t ParseHexByte(const std::string& key, const std::string& value) {
    if (!IsHexDigits(value, 2))
        throw ProfileError(key + "=" + value + ": expected two hex digits");
    return static_cast<uint8_t>(std::stoi(value, nullptr, 16));
}

// Codes a device answers: the read (whose answer is the record) and the eight write commands.
uint8_t ParseCode(const std::string& key, const std::string& value, bool allowRead) {
    const uint8_t code = ParseHexByte(key, value);
    const auto step = static_cast<CommandCode>(code);
    const bool writes = FieldOfStep(step) != nullptr || step == CommandCode::Commit;
    if (!writes && !(allowRead && step == CommandCode::ReadConfig))
        throw ProfileError(key + "=" + value + ": not a command code");
    return code;
}

std::pair<std::string, std::string> CodePair(const std::string& key, const std::string& value) {
    const auto colon = value.find(':');
    if (colon == std::string::npos)
        throw ProfileError(key + "=" + value + ": expected CODE:VALUE");
    return {value.substr(0, colon), value.substr(colon + 1)};
}

Ipv4 ParseIpKey(const std::string& key, const std::string& value) {
    const auto ip = ParseIpv4(value);
    if (!ip)
        throw ProfileError(key + "=" + value + ": expected a dotted quad");
    return *ip;
}

bool ParseFlag(const std::string& key, const std::string& value) {
    if (value == "1")
        return true;
    if (value == "0")
        return false;
    throw ProfileError(key + "=" + value + ": expected 0 or 1");
}

// A configuration field's value as devsim takes it: addresses dotted, the port decimal, mode and speed
// as the hex codes the device reports, so that a test can give a code no row names.
FieldValue ParseFieldKey(const ConfigField& field, const std::string& value) {
    switch (field.kind) {
    case FieldKind::Address:
        return OctetsValue(ParseIpKey(field.key, value));
    case FieldKind::Port:
        return static_cast<FieldValue>(ParseDecimal(field.key, value, 0, 65535));
    default:
        return ParseHexByte(field.key, value);
    }
}

// Applies one key to a device; false when the key is not a device key.
bool ApplyKey(DeviceProfile& profile, const std::string& key, const std::string& value) {
    FaultKnobs& f = profile.faults;
    if (const ConfigField* field = FieldNamed(key)) {
        field->set(profile.config, ParseFieldKey(*field, value));
    } else if (key == "id") {
        if (!IsHexDigits(value, 10))
            throw ProfileError("id=" + value + ": expected ten hex digits");
        profile.id = Upper(value);
    } else if (key == "from") {
        profile.sourceIp = ParseIpKey(key, value);
    } else if (key == "delay") {
        f.delayMs = static_cast<int>(ParseDecimal(key, value, 0, 600000));
    } else if (key == "ackfrom") {
        const auto [code, k] = CodePair(key, value);
        f.ackFrom[ParseCode(key, code, true)] = static_cast<int>(ParseDecimal(key, k, 1, 1000000));
    } else if (key == "noack") {
        f.noAck.insert(ParseCode(key, value, true));
    } else if (key == "wrongack") {
        const auto [code, other] = CodePair(key, value);
        f.wrongAck[ParseCode(key, code, false)] = ParseCode(key, other, false);
    } else if (key == "scantwice") {
        f.scanTwice = ParseFlag(key, value);
    } else if (key == "stray") {
        f.stray = ParseFlag(key, value);
    } else if (key == "silent") {
        f.silent = ParseFlag(key, value);
    } else if (key == "scanreply") {
        if (value == "short")
            f.scanReply = ScanReplyShape::Short;
        else if (value == "malformed")
            f.scanReply = ScanReplyShape::Malformed;
        else if (value == "normal")
            f.scanReply = ScanReplyShape::Normal;
        else
            throw ProfileError("scanreply=" + value + ": expected short, malformed or normal");
    } else {
        return false;
    }
    return true;
}

std::pair<std::string, std::string> KeyValue(const std::string& item) {
    const auto eq = item.find('=');
    if (eq == std::string::npos || eq == 0)
        throw ProfileError("'" + item + "': expected key=value");
    return {item.substr(0, eq), item.substr(eq + 1)};
}

DeviceProfile DefaultProfile(int ordinal) {
    DeviceProfile profile;
    char id[11];
    std::snprintf(id, sizeof id, "5AD7%06X", static_cast<unsigned>(ordinal) & 0xFFFFFFu);
    profile.id = id;
    profile.sourceIp = {10, 77, 1, static_cast<uint8_t>(ordinal)};
    return profile;
}

// The device's own address and a gateway on its subnet, unless the command line says otherwise.
void FillAddressDefaults(DeviceProfile& profile, bool haveIp, bool haveGateway) {
    if (!haveIp)
        profile.config.deviceIp = profile.sourceIp;
    if (!haveGateway)
        profile.config.gateway = {profile.sourceIp[0], profile.sourceIp[1], profile.sourceIp[2], 254};
}

} // namespace

std::optional<Ipv4> ParseIpv4(const std::string& text) {
    uint8_t bytes[4];
    if (!ParseDottedQuad(text, bytes))
        return std::nullopt;
    return Ipv4{bytes[0], bytes[1], bytes[2], bytes[3]};
}

std::string FormatIpv4(const Ipv4& ip) {
    const uint8_t bytes[4] = {ip[0], ip[1], ip[2], ip[3]};
    return DottedQuad(bytes);
}

DeviceProfile ParseDeviceProfile(const std::string& text, int ordinal) {
    DeviceProfile profile = DefaultProfile(ordinal);
    bool haveFrom = false, haveIp = false, haveGateway = false;
    for (const auto& item : Split(text, ',')) {
        if (item.empty())
            continue;
        const auto [key, value] = KeyValue(item);
        if (!ApplyKey(profile, key, value))
            throw ProfileError("--device: unknown key '" + key + "'");
        haveFrom |= key == "from";
        haveIp |= key == "ip";
        haveGateway |= key == "gateway";
    }
    // A device answers from its own address unless told otherwise.
    if (!haveFrom && haveIp)
        profile.sourceIp = profile.config.deviceIp;
    if (!haveFrom && !haveIp && (ordinal < 1 || ordinal > 254))
        throw ProfileError("--device " + text + ": needs ip= (no default past the 254th device)");
    FillAddressDefaults(profile, haveIp, haveGateway);
    return profile;
}

std::vector<DeviceProfile> ParseManyProfile(const std::string& text, int firstOrdinal) {
    auto items = Split(text, ',');
    if (items.empty())
        throw ProfileError("--many: expected N,base_ip=A.B.C.D");
    const long count = ParseDecimal("--many N", items.front(), 1, 65536);
    DeviceProfile shared = DefaultProfile(firstOrdinal);
    std::optional<Ipv4> base;
    int stagger = 0;
    bool haveGateway = false;
    for (size_t i = 1; i < items.size(); ++i) {
        if (items[i].empty())
            continue;
        const auto [key, value] = KeyValue(items[i]);
        if (key == "base_ip")
            base = ParseIpKey(key, value);
        else if (key == "stagger")
            stagger = static_cast<int>(ParseDecimal(key, value, 0, 60000));
        else if (key == "id" || key == "from" || key == "ip")
            throw ProfileError("--many: " + key +
                               "= is per device; it is derived for each device of the group");
        else if (!ApplyKey(shared, key, value))
            throw ProfileError("--many: unknown key '" + key + "'");
        haveGateway |= key == "gateway";
    }
    if (!base)
        throw ProfileError("--many: base_ip= is required");
    if (OctetsValue(*base) + static_cast<uint64_t>(count) - 1 > 0xFFFFFFFFu)
        throw ProfileError("--many: addresses run past 255.255.255.255");
    std::vector<DeviceProfile> profiles;
    profiles.reserve(static_cast<size_t>(count));
    for (long k = 0; k < count; ++k) {
        DeviceProfile profile = shared;
        profile.id = DefaultProfile(firstOrdinal + static_cast<int>(k)).id;
        profile.sourceIp = ValueOctets(OctetsValue(*base) + static_cast<uint32_t>(k));
        profile.faults.delayMs += static_cast<int>(k) * stagger;
        FillAddressDefaults(profile, false, haveGateway);
        profiles.push_back(std::move(profile));
    }
    return profiles;
}

std::string FormatStateLine(const DeviceProfile& profile, const DeviceConfig& c) {
    std::string line = profile.id + " from=" + FormatIpv4(profile.sourceIp);
    for (const ConfigField& field : ConfigFields) {
        const FieldValue value = field.get(c);
        line += std::string(" ") + field.key + "=";
        if (field.kind == FieldKind::Address) {
            line += FormatIpv4(ValueOctets(value));
        } else if (field.kind == FieldKind::Port) {
            line += std::to_string(value);
        } else {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(value));
            line += hex;
        }
    }
    return line;
}
