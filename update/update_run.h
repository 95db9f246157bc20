#pragma once
// One update run's data, from the install folder it serves to the plan it
// carries out. The driver owns it and hands it down by reference, so that a
// step's signature says what it reads and a test builds one as a value. The
// progress the splash and the headless lines read is shared apart from it
// (base/update_status.h).
#include "formats/install_state.h"
#include "formats/manifest.h"
#include "net/mirror_list.h"
#include "update/saved_manifest.h"
#include "update/update_folder.h"
#include "update/update_plan.h"

#include <functional>
#include <utility>

struct UpdateRun {
    explicit UpdateRun(InstallFolder install_folder) : folder(std::move(install_folder)) {}

    InstallFolder folder;        // the folder it serves, and where its work lies in it
    InstallState state;          // what is installed, as the state file records it
    Manifest manifest;           // the accepted manifest; empty until one is
    ReceivedManifest received;   // its bodies as received, saved when the install commits
    UpdatePlan plan;             // what this run fetches, builds and installs
    MirrorList mirrors;          // the servers of the setting; the one in use serves first
    // Called before the first piece is fetched, the launcher's own or the
    // game's; may wait. The windowed run lets its splash finish starting.
    std::function<void()> before_pieces;
};

// Runs run.before_pieces once (later calls do nothing).
inline void hold_before_pieces(UpdateRun& run)
{
    if (run.before_pieces) std::exchange(run.before_pieces, nullptr)();
}
