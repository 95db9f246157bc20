#pragma once
// Bringing the install folder in line with the accepted manifest: compare the
// installed files with it (the install state's size and write time stand in
// for a hash), list what to fetch and remove, check the free space, then run
// the download, assembly and install steps.
#include "formats/install_state.h"
#include "formats/manifest.h"
#include "update/update_plan.h"

class MirrorList;

// True when the installed files match the manifest afterwards (already up to
// date, or updated and committed). False after a failure (phase 8 set) or a
// stop request.
bool update_game(MirrorList& mirrors);

// Free bytes available to the caller on the install folder's volume; false
// when unknown.
bool free_disk_bytes(int64_t& bytes);
