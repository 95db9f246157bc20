#pragma once
// Bringing the install folder in line with the accepted manifest: compare the
// installed files with it (the install state's size and write time stand in
// for a hash), list what to fetch and remove, check the free space, then run
// the download, assembly and install steps.
#include <cstdint>
#include <string>

struct UpdateRun;

// True when the installed files match the run's manifest afterwards (already
// up to date, or updated and committed); run.plan holds what it did. False
// after a failure (the failed phase set) or a stop request.
bool update_game(UpdateRun& run);

// Free bytes available to the caller on the volume of `folder`; false when
// unknown.
bool free_disk_bytes(const std::wstring& folder, int64_t& bytes);
