// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/korvcfg/Json.h"

#include "tools/korvcfg/Values.h"

#include <cctype>
#include <cstdint>

namespace korvcfg {

namespace {

// An apply file is a flat list; anything nested deeper than this is not one, and the bound keeps a
// hostile file from exhausting the stack.
constexpr int MaxDepth = 32;

class JsonReader {
  public:
    explicit JsonReader(const std::string& text) : FText(text) {}

    JsonValue Document() {
        SkipSpace();
        JsonValue value = Value(0);
        SkipSpace();
        if (FPos != FText.size()) {
            Fail("unexpected text after the end of the JSON document");
        }
        return value;
    }

  private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw InputError("line " + std::to_string(FLine) + ": " + what);
    }

    bool AtEnd() const { return FPos >= FText.size(); }
    char Peek() const { return AtEnd() ? '\0' : FText[FPos]; }

    void SkipSpace() {
        while (!AtEnd()) {
            const char c = FText[FPos];
            if (c == '\n') {
                ++FLine;
            } else if (c != ' ' && c != '\t' && c != '\r') {
                return;
            }
            ++FPos;
        }
    }

    void Expect(char c) {
        if (Peek() != c) {
            Fail(std::string("expected '") + c + "'" + (AtEnd() ? " before the end of the file" : ""));
        }
        ++FPos;
    }

    void Literal(const char* word) {
        for (const char* p = word; *p != '\0'; ++p) {
            if (Peek() != *p) {
                Fail("not a JSON value");
            }
            ++FPos;
        }
    }

    JsonValue Value(int depth) {
        if (depth > MaxDepth) {
            Fail("nested too deeply");
        }
        JsonValue v;
        v.line = FLine;
        const char c = Peek();
        if (c == '{') {
            v.kind = JsonValue::Kind::Object;
            ++FPos;
            SkipSpace();
            if (Peek() == '}') {
                ++FPos;
                return v;
            }
            for (;;) {
                SkipSpace();
                if (Peek() != '"') {
                    Fail("expected a key in double quotes");
                }
                std::string key = String();
                SkipSpace();
                Expect(':');
                SkipSpace();
                v.members.emplace_back(std::move(key), Value(depth + 1));
                SkipSpace();
                if (Peek() == ',') {
                    ++FPos;
                    continue;
                }
                Expect('}');
                return v;
            }
        }
        if (c == '[') {
            v.kind = JsonValue::Kind::Array;
            ++FPos;
            SkipSpace();
            if (Peek() == ']') {
                ++FPos;
                return v;
            }
            for (;;) {
                SkipSpace();
                v.items.push_back(Value(depth + 1));
                SkipSpace();
                if (Peek() == ',') {
                    ++FPos;
                    continue;
                }
                Expect(']');
                return v;
            }
        }
        if (c == '"') {
            v.kind = JsonValue::Kind::String;
            v.text = String();
            return v;
        }
        if (c == 't' || c == 'f') {
            v.kind = JsonValue::Kind::Bool;
            v.boolean = c == 't';
            Literal(v.boolean ? "true" : "false");
            return v;
        }
        if (c == 'n') {
            Literal("null");
            return v;
        }
        if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
            v.kind = JsonValue::Kind::Number;
            v.text = Number();
            return v;
        }
        Fail(AtEnd() ? "the JSON document ends too early" : "not a JSON value");
    }

    std::size_t Digits() {
        const std::size_t from = FPos;
        while (std::isdigit(static_cast<unsigned char>(Peek()))) {
            ++FPos;
        }
        return FPos - from;
    }

    std::string Number() {
        const std::size_t from = FPos;
        if (Peek() == '-') {
            ++FPos;
        }
        const char first = Peek();
        const std::size_t whole = Digits();
        if (whole == 0 || (first == '0' && whole > 1)) {
            Fail("malformed number");
        }
        if (Peek() == '.') {
            ++FPos;
            if (Digits() == 0) {
                Fail("malformed number");
            }
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++FPos;
            if (Peek() == '+' || Peek() == '-') {
                ++FPos;
            }
            if (Digits() == 0) {
                Fail("malformed number");
            }
        }
        return FText.substr(from, FPos - from);
    }

    unsigned Hex4() {
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = Peek();
            if (!std::isxdigit(static_cast<unsigned char>(c))) {
                Fail("malformed \\u escape");
            }
            value = value * 16 +
                    static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                              ? c - '0'
                                              : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
            ++FPos;
        }
        return value;
    }

    static void AppendUtf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    std::string String() {
        Expect('"');
        std::string out;
        for (;;) {
            if (AtEnd()) {
                Fail("unterminated string");
            }
            const char c = FText[FPos++];
            if (c == '"') {
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                Fail("control character inside a string");
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            const char e = Peek();
            ++FPos;
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                uint32_t cp = Hex4();
                if (cp >= 0xD800 && cp < 0xDC00 && Peek() == '\\' && FPos + 1 < FText.size() &&
                    FText[FPos + 1] == 'u') {
                    FPos += 2;
                    const uint32_t low = Hex4();
                    cp = (low >= 0xDC00 && low < 0xE000) ? 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00)
                                                         : 0xFFFD;
                } else if (cp >= 0xD800 && cp < 0xE000) {
                    cp = 0xFFFD;
                }
                AppendUtf8(out, cp);
                break;
            }
            default:
                Fail("unknown escape in a string");
            }
        }
    }

    const std::string& FText;
    std::size_t FPos = 0;
    int FLine = 1;
};

} // namespace

JsonValue ParseJson(const std::string& text) {
    return JsonReader(text).Document();
}

std::string JsonQuote(const std::string& text) {
    static constexpr char Hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20) {
            out += "\\u00";
            out += Hex[u >> 4];
            out += Hex[u & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

JsonObject& JsonObject::Key(const std::string& key) {
    FText += (FText.size() > 1 ? ", " : "") + JsonQuote(key) + ": ";
    return *this;
}

JsonObject& JsonObject::String(const std::string& key, const std::string& text) {
    Key(key).FText += JsonQuote(text);
    return *this;
}

JsonObject& JsonObject::Raw(const std::string& key, const std::string& json) {
    Key(key).FText += json;
    return *this;
}

std::string JsonArray(const std::vector<std::string>& items) {
    std::string text = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        text += (i == 0 ? "\n  " : ",\n  ") + items[i];
    }
    return text + (items.empty() ? "]\n" : "\n]\n");
}

const char* JsonKindName(JsonValue::Kind kind) {
    switch (kind) {
    case JsonValue::Kind::Null:
        return "null";
    case JsonValue::Kind::Bool:
        return "true/false";
    case JsonValue::Kind::Number:
        return "a number";
    case JsonValue::Kind::String:
        return "a string";
    case JsonValue::Kind::Array:
        return "an array";
    case JsonValue::Kind::Object:
        return "an object";
    }
    return "a value";
}

} // namespace korvcfg
