#include "update/driver.h"

#include "base/com_apartment.h"
#include "base/file_calls.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/thread_priority.h"
#include "base/update_status.h"
#include "crypto/sha256.h"
#include "formats/install_state.h"
#include "formats/manifest.h"
#include "net/download_budget.h"
#include "net/mirror_list.h"
#include "net/server_paths.h"
#include "update/file_check.h"
#include "update/held_file.h"
#include "update/install_step.h"
#include "update/key_store.h"
#include "update/manifest_trust.h"
#include "update/planning.h"
#include "update/release_order.h"
#include "update/saved_manifest.h"
#include "update/self_update.h"
#include "update/update_run.h"

#include <windows.h>

#include <utility>

namespace {

// A game counts as installed when a run has recorded one, or when its
// default executable is there (an install made by other means).
bool game_installed(const UpdateRun& run)
{
    if (!run.state.version.empty()) return true;
    return file_calls::GetFileAttributesW(run.folder.place_of(DEFAULT_RUN_EXE).c_str()) !=
           INVALID_FILE_ATTRIBUTES;
}

// A studio uploads manifest.json and manifest.sig one after the other, so for
// a moment a mirror can pair a new manifest with the old signature. A pair
// that does not verify is fetched once more after this pause.
constexpr DWORD PUBLISH_IN_PROGRESS_PAUSE_MS = 2000;

const char* const STATE_UNREADABLE =
    "could not read the install folder -- close the programs that use the game's files and open the launcher again";

// Fetches manifest.json and then manifest.sig from one mirror with one
// cache-defeating query. On failure the mirror's trouble is noted.
bool fetch_manifest(MirrorList& mirrors, size_t mirror, std::string& manifest_body, std::string& signature_body)
{
    const uint64_t tick = GetTickCount64();
    const std::atomic<bool>* stop = &update_status.stop_requested;
    HttpClient& client = mirrors.client(mirror);
    HttpTrouble trouble;
    const char* what = "manifest.json";
    bool ok = client.get(manifest_request_path("manifest.json", tick), manifest_body, {}, stop, nullptr,
                         MANIFEST_MAX_BYTES, &trouble);
    if (ok) {
        what = "manifest.sig";
        ok = client.get(manifest_request_path("manifest.sig", tick), signature_body, {}, stop, nullptr,
                        SIGNATURE_BYTES, &trouble);
    }
    if (!ok && !update_status.stop_requested.load()) mirrors.note_trouble(mirror, what, trouble);
    return ok;
}

// Sleeps for ms unless a stop is asked for first; false on a stop.
bool pause_unless_stopped(DWORD ms)
{
    for (DWORD slept = 0; slept < ms; slept += 100) {
        if (update_status.stop_requested.load()) return false;
        Sleep(100);
    }
    return !update_status.stop_requested.load();
}

// Fetches a pair from one mirror whose signature verifies, once more after a
// pause when the first does not. The log says why when none does.
bool fetch_verified_pair(const std::wstring& install_folder, MirrorList& mirrors, size_t mirror,
                         std::string& manifest_body, std::string& signature_body)
{
    if (!fetch_manifest(mirrors, mirror, manifest_body, signature_body)) return false;
    if (manifest_signature_trusted(install_folder, mirrors.client(mirror), manifest_body, signature_body)) return true;
    log_line("mirror %s: the manifest's signature does not verify -- asking again in %lu ms, in case a "
             "release is being uploaded", mirrors.name(mirror).c_str(),
             static_cast<unsigned long>(PUBLISH_IN_PROGRESS_PAUSE_MS));
    if (pause_unless_stopped(PUBLISH_IN_PROGRESS_PAUSE_MS) &&
        fetch_manifest(mirrors, mirror, manifest_body, signature_body) &&
        manifest_signature_trusted(install_folder, mirrors.client(mirror), manifest_body, signature_body))
        return true;
    if (update_status.stop_requested.load()) return false;
    log_line("the manifest's signature does NOT verify -- refusing it");
    mirrors.note_trouble(mirror, "manifest", HttpTrouble{false, "the signature does not verify"});
    return false;
}

// The installed release's mark, lowered in the state (in memory; the mark is
// written with the accepted one) when kept key records no longer accept the
// key that signed it. The records may have arrived with this mirror's manifest.
ReleaseMark installed_mark_after_withdrawals(const std::wstring& install_folder, InstallState& state,
                                              bool& mark_lowered)
{
    const ReleaseMark installed = installed_release_mark(install_folder, state);
    const ReleaseMark mark = release_mark_after_withdrawals(install_folder, installed);
    if (mark.has_serial && mark.serial < installed.serial) {
        lower_release_mark(state, mark);
        mark_lowered = true;
    }
    return mark;
}

// True when mirror `mirror` gave a manifest that verified, read and is
// acceptable; it is then the run's manifest. The log says why not otherwise.
bool accept_manifest_from(UpdateRun& run, size_t mirror, bool& mark_lowered)
{
    MirrorList& mirrors = run.mirrors;
    std::string manifest_body, signature_body;
    if (!fetch_verified_pair(run.folder.root(), mirrors, mirror, manifest_body, signature_body)) return false;
    Manifest manifest;
    DocumentRefusal refusal = DocumentRefusal::none;
    if (!parse_manifest(manifest_body, manifest, &refusal)) {
        // The rule on its own line, before the failure line.
        log_line("the manifest was refused (%s)", document_refusal_name(refusal));
        log_line("the manifest would not read");
        mirrors.note_trouble(mirror, "manifest", HttpTrouble{false, "the manifest would not read"});
        return false;
    }
    // Before anything of it is used, the launcher entry included. A mirror
    // that still serves an older release is passed over for the next one.
    const ReleaseMark installed = installed_mark_after_withdrawals(run.folder.root(), run.state, mark_lowered);
    const ReleaseMark offered = release_mark(manifest, sha256_bytes(manifest_body.data(), manifest_body.size()));
    if (judge_release_order(installed, offered) != ReleaseOrder::acceptable) {
        log_line("%s", older_release_line(installed, offered).c_str());
        mirrors.note_trouble(mirror, "manifest", HttpTrouble{false, "it offers an older release"});
        return false;
    }
    run.manifest = std::move(manifest);
    run.received = ReceivedManifest{std::move(manifest_body), std::move(signature_body)};
    return true;
}

// The manifest from the first mirror, in the setting's order, that offers an
// acceptable one; that mirror is then the one in use.
bool accept_manifest(UpdateRun& run, bool& mark_lowered)
{
    MirrorList& mirrors = run.mirrors;
    for (size_t i = 0; i < mirrors.size(); ++i) {
        if (update_status.stop_requested.load()) return false;
        if (mirrors.skipped(i) || !accept_manifest_from(run, i, mark_lowered)) continue;
        mirrors.use(i);
        log_line("manifest from mirror %s (%zu of %zu)", mirrors.name(i).c_str(), i + 1, mirrors.size());
        return true;
    }
    return false;
}

// proxy_refusal: what a proxy that would not let the launcher through said;
// with no game to play that is the message, since the connection itself is fine.
void play_offline(const InstallFolder& folder, InstallState& state, bool installed,
                  const std::string& proxy_refusal = {},
                  const char* offline_text = "offline -- playing the installed version")
{
    if (installed) {
        if (state.run_exe.empty()) {   // in memory only; the state file is left alone
            state.run_exe = DEFAULT_RUN_EXE;
            state.run_args = DEFAULT_RUN_ARGS;
        }
        if (verify_files) verify_against_saved_manifest(folder, state);   // reports, repairs nothing
        set_status(PHASE_OFFLINE, offline_text, true);
        return;
    }
    set_status(PHASE_FAILED,
               proxy_refusal.empty()
                   ? "can't reach " + default_server_host() + " -- check the connection and open the launcher again"
                   : proxy_refusal,
               false);
}

// The mark of the accepted release reaches the state file before anything of
// the release is fetched or installed: no cut and no failure later can leave
// a newer release installed under an older mark. A mark that cannot be kept
// stops the run. mark_lowered: signed key records lowered the mark, which
// the state file must then keep even when the accepted release does not
// raise it.
bool keep_release_mark(UpdateRun& run, bool mark_lowered)
{
    InstallState& state = run.state;
    const ReleaseMark installed = installed_release_mark(run.folder.root(), state);
    if (!state.release) state.release = installed;   // a state from before the mark was kept there
    const ReleaseMark accepted = received_release_mark(run.folder.root(), run.manifest, run.received);
    if (!raise_release_mark(state, accepted) && !mark_lowered) return true;
    if (write_install_state(run.folder.root(), state)) return true;
    log_line("could not keep the release mark (error %lu) -- not updating this time", GetLastError());
    set_status(PHASE_FAILED, "could not write to the install folder", false);
    return false;
}

void update_from_manifest(UpdateRun& run, bool installed)
{
    const Manifest& manifest = run.manifest;
    log_line("manifest %s (build %s), %zu files, launcher v%d (this is v%d)",
             manifest.version.c_str(), manifest.build.c_str(), manifest.files.size(),
             manifest.launcher_version, LAUNCHER_VERSION);
    if (self_update_launcher(run)) {
        // The new launcher has taken over; its phase alone, nothing logged.
        std::lock_guard<std::mutex> lock(update_status.status_mutex);
        update_status.phase = PHASE_LAUNCHER_UPDATE;
        return;
    }
    if (update_game(run)) {
        set_status(PHASE_READY, "ready", true);
        return;
    }
    if (read_status().phase != PHASE_FAILED && installed)
        set_status(PHASE_OFFLINE, "the update did not finish -- playing the installed version", true);
}

// The run from the journal's settling to the install; the outcome is in the
// update status, what is installed in run.state.
void update_in(UpdateRun& run)
{
    create_folders(run.folder.root());
    if (!settle_interrupted_install(run.folder)) return;   // failed: nothing else is read or changed
    // A scanner may hold the state file for a moment, as any other game file.
    const bool state_read =
        retry_while_held([&] { return read_install_state_if_readable(run.folder.root(), run.state); });
    const DWORD state_error = state_read ? 0 : GetLastError();
    const bool installed = game_installed(run);
    if (!state_read) {   // updating now would leave the files it names behind for good
        log_line("could not read the state file (error %lu) -- not updating this time", state_error);
        if (installed)
            play_offline(run.folder, run.state, true, {},
                         "could not read the install state -- playing the installed version without updating");
        else
            set_status(PHASE_FAILED, STATE_UNREADABLE, false);
        return;
    }
    set_status(PHASE_CHECKING, "checking for updates", false);

    // Background work: on a small machine the splash must keep its frames
    // whatever the download, the hashing and the assembly do.
    BelowNormalPriority background;
    run.mirrors.open(server_url);
    // One budget for every connection of the run, the launcher's own update's too.
    DownloadBudget budget(max_download_rate);
    run.mirrors.set_download_budget(&budget);
    bool mark_lowered = false;
    if (!accept_manifest(run, mark_lowered))
        play_offline(run.folder, run.state, installed, run.mirrors.proxy_refusal());
    else if (keep_release_mark(run, mark_lowered))
        update_from_manifest(run, installed);
    run.mirrors.close();
}

}  // namespace

InstallState run_update(const std::wstring& install_folder, std::function<void()> before_pieces)
{
    ComApartment apartment(COINIT_APARTMENTTHREADED);
    UpdateRun run{InstallFolder(install_folder)};
    run.before_pieces = std::move(before_pieces);
    update_in(run);
    return std::move(run.state);
}
