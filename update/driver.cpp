#include "update/driver.h"

#include "base/log.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/update_status.h"
#include "crypto/signature.h"
#include "formats/install_state.h"
#include "formats/manifest.h"
#include "net/http_client.h"
#include "net/server_paths.h"
#include "update/file_check.h"
#include "update/install_step.h"
#include "update/planning.h"
#include "update/release_order.h"
#include "update/saved_manifest.h"
#include "update/self_update.h"

#include <windows.h>
#include <objbase.h>

namespace {

// A game counts as installed when a run has recorded one, or when its
// default executable is there (an install made by other means).
bool game_installed(const InstallState& state)
{
    if (!state.version.empty()) return true;
    return GetFileAttributesW(join_path(install_dir, to_utf16(DEFAULT_RUN_EXE)).c_str()) !=
           INVALID_FILE_ATTRIBUTES;
}

// Fetches manifest.json and then manifest.sig with one cache-defeating query.
bool fetch_manifest(HttpClient& client, std::string& manifest_body, std::string& signature_body)
{
    const uint64_t tick = GetTickCount64();
    const std::atomic<bool>* stop = &update_status.stop_requested;
    return client.get(manifest_request_path("manifest.json", tick), manifest_body, {}, stop, nullptr,
                      MANIFEST_MAX_BYTES) &&
           client.get(manifest_request_path("manifest.sig", tick), signature_body, {}, stop, nullptr,
                      SIGNATURE_BYTES);
}

// True when the manifest was fetched, verified and accepted into the update
// status; the log says why not otherwise.
bool accept_manifest(HttpClient& client)
{
    std::string manifest_body, signature_body;
    if (!client.is_open() || !fetch_manifest(client, manifest_body, signature_body)) return false;
    if (!verify_manifest_signature(manifest_body, signature_body)) {
        log_line("the manifest's signature does NOT verify -- refusing it");
        return false;
    }
    Manifest manifest;
    if (!parse_manifest(manifest_body, manifest)) {
        log_line("the manifest would not read");
        return false;
    }
    // Before anything of it is used, the launcher entry included.
    const ReleaseMark installed = installed_release_mark();
    const ReleaseMark offered = release_mark(manifest, manifest_body);
    if (judge_release_order(installed, offered) != ReleaseOrder::acceptable) {
        log_line("%s", older_release_line(installed, offered).c_str());
        return false;
    }
    update_status.manifest = std::move(manifest);
    keep_received_manifest(std::move(manifest_body), std::move(signature_body));
    return true;
}

void play_offline(bool installed)
{
    if (installed) {
        InstallState& state = update_status.install_state;
        if (state.run_exe.empty()) {   // in memory only; the state file is left alone
            state.run_exe = DEFAULT_RUN_EXE;
            state.run_args = DEFAULT_RUN_ARGS;
        }
        if (verify_files) verify_against_saved_manifest(state);   // reports, repairs nothing
        set_status(PHASE_OFFLINE, "offline -- playing the installed version", true);
        return;
    }
    set_status(PHASE_FAILED,
               "can't reach " + default_server_host() +
                   " -- check the connection and open the launcher again",
               false);
}

void update_from_manifest(HttpClient& client, bool installed)
{
    const Manifest& manifest = update_status.manifest;
    log_line("manifest %s (build %s), %zu files, launcher v%d (this is v%d)",
             manifest.version.c_str(), manifest.build.c_str(), manifest.files.size(),
             manifest.launcher_version, LAUNCHER_VERSION);
    if (self_update_launcher(client)) {
        // The new launcher has taken over; phase 9 alone, nothing logged.
        std::lock_guard<std::mutex> lock(update_status.status_mutex);
        update_status.phase = PHASE_LAUNCHER_UPDATE;
        return;
    }
    if (update_game(client)) {
        set_status(PHASE_READY, "ready", true);
        return;
    }
    if (read_status().phase != PHASE_FAILED && installed)
        set_status(PHASE_OFFLINE, "the update did not finish -- playing the installed version", true);
}

}  // namespace

void run_update()
{
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    create_folders(install_dir);
    replay_journal();
    update_status.install_state = read_install_state(install_dir);
    const bool installed = game_installed(update_status.install_state);
    set_status(PHASE_CHECKING, "checking for updates", false);

    HttpClient client;
    client.open(server_url);
    if (accept_manifest(client))
        update_from_manifest(client, installed);
    else
        play_offline(installed);
    client.close();
    if (SUCCEEDED(com)) CoUninitialize();   // balances this run's own initialisation
}
