#pragma once
// Which places of the install folder exist, found with one query per folder
// where that is enough: a file below a folder that is not there is not there
// either. A first install of ten thousand files in new folders then asks
// about the folders, not about every file, and moves each new folder in
// whole instead of file by file.
#include "formats/manifest.h"
#include "update/update_plan.h"

#include <string>
#include <unordered_map>
#include <vector>

enum class PlaceStatus { missing, present, unknown };

// The file-system status of a full path: unknown when it cannot be read.
PlaceStatus status_of(const std::wstring& place);

class PlaceSurvey {
public:
    // The status of a relative path's place in the install folder.
    PlaceStatus status(const std::string& path);

    // The highest folder on the path's way (a relative path) that does not
    // exist in the install folder; empty when every folder on the way is
    // there (or may be).
    std::string missing_folder(const std::string& path);

private:
    PlaceStatus folder_status(const std::string& folder);
    std::unordered_map<std::string, PlaceStatus> folders_;
};

// A folder missing from the install folder whose stage copy holds exactly
// the stale files below it and nothing else: it is moved in as a whole.
struct NewFolder {
    std::string path;            // relative, '/'-separated
    std::vector<size_t> files;   // indexes into the stale files below it
};

// The new folders of an install, in the order their first files appear.
std::vector<NewFolder> new_folders(const std::vector<StaleFile>& stale_files, PlaceSurvey& survey);
