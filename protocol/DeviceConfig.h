// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A device's configuration as the protocol carries it, and its seven fields as one table
// (ConfigTable.def): the key each program names a field by, the write step that sends it, its place in
// the record, the member that holds it. The window, korvcfg and the simulator drive every field from
// this table: how it is sent, shown, stored and read back.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class CommandCode : uint8_t {
#define KORV_FIELD(key, step, code, offset, width, member, kind) step = code,
#define KORV_COMMAND(step, code) step = code,
#include "protocol/ConfigTable.def"
};

using Ipv4Octets = std::array<uint8_t, 4>;

// Mode and speed stay codes, as the device reports them: a code outside the rows is kept and shown as
// such rather than guessed at.
struct DeviceConfig {
    uint8_t modeCode = 0;
    uint16_t port = 0;
    Ipv4Octets deviceIp{};
    Ipv4Octets remoteIp{};
    Ipv4Octets gateway{};
    Ipv4Octets subnetMask{};
    uint8_t baudCode = 0;
    bool operator==(const DeviceConfig&) const = default;
};

// The network modes in the window's order, with korvcfg's name for each.
struct ModeRow {
    uint8_t code;
    const char* name;
};
inline constexpr auto ModeRows = std::to_array<ModeRow>({
#define KORV_MODE(code, name) {code, #name},
#include "protocol/ConfigTable.def"
});

// The serial speeds in the window's order; korvcfg names a speed by its baud.
struct SpeedRow {
    int baud;
    uint8_t code;
};
inline constexpr auto SpeedRows = std::to_array<SpeedRow>({
#define KORV_SPEED(baud, code) {baud, code},
#include "protocol/ConfigTable.def"
});

// A field's value as one number: an address as its four bytes read big-endian, the port, a code.
using FieldValue = uint32_t;

enum class FieldKind : uint8_t { Address, Port, Mode, Speed };

struct ConfigField {
    const char* key;
    CommandCode step;
    int recordOffset; // SpeedHasNoOffset for the speed
    int width;        // bytes, in the record and in the write command
    FieldKind kind;
    FieldValue (*get)(const DeviceConfig&);
    void (*set)(DeviceConfig&, FieldValue);
};
inline constexpr int SpeedHasNoOffset = -1;

namespace config_detail {
constexpr FieldValue ToValue(const Ipv4Octets& o) {
    return FieldValue{o[0]} << 24 | FieldValue{o[1]} << 16 | FieldValue{o[2]} << 8 | o[3];
}
constexpr FieldValue ToValue(uint16_t v) {
    return v;
}
constexpr FieldValue ToValue(uint8_t v) {
    return v;
}
constexpr void FromValue(Ipv4Octets& o, FieldValue v) {
    o = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
         static_cast<uint8_t>(v)};
}
template <typename T> constexpr void FromValue(T& member, FieldValue v) {
    member = static_cast<T>(v);
}
} // namespace config_detail

inline constexpr std::array<ConfigField, 7> ConfigFields{{
#define KORV_FIELD(key, step, code, offset, width, member, kind)                                             \
    {#key,                                                                                                   \
     CommandCode::step,                                                                                      \
     offset,                                                                                                 \
     width,                                                                                                  \
     FieldKind::kind,                                                                                        \
     [](const DeviceConfig& c) { return config_detail::ToValue(c.member); },                                 \
     [](DeviceConfig& c, FieldValue v) { config_detail::FromValue(c.member, v); }},
#include "protocol/ConfigTable.def"
}};

// None when no field has this key, or when the step writes no field (the read, the commit).
const ConfigField* FieldNamed(std::string_view key);
const ConfigField* FieldOfStep(CommandCode step);
FieldValue OctetsValue(const Ipv4Octets& octets);
Ipv4Octets ValueOctets(FieldValue value);
// Whether a mode or speed code names a row; every value of an address or a port does.
bool IsListed(const ConfigField& field, FieldValue value);

// The field's bytes as a write command and the record carry them: an address in order, the port low
// byte first, a code as its one byte. FieldFromBytes reads width bytes.
std::string FieldBytes(const ConfigField& field, FieldValue value);
FieldValue FieldFromBytes(const ConfigField& field, std::string_view bytes);

// Where a write takes its values from, one field at a time and only when a step sends it: the window
// reads its edits at every send, so a field that does not convert fails at its own step, after the
// earlier steps have been written, and an edit made during a wait is what the next send carries.
class ConfigSource {
  public:
    virtual ~ConfigSource() = default;
    // None: nothing chosen (no mode, no speed).
    virtual std::optional<FieldValue> Value(const ConfigField& field) const = 0;
};

// A configuration already in hand (korvcfg's target).
class FixedConfig : public ConfigSource {
  public:
    explicit FixedConfig(const DeviceConfig& config) : FConfig(config) {}
    std::optional<FieldValue> Value(const ConfigField& field) const override { return field.get(FConfig); }

  private:
    DeviceConfig FConfig;
};

// The parameter hex that the step sends; none when its mode or speed names no row (nothing chosen, or
// a code the rows do not know), in which case nothing can be sent for it.
std::optional<std::string> StepParam(CommandCode step, const ConfigSource& source);
