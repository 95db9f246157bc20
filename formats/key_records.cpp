#include "formats/key_records.h"

#include "formats/json.h"

#include <cmath>
#include <set>

namespace {

constexpr char HEX_DIGITS[] = "0123456789abcdef";

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A whole number from 0 to LARGEST_RECORD_NUMBER, held exactly by a double.
bool whole_number(const JsonValue& value, int64_t& number)
{
    if (value.kind != JsonValue::Number) return false;
    const double v = value.number;
    if (!(v >= 0) || v > static_cast<double>(LARGEST_RECORD_NUMBER) || std::trunc(v) != v) return false;
    number = static_cast<int64_t>(v);
    return true;
}

bool read_key(const JsonValue& entry, std::string& key)
{
    return bytes_from_hex(json_member(entry, "key").text, PUBLIC_KEY_BYTES, key);
}

KeyRefusal read_roots(const JsonValue& list, std::vector<RootKey>& roots)
{
    if (list.items.empty()) return KeyRefusal::no_root;
    if (list.items.size() > MAX_ROOTS) return KeyRefusal::too_many;
    for (const JsonValue& entry : list.items) {
        RootKey root;
        if (!read_key(entry, root.key)) return KeyRefusal::bad_key;
        if (!roots.empty() &&
            (!bytes_from_hex(json_member(entry, "by_old").text, RECORD_SIGNATURE_BYTES, root.by_old) ||
             !bytes_from_hex(json_member(entry, "by_new").text, RECORD_SIGNATURE_BYTES, root.by_new)))
            return KeyRefusal::bad_signature;
        roots.push_back(std::move(root));
    }
    return KeyRefusal::none;
}

KeyRefusal read_release_keys(const JsonValue& list, std::vector<ReleaseKey>& keys)
{
    if (list.items.size() > MAX_RELEASE_KEYS) return KeyRefusal::too_many;
    for (const JsonValue& entry : list.items) {
        ReleaseKey key;
        if (!read_key(entry, key.key)) return KeyRefusal::bad_key;
        if (!whole_number(json_member(entry, "from"), key.from)) return KeyRefusal::bad_number;
        const JsonValue& withdrawn = json_member(entry, "withdrawn");
        key.withdrawn = withdrawn.kind != JsonValue::Null;
        if (key.withdrawn && !whole_number(withdrawn, key.withdrawn_from)) return KeyRefusal::bad_number;
        keys.push_back(std::move(key));
    }
    return KeyRefusal::none;
}

bool keys_are_distinct(const KeyRecords& records)
{
    std::set<std::string> seen;
    for (const RootKey& root : records.roots)
        if (!seen.insert(root.key).second) return false;
    for (const ReleaseKey& key : records.keys)
        if (!seen.insert(key.key).second) return false;
    return true;
}

KeyRefusal read_records(const std::string& text, KeyRecords& records)
{
    if (text.size() > KEY_RECORDS_MAX_BYTES) return KeyRefusal::too_large;
    JsonValue root;
    if (!parse_json_document(text, root)) return KeyRefusal::syntax;
    const JsonValue& format = json_member(root, "keys_format");
    if (format.kind != JsonValue::Number || format.number != 1) return KeyRefusal::format;
    if (!whole_number(json_member(root, "sequence"), records.sequence)) return KeyRefusal::bad_number;
    KeyRefusal refusal = read_roots(json_member(root, "roots"), records.roots);
    if (refusal == KeyRefusal::none) refusal = read_release_keys(json_member(root, "keys"), records.keys);
    if (refusal != KeyRefusal::none) return refusal;
    const JsonValue& mark = json_member(root, "lower_mark");
    records.has_lower_mark = mark.kind != JsonValue::Null;
    if (records.has_lower_mark && !whole_number(mark, records.lower_mark)) return KeyRefusal::bad_number;
    if (!keys_are_distinct(records)) return KeyRefusal::repeated_key;
    // Whatever the reader would have tolerated (blanks, another member order,
    // escapes, a repeated member, text after the end) is refused here.
    if (key_records_to_text(records) != text) return KeyRefusal::not_canonical;
    return KeyRefusal::none;
}

void append_member(std::string& out, const char* name, const std::string& hex)
{
    out += ",\"";
    out += name;
    out += "\":\"" + hex + "\"";
}

}  // namespace

const char* key_refusal_name(KeyRefusal refusal)
{
    switch (refusal) {
    case KeyRefusal::none: return "none";
    case KeyRefusal::too_large: return "too_large";
    case KeyRefusal::syntax: return "syntax";
    case KeyRefusal::format: return "format";
    case KeyRefusal::bad_number: return "bad_number";
    case KeyRefusal::bad_key: return "bad_key";
    case KeyRefusal::bad_signature: return "bad_signature";
    case KeyRefusal::no_root: return "no_root";
    case KeyRefusal::too_many: return "too_many";
    case KeyRefusal::repeated_key: return "repeated_key";
    case KeyRefusal::not_canonical: return "not_canonical";
    case KeyRefusal::unknown_root: return "unknown_root";
    case KeyRefusal::root_change: return "root_change";
    case KeyRefusal::signature: return "signature";
    case KeyRefusal::older_records: return "older_records";
    case KeyRefusal::other_records: return "other_records";
    case KeyRefusal::unknown_key: return "unknown_key";
    case KeyRefusal::not_yet_valid: return "not_yet_valid";
    case KeyRefusal::withdrawn_key: return "withdrawn_key";
    case KeyRefusal::unnumbered: return "unnumbered";
    }
    return "unknown";
}

bool parse_key_records(const std::string& text, KeyRecords& records, KeyRefusal* reason)
{
    KeyRecords read;
    const KeyRefusal refusal = read_records(text, read);
    if (reason) *reason = refusal;
    if (refusal != KeyRefusal::none) return false;
    records = std::move(read);
    return true;
}

std::string key_records_to_text(const KeyRecords& records)
{
    std::string out = "{\"keys_format\":1,\"sequence\":" + std::to_string(records.sequence) + ",\"roots\":[";
    for (size_t i = 0; i < records.roots.size(); ++i) {
        const RootKey& root = records.roots[i];
        out += i ? ",{" : "{";
        out += "\"key\":\"" + hex_text(root.key) + "\"";
        if (i) {
            append_member(out, "by_old", hex_text(root.by_old));
            append_member(out, "by_new", hex_text(root.by_new));
        }
        out += "}";
    }
    out += "],\"keys\":[";
    for (size_t i = 0; i < records.keys.size(); ++i) {
        const ReleaseKey& key = records.keys[i];
        out += i ? ",{" : "{";
        out += "\"key\":\"" + hex_text(key.key) + "\",\"from\":" + std::to_string(key.from);
        if (key.withdrawn) out += ",\"withdrawn\":" + std::to_string(key.withdrawn_from);
        out += "}";
    }
    out += "]";
    if (records.has_lower_mark) out += ",\"lower_mark\":" + std::to_string(records.lower_mark);
    out += "}\n";
    return out;
}

std::string root_change_message(size_t new_number, const std::string& old_key, const std::string& new_key)
{
    return "tarnwick root change\n" + std::to_string(new_number) + "\n" + hex_text(old_key) + "\n" +
           hex_text(new_key) + "\n";
}

std::string hex_text(const std::string& bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += HEX_DIGITS[c >> 4];
        out += HEX_DIGITS[c & 15];
    }
    return out;
}

std::string key_name(const std::string& key) { return hex_text(key.substr(0, 8)); }

bool bytes_from_hex(const std::string& hex, size_t size, std::string& bytes)
{
    if (hex.size() != 2 * size) return false;
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        const int high = hex_value(hex[2 * i]), low = hex_value(hex[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = static_cast<char>(high * 16 + low);
    }
    bytes = std::move(out);
    return true;
}
