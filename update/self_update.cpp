#include "update/self_update.h"

// The launcher self-update is not built yet: the game update always follows.
bool self_update_launcher(HttpClient&) { return false; }
