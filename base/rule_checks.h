#pragma once
// The rules an update lives by, checked where a check is cheap, as the owner
// table checks the handles: a journal on disk means "old" is not emptied; a
// stale file counts as staged only when every one of its pieces is; the
// state vouches only for bytes on disk.
//
// The test builds log a broken rule, print it on standard error and end the
// process with exit code 72, so that a test that breaks one fails where it
// happens; the shipped launcher carries on (base/test_hooks_off.cpp).

void rule_broken(const char* rule);

// True in the test builds. A rule whose check costs more than a comparison
// (a look at the disk per file) is checked only where this says so.
bool rule_checks_on();

inline void check_rule(bool holds, const char* rule)
{
    if (!holds) rule_broken(rule);
}
