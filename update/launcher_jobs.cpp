#include "update/launcher_jobs.h"

#include "update/planning_rules.h"

#include <unordered_set>

std::vector<PieceJob> launcher_piece_jobs(const ManifestFile& launcher, int64_t piece_size)
{
    std::vector<PieceJob> jobs;
    std::unordered_set<std::string> listed;
    for (size_t k = 0; k < launcher.pieces.size(); ++k) {
        const PieceRef& piece = launcher.pieces[k];
        if (!listed.insert(piece.id).second) continue;
        jobs.push_back({piece.id, piece.transfer_size, piece_raw_size(launcher.size, k, piece_size),
                        piece.stored});
    }
    return jobs;
}
