#pragma once
// Building out-of-date files from the cached pieces: each file is written
// under "<dest>.part", hashed while it is written, and takes its final name
// only when its SHA-256 is the manifest's. A file of one piece is that piece,
// whose bytes this run's download (or reuse) step has already checked against
// its id: it is linked or copied from the cache without being hashed again.
#include "formats/manifest.h"
#include "update/update_plan.h"

#include <string>
#include <unordered_set>

enum class AssemblyResult {
    Built,         // dest holds the verified file
    NotVerified,   // a piece is missing, or the bytes are not the manifest's
    NotWritten,    // the stage could not be written (disk full, ...); logged
};

// Concatenates the cached pieces of `file` into dest. Unless Built, dest is
// untouched and the ".part" deleted. `linked` holds the ids of pieces already
// linked into another file by this run: a piece is linked to one file only,
// so that no two installed files ever share their bytes on disk.
AssemblyResult build_file(const ManifestFile& file, const std::wstring& dest,
                          std::unordered_set<std::string>& linked);

// The same for one file on its own. True when dest now holds the verified file.
bool assemble_file(const ManifestFile& file, const std::wstring& dest);

// The assembly step of an update: phase 4 "installing", every stale file
// built in the stage folder. On failure phase 8, "a downloaded file did not
// check out: <path>" or "could not write to the install folder", and false.
bool assemble_stale_files(const UpdatePlan& plan);
