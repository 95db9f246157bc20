#pragma once
// The one gate through which the launcher deletes or moves aside anything in
// the install folder: the install, its replay, layout changes, removals, the
// uninstall and --verify's repairs all pass here.
//
// The launcher owns
//   - the files its install state records (when no state can be used, the
//     files of the saved signed manifest stand in);
//   - the files a journal says the install made (taken back by the replay);
//   - its own files: the state, the saved manifest, the update folder, the
//     log, the installed launcher.
// Those it may delete. Anything else found where it must act -- a player's
// file, a folder where a recorded file was, a file where a release needs the
// place -- is moved to a kept place beside it and named in the log, or left
// where it is; it is never deleted. A link or junction is never followed:
// removing one removes the link, whatever it points at stays.
#include "formats/install_state.h"
#include "formats/manifest.h"
#include "update/place_survey.h"
#include "update/update_folder.h"

#include <string>
#include <unordered_set>

// The files the launcher owns by record, compared as the file system
// compares names (ignoring case).
class OwnedFiles {
public:
    OwnedFiles() = default;
    explicit OwnedFiles(const InstallState& state);
    void add(const std::string& relative);
    bool owns(const std::string& relative) const;

private:
    std::unordered_set<std::string> keys_;
};

// What the install does with what stands at a path it must move aside. A
// file the launcher owns goes into "old" and is deleted with it at the
// commit: only such a file, so the move fails should anything else stand
// there by then. Anything else (a folder, a file it has no record of, a
// place it cannot look at) goes into "old" too, the journal naming a kept
// place for it, and whatever of it the launcher does not own moves on to
// that place before the commit; but a folder at a path the release only
// drops is not the launcher's to move at all.
enum class AsideAction { nothing, owned_file, keep, leave };
AsideAction aside_action(PlaceKind kind, bool owned, bool place_needed);

// The records the install and the uninstall go by: the state's files; when
// it names none (damaged, missing, or cut before its first records), the
// files of the saved manifest, when its signature verifies (`stood_in` then
// true; sizes and hashes from the manifest, no write times).
InstallState recorded_files(const InstallFolder& folder, const InstallState& state, bool& stood_in);
OwnedFiles owned_files(const InstallFolder& folder, const InstallState& state);

// Moves what stands at a relative path's place into the update folder's
// "old"; true when moved or nothing was there (`error` is then 0). A place
// that cannot be looked at fails, and so does anything but a file when
// `only_a_file`. The copy's folder is made unless `folder_made`. Waits
// briefly for a program that holds the place.
bool move_into_old(const InstallFolder& folder, const std::string& path, unsigned long& error, bool folder_made = false,
                   bool only_a_file = false);

enum class FileRemoval {
    gone,       // deleted, or nothing was there
    not_ours,   // a folder stands there: kept
    failed,     // held for longer than a scanner holds a file, or refused; GetLastError() tells why
};

// Deletes a file the launcher owns (a read-only one too; a link as a link),
// waiting briefly for a program that holds it.
FileRemoval remove_owned_file(const std::wstring& place);

// Deletes a folder the launcher owns whole (the update folder, the splash
// cache) with everything below it; a link inside or at the top is removed as
// a link. `point` names the test crash point passed after each deleted entry
// (null: none). True when nothing is left at the path.
bool remove_owned_tree(const std::wstring& folder, const char* point = nullptr);

// Removes the folders below `folder`, and `folder` itself, that hold no file;
// files and links are never deleted. True when nothing is left at the path.
bool remove_empty_folders(const std::wstring& folder);

// Removes one folder when it is empty (never a link).
void remove_folder_if_empty(const std::wstring& folder);

// True when a folder between `root` and `path` (path's own folder included,
// root excluded) is a link to somewhere else. path must lie below root.
bool passes_through_link(const std::wstring& root, const std::wstring& path);

// A name beside `path` that is free: "<path> (kept files)", or with " 2",
// " 3", ... when that is taken. Full paths, or relative ones of the install
// folder ('/'-separated) for free_kept_place.
std::wstring free_name_beside(const std::wstring& path);
std::string free_kept_place(const InstallFolder& folder, const std::string& relative);
