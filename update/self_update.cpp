#include "update/self_update.h"

#include "base/launcher_command_lines.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/process_start.h"
#include "base/settings.h"
#include "base/update_status.h"
#include "crypto/sha256.h"
#include "update/launcher_jobs.h"
#include "update/piece_assembly.h"
#include "update/piece_download.h"
#include "update/update_run.h"

#include <windows.h>

namespace {

bool newer_launcher_offered(const Manifest& manifest)
{
    return !no_self_update && manifest.launcher_version > LAUNCHER_VERSION &&
           !manifest.launcher.pieces.empty();
}

// A launcher that already is the manifest's one must not hand over to
// itself; a file that cannot be hashed counts as different.
bool is_running_launcher(const Manifest& manifest, const std::wstring& own)
{
    std::string digest;
    return sha256_file(own, digest) && digest == manifest.launcher.hash;
}

}  // namespace

bool self_update_launcher(UpdateRun& run)
{
    const Manifest& manifest = run.manifest;
    if (!newer_launcher_offered(manifest)) return false;
    const std::wstring own = own_exe_path();
    if (is_running_launcher(manifest, own)) {
        log_line("the manifest's launcher v%d is this very file -- nothing to swap",
                 manifest.launcher_version);
        return false;
    }

    // The launcher's size is not shown: the bar has no total in this phase.
    set_status(PHASE_LAUNCHER_UPDATE, "updating the launcher", false);
    update_status.bytes_done.exchange(0);
    update_status.bytes_total.exchange(0);
    hold_before_pieces(run);
    if (!download_pieces(run.folder, run.mirrors, launcher_piece_jobs(manifest.launcher, manifest.piece_size)))
        return false;   // the failed piece has logged itself

    const std::wstring fresh = join_path(parent_folder(own), SWAP_LEFTOVER_NAME);
    if (!assemble_file(run.folder, manifest.launcher, fresh)) {
        log_line("the new launcher did not check out -- keeping this one");
        return false;
    }
    if (!start_process(handover_command_line(fresh, own, GetCurrentProcessId(), headless, verify_files, max_rate_option())))
        return false;
    log_line("launcher v%d -> v%d: handing over to the new one", LAUNCHER_VERSION,
             manifest.launcher_version);
    return true;
}
