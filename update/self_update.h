#pragma once
// Launcher self-update: replaces the running launcher when the manifest names
// a newer one.
class MirrorList;

// True when a new launcher has been started and this process must end.
bool self_update_launcher(MirrorList& mirrors);
