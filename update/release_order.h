#pragma once
// Release order: a signature proves who published a manifest, not when. Each
// manifest the publisher signs carries a serial one higher than the last, and
// the launcher keeps a mark of the newest release it accepted. Whoever
// controls the network (or a mirror) could otherwise serve an old signed
// release with a known flaw, or the same old one for ever so that no fix
// arrives.
//
// The mark lives in the install state (InstallState::release, written with
// the state file by one atomic write) and is handled only here:
//   - read:  installed_release_mark (update/saved_manifest.h; installs from
//            before the state kept it fall back on the saved manifest);
//   - raise: raise_release_mark, as soon as a release is accepted (the driver
//            writes it before anything is fetched) and again by
//            record_release when the release is committed or found installed;
//   - lower: lower_release_mark, only on an explicit decision.
// A lost or damaged saved manifest never resets it.
#include "formats/install_state.h"

#include <cstdint>
#include <string>

struct Manifest;

// A release as the order check sees it: the manifest's serial (when it has
// one) and the digest of its signed bytes.
ReleaseMark release_mark(const Manifest& manifest, std::string manifest_sha256);

enum class ReleaseOrder {
    acceptable,       // newer, the installed release itself, or nothing numbered installed yet
    older,            // a lower serial than the installed one
    unnumbered,       // no serial, but the installed release has one
    same_serial_other_bytes,   // one serial cannot name two releases
};

// Whether a verified manifest may be installed over `installed`. An install
// that has never seen a serial takes anything, so servers that publish
// without one keep working.
ReleaseOrder judge_release_order(const ReleaseMark& installed, const ReleaseMark& offered);

// "the server offered an older release (serial N, installed M) -- kept the
// installed game"; N reads "none" for a manifest without a serial.
std::string older_release_line(const ReleaseMark& installed, const ReleaseMark& offered);

// Raises the state's mark to `accepted` when that is newer: a higher serial,
// the first serial, or the first mark of a state that had none. Never lowers
// it. True when the mark changed (the state file then needs writing).
bool raise_release_mark(InstallState& state, const ReleaseMark& accepted);

// Sets the mark to `mark` whatever it was: only for an explicit decision to
// go back (a signed record saying so), never because something could not be
// read. The caller logs the decision.
void lower_release_mark(InstallState& state, const ReleaseMark& mark);

// The one copy of an accepted release into the state, used by the commit and
// by a run that finds the release installed: its version, executable and
// arguments, and the mark raised.
void record_release(InstallState& state, const Manifest& manifest, const ReleaseMark& accepted);
