// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Just enough JSON for korvcfg: a reader that keeps the line of every value, so an apply file's
// error can name its line, and the writer of everything korvcfg prints with --json.
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

// An object on one line, its members in the order added.
class JsonObject {
  public:
    JsonObject& String(const std::string& key, const std::string& text);
    // A number, true, false or null, as written.
    JsonObject& Raw(const std::string& key, const std::string& json);
    std::string Text() const { return FText + "}"; }

  private:
    JsonObject& Key(const std::string& key);
    std::string FText = "{";
};

// A document of one array, its items one to a line: "[\n  a,\n  b\n]\n", or "[]\n" when empty.
std::string JsonArray(const std::vector<std::string>& items);

} // namespace korvcfg
