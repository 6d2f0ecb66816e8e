// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Hex text codec and the small text routines the protocol code rests on. None of them raises.
// Byte strings and texts are both std::string.
#include <cstdint>
#include <string>

std::string BytesToHex(const std::string& bytes); // upper case, two digits per byte
std::string HexToBytes(const std::string& text);  // tolerant pairing, never fails
int32_t HexToInt(const std::string& text);        // leading hex digits; stops past 0FFFFFFF
std::string TakeLeft(const std::string& text, uint16_t count);
std::string TakeRight(const std::string& text, uint16_t count);
uint16_t SwapBytes16(int32_t value); // low 16 bits, bytes swapped
