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

// For large pieces (RAMP_PIECE_BYTES or more on the wire) the connections
// open one after another, CONNECTION_RAMP_MS apart: twelve large bodies begun
// at once on a fast link share the cores until they all end together, the
// decoding idle meanwhile and the splash short of time; opened in turn, the
// first pieces decode while the next come in. All twelve are open within
// 1.4 s; for small pieces at once.
constexpr unsigned CONNECTION_RAMP_MS = 125;
constexpr int64_t RAMP_PIECE_BYTES = 1 << 20;

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
