// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A device's configuration as the protocol carries it, the mode and speed rows that name its codes,
// and the parameter each write step sends for it. The window, korvcfg and the simulator all hold a
// configuration as this one type.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

enum class CommandCode : uint8_t;

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

// One entry of the network mode group and of korvcfg's --mode. Code 03 is not a mode.
struct ModeRow {
    uint8_t code;
    const char* caption; // the window's radio item
    const char* name;    // korvcfg's word for it
};
inline constexpr std::array<ModeRow, 4> ModeRows{{
    {0x00, "TCP/IP 服务器", "tcp-server"},
    {0x01, "TCP/IP 客户端", "tcp-client"},
    {0x02, "UDP 服务器", "udp-server"},
    {0x04, "UDP 客户端", "udp-client"},
}};

// One entry of the speed list; korvcfg names a speed by its baud. The code is 256 - 460800 / baud,
// but read from here, never computed.
struct SpeedRow {
    int baud;
    uint8_t code;
    const char* caption; // the window's list item
};
inline constexpr std::array<SpeedRow, 9> SpeedRows{{
    {2400, 0x40, "2400"},
    {4800, 0xA0, "4800"},
    {9600, 0xD0, "9600"},
    {14400, 0xE0, "14400"},
    {19200, 0xE8, "19200"},
    {28800, 0xF0, "28800"},
    {38400, 0xF4, "38400"},
    {57600, 0xF8, "57600"},
    {115200, 0xFC, "115200"},
}};

// Where a write takes its values from, one field at a time and only when a step sends it: the window
// reads its edits at every send, so a field that does not convert fails at its own step, after the
// earlier steps have been written, and an edit made during a wait is what the next send carries.
class ConfigSource {
  public:
    virtual ~ConfigSource() = default;
    virtual Ipv4Octets Address(CommandCode step) const = 0; // device IP, mask, remote IP or gateway
    virtual uint16_t Port() const = 0;
    virtual std::optional<uint8_t> ModeCode() const = 0; // none: no mode chosen
    virtual std::optional<uint8_t> BaudCode() const = 0; // none: no speed chosen
};

// A configuration already in hand (korvcfg's target).
class FixedConfig : public ConfigSource {
  public:
    explicit FixedConfig(const DeviceConfig& config) : FConfig(config) {}
    Ipv4Octets Address(CommandCode step) const override;
    uint16_t Port() const override { return FConfig.port; }
    std::optional<uint8_t> ModeCode() const override { return FConfig.modeCode; }
    std::optional<uint8_t> BaudCode() const override { return FConfig.baudCode; }

  private:
    DeviceConfig FConfig;
};

// The parameter hex that the step sends; none when its mode or speed names no row (nothing chosen, or
// a code the rows do not know), in which case nothing can be sent for it.
std::optional<std::string> StepParam(CommandCode step, const ConfigSource& source);
