// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/JsonOutput.h"

namespace korvcfg {

std::string OneLine(const Json& value) {
    if (value.is_array()) {
        std::string text = "[";
        for (const Json& item : value) {
            text += (text.size() > 1 ? ", " : "") + OneLine(item);
        }
        return text + "]";
    }
    if (!value.is_object()) {
        // A text that is not UTF-8 (a name from a file, say) is still printed, its bad bytes replaced.
        return value.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
    std::string text = "{";
    for (auto it = value.begin(); it != value.end(); ++it) {
        text += (text.size() > 1 ? ", " : "") + OneLine(it.key()) + ": " + OneLine(it.value());
    }
    return text + "}";
}

std::string JsonArray(const std::vector<Json>& items) {
    std::string text = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        text += (i == 0 ? "\n  " : ",\n  ") + OneLine(items[i]);
    }
    return text + (items.empty() ? "]\n" : "\n]\n");
}

} // namespace korvcfg
