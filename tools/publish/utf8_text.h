#pragma once
// UTF-8 checks for text that goes into the manifest, which must be UTF-8.
#include <string>

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(const std::string& text);

// The text with bytes that would garble a terminal (control bytes, invalid
// UTF-8) shown as \xNN, for error messages.
std::string printable_text(const std::string& text);
