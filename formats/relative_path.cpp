#include "formats/relative_path.h"

#include "formats/file_name_case.h"

#include <cstring>

namespace {

bool is_drive_prefix(const std::string& p)
{
    return p.size() >= 2 && p[1] == ':' &&
           ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

template <typename IsSeparator>
bool segments_ok(const std::string& path, IsSeparator is_separator, bool allow_dot)
{
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !is_separator(path[i])) continue;
        std::string segment = path.substr(start, i - start);
        if (segment.empty() || segment == "..") return false;
        if (segment == "." && !allow_dot) return false;
        // Windows drops a segment's trailing dots and spaces, so "x." names the
        // file "x" and "..." turns into "..": such names alias other paths.
        if (segment != "." && (segment.back() == '.' || segment.back() == ' ')) return false;
        if (is_reserved_device_name(segment) || is_short_name_form(segment)) return false;
        start = i + 1;
    }
    return true;
}

// Bytes no name may hold: controls and what Windows forbids in names. A
// non-ASCII backslash-u escape reaches a path as '?' through the JSON reader,
// so it is refused here with the rest.
bool characters_ok(const std::string& path)
{
    for (unsigned char c : path)
        if (c < 0x20 || c == 0x7F || std::strchr("<>:\"|?*", c) != nullptr) return false;
    return is_valid_utf8(path);
}

std::string ascii_upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

}  // namespace

bool is_reserved_device_name(const std::string& segment)
{
    // Windows looks at the part before the first dot, trailing blanks dropped.
    std::string base = ascii_upper(segment.substr(0, segment.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
        base == "CONOUT$")
        return true;
    if (base.rfind("COM", 0) != 0 && base.rfind("LPT", 0) != 0) return false;
    const std::string number = base.substr(3);
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') ||
           number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

bool is_short_name_form(const std::string& segment)
{
    const size_t dot = segment.find('.');
    const std::string base = segment.substr(0, dot);
    if (dot != std::string::npos &&
        (segment.find('.', dot + 1) != std::string::npos || segment.size() - dot - 1 > 3))
        return false;
    const size_t tilde = base.rfind('~');
    if (base.size() > 8 || tilde == std::string::npos || tilde + 1 == base.size()) return false;
    for (size_t i = tilde + 1; i < base.size(); ++i)
        if (base[i] < '0' || base[i] > '9') return false;
    return true;
}

bool is_safe_relative_path(const std::string& path)
{
    if (path.empty() || path[0] == '/' || path[0] == '\\' || is_drive_prefix(path)) return false;
    if (!characters_ok(path) || path.find('\\') != std::string::npos) return false;
    return segments_ok(path, [](char c) { return c == '/'; }, false);
}

bool is_safe_run_exe(const std::string& path)
{
    if (path.empty() || path[0] == '/' || path[0] == '\\' || is_drive_prefix(path)) return false;
    if (!characters_ok(path)) return false;
    return segments_ok(path, [](char c) { return c == '/' || c == '\\'; }, true);
}

bool is_piece_id(const std::string& id)
{
    if (id.size() != 64) return false;
    for (char c : id)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}
