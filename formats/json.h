#pragma once
// A small JSON reader for the manifest and the install state file. Every value
// carries a slot for every kind, so reading a value as another kind never
// fails: a missing number reads 0, a missing string "", a missing container
// empty. Numbers are doubles; \u escapes become single bytes.
#include <map>
#include <string>
#include <vector>

struct JsonKeyLess {
    // Byte order: memcmp over the shorter length, the shorter key first on a tie.
    bool operator()(const std::string& a, const std::string& b) const;
};

struct JsonValue {
    enum Kind : unsigned char { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };

    Kind kind = Null;
    double number = 0;
    bool flag = false;
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue, JsonKeyLess> members;

    // The element if this is an array long enough, else the shared null.
    const JsonValue& operator[](size_t i) const;
};

// Deeper nesting than this is a syntax failure, so hostile text cannot
// exhaust the stack.
constexpr int JSON_MAX_DEPTH = 512;

// Parses a whole document held in memory. True when no syntax failure was met
// and the root is an object; text after the root value is not examined.
bool parse_json_document(const std::string& text, JsonValue& root);

// The member `key` of an object, else the shared null; lookups chain safely.
const JsonValue& json_member(const JsonValue& value, const std::string& key);

// The one immutable null value that failed lookups return.
const JsonValue& json_null();
