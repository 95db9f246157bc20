#pragma once
// The install journal, "journal.txt" in the update folder: one line per path
// the install is about to touch, written whole before the first move.
//
//   <flag> <path>\n
//
// flag "1": something existed at the path's place when the journal was
// written, so replaying puts its saved copy back (when there is one);
// flag "0": the path is new, so replaying deletes whatever is at its place.
// The path is the manifest's relative path, UTF-8, '/'-separated, unquoted.
#include <string>
#include <vector>

struct StalePath {
    std::string path;
    bool existed = false;   // something was at the place when the journal was made
};

struct JournalEntry {
    char flag = '0';        // '1' restore the saved copy; anything else: delete the place
    std::string path;
};

// Stale files first (in the given order, flagged by existed), then every path
// to remove, always flagged "1".
std::string journal_text(const std::vector<StalePath>& stale,
                         const std::vector<std::string>& paths_to_remove);

// Lines are cut at each line feed; text after the last one is a line too.
// Lines shorter than three bytes are skipped; the second byte is not looked at.
std::vector<JournalEntry> parse_journal(const std::string& text);
