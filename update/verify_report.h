#pragma once
// What a verify run (--verify) tells the player about the installed files:
// which out-of-date files are damaged or missing, as opposed to merely due an
// update, and the summary lines for the log. Plain values in, plain text out.
#include "formats/install_state.h"
#include "formats/manifest.h"
#include "update/planning_rules.h"

#include <cstddef>
#include <string>
#include <vector>

// Paths named one by one in the summary; the rest are counted.
constexpr size_t VERIFY_LISTED_PATHS = 20;

enum class FileDamage {
    None,      // not damage: a cache file the game rebuilds, or a file due an update
    Missing,   // not on disk
    Damaged,   // on disk, but not the bytes that were installed
};

// Why an out-of-date file is out of date. `digest` is the file's hash when
// it was hashed, else empty. A record naming another hash than the manifest
// means an older release was installed there: that is an update, not damage,
// as long as the disk still holds those recorded bytes. Without a record
// nothing vouches for the file, so different bytes count as damage.
FileDamage classify_stale_file(const ManifestFile& file, const DiskFacts& disk,
                               const InstalledFile* record, const std::string& digest);

struct VerifyFinding {
    std::string path;
    FileDamage damage = FileDamage::None;
};

// "verify: all N files intact", or "verify: N files checked, M damaged or
// missing", one line per path ("verify: damaged P", "verify: missing P") up to
// VERIFY_LISTED_PATHS, then "verify: and K more". Findings of kind None are
// left out.
std::vector<std::string> verify_summary_lines(size_t checked,
                                              const std::vector<VerifyFinding>& findings);
