// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// korvcfg's --json output: values made with nlohmann's JSON, laid out as korvcfg always has, an object
// on one line and a document of one array with an item to a line, so that a diff of two runs shows
// one line per device.
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace korvcfg {

using Json = nlohmann::ordered_json; // members in the order they are added

// {"a": 1, "b": [2, 3]}: one line, ", " and ": " between the parts.
std::string OneLine(const Json& value);
// "[\n  a,\n  b\n]\n", or "[]\n" when empty.
std::string JsonArray(const std::vector<Json>& items);

} // namespace korvcfg
