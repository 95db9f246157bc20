#include "update/install_step.h"

#include "base/file_calls.h"
#include "base/log.h"
#include "base/long_path.h"
#include "base/parallel_for.h"
#include "base/paths.h"
#include "base/rule_checks.h"
#include "base/running_process.h"
#include "base/settings.h"
#include "base/test_hooks.h"
#include "base/update_status.h"
#include "base/whole_file.h"
#include "base/win_handles.h"
#include "formats/install_state.h"
#include "formats/relative_path.h"
#include "update/deletion_gate.h"
#include "update/held_file.h"
#include "update/journal.h"
#include "update/kept_files.h"
#include "update/place_survey.h"
#include "update/planning_rules.h"
#include "update/release_order.h"
#include "update/saved_manifest.h"
#include "update/update_run.h"

#include <windows.h>

#include <atomic>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <string>
#include <vector>

namespace {

constexpr DWORD MOVE_FLAGS = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
const char* const WAIT_MESSAGE = "close " TW_PRODUCT_WORD " to finish the update";
const char* const WRITE_FAILED = "could not write to the install folder";
const char* const ROLLED_BACK = "the update could not be installed -- the game was left as it was";

// Moving many files into place waits on Wine's server and the disk; a few
// threads overlap the moves. A few moves are made one by one.
constexpr size_t MOVE_THREADS = 4;
constexpr size_t PARALLEL_MOVES_FROM = 64;

// Upper-cased full path, for comparing places the way the file system does.
std::wstring place_key(const InstallFolder& folder, const std::string& relative)
{
    std::wstring place = folder.place_of(relative);
    if (!place.empty())
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, place.data(), static_cast<int>(place.size()),
                      place.data(), static_cast<int>(place.size()), nullptr, nullptr, 0);
    return place;
}

// The recorded paths the install really removes. A recorded path whose place
// is also the place of a manifest file (a rename that only changes letter
// case) or of one of its folders is left on disk: moving it aside would take
// the manifest's files with it. So is a folder standing where a recorded
// file was: the player's (or the game's) own, not the launcher's to remove.
// Their records are dropped all the same. A place that cannot be looked at
// gets a kept place, in case it holds what is not the launcher's. (A file in
// the way of a new folder is moved aside as such; see LayoutChanges.)
std::vector<std::string> paths_to_move_away(const UpdateRun& run, std::vector<KeptPlace>& kept_places)
{
    const InstallFolder& folder = run.folder;
    const UpdatePlan& plan = run.plan;
    if (plan.paths_to_remove.empty()) return {};
    std::set<std::wstring> kept;
    for (const ManifestFile& f : run.manifest.files) {
        kept.insert(place_key(folder, f.path));
        // A recorded file whose path is now a folder of the release (a run
        // cut off after its commit left the old records): its place is that
        // folder, which must stay.
        for (size_t slash = f.path.find('/'); slash != std::string::npos; slash = f.path.find('/', slash + 1))
            kept.insert(place_key(folder, f.path.substr(0, slash)));
    }
    std::vector<std::string> out;
    for (const std::string& path : plan.paths_to_remove) {
        if (kept.count(place_key(folder, path))) continue;
        // Looked at on its own: the survey's folders are the new files' ways.
        switch (aside_action(place_kind(folder.place_of(path)), true, false)) {
        case AsideAction::leave:
            log_line("kept %s: a folder stands where the release's file was", path.c_str());
            continue;
        case AsideAction::keep:
            kept_places.push_back({path, free_kept_place(folder, path)});
            break;
        case AsideAction::nothing:
        case AsideAction::owned_file:
            break;
        }
        out.push_back(path);
    }
    return out;
}

bool any_game_running(const std::vector<std::wstring>& exes)
{
    for (const std::wstring& exe : exes)
        if (game_running(exe)) return true;
    return false;
}

// Waits while the game runs, once a second. False when a stop was requested.
// Both the new release's executable and the installed one are watched: a
// release that renames its executable must still wait for the running game.
bool wait_for_game(const UpdateRun& run)
{
    std::vector<std::wstring> exes = {installed_game_exe(run.folder.root(), run.manifest.run_exe)};
    const std::string& installed = run.state.run_exe;
    if (!installed.empty() && installed_game_exe(run.folder.root(), installed) != exes[0])
        exes.push_back(installed_game_exe(run.folder.root(), installed));

    if (any_game_running(exes)) {
        while (!update_status.stop_requested) {
            set_status(PHASE_WAITING_FOR_GAME, WAIT_MESSAGE, false);
            Sleep(1000);
            if (!any_game_running(exes)) break;
        }
    }
    return !update_status.stop_requested;
}

InstalledFile installed_record(const InstallFolder& folder, const ManifestFile& file)
{
    InstalledFile record;
    file_size_and_time(folder.place_of(file.path), record.size, record.write_time);   // else 0 and 0
    record.hash = file.hash;
    return record;
}

// The message says what the folder is now: the old release, or, when a
// saved copy could not be put back, a mix that the next start settles from
// the journal and "old", both kept.
bool roll_back(UpdateRun& run)
{
    const ReplayResult replayed = replay_journal(run.folder);
    run.state = read_install_state(run.folder.root());
    set_status(PHASE_FAILED, replayed == ReplayResult::rolled_back ? ROLLED_BACK : ROLLBACK_INCOMPLETE, false);
    return false;
}

bool fail_to_write()
{
    set_status(PHASE_FAILED, WRITE_FAILED, false);
    return false;
}

// Moves a new folder's stage copy into place as a whole. Each of its files
// passes the two crash points a file moved on its own passes, the first ones
// before the move (nothing of the folder is in place yet), the others after.
bool move_folder_in(const InstallFolder& install, const NewFolder& folder, const UpdatePlan& plan,
                    InstallState& state)
{
    for (size_t n = 0; n < folder.files.size(); ++n) crash_point("moved-aside");
    if (!file_calls::MoveFileExW(install.stage_path_of(folder.path).c_str(), install.place_of(folder.path).c_str(),
                                 MOVEFILE_WRITE_THROUGH))
        return false;
    for (size_t i : folder.files) {
        crash_point("moved-in");
        state.files[plan.stale_files[i].file->path] = installed_record(install, *plan.stale_files[i].file);
    }
    return true;
}

struct FileMove {
    size_t file = 0;        // index into the stale files
    bool existed = false;   // the journal saw something at its place
    bool kept = false;      // the journal names a kept place for it: not only a file may go aside
};

// Makes, once each, the folders the file moves need: the place's folder
// where the survey found it missing, and the folder of each old copy.
void make_move_folders(const UpdatePlan& plan, const std::vector<FileMove>& moves, PlaceSurvey& survey)
{
    const InstallFolder& folder = survey.folder();
    std::set<std::wstring> folders;
    for (const FileMove& move : moves) {
        const std::string& path = plan.stale_files[move.file].file->path;
        if (!survey.missing_folder(path).empty()) folders.insert(parent_folder(folder.place_of(path)));
        if (move.existed) folders.insert(parent_folder(folder.old_path_of(path)));
    }
    for (const std::wstring& folder : folders) create_folders(folder);
}

// Moves one staged file into place, its old copy (when the journal saw one)
// aside first. A place the journal found empty is moved into without
// replacing: should something have appeared there since, the move fails
// rather than destroy what the journal could not put back.
bool move_file_in(const InstallFolder& folder, const ManifestFile& file, bool existed, bool kept, DWORD& error)
{
    error = 0;
    if (existed && !move_into_old(folder, file.path, error, true, !kept)) return false;
    crash_point("moved-aside");
    const DWORD flags = existed ? MOVE_FLAGS : MOVEFILE_WRITE_THROUGH;
    const std::wstring staged = folder.stage_path_of(file.path), place = folder.place_of(file.path);
    if (retry_while_held([&] { return file_calls::MoveFileExW(staged.c_str(), place.c_str(), flags) != 0; })) return true;
    error = GetLastError();
    return false;
}

// New folders go in whole; the other files one by one, many of them on a
// few threads at once. Each file's old copy is moved aside before the new
// one moves in, on the same thread; files do not depend on one another, and
// the journal lists them all before the first move.
bool put_stale_files_in_place(const UpdatePlan& plan, const std::vector<StalePath>& stale,
                              const std::vector<NewFolder>& folders, const std::set<std::string>& kept,
                              PlaceSurvey& survey, InstallState& state)
{
    const InstallFolder& install = survey.folder();
    std::vector<char> placed(plan.stale_files.size(), 0);
    for (const NewFolder& folder : folders) {
        if (!move_folder_in(install, folder, plan, state)) continue;   // then file by file below
        for (size_t i : folder.files) placed[i] = 1;
    }
    std::vector<FileMove> moves;
    for (size_t i = 0; i < plan.stale_files.size(); ++i)
        if (!placed[i]) moves.push_back({i, stale[i].existed, kept.count(stale[i].path) != 0});
    make_move_folders(plan, moves, survey);

    std::vector<InstalledFile> records(moves.size());
    std::atomic<bool> logged{false};
    const size_t threads = moves.size() >= PARALLEL_MOVES_FROM ? MOVE_THREADS : 1;
    const bool moved = for_each_index(moves.size(), threads, [&](size_t n) {
        const ManifestFile& file = *plan.stale_files[moves[n].file].file;
        DWORD error = 0;
        if (!move_file_in(install, file, moves[n].existed, moves[n].kept, error)) {
            if (!logged.exchange(true)) log_line("could not put %s in place (error %lu)", file.path.c_str(), error);
            return false;
        }
        crash_point("moved-in");
        records[n] = installed_record(install, file);
        return true;
    });
    if (!moved) return false;   // the rollback reads the state file back
    for (size_t n = 0; n < moves.size(); ++n) state.files[plan.stale_files[moves[n].file].file->path] = records[n];
    return true;
}

// Once the journal is gone the state file vouches for the new files by size
// and write time, so their bytes must be on the disk before that: a power cut
// right after the commit must not leave a file of the right size and time
// whose bytes never got there. Files the download wrote whole were forced to
// the disk as they were written; every other staged file is flushed here,
// before the journal, all at once: the flushes overlap on the disk instead of
// costing one round trip per file.
bool commit_staged_files(const InstallFolder& folder, const UpdatePlan& plan)
{
    std::vector<std::wstring> staged;
    staged.reserve(plan.stale_files.size());
    for (const StaleFile& stale : plan.stale_files)
        if (stale.stage != StageState::StagedOnDisk) staged.push_back(folder.stage_path_of(stale.file->path));
    if (staged.empty()) return true;
    const ULONGLONG started = GetTickCount64();
    if (unsigned long error = flush_files(staged)) {
        log_line("could not commit the new files to the disk (error %lu)", error);
        return false;
    }
    log_line("committed %zu new files to the disk in %.2f s", staged.size(),
             static_cast<double>(GetTickCount64() - started) / 1000.0);
    return true;
}

bool move_removed_paths_aside(const InstallFolder& folder, const std::vector<std::string>& paths,
                              const std::set<std::string>& kept)
{
    for (const std::string& path : paths) {
        DWORD error = 0;
        if (!move_into_old(folder, path, error, false, !kept.count(path))) return false;
        crash_point("moved-aside");
    }
    return true;
}

// What stands in the way of a release that changes the layout, and the
// folders the install makes: the journal lists both, so that a rollback
// removes the folders again and brings back what was in the way.
struct LayoutChanges {
    std::vector<std::string> made_folders;   // the highest missing folder of each new path
    std::vector<KeptPlace> in_the_way;       // folders where files go, files where folders go
    std::vector<std::string> files_first;    // files where folders go, moved aside before anything else
};

void plan_layout_changes(const UpdatePlan& plan, PlaceSurvey& survey, std::vector<std::string>& removals,
                         LayoutChanges& layout)
{
    std::set<std::string> made;
    for (const StaleFile& stale : plan.stale_files) {
        std::string missing = survey.missing_folder(stale.file->path);
        if (!missing.empty() && made.insert(missing).second) layout.made_folders.push_back(std::move(missing));
    }
    // A file where a new folder must go is moved aside like a removed one
    // (it is one when the old release had it), before the new files move in.
    const std::set<std::string> removed(removals.begin(), removals.end());
    for (const std::string& path : survey.files_in_the_way()) {
        layout.files_first.push_back(path);
        layout.in_the_way.push_back({path, free_kept_place(survey.folder(), path)});
        if (!removed.count(path)) removals.push_back(path);
    }
}

bool move_files_in_the_way(const InstallFolder& folder, const LayoutChanges& layout)
{
    for (const std::string& path : layout.files_first) {
        DWORD error = 0;
        if (!move_into_old(folder, path, error)) {
            log_line("could not move %s out of the way (error %lu)", path.c_str(), error);
            return false;
        }
        crash_point("moved-aside");
    }
    return true;
}

// Before the commit empties "old": whatever the install moved out of a place
// the release needs and does not own goes to its kept place beside it, and
// the log says where.
bool keep_players_files(const InstallFolder& folder, const LayoutChanges& layout, const OwnedFiles& owned)
{
    for (const KeptPlace& place : layout.in_the_way) {
        size_t moved = 0;
        if (!keep_unmanaged_files(folder, place, owned, moved)) {
            log_line("could not keep the files found in %s (error %lu)", place.path.c_str(), GetLastError());
            return false;
        }
        if (moved > 0)
            log_line("%s had to make way for the new release: kept %zu file(s) the game does not manage in %s",
                     place.path.c_str(), moved, to_utf8(folder.place_of(place.kept)).c_str());
    }
    return true;
}

// The update folder and everything in it, at once when it is empty; point
// names the crash points of a test build inside the tree's removal.
void delete_update_folder(const InstallFolder& folder, const char* point = nullptr)
{
    const std::wstring update_folder = folder.update_folder();
    if (!file_calls::RemoveDirectoryW(update_folder.c_str()) && GetLastError() == ERROR_DIR_NOT_EMPTY)
        remove_owned_tree(update_folder, point);
}

// The journal's deletion is the commit point. Once it is gone no later run
// undoes the install, so the state file is written only after it: written
// before, a crash in between would let the next run's replay restore the old
// files under the new release's records, and files the new release dropped
// would come back with no record left to remove them by. Written after, the
// worst case is the old state file beside the new files, which the next
// planning settles by hashing them (and removes the dropped paths it still
// has records of). The release mark does not wait for this write: the run
// kept it in the state file when it accepted the release.
bool commit(UpdateRun& run)
{
    const InstallFolder& folder = run.folder;
    if (!retry_while_held([&] { return file_calls::DeleteFileW(folder.journal_path().c_str()) != 0; }))
        return roll_back(run);
    crash_point("journal-deleted");
    const bool recorded = write_run_state(run);
    const DWORD error = recorded ? 0 : GetLastError();
    save_received_manifest(folder.root(), run.received);
    crash_point("state-written");
    delete_update_folder(folder, "update-folder-removing");
    if (!recorded) {
        // The new files are in place; the next start finds them by hashing.
        log_line("could not write the install state (error %lu) -- the new files are in place and are checked "
                 "again at the next start", error);
        return fail_to_write();
    }
    log_line("updated to %s", run.manifest.version.c_str());
    return true;
}

// The size on disk as the rule check sees it: read past the file-call seam,
// so that a fault injected for the run neither fails the check nor is used up
// by it.
int64_t size_seen_by_check(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(extended_path(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

// The state vouches only for bytes on disk: each file it records is in the
// install folder at the recorded size, and a file of the release at the
// release's size. A record without a write time (the file could not be
// looked at once it was in place) vouches for nothing: the next start hashes
// the file.
bool recorded_sizes_on_disk(const UpdateRun& run)
{
    std::unordered_map<std::string, int64_t> release_sizes;
    for (const ManifestFile& file : run.manifest.files) release_sizes.emplace(file.path, file.size);
    for (const auto& [path, record] : run.state.files) {
        if (is_cache_path(path) || record.write_time == 0) continue;
        const auto in_release = release_sizes.find(path);
        if (in_release != release_sizes.end() && in_release->second != record.size) return false;
        if (size_seen_by_check(run.folder.place_of(path)) != record.size) return false;
    }
    return true;
}

}  // namespace

void remove_update_folder(const InstallFolder& folder)
{
    if (place_kind(folder.journal_path()) != PlaceKind::missing) return;
    delete_update_folder(folder);
}

bool write_run_state(UpdateRun& run)
{
    record_release(run.state, run.manifest, received_release_mark(run.folder.root(), run.manifest, run.received));
    if (rule_checks_on())
        check_rule(recorded_sizes_on_disk(run),
                   "the state records a size that is not the file's on disk or the release's");
    return write_install_state(run.folder.root(), run.state);
}

bool install_update(UpdateRun& run)
{
    InstallState& state = run.state;
    const UpdatePlan& plan = run.plan;
    const InstallFolder& folder = run.folder;
    if (!wait_for_game(run)) return false;
    set_status(PHASE_INSTALLING, "installing", false);
    // "old" holds what a journal names for as long as the journal is there;
    // the run's start settles a journal before it gets here.
    if (place_kind(folder.journal_path()) != PlaceKind::missing) return fail_to_write();

    // What the launcher owns is judged by the records the install started
    // from; the moves below change the records in memory.
    const OwnedFiles owned = owned_files(folder, state);
    PlaceSurvey survey(folder);
    LayoutChanges layout;
    std::vector<StalePath> stale;
    for (const StaleFile& record : plan.stale_files) {
        // A place whose status cannot be read is flagged as existing: a replay
        // then never deletes what it cannot vouch for.
        const std::string& path = record.file->path;
        const PlaceKind kind = survey.kind(path);
        stale.push_back({path, kind != PlaceKind::missing});
        if (aside_action(kind, owned.owns(path), true) == AsideAction::keep)
            layout.in_the_way.push_back({path, free_kept_place(folder, path)});
    }
    std::vector<std::string> removals = paths_to_move_away(run, layout.in_the_way);
    plan_layout_changes(plan, survey, removals, layout);
    std::set<std::string> kept;
    for (const KeptPlace& place : layout.in_the_way) kept.insert(place.path);

    if (!commit_staged_files(folder, plan)) return fail_to_write();
    const std::vector<NewFolder> folders = new_folders(plan.stale_files, survey);

    // No journal exists here, so nothing in "old" is needed; a copy left
    // there by an earlier run would otherwise be "restored" over a file this
    // install never touched if it is cut off.
    check_rule(place_kind(folder.journal_path()) == PlaceKind::missing, "\"old\" emptied while a journal is there");
    if (!remove_owned_tree(folder.old_folder())) return fail_to_write();
    create_folders(folder.old_folder());
    if (!write_file_atomic(folder.journal_path(),
                           journal_text(stale, removals, layout.made_folders, layout.in_the_way)))
        return fail_to_write();
    crash_point("journal-written");

    // A file in the way is gone before the new files go in; moved "aside"
    // again afterwards, its place would be the new folder.
    const std::set<std::string> moved_first(layout.files_first.begin(), layout.files_first.end());
    std::vector<std::string> later_removals;
    for (const std::string& path : removals)
        if (!moved_first.count(path)) later_removals.push_back(path);
    if (!move_files_in_the_way(folder, layout) ||
        !put_stale_files_in_place(plan, stale, folders, kept, survey, state) ||
        !move_removed_paths_aside(folder, later_removals, kept) || !keep_players_files(folder, layout, owned))
        return roll_back(run);
    for (const std::string& path : plan.paths_to_remove) state.files.erase(path);
    return commit(run);
}
