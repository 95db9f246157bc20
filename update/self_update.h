#pragma once
// Launcher self-update: replaces the running launcher when the manifest names
// a newer one.
struct UpdateRun;

// True when a new launcher has been started and this process must end.
bool self_update_launcher(UpdateRun& run);
