// SPDX-License-Identifier: GPL-3.0-or-later
// The apply table is a file from anywhere: whatever it holds, the reader ends in rows or in one
// InputError that says where, never in a crash, another exception, a hang or unbounded memory (the
// fuzzer's limits catch the last two). A broken promise aborts so the fuzzer keeps the input.
#include "tools/korvcfg/ApplyFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

// "line N: ..." with N a line of the file (one past the last for its end), or one of the two
// complaints about the file as a whole.
bool NamesAPlace(const std::string& what, const std::string& content) {
    if (what.rfind("the file is empty", 0) == 0 || what.rfind("the file lists no device", 0) == 0)
        return true;
    if (what.rfind("line ", 0) != 0)
        return false;
    const long line = std::strtol(what.c_str() + 5, nullptr, 10);
    const long lines = 1 + static_cast<long>(std::count(content.begin(), content.end(), '\n'));
    return line >= 1 && line <= lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    try {
        const auto rows = korvcfg::ParseApplyTable(content);
        Check(!rows.empty());
        for (const korvcfg::ApplyRow& row : rows)
            Check(row.line >= 1 && row.mac.size() == 17);
    } catch (const korvcfg::InputError& e) {
        Check(NamesAPlace(e.what(), content));
    }
    return 0;
}
