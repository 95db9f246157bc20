#pragma once
// The comparison step of update planning (the comparing phase): which manifest files the
// install folder already holds. A file's record in the install state stands
// in for its hash when size and write time still match; every other present
// file of the right size is hashed, on all cores, one thread per file, each
// byte read once. With `verify` no record is trusted and every present file
// is hashed, and the log gets a summary of what is damaged or missing.
//
// During the step the update status counts bytes hashed of the bytes to hash
// (0 of 0 while nothing needs hashing).
#include "formats/install_state.h"
#include "formats/manifest.h"
#include "update/update_folder.h"
#include "update/update_plan.h"

// Fills plan.stale_files (manifest order) and plan.hashed_count, and refreshes
// the records of files found equal by hashing. False, with no record changed,
// when a stop was requested part-way.
bool compare_installed_files(const InstallFolder& folder, const Manifest& manifest, InstallState& state,
                             UpdatePlan& plan, bool verify = false);

// A verify run without the server's manifest: the installed files are checked
// against the manifest kept from the last install, when its signature still
// verifies, and the log says what is damaged or missing. Nothing is written,
// moved or deleted, and `state` is only read: repairs need a manifest fresh
// from the server.
void verify_against_saved_manifest(const InstallFolder& folder, const InstallState& state);
