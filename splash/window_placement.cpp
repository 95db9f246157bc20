#include "splash/window_placement.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// One scanf-style signed decimal ("%d" / "%ld"): leading white space, an
// optional sign, digits. Parsed with strtoll so that out-of-range text is
// detected instead of being undefined, and limited to 32 bits (a long on
// Windows) so the file means the same on every platform.
bool read_number(const char*& p, long long& value)
{
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(p, &end, 10);
    if (end == p || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
        return false;
    p = end;
    value = v;
    return true;
}

}  // namespace

bool parse_window_placement(const std::string& text, int screen_w, int screen_h, int& x, int& y,
                            int& w, int& h)
{
    const char* p = text.c_str();
    if (*p != 'v')
        return false;
    ++p;
    long long version, px, py, pw, ph;
    if (!read_number(p, version) || !read_number(p, px) || !read_number(p, py) ||
        !read_number(p, pw) || !read_number(p, ph))
        return false;
    if (version != 2 || pw < 320 || ph < 200 || pw > screen_w || py < 0 || py + ph > screen_h)
        return false;
    x = static_cast<int>(px);
    y = static_cast<int>(py);
    w = static_cast<int>(pw);
    h = static_cast<int>(ph);
    return true;
}

bool read_window_placement(int screen_w, int screen_h, int& x, int& y, int& w, int& h)
{
    const char* folder = std::getenv("LOCALAPPDATA");
    if (!folder)
        return false;
    const std::string path = std::string(folder) + "\\tarnwick-window.txt";
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    // The line is a few dozen bytes; 4 KiB leaves room for stray white space.
    char data[4096];
    const size_t got = std::fread(data, 1, sizeof data - 1, file);
    std::fclose(file);
    return parse_window_placement(std::string(data, got), screen_w, screen_h, x, y, w, h);
}
