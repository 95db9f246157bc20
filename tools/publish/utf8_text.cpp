#include "tools/publish/utf8_text.h"

#include <cstdint>
#include <cstdio>

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0 when it is invalid.
size_t sequence_length(const std::string& text, size_t i)
{
    auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    uint8_t lead = byte(i);
    if (lead < 0x80) return 1;
    size_t length;
    uint32_t min, code;
    if ((lead & 0xE0) == 0xC0) { length = 2; min = 0x80; code = lead & 0x1F; }
    else if ((lead & 0xF0) == 0xE0) { length = 3; min = 0x800; code = lead & 0x0F; }
    else if ((lead & 0xF8) == 0xF0) { length = 4; min = 0x10000; code = lead & 0x07; }
    else return 0;
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

bool is_valid_utf8(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        size_t n = sequence_length(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string printable_text(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        size_t n = sequence_length(text, i);
        auto c = static_cast<uint8_t>(text[i]);
        if (n == 0 || c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
            ++i;
        } else {
            out.append(text, i, n);
            i += n;
        }
    }
    return out;
}
