#include "update/journal.h"

namespace {

void append_line(std::string& out, char flag, const std::string& path)
{
    out += flag;
    out += ' ';
    out += path;
    out += '\n';
}

}  // namespace

std::string journal_text(const std::vector<StalePath>& stale,
                         const std::vector<std::string>& paths_to_remove)
{
    std::string out;
    for (const StalePath& s : stale) append_line(out, s.existed ? '1' : '0', s.path);
    for (const std::string& path : paths_to_remove) append_line(out, '1', path);
    return out;
}

std::vector<JournalEntry> parse_journal(const std::string& text)
{
    std::vector<JournalEntry> entries;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end - start >= 3) entries.push_back({text[start], text.substr(start + 2, end - start - 2)});
        start = end + 1;
    }
    return entries;
}
