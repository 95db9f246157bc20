#pragma once
// Fetching pieces with twelve threads, into the piece cache
// (.twupdate\pieces\<id>) or straight into the stage. A verified copy left
// in either place is used as is, so an interrupted download resumes where it
// stopped; everything fetched is decompressed (unless stored), checked for
// its exact length and SHA-256 and only then written.
#include "update/update_folder.h"
#include "update/update_plan.h"

#include <vector>

class MirrorList;
struct UpdateRun;

constexpr int PIECE_THREADS = 12;

// Runs the twelve piece threads over jobs and joins them. True when no piece
// failed and no stop was requested. Adds to bytes_done only.
bool download_pieces(const InstallFolder& folder, MirrorList& mirrors, const std::vector<PieceJob>& jobs);

// The download step of an update: the downloading phase with the download
// size, then the twelve threads, which write each verified piece straight
// into the stage copies of the files that use it (see update/piece_delivery.h)
// and into the cache only for other uses; what they staged is noted in the
// stale files' records (run.plan.stale_files). On failure the failed phase
// ("stopped", the connection text, or "could not write to the install
// folder").
bool download_update(UpdateRun& run);
