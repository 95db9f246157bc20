#include "formats/relative_path.h"

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
        start = i + 1;
    }
    return true;
}

}  // namespace

bool is_safe_relative_path(const std::string& path)
{
    if (path.empty() || path[0] == '/' || path[0] == '\\' || is_drive_prefix(path)) return false;
    for (unsigned char c : path)
        if (c < 0x20 || c == 0x7F || c == '\\' || c == ':') return false;
    return segments_ok(path, [](char c) { return c == '/'; }, false);
}

bool is_safe_run_exe(const std::string& path)
{
    if (path.empty() || path[0] == '/' || path[0] == '\\' || is_drive_prefix(path)) return false;
    for (unsigned char c : path)
        if (c < 0x20 || c == 0x7F || c == ':') return false;
    return segments_ok(path, [](char c) { return c == '/' || c == '\\'; }, true);
}

bool is_piece_id(const std::string& id)
{
    if (id.size() != 64) return false;
    for (char c : id)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}
