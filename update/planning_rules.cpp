#include "update/planning_rules.h"

#include "base/checked_arithmetic.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

namespace {

bool starts_with(const std::string& s, const char* prefix)
{
    return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

}  // namespace

bool is_cache_path(const std::string& path)
{
    return starts_with(path, ".shadercache/") || starts_with(path, "__pycache__/") ||
           path.find("/__pycache__/") != std::string::npos;
}

std::string format_size(int64_t bytes)
{
    char text[64];
    if (bytes < 1073741824LL)
        std::snprintf(text, sizeof text, "%.0f MB", static_cast<double>(bytes) / 1048576.0);
    else
        std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(bytes) / 1073741824.0);
    return text;
}

int64_t piece_raw_size(int64_t file_size, size_t k, int64_t piece_size)
{
    int64_t offset = 0;
    if (__builtin_mul_overflow(static_cast<int64_t>(k), piece_size, &offset))
        return -1;
    int64_t rest = 0;
    if (__builtin_sub_overflow(file_size, offset, &rest)) return -1;
    return std::min(rest, piece_size);
}

std::vector<PieceJob> build_piece_jobs(const std::vector<StaleFile>& files, int64_t piece_size)
{
    std::vector<PieceJob> jobs;
    std::unordered_set<std::string> seen;
    for (const StaleFile& stale : files) {
        const ManifestFile* file = stale.file;
        for (size_t k = 0; k < file->pieces.size(); ++k) {
            const PieceRef& piece = file->pieces[k];
            if (!seen.insert(piece.id).second) continue;
            jobs.push_back({piece.id, piece.transfer_size,
                            piece_raw_size(file->size, k, piece_size), piece.stored});
        }
    }
    std::stable_sort(jobs.begin(), jobs.end(), [](const PieceJob& a, const PieceJob& b) {
        return a.transfer_size > b.transfer_size;
    });
    return jobs;
}

int64_t download_total(const std::vector<PieceJob>& jobs)
{
    int64_t total = 0;
    for (const PieceJob& job : jobs) total = saturating_add(total, job.transfer_size);
    return total;
}

int64_t disk_space_needed(const UpdatePlan& plan)
{
    int64_t files = 0;
    for (const StaleFile& stale : plan.stale_files) files = saturating_add(files, stale.file->size);
    return saturating_add(plan.download_total, saturating_add(files, files));
}

std::vector<std::string> removable_paths(const InstallState& state, const Manifest& manifest)
{
    std::unordered_set<std::string> listed;
    for (const ManifestFile& file : manifest.files) listed.insert(file.path);
    std::vector<std::string> paths;
    for (const auto& entry : state.files)
        if (!listed.count(entry.first) && !is_cache_path(entry.first))
            paths.push_back(entry.first);
    return paths;
}

FileVerdict judge_file(const ManifestFile& file, const DiskFacts& disk,
                       const InstalledFile* record)
{
    if (is_cache_path(file.path)) return disk.present ? FileVerdict::UpToDate : FileVerdict::Stale;
    if (!disk.present || disk.size != file.size) return FileVerdict::Stale;
    if (record && record->size == disk.size && record->write_time == disk.write_time)
        return record->hash == file.hash ? FileVerdict::UpToDate : FileVerdict::Stale;
    return FileVerdict::NeedsHash;
}
