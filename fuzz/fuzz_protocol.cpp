// SPDX-License-Identifier: GPL-3.0-or-later
// Every reader of received or typed text, fed arbitrary input, plus the invariants that tie the codec
// together. A broken invariant aborts so the fuzzer keeps the input.
#include "protocol/ConvertError.h"
#include "protocol/DeviceMessages.h"
#include "protocol/HexCodec.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

bool IsUpperHex(const std::string& s) {
    return s.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

void ArbitraryText(const std::string& text, uint16_t count) {
    const std::string bytes = HexToBytes(text);
    const auto digits = std::count_if(text.begin(), text.end(),
                                      [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
    Check(bytes.size() <= static_cast<size_t>(digits));
    Check(2 * bytes.size() >= static_cast<size_t>(digits));

    (void)HexToInt(text);

    const std::string left = TakeLeft(text, count);
    const std::string right = TakeRight(text, count);
    const size_t n = std::min<size_t>(count, text.size());
    Check(left.size() == n && text.compare(0, n, left) == 0);
    Check(right.size() == n && text.compare(text.size() - n, n, right) == 0);

    (void)ReadConfigRecord(text);
    (void)MacTextFromScanReply(text);
    (void)DeviceIdFromMac(text);

    try {
        const int32_t value = StrToInt(text);
        Check(StrToInt(std::to_string(value)) == value);
    } catch (const EConvertError&) {
    }
}

void ArbitraryDatagram(const std::string& datagram) {
    const std::string hex = BytesToHex(datagram);
    Check(hex.size() == 2 * datagram.size() && IsUpperHex(hex));
    Check(HexToBytes(hex) == datagram);

    const auto mac = MacTextFromScanReply(hex);
    Check(mac.has_value() == (datagram.size() >= 5));
    if (mac) {
        Check(mac->size() == 17);
        const size_t first = datagram.size() >= 6 ? datagram.size() - 6 : 0;
        Check(DeviceIdFromMac(*mac) == BytesToHex(datagram.substr(first, 5)));
    }

    const auto f = ReadConfigRecord(hex);
    auto byteAt = [&](size_t k) -> int32_t {
        if (datagram.empty())
            return 0;
        return static_cast<unsigned char>(datagram[std::min(k, datagram.size() - 1)]);
    };
    Check(f.modeCode == byteAt(0));
    Check(f.port == byteAt(9) * 256 + byteAt(8));
    for (size_t i = 0; i < 4; ++i) {
        Check(f.deviceIp[i] == byteAt(40 + i));
        Check(f.remoteIp[i] == byteAt(44 + i));
        Check(f.gateway[i] == byteAt(48 + i));
        Check(f.subnetMask[i] == byteAt(52 + i));
    }
    Check(f.baudCode == byteAt(255));

    if (const auto entry = BaudEntryForCode(f.baudCode))
        Check(BaudCodeForEntry(*entry) == f.baudCode);
    if (const auto entry = ModeEntryForCode(f.modeCode))
        Check(ModeCodeForEntry(*entry) == f.modeCode);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const uint16_t count = size >= 2 ? static_cast<uint16_t>(data[0] | (data[1] << 8)) : 0;
    ArbitraryText(input, count);
    ArbitraryDatagram(input);
    return 0;
}
