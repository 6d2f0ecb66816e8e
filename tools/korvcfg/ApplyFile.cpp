// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/ApplyFile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iterator>
#include <map>
#include <sstream>

namespace korvcfg {

namespace {

[[noreturn]] void FailAt(int line, const std::string& what) {
    throw InputError("line " + std::to_string(line) + ": " + what);
}

bool IsColumn(const std::string& name) {
    return name == "mac" || FieldNamed(name) != nullptr;
}

// Sets the one field named column from text; the value errors carry no line, the caller adds it.
void SetField(ApplyRow& row, const std::string& column, const std::string& text) {
    if (column == "mac") {
        row.mac = ParseMac(text);
    } else {
        const ConfigField& field = Field(column);
        row.change[field] = ParseField(field, text, column);
    }
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::stringstream in(line);
    std::string cell;
    while (std::getline(in, cell, ',')) {
        cells.push_back(Trimmed(cell));
    }
    if (!line.empty() && line.back() == ',') {
        cells.emplace_back();
    }
    return cells;
}

std::vector<ApplyRow> ParseCsv(const std::string& content) {
    std::vector<ApplyRow> rows;
    std::vector<std::string> header;
    std::istringstream in(content);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (Trimmed(line).empty()) {
            continue;
        }
        const std::vector<std::string> cells = Cells(Trimmed(line));
        if (header.empty()) {
            std::map<std::string, int> seen;
            for (const std::string& name : cells) {
                if (!IsColumn(name)) {
                    FailAt(number, "unknown column '" + name + "'; the header is " + ApplyHeader());
                }
                if (seen[name]++ > 0) {
                    FailAt(number, "column '" + name + "' appears twice in the header");
                }
            }
            if (seen.count("mac") == 0) {
                FailAt(number, "the header has no 'mac' column");
            }
            header = cells;
            continue;
        }
        if (cells.size() != header.size()) {
            FailAt(number, std::to_string(cells.size()) + " cells, but the header has " +
                               std::to_string(header.size()));
        }
        ApplyRow row;
        row.line = number;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (cells[i].empty()) {
                if (header[i] == "mac") {
                    FailAt(number, "the mac cell is empty");
                }
                continue;
            }
            try {
                SetField(row, header[i], cells[i]);
            } catch (const InputError& e) {
                FailAt(number, e.what());
            }
        }
        rows.push_back(std::move(row));
    }
    if (header.empty()) {
        throw InputError("the file is empty: a header line " + ApplyHeader() + " is expected");
    }
    return rows;
}

// ---- JSON: read by nlohmann's parser into no more than the table needs, each value with its line ----

enum class Kind { Null, Bool, Number, String, Array, Object };

const char* KindName(Kind kind) {
    static constexpr const char* Names[] = {"null",     "true/false", "a number",
                                            "a string", "an array",   "an object"};
    return Names[static_cast<int>(kind)];
}

struct Member {
    std::string key;
    Kind kind;
    std::string text; // a string's value, or a number as written
    int line;
};
struct Item {
    Kind kind;
    int line;
    std::vector<Member> members; // an object's, in file order
};

// An apply file is a flat list; anything nested deeper than this is not one, and the bound keeps a
// hostile file from making korvcfg hold an endless stack of open values.
constexpr std::size_t MaxDepth = 32;

// The parser does not say where a value is. It reads the text through this iterator, which keeps the
// line of the last character that is not white space: when the parser hands over a value, that is
// the value's last character (or, after a number, the comma or bracket right behind it).
struct LineTracker {
    int line = 1;
    int lastLine = 1;
};
class TrackingIterator {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;
    TrackingIterator(const char* at, LineTracker* tracker) : FAt(at), FTracker(tracker) {}
    reference operator*() const { return *FAt; }
    TrackingIterator& operator++() {
        if (*FAt == '\n') {
            ++FTracker->line;
        } else if (*FAt != ' ' && *FAt != '\t' && *FAt != '\r') {
            FTracker->lastLine = FTracker->line;
        }
        ++FAt;
        return *this;
    }
    TrackingIterator operator++(int) {
        TrackingIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const TrackingIterator& other) const { return FAt == other.FAt; }

  private:
    const char* FAt;
    LineTracker* FTracker;
};

// nlohmann's reason for a syntax error, in the words of the rest of korvcfg's messages.
std::string SyntaxReason(const std::string& what, bool atEnd) {
    const auto dash = what.find(" - ");
    std::string reason = dash == std::string::npos ? what : what.substr(dash + 3);
    if (const auto lastRead = reason.find("; last read"); lastRead != std::string::npos) {
        reason.resize(lastRead); // what the reader of a single value found wrong
        const std::string prefix = "invalid string: ";
        return reason.rfind(prefix, 0) == 0 ? reason.substr(prefix.size()) : reason;
    }
    const auto expected = reason.rfind("; expected ");
    if (expected == std::string::npos) {
        return reason;
    }
    std::string wanted = reason.substr(expected + 11);
    if (wanted == "end of input") {
        return "unexpected text after the end of the JSON document";
    }
    if (wanted == "string literal" && what.find("object key") != std::string::npos) {
        wanted = "a key in double quotes";
    }
    return "expected " + wanted + (atEnd ? " before the end of the file" : "");
}

class TableReader {
  public:
    using Json = nlohmann::json;
    TableReader(const std::string& text, LineTracker& tracker) : FText(text), FTracker(tracker) {}

    Kind documentKind = Kind::Null;
    int documentLine = 1;
    std::vector<Item> items;

    bool null() { return Value(Kind::Null, ""); }
    bool boolean(bool) { return Value(Kind::Bool, ""); }
    bool number_integer(Json::number_integer_t v) { return Value(Kind::Number, std::to_string(v)); }
    bool number_unsigned(Json::number_unsigned_t v) { return Value(Kind::Number, std::to_string(v)); }
    bool number_float(Json::number_float_t, const std::string& written) {
        return Value(Kind::Number, written);
    }
    bool string(std::string& v) { return Value(Kind::String, v); }
    bool binary(Json::binary_t&) { return Value(Kind::Null, ""); } // JSON text has no binary values
    bool start_object(std::size_t) { return Open(Kind::Object); }
    bool start_array(std::size_t) { return Open(Kind::Array); }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }
    bool key(std::string& key) {
        FKey = key;
        return true;
    }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& e) {
        // The position counts the characters read, the one that failed included (and the end, once
        // reached, as one more).
        const std::size_t failed = std::min(position == 0 ? 0 : position - 1, FText.size());
        const auto line =
            1 + std::count(FText.begin(), FText.begin() + static_cast<std::ptrdiff_t>(failed), '\n');
        FailAt(static_cast<int>(line), SyntaxReason(e.what(), position > FText.size()));
    }

  private:
    bool InDeviceObject() const {
        return FOpen.size() == 2 && FOpen[0] == Kind::Array && FOpen[1] == Kind::Object;
    }
    bool Value(Kind kind, const std::string& text) {
        const int line = FTracker.lastLine;
        if (FOpen.empty()) {
            documentKind = kind;
            documentLine = line;
        } else if (FOpen.size() == 1 && FOpen[0] == Kind::Array) {
            items.push_back({kind, line, {}});
        } else if (InDeviceObject()) {
            items.back().members.push_back({FKey, kind, text, line});
        }
        return true;
    }
    bool Open(Kind kind) {
        Value(kind, "");
        if (FOpen.size() == MaxDepth) {
            FailAt(FTracker.lastLine, "nested too deeply");
        }
        FOpen.push_back(kind);
        return true;
    }
    bool Close() {
        FOpen.pop_back();
        return true;
    }

    const std::string& FText;
    LineTracker& FTracker;
    std::vector<Kind> FOpen;
    std::string FKey;
};

// A JSON number that is a whole number as written (no fraction, no exponent).
std::string WholeNumberText(const Member& member) {
    const std::string& text = member.text;
    if (text.find_first_of(".eE") != std::string::npos || (!text.empty() && text[0] == '-')) {
        throw InputError(member.key + " " + text + " is not a whole number from 0 up");
    }
    return text;
}

std::vector<ApplyRow> ParseJsonTable(const std::string& content) {
    LineTracker tracker;
    TableReader reader(content, tracker);
    nlohmann::json::sax_parse(TrackingIterator(content.data(), &tracker),
                              TrackingIterator(content.data() + content.size(), &tracker), &reader);
    if (reader.documentKind != Kind::Array) {
        FailAt(reader.documentLine, "expected an array of device objects");
    }
    std::vector<ApplyRow> rows;
    for (const Item& item : reader.items) {
        if (item.kind != Kind::Object) {
            FailAt(item.line, std::string("expected a device object, found ") + KindName(item.kind));
        }
        ApplyRow row;
        row.line = item.line;
        std::map<std::string, int> seen;
        for (const Member& member : item.members) {
            if (!IsColumn(member.key)) {
                FailAt(member.line, "unknown key '" + member.key + "'");
            }
            if (seen[member.key]++ > 0) {
                FailAt(member.line, "key '" + member.key + "' given twice");
            }
            if (member.kind == Kind::Null && member.key != "mac") {
                continue;
            }
            const bool numeric = member.key != "mac" && IsNumber(Field(member.key));
            const Kind wanted = numeric ? Kind::Number : Kind::String;
            if (member.kind != wanted) {
                FailAt(member.line,
                       member.key + " must be " + KindName(wanted) + ", not " + KindName(member.kind));
            }
            try {
                SetField(row, member.key, numeric ? WholeNumberText(member) : member.text);
            } catch (const InputError& e) {
                FailAt(member.line, e.what());
            }
        }
        if (row.mac.empty()) {
            FailAt(item.line, "the device object has no mac");
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace

std::string ApplyHeader() {
    std::string header = "mac";
    for (const ConfigField& field : ConfigFields) {
        header += std::string(",") + field.key;
    }
    return header;
}

std::vector<ApplyRow> ParseApplyTable(const std::string& content) {
    std::string text = content;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        text.erase(0, 3); // the mark some editors put first in a UTF-8 file
    }
    const auto first = text.find_first_not_of(" \t\r\n");
    const bool json = first != std::string::npos && (text[first] == '[' || text[first] == '{');
    std::vector<ApplyRow> rows = json ? ParseJsonTable(text) : ParseCsv(text);
    if (rows.empty()) {
        throw InputError("the file lists no device");
    }
    std::map<std::string, int> firstLine;
    for (const ApplyRow& row : rows) {
        const auto [it, fresh] = firstLine.emplace(row.mac, row.line);
        if (!fresh) {
            FailAt(row.line, row.mac + " is listed again (first on line " + std::to_string(it->second) + ")");
        }
    }
    return rows;
}

} // namespace korvcfg
