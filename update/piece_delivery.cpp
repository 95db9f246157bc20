#include "update/piece_delivery.h"

#include "update/planning_rules.h"

#include <string>
#include <unordered_map>

bool is_one_piece_file(const ManifestFile& file, int64_t piece_size)
{
    return file.pieces.size() == 1 && file.pieces.front().id == file.hash &&
           piece_raw_size(file.size, 0, piece_size) == file.size;
}

std::vector<PieceDelivery> plan_piece_delivery(const std::vector<StaleFile>& stale_files,
                                               const std::vector<PieceJob>& jobs, int64_t piece_size)
{
    std::vector<PieceDelivery> out(jobs.size());
    std::unordered_map<std::string, size_t> job_of;
    for (size_t j = 0; j < jobs.size(); ++j) job_of.emplace(jobs[j].id, j);
    for (size_t i = 0; i < stale_files.size(); ++i) {
        const ManifestFile& file = *stale_files[i].file;
        const bool whole = is_one_piece_file(file, piece_size);
        for (size_t k = 0; k < file.pieces.size(); ++k) {
            auto found = job_of.find(file.pieces[k].id);
            if (found == job_of.end()) continue;   // not downloaded (reused from the installed files)
            PieceDelivery& delivery = out[found->second];
            const int64_t length = piece_raw_size(file.size, k, piece_size);
            if (length != jobs[found->second].raw_size || length < 0) {
                delivery.to_cache = true;
                continue;
            }
            delivery.targets.push_back({i, k, static_cast<int64_t>(k) * piece_size, whole});
        }
    }
    for (PieceDelivery& delivery : out)
        if (delivery.targets.empty()) delivery.to_cache = true;
    return out;
}
