#include "update/journal_replay.h"

#include "base/file_calls.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/test_hooks.h"
#include "base/update_status.h"
#include "base/whole_file.h"
#include "base/win_handles.h"
#include "formats/relative_path.h"
#include "update/deletion_gate.h"
#include "update/held_file.h"
#include "update/journal.h"
#include "update/kept_files.h"
#include "update/place_survey.h"

#include <windows.h>

#include <algorithm>
#include <vector>

const char* const ROLLBACK_INCOMPLETE =
    "the update could not be installed and some old files could not be put back -- "
    "the launcher tries again when it is next opened";

namespace {

constexpr DWORD MOVE_FLAGS = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
const char* const UNDO_FAILED =
    "an interrupted update could not be undone -- close the programs that use the game's files and open "
    "the launcher again";
const char* const JOURNAL_UNREADABLE =
    "the journal of an interrupted update cannot be read -- close the programs that use the game's files "
    "and open the launcher again";

enum class JournalRead { missing, read, unreadable };

// Reads the journal whole. A journal that is there but cannot be opened or
// read (held, no rights) is not the same as none: treated as none, the run
// would go on and empty "old" while the journal still names what it holds.
JournalRead read_journal(const InstallFolder& folder, std::string& text)
{
    // No install writes a journal near this size: a larger file is not one.
    constexpr size_t JOURNAL_MAX_BYTES = size_t(64) << 20;
    if (retry_while_held([&] { return read_whole_file_into(folder.journal_path(), text, JOURNAL_MAX_BYTES); }))
        return JournalRead::read;
    const DWORD error = GetLastError();
    if (names_nothing(error)) return JournalRead::missing;
    log_line("the journal of an interrupted update cannot be read (error %lu) -- changing nothing", error);
    return JournalRead::unreadable;
}

bool move_back(const std::wstring& from, const std::wstring& to)
{
    return retry_while_held([&] { return file_calls::MoveFileExW(from.c_str(), to.c_str(), MOVE_FLAGS) != 0; });
}

// Takes the new file at a path's place back into the stage, where the next
// run finds it (and checks it) instead of downloading it again. A place whose
// stage copy is still there holds nothing of this install: the move of the
// new file is a rename, so the new file is in one place or the other. What
// stands there then appeared on its own and is left alone. True when the
// place holds nothing of this install afterwards.
bool take_new_file_out(const InstallFolder& folder, const std::string& path)
{
    // A place or stage copy that cannot be looked at is not vouched for
    // either way: the replay counts it as not done and keeps the journal.
    const std::wstring place = folder.place_of(path);
    const PlaceKind at_place = place_kind(place);
    if (at_place == PlaceKind::unknown) return false;
    if (at_place != PlaceKind::file) return true;
    const std::wstring staged = folder.stage_path_of(path);
    const PlaceKind in_stage = place_kind(staged);
    if (in_stage == PlaceKind::unknown) return false;
    if (in_stage != PlaceKind::missing) return true;
    create_folders(parent_folder(staged));
    if (move_back(place, staged)) return true;
    return remove_owned_file(place) == FileRemoval::gone;   // a file the journal says the install made
}

struct ReplayCount {
    int restored = 0;
    int failed = 0;

    void failure(const std::string& path)
    {
        log_line("could not put back %s (error %lu)", path.c_str(), GetLastError());
        ++failed;
    }
};

// Makes the place of a saved copy free for it. Once the install's own new
// file is out, what still stands there is not the launcher's: a folder the
// copy (a folder too) merges into, or anything else, which goes to a kept
// place -- all but the new files the journal names, which stay and keep the
// place taken until a later replay gets them out.
bool make_room(const InstallFolder& folder, const std::string& path, bool copy_is_folder, const OwnedFiles& made)
{
    switch (place_kind(folder.place_of(path))) {
    case PlaceKind::missing:
        return true;
    case PlaceKind::unknown:
        return false;
    case PlaceKind::folder:
        if (copy_is_folder) return true;   // merged below
        break;
    case PlaceKind::file:
        break;
    }
    return keep_aside(folder, path, made);
}

// A saved copy goes back over whatever the install put at its place. Each
// step looks at the disk afresh, so a replay cut or failed anywhere is taken
// up by the next one: a copy that is a folder merges into a folder an
// earlier replay already put back.
void restore_saved_copy(const InstallFolder& folder, const std::string& path, const OwnedFiles& made,
                        ReplayCount& count)
{
    const std::wstring copy = folder.old_path_of(path);
    const PlaceKind saved = place_kind(copy);
    if (saved == PlaceKind::missing) return;   // never moved aside: still the old one
    const std::wstring place = folder.place_of(path);
    create_folders(parent_folder(place));
    const bool copy_is_folder = saved == PlaceKind::folder;
    // A saved copy that cannot be looked at may be there: the journal stays.
    if (saved == PlaceKind::unknown || !take_new_file_out(folder, path) ||
        !make_room(folder, path, copy_is_folder, made)) {
        count.failure(path);
        return;
    }
    const bool back = copy_is_folder && place_kind(place) == PlaceKind::folder ? merge_folder(copy, place)
                                                                               : move_back(copy, place);
    if (!back) {
        count.failure(path);
        return;
    }
    ++count.restored;
    crash_point("restored");
}

// Deeper folders first, so that a folder made inside another made one goes
// before its parent is tried.
std::vector<std::string> deepest_first(std::vector<std::string> folders)
{
    std::sort(folders.begin(), folders.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    return folders;
}

}  // namespace

// The replay goes in four passes, each of which may be cut off, or fail at
// any step, and be done again: kept files back into "old"; new files out of
// their places; folders the install made removed; saved copies back. A step
// that fails is counted and the others go on; only a replay with no failure
// deletes the journal. Restoring last means the places are free by then: a
// file the release turned into a folder gets its place back only once that
// folder is gone.
ReplayResult replay_journal(const InstallFolder& folder)
{
    std::string text;
    switch (read_journal(folder, text)) {
    case JournalRead::missing:
        return ReplayResult::nothing;
    case JournalRead::unreadable:
        return ReplayResult::unreadable;
    case JournalRead::read:
        break;
    }
    if (text.empty()) {   // written by no install: nothing to undo
        file_calls::DeleteFileW(folder.journal_path().c_str());
        return ReplayResult::nothing;
    }
    log_line("journal found: an update was cut off -- putting the old files back");
    std::vector<JournalEntry> entries;
    for (JournalEntry& entry : parse_journal(text)) {
        // The journal lies in the install folder like any user file; a line
        // naming anything but a plain relative path is not ours to act on.
        if (!is_safe_relative_path(entry.path)) continue;
        if (entry.flag == 'k' && !is_safe_relative_path(entry.kept)) continue;
        entries.push_back(std::move(entry));
    }

    ReplayCount count;
    std::vector<std::string> made_folders;
    OwnedFiles made;   // the new files, which the restore must never keep aside
    for (const JournalEntry& entry : entries) {
        if (entry.flag == 'k' && !bring_kept_files_back(folder, {entry.path, entry.kept})) count.failure(entry.kept);
        if (entry.flag == 'd') made_folders.push_back(entry.path);
        if (entry.flag != '1' && entry.flag != 'k' && entry.flag != 'd') made.add(entry.path);
    }
    for (const JournalEntry& entry : entries)
        if (entry.flag != '1' && entry.flag != 'k' && entry.flag != 'd' && !take_new_file_out(folder, entry.path))
            count.failure(entry.path);
    for (const std::string& made_folder : deepest_first(made_folders))
        remove_empty_folders(folder.place_of(made_folder));
    for (const JournalEntry& entry : entries)
        if (entry.flag == '1') restore_saved_copy(folder, entry.path, made, count);

    if (count.failed > 0) {
        log_line("rolled back only in part (%d files restored, %d could not be put back) -- the journal and "
                 "the old copies are kept for the next start",
                 count.restored, count.failed);
        return ReplayResult::incomplete;
    }
    retry_while_held([&] { return file_calls::DeleteFileW(folder.journal_path().c_str()) != 0; });
    log_line("rolled back (%d files restored)", count.restored);
    return ReplayResult::rolled_back;
}

bool settle_interrupted_install(const InstallFolder& folder)
{
    switch (replay_journal(folder)) {
    case ReplayResult::nothing:
    case ReplayResult::rolled_back:
        return true;
    case ReplayResult::incomplete:
        set_status(PHASE_FAILED, UNDO_FAILED, false);
        return false;
    case ReplayResult::unreadable:
        set_status(PHASE_FAILED, JOURNAL_UNREADABLE, false);
        return false;
    }
    return false;
}
