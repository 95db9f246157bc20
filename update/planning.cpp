#include "update/planning.h"

#include "base/file_calls.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/test_hooks.h"
#include "base/update_status.h"
#include "update/file_check.h"
#include "update/install_step.h"
#include "update/piece_assembly.h"
#include "update/piece_download.h"
#include "update/piece_reuse.h"
#include "update/planning_rules.h"
#include "update/saved_manifest.h"
#include "update/update_run.h"

#include <windows.h>

#include <cwchar>
#include <limits>

namespace {

// The run's own record of what it now runs, written even when nothing
// changed so that refreshed records reach the disk. A state file that cannot
// be written costs only those records (the next start hashes again): the
// release mark was kept when the release was accepted.
bool finish_up_to_date(UpdateRun& run)
{
    const Manifest& manifest = run.manifest;
    if (!write_run_state(run))
        log_line("could not write the install state (error %lu) -- the installed files are checked again at "
                 "the next start", GetLastError());
    save_received_manifest(run.folder.root(), run.received);
    remove_update_folder(run.folder);
    log_line("up to date: %s (%zu files, %d of them hashed)", manifest.version.c_str(),
             manifest.files.size(), run.plan.hashed_count);
    return true;
}

bool enough_disk_space(const UpdateRun& run)
{
    const int64_t needed = disk_space_needed(run.plan);
    int64_t free_bytes = 0;
    if (!free_disk_bytes(run.folder.root(), free_bytes)) return true;   // unknown: the check is skipped
    if (free_bytes >= needed) return true;
    set_status(PHASE_FAILED,
               "not enough disk space: the update needs " + format_size(needed) + " free in " +
                   to_utf8(run.folder.root()) + ", which has " + format_size(free_bytes),
               false);
    return false;
}

}  // namespace

bool free_disk_bytes(const std::wstring& folder, int64_t& bytes)
{
    if (test_free_bytes(bytes)) return true;   // tests stand in for the volume
    ULARGE_INTEGER available{};
    if (!file_calls::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return false;
    const uint64_t max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    bytes = static_cast<int64_t>(available.QuadPart > max ? max : available.QuadPart);
    return true;
}

bool update_game(UpdateRun& run)
{
    const Manifest& manifest = run.manifest;
    InstallState& state = run.state;
    UpdatePlan& plan = run.plan;
    if (!compare_installed_files(run.folder, manifest, state, plan, verify_files)) return false;
    plan.paths_to_remove = removable_paths(state, manifest);
    if (plan.stale_files.empty() && plan.paths_to_remove.empty())
        return finish_up_to_date(run);

    plan.jobs = build_piece_jobs(plan.stale_files, manifest.piece_size);
    ReuseCount reused;
    if (!reuse_installed_pieces(run.folder, state, plan, reused)) return false;
    plan.download_total = download_total(plan.jobs);
    log_line("update to %s: %zu files out of date, %zu pieces, %s to download",
             manifest.version.c_str(), plan.stale_files.size(), plan.jobs.size(),
             format_size(plan.download_total).c_str());
    if (reused.pieces || reused.refused)
        log_line("reused %zu pieces (%s) from the installed files; pieces read that did not match: %zu",
                 reused.pieces, format_size(reused.bytes).c_str(), reused.refused);
    if (!enough_disk_space(run)) return false;
    if (!download_update(run)) return false;
    if (!assemble_stale_files(run)) return false;
    return install_update(run);
}
