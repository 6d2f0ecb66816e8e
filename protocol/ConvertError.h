// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

// The framework's conversion error: "'%s' is not a valid integer value".
class EConvertError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The error for a text that does not read as an integer (or not as one the caller can use).
EConvertError InvalidIntegerError(const std::string& text);

// Text to signed 32-bit decimal integer; raises EConvertError for empty, non-numeric or out-of-range text.
int32_t StrToInt(const std::string& text);
