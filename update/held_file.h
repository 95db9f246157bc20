#pragma once
// Virus scanners and search indexers open a file the moment it lands and hold
// it for a moment; a move, replace, delete or open of a game file that meets
// such a holder fails with a sharing or lock violation, or access denied.
// Those calls are retried briefly before the install gives up on them.
#include <functional>

// True for the errors a brief holder of a file causes.
bool held_by_another_program(unsigned long error);

// Calls `call` until it succeeds, or fails for another reason than a holder,
// or about two seconds have passed (pauses growing from 10 ms to 500 ms).
// Returns the last result; GetLastError() is the last call's error.
bool retry_while_held(const std::function<bool()>& call);
