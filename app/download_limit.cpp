#include "app/download_limit.h"

#include <cstdio>

namespace {

constexpr uint64_t TIB = uint64_t(1) << 40;

std::string trimmed_number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string out = text;
    while (out.back() == '0') out.pop_back();
    if (out.back() == '.') out.pop_back();
    return out;
}

}  // namespace

bool parse_rate(const std::string& text, uint64_t& bytes_per_second)
{
    size_t i = 0;
    uint64_t whole = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        whole = whole * 10 + static_cast<uint64_t>(text[i] - '0');
        if (whole > TIB) return false;
    }
    // The fraction in millionths: enough for any rate a person writes.
    uint64_t millionths = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        uint64_t scale = 100000;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
            millionths += static_cast<uint64_t>(text[i] - '0') * scale;
            scale /= 10;
        }
    }
    if (digits == 0) return false;
    uint64_t unit = 1;
    if (i < text.size()) {
        switch (text[i]) {
        case 'k': case 'K': unit = uint64_t(1) << 10; break;
        case 'm': case 'M': unit = uint64_t(1) << 20; break;
        case 'g': case 'G': unit = uint64_t(1) << 30; break;
        default: return false;
        }
        ++i;
    }
    if (i != text.size()) return false;
    // whole <= 1 TiB and unit <= 1 GiB: the products stay far below 2^64.
    const uint64_t bytes = whole * unit + millionths * unit / 1000000;
    if (bytes == 0 || bytes > TIB) return false;
    bytes_per_second = bytes;
    return true;
}

std::string rate_text(uint64_t bytes_per_second)
{
    const double value = static_cast<double>(bytes_per_second);
    if (bytes_per_second >= (uint64_t(1) << 20)) return trimmed_number(value / (1 << 20)) + " MiB/s";
    if (bytes_per_second >= 1024) return trimmed_number(value / 1024) + " KiB/s";
    return std::to_string(bytes_per_second) + " bytes/s";
}

LimitSource rate_from_text(const std::string& name, const std::optional<std::string>& text)
{
    LimitSource source;
    source.name = name;
    if (!text) return source;
    if (parse_rate(*text, source.bytes_per_second)) {
        source.kind = LimitSource::Kind::rate;
    } else {
        source.kind = LimitSource::Kind::unreadable;
        source.shown = "\"" + *text + "\"";
    }
    return source;
}

LimitSource rate_from_kib(const std::string& name, std::optional<uint32_t> kib, bool wrong_type)
{
    LimitSource source;
    source.name = name;
    if (wrong_type) {
        source.kind = LimitSource::Kind::unreadable;
        source.shown = "that is not a DWORD";
    } else if (kib && *kib != 0) {
        source.kind = LimitSource::Kind::rate;
        source.bytes_per_second = uint64_t(*kib) * 1024;
    }
    return source;
}

DownloadLimit choose_download_limit(const std::vector<LimitSource>& sources)
{
    DownloadLimit limit;
    // Every value that does not read gets its line, also one that would not
    // have counted: its author learns of the mistake either way.
    for (const LimitSource& source : sources) {
        if (source.kind == LimitSource::Kind::unreadable)
            limit.lines.push_back("the download limit " + source.shown + " from " + source.name +
                                  " is not a rate -- ignored");
        if (source.kind != LimitSource::Kind::rate || !limit.source.empty()) continue;
        limit.bytes_per_second = source.bytes_per_second;
        limit.source = source.name;
    }
    if (limit.bytes_per_second && limit.bytes_per_second < SMALLEST_DOWNLOAD_LIMIT) {
        limit.lines.push_back("the download limit " + rate_text(limit.bytes_per_second) + " from " + limit.source +
                              " is below the smallest one kept -- raised to " + rate_text(SMALLEST_DOWNLOAD_LIMIT));
        limit.bytes_per_second = SMALLEST_DOWNLOAD_LIMIT;
    }
    limit.lines.push_back(limit.bytes_per_second
                              ? "download limit: " + rate_text(limit.bytes_per_second) + " (" + limit.source + ")"
                              : std::string("download limit: none"));
    return limit;
}
