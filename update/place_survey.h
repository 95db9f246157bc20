#pragma once
// Which places of the install folder exist, found with one query per folder
// where that is enough: a file below a folder that is not there is not there
// either. A first install of ten thousand files in new folders then asks
// about the folders, not about every file, and moves each new folder in
// whole instead of file by file.
#include "formats/manifest.h"
#include "update/update_folder.h"
#include "update/update_plan.h"

#include <string>
#include <unordered_map>
#include <vector>

// What stands at a place, as itself: a link is a link, never what it points
// at. A link to a folder (a junction) counts as a folder, which the launcher
// never walks into. Unknown when the place cannot be looked at.
enum class PlaceKind { missing, file, folder, unknown };
PlaceKind place_kind(const std::wstring& place);

class PlaceSurvey {
public:
    explicit PlaceSurvey(const InstallFolder& folder) : folder_(folder) {}

    const InstallFolder& folder() const { return folder_; }

    // What stands at a relative path's place in the install folder.
    PlaceKind kind(const std::string& path);

    // The highest folder on the path's way (a relative path) that does not
    // exist in the install folder; empty when every folder on the way is
    // there (or may be). A file where a folder of the way should be counts
    // as missing: the install moves it aside first (see files_in_the_way).
    std::string missing_folder(const std::string& path);

    // The folders on the ways asked about so far whose places are files, in
    // the order they were found.
    const std::vector<std::string>& files_in_the_way() const { return files_in_the_way_; }

private:
    // A folder on the way: a file there counts as missing (see above).
    PlaceKind folder_kind(const std::string& folder);
    InstallFolder folder_;
    std::unordered_map<std::string, PlaceKind> folders_;
    std::vector<std::string> files_in_the_way_;
};

// A folder missing from the install folder whose stage copy holds exactly
// the stale files below it and nothing else: it is moved in as a whole.
struct NewFolder {
    std::string path;            // relative, '/'-separated
    std::vector<size_t> files;   // indexes into the stale files below it
};

// The new folders of an install, in the order their first files appear.
std::vector<NewFolder> new_folders(const std::vector<StaleFile>& stale_files, PlaceSurvey& survey);
