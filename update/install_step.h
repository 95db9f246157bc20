#pragma once
// Puts the assembled files of an update into the install folder under the
// journal, and undoes an install that was cut off.
#include "update/journal_replay.h"

#include <string>

struct UpdateRun;

// The install step of an update: waits for the game to close, writes the
// journal, moves every stale file of run.plan into place (its old copy aside
// first), removes the paths the manifest dropped, then commits the run's
// manifest into run.state and the state file. True when committed; false
// after a stop request (nothing touched) or a failure (the failed phase, the
// install folder restored and run.state read back from it).
bool install_update(UpdateRun& run);

// Copies the accepted release (version, executable, mark) into run.state and
// writes the state file: false, GetLastError() telling why, when it could not
// be written. Every file the state then records lies in the install folder
// at its recorded size, the release's size for a file of the release
// (checked in test builds); cache files aside: the game rewrites those, and
// their records vouch for nothing.
bool write_run_state(UpdateRun& run);

// Deletes the update folder with everything in it, when no journal is there
// (a journal is only ever removed by its replay or a commit). Used when the
// install turns out up to date, so that pieces, stage and saved copies left by
// a run cut off after its commit do not linger.
void remove_update_folder(const InstallFolder& folder);
