#pragma once
// Undoing an install that a journal says was under way.
#include "update/update_folder.h"

#include <string>

enum class ReplayResult {
    nothing,      // no journal (an empty one is removed)
    rolled_back,  // every saved copy is back; the journal is gone
    incomplete,   // something could not be put back: the journal and "old" stay for the next try
    unreadable,   // a journal is there but cannot be read: nothing was touched
};

// Puts the install folder back as the journal found it: new files go back
// into the stage, folders the install made go, files kept aside come back
// into "old", then every saved copy goes back to its place. Only a complete
// replay deletes the journal; until then "old" holds what it names.
ReplayResult replay_journal(const InstallFolder& folder);

// The replay at the start of a run: true when the run may go on (nothing to
// undo, or undone); otherwise the failed phase with a message saying why, and the run
// must stop before it reads or changes anything else.
bool settle_interrupted_install(const InstallFolder& folder);

// The failed phase's message of an install whose rollback could not put every old
// file back.
extern const char* const ROLLBACK_INCOMPLETE;
