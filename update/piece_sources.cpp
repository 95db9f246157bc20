#include "update/piece_sources.h"

#include "update/planning_rules.h"

std::unordered_map<std::string, std::vector<PieceSource>>
find_piece_sources(const Manifest& saved, const InstallState& state, const std::vector<PieceJob>& jobs)
{
    std::unordered_map<std::string, int64_t> wanted;   // id -> raw_size
    for (const PieceJob& job : jobs) wanted.emplace(job.id, job.raw_size);

    std::unordered_map<std::string, std::vector<PieceSource>> sources;
    if (wanted.empty() || saved.piece_size <= 0) return sources;
    for (const ManifestFile& file : saved.files) {
        if (is_cache_path(file.path)) continue;
        auto record = state.files.find(file.path);
        if (record == state.files.end() || record->second.hash != file.hash ||
            record->second.size != file.size)
            continue;
        for (size_t k = 0; k < file.pieces.size(); ++k) {
            auto job = wanted.find(file.pieces[k].id);
            if (job == wanted.end()) continue;
            const int64_t size = piece_raw_size(file.size, k, saved.piece_size);
            if (size < 0 || size != job->second) continue;
            sources[job->first].push_back({file.path, static_cast<int64_t>(k) * saved.piece_size});
        }
    }
    return sources;
}
