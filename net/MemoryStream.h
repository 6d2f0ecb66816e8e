// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Growable memory stream handed to OnUDPRead as AData.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TMemoryStream {
  public:
    std::size_t Size() const { return FData.size(); }
    void SetSize(std::size_t n) {
        FData.resize(n);
        if (FPos > n)
            FPos = n;
    }
    std::size_t Position() const { return FPos; }
    void SetPosition(std::size_t p) { FPos = p; }
    uint8_t* Memory() { return FData.data(); }
    const uint8_t* Memory() const { return FData.data(); }
    // Reads up to n bytes from the position on; returns the count read.
    std::size_t Read(void* buf, std::size_t n);
    // The bytes from the position to the end, as a byte string; advances the position.
    std::string ReadAll();

  private:
    std::vector<uint8_t> FData;
    std::size_t FPos = 0;
};
