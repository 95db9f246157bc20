#include "tools/publish/utf8_text.h"

#include <cstdio>

std::string printable_text(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        size_t n = utf8_sequence_length(text, i);
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
