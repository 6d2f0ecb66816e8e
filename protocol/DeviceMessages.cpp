// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/DeviceMessages.h"

#include "protocol/ConvertError.h"
#include "protocol/HexCodec.h"

#include <algorithm>

// ---------------------------------------------------------------------------------------------------
// Wire layout. Offsets and widths are byte counts; every message is the whole payload of a datagram
// and is composed or read as hex text, two digits per byte.
// ---------------------------------------------------------------------------------------------------
namespace {

struct Field {
    int offset; // byte offset from the start of the payload
    int width;  // bytes
    constexpr int end() const { return offset + width; }
};

constexpr int HexWidth(const char* hex) {
    int n = 0;
    while (hex[n] != '\0')
        ++n;
    return n / 2;
}

// ScanRequest: the only request without a DeviceId.
constexpr char ScanRequestHex[] = "0000000000"; // five 00 bytes

// Addressed request: ConfigReadRequest and every WriteCommand.
constexpr Field FrameLead{0, 1};
constexpr Field FrameDeviceId{static_cast<int>(FrameDeviceIdOffset), static_cast<int>(FrameDeviceIdBytes)};
constexpr Field FrameCode{static_cast<int>(FrameCodeOffset), 1};
constexpr Field FrameParam{static_cast<int>(FrameParamOffset), static_cast<int>(FrameParamBytes)};
constexpr Field FramePortParam{FrameParam.offset, 2}; // LocalPort only: a 9-byte frame
constexpr char LeadByteHex[] = "01";
static_assert(FrameLeadByte == 0x01);
constexpr char ReadParamHex[] = "FFFFFFFF";   // after code 0A
constexpr char CommitParamHex[] = "FFFFFFFF"; // after code FF
constexpr char CodeParamFillHex[] = "FFFFFF"; // after a ModeCode or BaudCode
constexpr int OctetDigits = 2;
constexpr int PortDigits = 2 * FramePortParam.width; // low byte first, see PortParam
static_assert(FrameDeviceId.offset == FrameLead.end() && FrameCode.offset == FrameDeviceId.end() &&
              FrameParam.offset == FrameCode.end() && FramePortParam.offset == FrameCode.end());
static_assert(HexWidth(LeadByteHex) == FrameLead.width && HexWidth(ReadParamHex) == FrameParam.width &&
              HexWidth(CommitParamHex) == FrameParam.width &&
              HexWidth(CodeParamFillHex) + 1 == FrameParam.width && OctetDigits * 4 == 2 * FrameParam.width);

// WriteAck: the acknowledged code, 01, CR LF; a datagram is an acknowledgement only as a whole.
constexpr Field AckCode{0, 1};
constexpr Field AckTail{1, 3};
constexpr char AckTailHex[] = "010D0A";
static_assert(AckTail.offset == AckCode.end() && HexWidth(AckTailHex) == AckTail.width);

// ScanReply: the DeviceId is the five bytes before the last one; nothing else is read.
constexpr int ScanReplyTailBytes = FrameDeviceId.width + 1;

// MAC text "00-1A-2B-3C-4D-5E": a fixed first group, then each DeviceId byte behind a separator.
constexpr char MacFirstGroup[] = "00";
constexpr char MacSeparator = '-';
constexpr int MacGroupStride = 3;  // separator + two digits
constexpr int MacFirstIdDigit = 3; // 0-based position of the DeviceId's first digit

// ConfigRecord: the fields' places are the configuration table's; a field past the end of a short
// record reads the record's last byte. The speed is the last byte, found by cutting at 256 bytes: past
// that length it is byte 255.
constexpr uint16_t RecordSpeedCutDigits = 512;
constexpr std::size_t RecordFieldsEnd() {
    std::size_t end = 0;
    for (const ConfigField& field : ConfigFields) {
        if (field.recordOffset != SpeedHasNoOffset) {
            end = std::max(end, static_cast<std::size_t>(field.recordOffset + field.width));
        }
    }
    return end;
}

// ---------------------------------------------------------------------------------------------------

std::string IntToHex(uint32_t value, int digits) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string hex;
    do {
        hex.insert(hex.begin(), Digits[value & 0x0F]);
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(hex.size()) < digits)
        hex.insert(0, static_cast<size_t>(digits) - hex.size(), '0');
    return hex;
}

std::string CodeHex(CommandCode code) {
    return IntToHex(static_cast<uint8_t>(code), 2 * FrameCode.width);
}

// Byte k of the hex text; clamps to the last byte of a short text and reads 0 from an empty one. Two
// hex digits are a byte whatever they hold.
uint8_t ReadByte(const std::string& hex, std::size_t k) {
    return static_cast<uint8_t>(HexToInt(TakeRight(TakeLeft(hex, static_cast<uint16_t>(2 * k + 2)), 2)));
}

template <typename Table, typename Proj>
std::optional<int> EntryOf(const Table& table, int32_t code, Proj proj) {
    const auto it =
        std::find_if(table.begin(), table.end(), [&](const auto& row) { return proj(row) == code; });
    if (it == table.end())
        return std::nullopt;
    return static_cast<int>(it - table.begin());
}

} // namespace

std::string ScanRequest() {
    return HexToBytes(ScanRequestHex);
}

std::string DeviceIdFromMac(const std::string& macText) {
    std::string id;
    for (int group = 0; group < FrameDeviceId.width; ++group) {
        const size_t pos = MacFirstIdDigit + group * MacGroupStride;
        if (pos < macText.size())
            id += macText.substr(pos, 2);
    }
    return id;
}

std::string ConfigReadRequest(const std::string& macText) {
    return WriteCommand(macText, CommandCode::ReadConfig, ReadParamHex);
}

std::string WriteCommand(const std::string& macText, CommandCode code, const std::string& paramHex) {
    return HexToBytes(LeadByteHex + DeviceIdFromMac(macText) + CodeHex(code) + paramHex);
}

std::string CommitParam() {
    return CommitParamHex;
}

std::string WriteAckText(CommandCode code) {
    return CodeHex(code) + AckTailHex;
}

std::optional<std::string> MacTextFromScanReply(const std::string& replyHex) {
    // Fewer than five bytes cannot name a device; listing one would offer an entry nothing can reach.
    if (replyHex.size() < 2 * FrameDeviceId.width)
        return std::nullopt;
    const std::string id = TakeLeft(TakeRight(replyHex, 2 * ScanReplyTailBytes), 2 * FrameDeviceId.width);
    std::string mac = MacFirstGroup;
    for (int group = 0; group < FrameDeviceId.width; ++group) {
        mac += MacSeparator;
        mac += id.substr(static_cast<size_t>(2 * group), 2);
    }
    return mac;
}

DeviceConfig ReadConfigRecord(const std::string& recordHex) {
    DeviceConfig config;
    for (const ConfigField& field : ConfigFields) {
        std::string bytes;
        if (field.recordOffset == SpeedHasNoOffset) {
            bytes = static_cast<char>(HexToInt(TakeRight(TakeLeft(recordHex, RecordSpeedCutDigits), 2)));
        } else {
            for (int i = 0; i < field.width; ++i) {
                bytes +=
                    static_cast<char>(ReadByte(recordHex, static_cast<std::size_t>(field.recordOffset + i)));
            }
        }
        field.set(config, FieldFromBytes(field, bytes));
    }
    return config;
}

std::size_t FrameBytesFor(CommandCode code) {
    return static_cast<std::size_t>(code == CommandCode::LocalPort ? FramePortParam.end() : FrameParam.end());
}

std::optional<int> ModeEntryForCode(int32_t code) {
    return EntryOf(ModeRows, code, [](const ModeRow& row) { return row.code; });
}

std::optional<int32_t> ModeCodeForEntry(int entry) {
    if (entry < 0 || entry >= static_cast<int>(ModeRows.size()))
        return std::nullopt;
    return ModeRows[static_cast<size_t>(entry)].code;
}

std::optional<int> BaudEntryForCode(int32_t code) {
    return EntryOf(SpeedRows, code, [](const SpeedRow& row) { return row.code; });
}

std::optional<int32_t> BaudCodeForEntry(int entry) {
    if (entry < 0 || entry >= static_cast<int>(SpeedRows.size()))
        return std::nullopt;
    return SpeedRows[static_cast<size_t>(entry)].code;
}

std::size_t ConfigRecordMinBytes() {
    return RecordFieldsEnd() + 1;
}

bool IsConfigRecord(const std::string& replyHex) {
    return replyHex.size() >= 2 * ConfigRecordMinBytes();
}

Ipv4Octets OctetsFromTexts(const std::array<std::string, 4>& octetTexts) {
    Ipv4Octets octets{};
    for (std::size_t i = 0; i < octets.size(); ++i) {
        const int32_t value = StrToInt(octetTexts[i]);
        // Anything but a byte would shift every later byte of the frame.
        if (value < 0 || value > 255)
            throw InvalidIntegerError(octetTexts[i]);
        octets[i] = static_cast<uint8_t>(value);
    }
    return octets;
}

uint16_t PortFromText(const std::string& portText) {
    const int32_t value = StrToInt(portText);
    // Cutting to 16 bits would write another port than the one typed and report it as written.
    if (value < 0 || value > 0xFFFF)
        throw InvalidIntegerError(portText);
    return static_cast<uint16_t>(value);
}

std::string OctetsParam(const Ipv4Octets& octets) {
    std::string hex;
    for (const uint8_t octet : octets) {
        hex += IntToHex(octet, OctetDigits);
    }
    return hex;
}

std::string PortParam(uint16_t port) {
    // The device takes the port little-endian.
    return IntToHex(SwapBytes16(port), PortDigits);
}

std::string CodeParam(uint8_t code) {
    return IntToHex(code, 2) + CodeParamFillHex;
}
