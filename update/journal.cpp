#include "update/journal.h"

namespace {

void append_line(std::string& out, char flag, const std::string& path)
{
    out += flag;
    out += ' ';
    out += path;
    out += '\n';
}

// "<path>\t<kept>": false unless both sides are there.
bool split_kept_place(JournalEntry& entry)
{
    const size_t tab = entry.path.find('\t');
    if (tab == std::string::npos || tab == 0 || tab + 1 == entry.path.size()) return false;
    entry.kept = entry.path.substr(tab + 1);
    entry.path.resize(tab);
    return true;
}

}  // namespace

std::string journal_text(const std::vector<StalePath>& stale,
                         const std::vector<std::string>& paths_to_remove,
                         const std::vector<std::string>& made_folders,
                         const std::vector<KeptPlace>& in_the_way)
{
    std::string out;
    for (const StalePath& s : stale) append_line(out, s.existed ? '1' : '0', s.path);
    for (const std::string& path : paths_to_remove) append_line(out, '1', path);
    for (const std::string& folder : made_folders) append_line(out, 'd', folder);
    for (const KeptPlace& place : in_the_way) append_line(out, 'k', place.path + '\t' + place.kept);
    return out;
}

std::vector<JournalEntry> parse_journal(const std::string& text)
{
    std::vector<JournalEntry> entries;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end - start >= 3) {
            JournalEntry entry{text[start], text.substr(start + 2, end - start - 2), {}};
            if (entry.flag != 'k' || split_kept_place(entry)) entries.push_back(std::move(entry));
        }
        start = end + 1;
    }
    return entries;
}
