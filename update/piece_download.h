#pragma once
// Fetching pieces into the piece cache (.twupdate\pieces\<id>) with twelve
// threads. A verified cached copy is used as is, so an interrupted download
// resumes where it stopped; everything fetched is decompressed (unless
// stored), checked for its exact length and SHA-256 and only then cached.
#include "update/update_plan.h"

#include <vector>

class HttpClient;

constexpr int PIECE_THREADS = 12;

// Runs the twelve piece threads over jobs and joins them. True when no piece
// failed and no stop was requested. Adds to bytes_done only.
bool download_pieces(HttpClient& client, const std::vector<PieceJob>& jobs);

// The download step of an update: phase 3 with the download size, then
// download_pieces; on failure phase 8 ("stopped" or the connection text).
bool download_update(HttpClient& client, const UpdatePlan& plan);
