// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the protocol tables' rows are written with.
#include <initializer_list>
#include <string>

// A byte string from its values, so a row shows each byte as the tables give it.
inline std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (const int v : values)
        s += static_cast<char>(v);
    return s;
}
