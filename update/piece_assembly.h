#pragma once
// Building out-of-date files from the cached pieces: each file is written
// under "<dest>.part", hashed while it is written, and takes its final name
// only when its SHA-256 is the manifest's.
#include "formats/manifest.h"
#include "update/update_plan.h"

#include <string>

// Concatenates the cached pieces of `file` into dest. True when dest now holds
// the verified file; otherwise dest is untouched and the ".part" is deleted.
bool assemble_file(const ManifestFile& file, const std::wstring& dest);

// The assembly step of an update: phase 4 "installing", every stale file
// built in the stage folder. On a file that does not check out: phase 8 and
// false.
bool assemble_stale_files(const UpdatePlan& plan);
