#include "formats/file_name_case.h"

#include <algorithm>
#include <iterator>

namespace {

struct UpperCaseRun {
    char32_t first;
    uint16_t count;
    uint8_t step;
    int32_t delta;
};

constexpr UpperCaseRun UPPER_CASE_RUNS[] = {
#include "formats/upper_case_table.inc"
};

// Reads one code point at text[i]; advances i. False on a malformed sequence.
bool next_code_point(const std::string& text, size_t& i, char32_t& cp)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length;
    char32_t minimum;
    if (lead < 0x80) { cp = lead; ++i; return true; }
    if (lead >= 0xC2 && lead <= 0xDF) { length = 2; cp = lead & 0x1F; minimum = 0x80; }
    else if (lead >= 0xE0 && lead <= 0xEF) { length = 3; cp = lead & 0x0F; minimum = 0x800; }
    else if (lead >= 0xF0 && lead <= 0xF4) { length = 4; cp = lead & 0x07; minimum = 0x10000; }
    else return false;   // a continuation byte, C0/C1 (always overlong) or F5..FF
    if (text.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += length;
    return true;
}

void append_utf8(std::string& out, char32_t cp)
{
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

}  // namespace

size_t utf8_sequence_length(const std::string& text, size_t i)
{
    char32_t cp;
    const size_t start = i;
    return next_code_point(text, i, cp) ? i - start : 0;
}

bool is_valid_utf8(const std::string& text)
{
    char32_t cp;
    for (size_t i = 0; i < text.size();)
        if (!next_code_point(text, i, cp)) return false;
    return true;
}

char32_t upper_case_of(char32_t cp)
{
    // The last run starting at or before cp; runs never interleave.
    const auto after = std::upper_bound(std::begin(UPPER_CASE_RUNS), std::end(UPPER_CASE_RUNS), cp,
                                        [](char32_t c, const UpperCaseRun& run) { return c < run.first; });
    if (after == std::begin(UPPER_CASE_RUNS)) return cp;
    const UpperCaseRun& run = *std::prev(after);
    const char32_t offset = cp - run.first;
    if (offset % run.step != 0 || offset / run.step >= run.count) return cp;
    return static_cast<char32_t>(static_cast<int32_t>(cp) + run.delta);
}

std::string file_name_key(const std::string& utf8)
{
    std::string key;
    key.reserve(utf8.size());
    char32_t cp;
    for (size_t i = 0; i < utf8.size();) {
        if (next_code_point(utf8, i, cp))
            append_utf8(key, upper_case_of(cp));
        else
            key += utf8[i++];   // kept as a raw byte; callers refuse such names first
    }
    return key;
}
