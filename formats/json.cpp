#include "formats/json.h"

#include <cstdlib>
#include <cstring>

bool JsonKeyLess::operator()(const std::string& a, const std::string& b) const
{
    size_t n = a.size() < b.size() ? a.size() : b.size();
    int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (c != 0) return c < 0;
    return a.size() < b.size();
}

const JsonValue& json_null()
{
    // Created once, thread-safely, and never destroyed before exit.
    static const JsonValue* const shared = new JsonValue();
    return *shared;
}

const JsonValue& JsonValue::operator[](size_t i) const
{
    if (kind == Array && i < items.size()) return items[i];
    return json_null();
}

const JsonValue& json_member(const JsonValue& value, const std::string& key)
{
    if (value.kind != JsonValue::Object) return json_null();
    auto it = value.members.find(key);
    return it == value.members.end() ? json_null() : it->second;
}

namespace {

class Parser {
public:
    Parser(const char* begin, const char* end) : p_(begin), end_(end) {}

    bool good() const { return good_; }

    void parse_value(JsonValue& out, int depth)
    {
        out = JsonValue();
        skip_space();
        if (p_ >= end_ || depth > JSON_MAX_DEPTH) return fail();
        switch (*p_) {
        case '{': return parse_object(out, depth);
        case '[': return parse_array(out, depth);
        case '"': return parse_string(out);
        default: return parse_literal_or_number(out);
        }
    }

private:
    const char* p_;
    const char* end_;
    bool good_ = true;

    void fail() { good_ = false; }

    void skip_space()
    {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
    }

    bool starts_with(const char* word) const
    {
        size_t n = std::strlen(word);
        return static_cast<size_t>(end_ - p_) >= n && std::memcmp(p_, word, n) == 0;
    }

    void parse_object(JsonValue& out, int depth)
    {
        out.kind = JsonValue::Object;
        ++p_;
        skip_space();
        if (p_ < end_ && *p_ == '}') { ++p_; return; }
        for (;;) {
            JsonValue key;
            parse_value(key, depth + 1);
            if (!good_ || key.kind != JsonValue::String) return fail();
            skip_space();
            if (p_ >= end_ || *p_ != ':') return fail();
            ++p_;
            JsonValue member;
            parse_value(member, depth + 1);
            out.members[key.text] = std::move(member);   // a repeated key keeps its last value
            if (!good_) return;
            skip_space();
            if (p_ >= end_) return fail();
            if (*p_ == ',') { ++p_; continue; }
            if (*p_ == '}') { ++p_; return; }
            return fail();
        }
    }

    void parse_array(JsonValue& out, int depth)
    {
        out.kind = JsonValue::Array;
        ++p_;
        skip_space();
        if (p_ < end_ && *p_ == ']') { ++p_; return; }
        for (;;) {
            JsonValue item;
            parse_value(item, depth + 1);
            out.items.push_back(std::move(item));
            if (!good_) return;
            skip_space();
            if (p_ >= end_) return fail();
            if (*p_ == ',') { ++p_; continue; }
            if (*p_ == ']') { ++p_; return; }
            return fail();
        }
    }

    static int hex_digit(char c)
    {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    void parse_string(JsonValue& out)
    {
        out.kind = JsonValue::String;
        ++p_;
        for (;;) {
            if (p_ >= end_) return fail();   // unterminated
            char c = *p_;
            if (c == '"') { ++p_; return; }
            if (c == '\\' && end_ - p_ >= 2) {
                char e = p_[1];
                p_ += 2;
                switch (e) {
                case 'n': out.text += '\n'; break;
                case 't': out.text += '\t'; break;
                case 'r': out.text += '\r'; break;
                case 'b': out.text += '\b'; break;
                case 'f': out.text += '\f'; break;
                case 'u':
                    if (end_ - p_ >= 4) {
                        // The leading hexadecimal part of the four characters.
                        unsigned value = 0;
                        for (int i = 0; i < 4; ++i) {
                            int d = hex_digit(p_[i]);
                            if (d < 0) break;
                            value = value * 16 + static_cast<unsigned>(d);
                        }
                        out.text += value <= 127 ? static_cast<char>(value) : '?';
                        p_ += 4;
                    } else {
                        out.text += 'u';
                    }
                    break;
                default: out.text += e; break;
                }
                continue;
            }
            out.text += c;   // raw bytes, control characters and UTF-8 included
            ++p_;
        }
    }

    void parse_literal_or_number(JsonValue& out)
    {
        if (starts_with("true")) { out.kind = JsonValue::Bool; out.flag = true; p_ += 4; return; }
        if (starts_with("false")) { out.kind = JsonValue::Bool; p_ += 5; return; }
        if (starts_with("null")) { p_ += 4; return; }
        // strtod needs a terminated string; copy a bounded prefix of the
        // characters a number can be made of, so the input is never over-read.
        std::string prefix;
        for (const char* q = p_; q < end_ && prefix.size() < 512; ++q) {
            char c = *q;
            bool numeric = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                           (c >= 'A' && c <= 'Z') || c == '+' || c == '-' || c == '.';
            if (!numeric) break;
            prefix += c;
        }
        char* stop = nullptr;
        double value = std::strtod(prefix.c_str(), &stop);
        if (stop == prefix.c_str()) return fail();
        out.kind = JsonValue::Number;
        out.number = value;
        p_ += stop - prefix.c_str();
    }
};

}  // namespace

bool parse_json_document(const std::string& text, JsonValue& root)
{
    Parser parser(text.data(), text.data() + text.size());
    parser.parse_value(root, 0);
    return parser.good() && root.kind == JsonValue::Object;
}
