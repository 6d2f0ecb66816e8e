// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/DeviceConfig.h"

#include "protocol/DeviceMessages.h"

#include <algorithm>

const ConfigField* FieldNamed(std::string_view key) {
    const auto it = std::find_if(ConfigFields.begin(), ConfigFields.end(),
                                 [&](const ConfigField& field) { return key == field.key; });
    return it == ConfigFields.end() ? nullptr : &*it;
}

const ConfigField* FieldOfStep(CommandCode step) {
    const auto it = std::find_if(ConfigFields.begin(), ConfigFields.end(),
                                 [&](const ConfigField& field) { return field.step == step; });
    return it == ConfigFields.end() ? nullptr : &*it;
}

FieldValue OctetsValue(const Ipv4Octets& octets) {
    return config_detail::ToValue(octets);
}

Ipv4Octets ValueOctets(FieldValue value) {
    Ipv4Octets octets;
    config_detail::FromValue(octets, value);
    return octets;
}

bool IsListed(const ConfigField& field, FieldValue value) {
    switch (field.kind) {
    case FieldKind::Mode:
        return ModeEntryForCode(static_cast<int32_t>(value)).has_value();
    case FieldKind::Speed:
        return BaudEntryForCode(static_cast<int32_t>(value)).has_value();
    default:
        return true;
    }
}

std::string FieldBytes(const ConfigField& field, FieldValue value) {
    std::string bytes(static_cast<std::size_t>(field.width), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        // Addresses go first octet first; the port, the one other field of two bytes, low byte first.
        const std::size_t shift = field.kind == FieldKind::Address ? 8 * (bytes.size() - 1 - i) : 8 * i;
        bytes[i] = static_cast<char>(value >> shift);
    }
    return bytes;
}

FieldValue FieldFromBytes(const ConfigField& field, std::string_view bytes) {
    FieldValue value = 0;
    const std::size_t n = std::min(bytes.size(), static_cast<std::size_t>(field.width));
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t shift = field.kind == FieldKind::Address ? 8 * (n - 1 - i) : 8 * i;
        value |= FieldValue{static_cast<uint8_t>(bytes[i])} << shift;
    }
    return value;
}

std::optional<std::string> StepParam(CommandCode step, const ConfigSource& source) {
    const ConfigField* field = FieldOfStep(step);
    if (field == nullptr) {
        return CommitParam(); // the read and the commit carry no value
    }
    const auto value = source.Value(*field);
    if (!value || !IsListed(*field, *value)) {
        return std::nullopt;
    }
    switch (field->kind) {
    case FieldKind::Address:
        return OctetsParam(ValueOctets(*value));
    case FieldKind::Port:
        return PortParam(static_cast<uint16_t>(*value));
    default:
        return CodeParam(static_cast<uint8_t>(*value));
    }
}
