#pragma once
// Pieces an update needs that the installed files already hold are copied
// from those files into the piece cache instead of being downloaded. The saved
// manifest of the installed release (trusted only when its signature
// verifies) says where each piece lies; each piece read is checked against
// its id, so a file changed behind the launcher's back is never used.
#include "formats/install_state.h"
#include "update/update_folder.h"
#include "update/update_plan.h"

#include <cstddef>
#include <cstdint>

struct ReuseCount {
    size_t pieces = 0;    // copied into the piece cache
    int64_t bytes = 0;    // their raw bytes
    size_t refused = 0;   // places read whose bytes did not match the piece
};

// Removes from plan.jobs every piece that was copied from an installed file
// into the piece cache; the jobs left are the ones to download. Nothing
// changes without a saved manifest. A piece the cache already holds is left
// to the download step, which checks it. Counts bytes_done over the bytes to
// copy. False when a stop was requested (plan.jobs then unchanged).
bool reuse_installed_pieces(const InstallFolder& folder, const InstallState& state, UpdatePlan& plan,
                            ReuseCount& count);
