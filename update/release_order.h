#pragma once
// Release order: a signature proves who published a manifest, not when. Each
// manifest the publisher signs carries a serial one higher than the last, and
// the launcher keeps the manifest it installed. Whoever controls the network
// (or a mirror) could otherwise serve an old signed release with a known flaw,
// or the same old one for ever so that no fix arrives.
#include <cstdint>
#include <string>

struct Manifest;

// One release as the order check sees it: its serial (when it has one) and
// the exact bytes of its signed manifest.
struct ReleaseMark {
    bool has_serial = false;
    int64_t serial = 0;
    std::string manifest_bytes;
};

ReleaseMark release_mark(const Manifest& manifest, std::string manifest_bytes);

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
