// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/MemoryStream.h"

#include <algorithm>
#include <cstring>

std::size_t TMemoryStream::Read(void* buf, std::size_t n) {
    const std::size_t count = FPos < FData.size() ? std::min(n, FData.size() - FPos) : 0;
    if (count > 0) {
        std::memcpy(buf, FData.data() + FPos, count);
        FPos += count;
    }
    return count;
}

std::string TMemoryStream::ReadAll() {
    std::string bytes;
    if (FPos < FData.size()) {
        bytes.assign(reinterpret_cast<const char*>(FData.data() + FPos), FData.size() - FPos);
        FPos = FData.size();
    }
    return bytes;
}
