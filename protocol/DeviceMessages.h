// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every datagram exchanged with a device: layouts, the request builders and the reply readers; the
// command codes and the record's fields are the configuration table's (DeviceConfig.h). Requests are composed
// as hex text and returned as the bytes to send; replies are read from their hex text.
#include "protocol/DeviceConfig.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

inline constexpr int DevicePort = 60000;      // devices listen here
inline constexpr int WorkstationPort = 60001; // replies come here

// The addressed request (ConfigReadRequest and every WriteCommand): lead byte, DeviceId, code,
// parameter. Offsets and widths in bytes; the simulator reads requests by the same layout.
inline constexpr uint8_t FrameLeadByte = 0x01;
inline constexpr std::size_t FrameDeviceIdOffset = 1, FrameDeviceIdBytes = 5;
inline constexpr std::size_t FrameCodeOffset = 6;
inline constexpr std::size_t FrameParamOffset = 7, FrameParamBytes = 4;
// The length of a frame whose step sends this field (the port: two parameter bytes, no fill), or
// carries no field (the read, the commit: four FF).
std::size_t FrameBytesFor(CommandCode code);

std::string ScanRequest();                                 // five zero bytes
std::string DeviceIdFromMac(const std::string& macText);   // ten hex digits (positions 4-5, 7-8, ...)
std::string ConfigReadRequest(const std::string& macText); // 11 bytes
// "01" + DeviceId + code + parameter hex, as bytes.
std::string WriteCommand(const std::string& macText, CommandCode code, const std::string& paramHex);
std::string CommitParam();                  // parameter hex of the Commit command
std::string WriteAckText(CommandCode code); // e.g. "01010D0A"

// MAC text "00-XX-XX-XX-XX-XX" from a ScanReply's hex; none when the reply is under five bytes.
std::optional<std::string> MacTextFromScanReply(const std::string& replyHex);

// Never fails: short records clamp to their last byte, an empty one reads 0 everywhere.
DeviceConfig ReadConfigRecord(const std::string& recordHex);

// The two code tables, by list entry, both directions. None: no entry / no code.
std::optional<int> ModeEntryForCode(int32_t code);
std::optional<int32_t> ModeCodeForEntry(int entry);
std::optional<int> BaudEntryForCode(int32_t code);
std::optional<int32_t> BaudCodeForEntry(int entry);
// The shortest datagram that holds every field the reader takes, the speed byte after the others (the
// length the capture dissector asks of a record too): in a shorter one the last byte, read as the
// speed, would be part of the subnet mask, and to a strict reader it is no record.
std::size_t ConfigRecordMinBytes();
// Whether a reply (hex text) is long enough to be taken as a record at all: the window and korvcfg
// keep awaiting the real one past anything shorter, a late scan reply or acknowledgement among them.
bool IsConfigRecord(const std::string& replyHex);

// The texts of the window's edits as values. They go through StrToInt and raise EConvertError; an
// octet outside 0..255 raises it too rather than shift the frame, and so does a port outside 0..65535
// rather than travel cut to 16 bits.
Ipv4Octets OctetsFromTexts(const std::array<std::string, 4>& octetTexts);
uint16_t PortFromText(const std::string& portText);

// Parameter encoders for the WriteCommands (hex text).
std::string OctetsParam(const Ipv4Octets& octets);
std::string PortParam(uint16_t port); // swapped, four digits
std::string CodeParam(uint8_t code);  // a mode or speed code, then FFs
