#pragma once
// One update run: journal recovery, manifest fetch and check, launcher
// self-update, planning and install. Leaves its outcome in the update status.
void run_update();
