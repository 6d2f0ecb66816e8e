// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/HexCodec.h"

#include <algorithm>

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

// Value of a hex digit of either case, or -1.
int DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::string BytesToHex(const std::string& bytes) {
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        hex += HexDigits[b >> 4];
        hex += HexDigits[b & 0x0F];
    }
    return hex;
}

std::string HexToBytes(const std::string& text) {
    std::string bytes;
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        while (i < n && DigitValue(text[i]) < 0)
            ++i;
        if (i == n)
            break;
        const int high = DigitValue(text[i]);
        const int low = i + 1 < n ? DigitValue(text[i + 1]) : -1;
        // A lone digit is a byte of its own; stepping by two then also passes over the non-digit after
        // it, which the skip above would have dropped anyway.
        bytes += static_cast<char>(low < 0 ? high : high * 16 + low);
        i += 2;
    }
    return bytes;
}

int32_t HexToInt(const std::string& text) {
    uint32_t value = 0;
    for (const char c : text) {
        const int d = DigitValue(c);
        if (d < 0 || value > 0x0FFFFFFFu)
            break;
        value = value * 16 + static_cast<uint32_t>(d);
    }
    // Eight digits from 80000000 up read as negative, as a signed 32-bit accumulator would give.
    return static_cast<int32_t>(value);
}

std::string TakeLeft(const std::string& text, uint16_t count) {
    return text.substr(0, std::min<size_t>(count, text.size()));
}

std::string TakeRight(const std::string& text, uint16_t count) {
    const size_t n = std::min<size_t>(count, text.size());
    return text.substr(text.size() - n);
}

uint16_t SwapBytes16(int32_t value) {
    const auto low16 = static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu);
    return static_cast<uint16_t>((low16 << 8) | (low16 >> 8));
}
