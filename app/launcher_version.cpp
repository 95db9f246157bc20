// The launcher's version number, alone in its own object file. The library
// carries the configured number; an executable that links its own copy of
// this file, compiled with another TW_LAUNCHER_VERSION, gets that number
// instead (the linker then never pulls this object out of the library).
#include "base/settings.h"

#ifndef TW_LAUNCHER_VERSION
#define TW_LAUNCHER_VERSION 5
#endif

extern const int LAUNCHER_VERSION = TW_LAUNCHER_VERSION;
