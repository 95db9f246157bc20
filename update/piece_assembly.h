#pragma once
// Building out-of-date files from the cached pieces: each file is written
// under "<dest>.part", hashed while it is written, and takes its final name
// only when its SHA-256 is the manifest's. A file of one piece is that piece,
// whose bytes this run's download (or reuse) step has already checked against
// its id: it is linked or copied from the cache without being hashed again.
#include "formats/manifest.h"
#include "update/update_folder.h"
#include "update/update_plan.h"

#include <string>

struct UpdateRun;

// Builds one file on its own. True when dest now holds the verified file;
// otherwise dest is untouched and no ".part" is left.
bool assemble_file(const InstallFolder& folder, const ManifestFile& file, const std::wstring& dest);

// The assembly step of an update: the installing phase, every stale file not
// yet staged built in the stage folder, several at once (one worker per
// hardware thread). bytes_done counts the files staged. On failure the
// failed phase, "a downloaded file did not check out: <path>" or "could not
// write to the install folder", naming the first failing file in manifest
// order, and false; after a stop request false with the status left as it is. The
// install folder is never touched.
bool assemble_stale_files(UpdateRun& run);
