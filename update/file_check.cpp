#include "update/file_check.h"

#include "base/log.h"
#include "base/parallel_for.h"
#include "base/update_status.h"
#include "base/whole_file.h"
#include "crypto/sha256.h"
#include "update/held_file.h"
#include "update/planning_rules.h"
#include "update/saved_manifest.h"
#include "update/verify_report.h"

#include <windows.h>

#include <algorithm>
#include <thread>

namespace {

// More threads than this only queue on the disk.
constexpr unsigned MAX_HASH_THREADS = 8;

DiskFacts read_disk_facts(const InstallFolder& folder, const std::string& path)
{
    DiskFacts facts;
    if (!file_size_and_time(folder.place_of(path), facts.size, facts.write_time)) return facts;
    facts.present = facts.write_time != 0;
    return facts;
}

// One manifest file as the comparison sees it.
struct CheckedFile {
    const ManifestFile* file = nullptr;
    DiskFacts disk;
    FileVerdict verdict = FileVerdict::Stale;
    bool hashed = false;     // sha256_file succeeded
    std::string digest;

    bool matched_by_hash() const
    {
        return verdict == FileVerdict::NeedsHash && hashed && digest == file->hash;
    }
    bool up_to_date() const { return verdict == FileVerdict::UpToDate || matched_by_hash(); }
};

// Hashes the files at `order` (indices into files) on up to one thread per
// core, largest first so that the last file to finish is a small one. Each
// slot is written by the one thread that took it and read after the join.
void hash_files(const InstallFolder& folder, std::vector<CheckedFile>& files, std::vector<size_t> order)
{
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return files[a].disk.size > files[b].disk.size;
    });
    const unsigned cores = std::max(1u, std::min(std::thread::hardware_concurrency(), MAX_HASH_THREADS));
    for_each_index(order.size(), cores, [&](size_t i) {
        if (update_status.stop_requested.load()) return false;
        CheckedFile& f = files[order[i]];
        // A file a scanner holds for a moment is waited for rather than
        // taken for out of date and fetched again.
        f.hashed = retry_while_held([&] {
            return sha256_file(folder.place_of(f.file->path), f.digest, &update_status.stop_requested,
                               &update_status.bytes_done);
        });
        return true;
    });
}

void log_verify_summary(const std::vector<CheckedFile>& files, const InstallState& state)
{
    std::vector<VerifyFinding> findings;
    for (const CheckedFile& f : files) {
        if (f.up_to_date()) continue;
        auto record = state.files.find(f.file->path);
        findings.push_back({f.file->path,
                            classify_stale_file(*f.file, f.disk,
                                                record == state.files.end() ? nullptr : &record->second,
                                                f.hashed ? f.digest : std::string())});
    }
    for (const std::string& line : verify_summary_lines(files.size(), findings))
        log_line("%s", line.c_str());
}

}  // namespace

bool compare_installed_files(const InstallFolder& folder, const Manifest& manifest, InstallState& state,
                             UpdatePlan& plan, bool verify)
{
    set_status(PHASE_COMPARING, "checking the installed files", false);
    update_status.bytes_done.exchange(0);
    update_status.bytes_total.exchange(0);

    std::vector<CheckedFile> files(manifest.files.size());
    std::vector<size_t> to_hash;
    int64_t bytes_to_hash = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        if (update_status.stop_requested.load()) return false;
        CheckedFile& f = files[i];
        f.file = &manifest.files[i];
        f.disk = read_disk_facts(folder, f.file->path);
        auto record = state.files.find(f.file->path);
        const InstalledFile* trusted =
            verify || record == state.files.end() ? nullptr : &record->second;
        f.verdict = judge_file(*f.file, f.disk, trusted);
        if (f.verdict == FileVerdict::NeedsHash) {
            to_hash.push_back(i);
            bytes_to_hash += f.disk.size;
        }
    }
    update_status.bytes_total.exchange(bytes_to_hash);
    hash_files(folder, files, to_hash);
    if (update_status.stop_requested.load()) return false;

    if (verify) log_verify_summary(files, state);
    plan.hashed_count += static_cast<int>(to_hash.size());
    for (const CheckedFile& f : files) {
        // A file found equal gets a record that lets the next run skip it. Its
        // size and time were read before hashing, so a change made while it
        // was read shows as a new time next run.
        if (f.matched_by_hash())
            state.files[f.file->path] = InstalledFile{f.disk.size, f.disk.write_time, f.digest};
        if (!f.up_to_date()) plan.stale_files.emplace_back(f.file);
    }
    return true;
}

void verify_against_saved_manifest(const InstallFolder& folder, const InstallState& state)
{
    Manifest saved;
    if (!load_saved_manifest(folder.root(), saved)) {
        log_line("verify: no signed manifest kept from an earlier install -- nothing to check against");
        return;
    }
    log_line("verify: offline -- checking against the saved manifest of %s", saved.version.c_str());
    InstallState scratch = state;   // refreshed records would reach no disk anyway
    UpdatePlan plan;
    compare_installed_files(folder, saved, scratch, plan, true);
}
