#include "base/long_path.h"

#include <string_view>
#include <vector>

namespace {

constexpr size_t SHORT_FORM_LIMIT = 260;   // MAX_PATH, counting the final zero

bool is_slash(wchar_t c) { return c == L'\\' || c == L'/'; }

bool is_letter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool has_long_prefix(const std::wstring& p)
{
    return p.size() >= 4 && is_slash(p[0]) && is_slash(p[1]) && (p[2] == L'?' || p[2] == L'.') && is_slash(p[3]);
}

// The parts after the root, with "." dropped and ".." taking back the part
// before it (never climbing above the root).
std::wstring tidy_parts(const std::wstring& rest)
{
    std::vector<std::wstring> parts;
    std::wstring part;
    auto flush = [&] {
        if (part == L"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        part.clear();
    };
    for (wchar_t c : rest) {
        if (is_slash(c)) flush();
        else part += c;
    }
    flush();
    std::wstring out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += L'\\';
        out += parts[i];
    }
    return out;
}

// True when tidy_parts would give rest back unchanged: backslashes only, and
// no empty, "." or ".." part. Nearly every path the launcher makes is so, and
// every file call pays for this check rather than for taking it apart.
bool already_tidy(std::wstring_view rest)
{
    size_t start = 0;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i < rest.size()) {
            if (rest[i] == L'/') return false;
            if (rest[i] != L'\\') continue;
        }
        const size_t n = i - start;
        if (n == 0 && !rest.empty()) return false;
        if (n == 1 && rest[start] == L'.') return false;
        if (n == 2 && rest[start] == L'.' && rest[start + 1] == L'.') return false;
        start = i + 1;
    }
    return true;
}

}  // namespace

std::wstring extended_path(const std::wstring& path)
{
    if (has_long_prefix(path)) return path;
    if (path.size() >= 3 && is_letter(path[0]) && path[1] == L':' && path[2] == L'\\' &&
        already_tidy(std::wstring_view(path).substr(3)))
        return L"\\\\?\\" + path;
    if (path.size() >= 3 && is_letter(path[0]) && path[1] == L':' && is_slash(path[2]))
        return L"\\\\?\\" + path.substr(0, 2) + L'\\' + tidy_parts(path.substr(3));
    if (path.size() > 2 && is_slash(path[0]) && is_slash(path[1]) && !is_slash(path[2])) {
        // \\server\share\rest: server and share are the root
        const std::wstring parts = tidy_parts(path.substr(2));
        if (parts.find(L'\\') == std::wstring::npos) return path;   // no share named
        return L"\\\\?\\UNC\\" + parts;
    }
    return path;
}

bool too_long_for_short_form(const std::wstring& path)
{
    return !has_long_prefix(path) && path.size() >= SHORT_FORM_LIMIT;
}
