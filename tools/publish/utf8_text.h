#pragma once
// UTF-8 checks for text that goes into the manifest, which must be UTF-8
// (is_valid_utf8 is the launcher's own check).
#include "formats/file_name_case.h"

#include <string>

// The text with bytes that would garble a terminal (control bytes, invalid
// UTF-8) shown as \xNN, for error messages.
std::string printable_text(const std::string& text);
