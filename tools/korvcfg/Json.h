// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Just enough JSON for korvcfg: a reader that keeps the line of every value, so an apply file's
// error can name its line, and the quoting of strings for what korvcfg prints.
#include <string>
#include <utility>
#include <vector>

namespace korvcfg {

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    std::string text; // a string's value, or a number as written
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members; // in file order
    int line = 1;
};

// One document; InputError "line N: ..." when it is not well-formed JSON.
JsonValue ParseJson(const std::string& text);

// The string as a JSON string literal, quotes included.
std::string JsonQuote(const std::string& text);

const char* JsonKindName(JsonValue::Kind kind);

} // namespace korvcfg
