#pragma once
// Self-install: the launcher keeps one copy of itself at
// install_dir\launcher\tarnwick.exe, reached through Start-menu and desktop
// shortcuts. (self_install itself is one of the entry's roads, app/roads.h.)
#include "base/path_identity.h"

#include <string>

