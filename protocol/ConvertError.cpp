// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/ConvertError.h"

#include <limits>

EConvertError InvalidIntegerError(const std::string& text) {
    return EConvertError("'" + text + "' is not a valid integer value");
}

int32_t StrToInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        throw InvalidIntegerError(text);

    // Magnitude in 64 bits, checked per digit so that no length of digits can overflow it.
    constexpr int64_t MaxMagnitude = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            throw InvalidIntegerError(text);
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > MaxMagnitude)
            throw InvalidIntegerError(text);
    }
    if (!negative && magnitude == MaxMagnitude)
        throw InvalidIntegerError(text);
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}
