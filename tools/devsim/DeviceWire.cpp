// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/devsim/DeviceWire.h"

#include "protocol/DeviceMessages.h"
#include "protocol/HexCodec.h"

namespace {

const std::string AllFF(4, '\xFF');

// ScanReply: tag, the committed address, port, mode and speed, then the MAC (00 + DeviceId) and a
// firmware byte last, so the DeviceId sits in the five bytes before the last one.
constexpr uint8_t ScanReplyTag = 0x5A;
constexpr uint8_t FirmwareVersion = 0x13;

// ConfigRecord layout (64 bytes). The configuration's fields sit where the table puts them, the speed
// in the last byte; the other bytes are what such a unit also reports, so that nothing downstream can
// lean on zeros.
constexpr size_t RecIdleTimeout = 1;  // minutes
constexpr size_t RecMac = 2;          // six bytes, 00 + DeviceId
constexpr size_t RecRemotePort = 10;  // little-endian
constexpr size_t RecName = 12;        // sixteen bytes, NUL padded
constexpr size_t RecFirmware = 28;    // four bytes of text
constexpr size_t RecSerialFrame = 32; // data bits, parity, stop bits, flow control
constexpr size_t RecPacketGap = 36;   // ms, little-endian
constexpr size_t RecMaxFrame = 38;    // bytes, little-endian
constexpr size_t RecDns = 56;
constexpr size_t RecDhcp = 60;
constexpr size_t RecReserved = 61; // FF
constexpr size_t RecChecksum = 62; // sum of bytes 0..61, low byte
constexpr uint16_t DefaultRemotePort = 8234;

std::string IdBytesOf(const std::string& deviceId) {
    return HexToBytes(deviceId);
}

void Put(std::string& rec, size_t offset, const Ipv4& ip) {
    for (size_t i = 0; i < 4; ++i)
        rec[offset + i] = static_cast<char>(ip[i]);
}

void PutLe16(std::string& rec, size_t offset, uint16_t v) {
    rec[offset] = static_cast<char>(v & 0xFF);
    rec[offset + 1] = static_cast<char>(v >> 8);
}

} // namespace

Request ParseRequest(const std::string& d) {
    Request r;
    if (d == ScanRequest()) {
        r.kind = RequestKind::Scan;
        return r;
    }
    if (d.empty() || static_cast<uint8_t>(d[0]) != FrameLeadByte) {
        r.why = d.empty() ? "empty datagram" : "not a request of this protocol";
        return r;
    }
    r.kind = RequestKind::Malformed;
    if (d.size() < FrameParamOffset) {
        r.why = "frame too short for DeviceId and code";
        return r;
    }
    r.deviceId = BytesToHex(d.substr(FrameDeviceIdOffset, FrameDeviceIdBytes));
    r.code = static_cast<uint8_t>(d[FrameCodeOffset]);
    r.params = d.substr(FrameParamOffset);
    const size_t want = FrameBytesFor(static_cast<CommandCode>(r.code));
    if (d.size() != want) {
        r.why = "frame of " + std::to_string(d.size()) + " bytes for code " +
                BytesToHex(d.substr(FrameCodeOffset, 1)) + ", expected " + std::to_string(want);
        return r;
    }
    switch (static_cast<CommandCode>(r.code)) {
    case CommandCode::ReadConfig:
    case CommandCode::Commit:
        if (r.params != AllFF) {
            r.why = "parameters must be FF FF FF FF";
            return r;
        }
        break;
    case CommandCode::NetworkMode:
    case CommandCode::SerialSpeed:
        if (r.params.substr(1) != AllFF.substr(1)) {
            r.why = "code byte must be followed by FF FF FF";
            return r;
        }
        break;
    case CommandCode::DeviceIp:
    case CommandCode::SubnetMask:
    case CommandCode::RemoteIp:
    case CommandCode::Gateway:
    case CommandCode::LocalPort:
        break;
    default:
        r.why = "unknown command code " + BytesToHex(d.substr(FrameCodeOffset, 1));
        return r;
    }
    r.kind = RequestKind::Addressed;
    return r;
}

std::string ScanReplyBytes(const std::string& deviceId, const DeviceConfig& c, ScanReplyShape shape) {
    if (shape == ScanReplyShape::Malformed)
        return "?SCAN\r\n";
    std::string reply(1, static_cast<char>(ScanReplyTag));
    reply.append(4, '\0');
    Put(reply, 1, c.deviceIp);
    reply.append(2, '\0');
    PutLe16(reply, 5, c.port);
    reply += static_cast<char>(c.modeCode);
    reply += static_cast<char>(c.baudCode);
    reply += '\0';
    reply += IdBytesOf(deviceId);
    reply += static_cast<char>(FirmwareVersion);
    if (shape == ScanReplyShape::Short)
        reply.resize(3);
    return reply;
}

std::string ConfigRecordBytes(const std::string& deviceId, const DeviceConfig& c) {
    std::string rec(ConfigRecordSize, '\0');
    rec[RecIdleTimeout] = 5;
    rec.replace(RecMac + 1, FrameDeviceIdBytes, IdBytesOf(deviceId));
    PutLe16(rec, RecRemotePort, DefaultRemotePort);
    const std::string name = "SERIAL-NODE";
    rec.replace(RecName, name.size(), name);
    rec.replace(RecFirmware, 4, "1.3b");
    rec[RecSerialFrame] = 8;     // data bits
    rec[RecSerialFrame + 1] = 0; // no parity
    rec[RecSerialFrame + 2] = 1; // one stop bit
    rec[RecSerialFrame + 3] = 0; // no flow control
    PutLe16(rec, RecPacketGap, 10);
    PutLe16(rec, RecMaxFrame, 1024);
    Put(rec, RecDns, c.gateway);
    rec[RecDhcp] = 0;
    rec[RecReserved] = '\xFF';
    for (const ConfigField& field : ConfigFields) {
        const size_t width = static_cast<size_t>(field.width);
        const size_t at = field.recordOffset == SpeedHasNoOffset ? ConfigRecordSize - width
                                                                 : static_cast<size_t>(field.recordOffset);
        rec.replace(at, width, FieldBytes(field, field.get(c)));
    }
    uint8_t sum = 0;
    for (size_t i = 0; i < RecChecksum; ++i)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(rec[i]));
    rec[RecChecksum] = static_cast<char>(sum);
    return rec;
}

std::string WriteAckBytes(uint8_t code) {
    return HexToBytes(WriteAckText(static_cast<CommandCode>(code)));
}

std::string StrayBytes() {
    return HexToBytes("AA5501000D0A");
}
