#include "update/piece_reuse.h"

#include "base/file_calls.h"
#include "base/log.h"
#include "base/update_status.h"
#include "base/whole_file.h"
#include "base/win_handles.h"
#include "crypto/sha256.h"
#include "update/piece_cache.h"
#include "update/piece_sources.h"
#include "update/saved_manifest.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <system_error>
#include <thread>
#include <unordered_set>

namespace {

// Reading is quick; the hashing of each piece is what the threads share out.
constexpr unsigned MAX_READERS = 4;

struct Candidate {
    const PieceJob* job;
    std::vector<PieceSource> sources;
};

bool read_at(const std::wstring& path, int64_t offset, size_t size, std::string& data)
{
    FileHandle file(file_calls::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    data.resize(size);
    return ::read_at(file.get(), offset, data.data(), size);
}

// The pieces worth reading: a place per piece in a file whose size on disk is
// still the recorded one (a file of another size cannot hold them), and no
// copy of the piece in the cache yet.
std::vector<Candidate> list_candidates(const InstallFolder& folder, const Manifest& saved, const InstallState& state,
                                       const std::vector<PieceJob>& jobs)
{
    auto sources = find_piece_sources(saved, state, jobs);
    std::map<std::string, bool> usable;   // path -> size on disk as recorded
    std::vector<Candidate> out;
    for (const PieceJob& job : jobs) {
        auto found = sources.find(job.id);
        if (found == sources.end()) continue;
        if (cached_piece_size(folder, job.id) == job.raw_size) continue;
        Candidate c{&job, {}};
        for (PieceSource& source : found->second) {
            auto known = usable.find(source.path);
            if (known == usable.end())
                known = usable.emplace(source.path,
                                       file_size_of(folder.place_of(source.path)) == state.files.at(source.path).size)
                            .first;
            if (known->second) c.sources.push_back(std::move(source));
        }
        if (!c.sources.empty()) out.push_back(std::move(c));
    }
    return out;
}

struct SharedReuse {
    const InstallFolder& folder;
    const std::vector<Candidate>& candidates;
    std::vector<char> copied;   // one flag per candidate, each written by one thread
    std::atomic<size_t> next{0};
    std::atomic<size_t> refused{0};
    std::atomic<bool> cache_full{false};   // a write failed: the rest is left to the download
};

// Copies one piece into the cache from the first of its places whose bytes
// are the piece. True when copied.
bool copy_piece(const Candidate& c, std::string& buffer, SharedReuse& shared)
{
    const PieceJob& job = *c.job;
    const InstallFolder& folder = shared.folder;
    for (const PieceSource& source : c.sources) {
        if (!read_at(folder.place_of(source.path), source.offset, static_cast<size_t>(job.raw_size), buffer) ||
            sha256_bytes(buffer.data(), buffer.size()) != job.id) {
            shared.refused.fetch_add(1);
            continue;
        }
        if (store_piece(folder, job.id, buffer.data(), buffer.size())) return true;
        // Left to the download, which reports a disk that is full.
        if (!shared.cache_full.exchange(true))
            log_line("could not write piece %s to the cache (error %lu)", job.id.c_str(), GetLastError());
        return false;
    }
    return false;
}

void reuse_worker(SharedReuse& shared)
{
    std::string buffer;
    for (size_t i; (i = shared.next.fetch_add(1)) < shared.candidates.size();) {
        if (update_status.stop_requested.load()) return;
        const Candidate& c = shared.candidates[i];
        try {
            if (!shared.cache_full.load()) shared.copied[i] = copy_piece(c, buffer, shared);
        } catch (const std::bad_alloc&) {   // left to the download
        }
        update_status.bytes_done.fetch_add(c.job->raw_size);
    }
}

}  // namespace

bool reuse_installed_pieces(const InstallFolder& folder, const InstallState& state, UpdatePlan& plan, ReuseCount& count)
{
    Manifest saved;
    if (plan.jobs.empty() || !load_saved_manifest(folder.root(), saved)) return true;
    const std::vector<Candidate> candidates = list_candidates(folder, saved, state, plan.jobs);
    if (candidates.empty()) return true;

    int64_t total = 0;
    for (const Candidate& c : candidates) total += c.job->raw_size;
    update_status.bytes_done.exchange(0);
    update_status.bytes_total.exchange(total);

    SharedReuse shared{folder, candidates, std::vector<char>(candidates.size(), 0)};
    std::vector<std::thread> threads;
    const size_t readers = std::min<size_t>(MAX_READERS, candidates.size());
    for (size_t t = 1; t < readers; ++t) {
        try {
            threads.emplace_back(reuse_worker, std::ref(shared));
        } catch (const std::system_error&) {
            break;   // fewer readers are only slower
        }
    }
    reuse_worker(shared);
    for (std::thread& t : threads) t.join();
    if (update_status.stop_requested.load()) return false;

    std::unordered_set<std::string> copied;
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (!shared.copied[i]) continue;
        copied.insert(candidates[i].job->id);
        count.pieces += 1;
        count.bytes += candidates[i].job->raw_size;
    }
    count.refused = shared.refused.load();
    std::erase_if(plan.jobs, [&](const PieceJob& job) { return copied.count(job.id) != 0; });
    return true;
}
