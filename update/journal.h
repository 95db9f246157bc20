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
//
// Two more kinds of line follow those, for releases that change the layout:
//   d <folder>\n            a folder the install is about to make; replaying
//                           removes it again when nothing is left in it
//   k <path>\t<kept>\n      something at <path> stands in the way of the new
//                           layout (a folder where a file goes, a file where a
//                           folder goes) and is moved into "old"; files in it
//                           the launcher does not manage are moved on to the
//                           place <kept> just before the commit, and replaying
//                           brings them back into "old" first.
// A tab cannot occur in a path (control characters are refused in paths).
// Journals written before these kinds existed hold only "0" and "1" lines and
// read as they always did.
#include <string>
#include <vector>

struct StalePath {
    std::string path;
    bool existed = false;   // something was at the place when the journal was made
};

// A place in the way of the new layout, and where the files in it that the
// launcher does not manage are kept.
struct KeptPlace {
    std::string path;   // relative, as in the manifest
    std::string kept;   // relative, a name the install folder did not have
};

struct JournalEntry {
    // '1' restore the saved copy; 'd' remove the folder when empty; 'k' bring
    // kept files back into "old"; anything else: delete the place.
    char flag = '0';
    std::string path;
    std::string kept;       // 'k' lines only
};

// Stale files first (in the given order, flagged by existed), then every path
// to remove, always flagged "1", then the folders to make and the places in
// the way.
std::string journal_text(const std::vector<StalePath>& stale,
                         const std::vector<std::string>& paths_to_remove,
                         const std::vector<std::string>& made_folders = {},
                         const std::vector<KeptPlace>& in_the_way = {});

// Lines are cut at each line feed; text after the last one is a line too.
// Lines shorter than three bytes are skipped; the second byte is not looked at.
// A 'k' line without its tab, or with an empty side, is skipped.
std::vector<JournalEntry> parse_journal(const std::string& text);
