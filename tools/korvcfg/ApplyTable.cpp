// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/ApplyTable.h"

#include "protocol/WriteSequence.h"
#include "tools/korvcfg/Json.h"
#include "tools/korvcfg/TurnTaking.h"

#include <algorithm>
#include <array>
#include <map>
#include <sstream>

namespace korvcfg {

namespace {

[[noreturn]] void FailAt(int line, const std::string& what) {
    throw InputError("line " + std::to_string(line) + ": " + what);
}

bool IsColumn(const std::string& name) {
    return name == "mac" || std::any_of(ConfigFields.begin(), ConfigFields.end(),
                                        [&](const ConfigField& field) { return name == field.name; });
}

// Sets the one field named column from text; the value errors carry no line, the caller adds it.
void SetField(ApplyRow& row, const std::string& column, const std::string& text) {
    if (column == "mac") {
        row.mac = ParseMac(text);
    } else {
        FieldNamed(column).parse(row.change, text, column);
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

// A JSON number that is a whole number as written (no fraction, no exponent).
std::string WholeNumberText(const JsonValue& value, const std::string& key) {
    const std::string& text = value.text;
    if (text.find_first_of(".eE") != std::string::npos || (!text.empty() && text[0] == '-')) {
        throw InputError(key + " " + text + " is not a whole number from 0 up");
    }
    return text;
}

std::vector<ApplyRow> ParseJsonTable(const std::string& content) {
    const JsonValue document = ParseJson(content);
    if (document.kind != JsonValue::Kind::Array) {
        FailAt(document.line, "expected an array of device objects");
    }
    std::vector<ApplyRow> rows;
    for (const JsonValue& item : document.items) {
        if (item.kind != JsonValue::Kind::Object) {
            FailAt(item.line, std::string("expected a device object, found ") + JsonKindName(item.kind));
        }
        ApplyRow row;
        row.line = item.line;
        std::map<std::string, int> seen;
        for (const auto& [key, value] : item.members) {
            if (!IsColumn(key)) {
                FailAt(value.line, "unknown key '" + key + "'");
            }
            if (seen[key]++ > 0) {
                FailAt(value.line, "key '" + key + "' given twice");
            }
            if (value.kind == JsonValue::Kind::Null && key != "mac") {
                continue;
            }
            const bool numeric = key != "mac" && FieldNamed(key).number;
            const JsonValue::Kind wanted = numeric ? JsonValue::Kind::Number : JsonValue::Kind::String;
            if (value.kind != wanted) {
                FailAt(value.line,
                       key + " must be " + JsonKindName(wanted) + ", not " + JsonKindName(value.kind));
            }
            try {
                SetField(row, key, numeric ? WholeNumberText(value, key) : value.text);
            } catch (const InputError& e) {
                FailAt(value.line, e.what());
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
        header += std::string(",") + field.name;
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

namespace {

// Rows whose devices could hear each other's datagrams as their own run one after another, in one
// lane: acknowledgements carry no DeviceId, only the address they come from tells them apart. Those are
// the rows that share the address the scan found them at, or one's new IP is where another answers.
std::vector<std::vector<std::size_t>> Lanes(const std::vector<ApplyRow>& rows,
                                            const std::vector<std::optional<FoundDevice>>& devices) {
    std::vector<std::size_t> lane(rows.size());
    std::map<std::string, std::size_t> laneOfAddress;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        lane[i] = i;
        if (!devices[i]) {
            continue;
        }
        std::vector<std::string> addresses = {devices[i]->ip};
        if (rows[i].change.ip) {
            addresses.push_back(FormatAddress(*rows[i].change.ip));
        }
        for (const std::string& address : addresses) {
            const auto [it, fresh] = laneOfAddress.emplace(address, lane[i]);
            if (!fresh && it->second != lane[i]) {
                // Joins two lanes: every row of the later one moves to the earlier.
                const std::size_t from = std::max(it->second, lane[i]), to = std::min(it->second, lane[i]);
                for (std::size_t& l : lane) {
                    l = l == from ? to : l;
                }
                for (auto& [a, l] : laneOfAddress) {
                    l = l == from ? to : l;
                }
            }
        }
    }
    std::map<std::size_t, std::vector<std::size_t>> byLane;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (devices[i]) {
            byLane[lane[i]].push_back(i);
        }
    }
    std::vector<std::vector<std::size_t>> lanes;
    for (auto& [first, members] : byLane) {
        lanes.push_back(std::move(members));
    }
    return lanes;
}

} // namespace

std::vector<ApplyResult> ApplyTable(DeviceSession& session, const std::vector<ApplyRow>& rows, bool verify,
                                    std::size_t parallel) {
    const std::vector<FoundDevice> found = session.Scan(ScanWaitMs);
    std::vector<ApplyResult> results;
    std::vector<std::optional<FoundDevice>> devices;
    for (const ApplyRow& row : rows) {
        results.push_back({row.mac, false, ""});
        try {
            devices.push_back(Locate(found, row.mac, ScanWaitMs));
        } catch (const OpsError& e) {
            devices.emplace_back();
            results.back().error = e.what();
        }
    }
    const auto configure = [&](DeviceSession& s, std::size_t i) {
        try {
            const DeviceConfig target = Merged(s.Read(*devices[i]), rows[i].change);
            s.Write(*devices[i], target);
            if (verify) {
                s.Verify(*devices[i], target, ScanWaitMs);
            }
            results[i].ok = true;
        } catch (const OpsError& e) {
            results[i].error = e.what();
        }
    };
    if (parallel <= 1) {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (devices[i]) {
                configure(session, i);
            }
        }
        return results;
    }
    std::vector<std::function<void(OpsClock&)>> jobs;
    for (const std::vector<std::size_t>& lane : Lanes(rows, devices)) {
        jobs.emplace_back([&, lane](OpsClock& clock) {
            DeviceSession conversation(session, clock);
            for (const std::size_t i : lane) {
                configure(conversation, i);
            }
        });
    }
    RunTakingTurns(session.Clock(), jobs, parallel);
    return results;
}

} // namespace korvcfg
