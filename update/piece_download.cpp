#include "update/piece_download.h"

#include "base/checked_arithmetic.h"
#include "base/file_calls.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/update_status.h"
#include "base/whole_file.h"
#include "base/win_handles.h"
#include "base/work_slots.h"
#include "crypto/sha256.h"
#include "formats/piece_codec.h"
#include "base/thread_priority.h"
#include "net/mirror_list.h"
#include "net/server_paths.h"
#include "update/piece_cache.h"
#include "update/piece_delivery.h"
#include "update/planning_rules.h"
#include "update/update_run.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_set>

namespace {

// Where the stage copies of the stale files are, and what the threads found
// or wrote there. Each (file, piece) place belongs to one job, so each entry
// is written by one thread only.
struct StageTargets {
    std::vector<StaleFile>* files = nullptr;   // null: nothing is delivered to the stage

    void mark(const PieceTarget& t, StageState whole_state) const
    {
        StaleFile& stale = (*files)[t.file];
        stale.pieces_staged[t.piece] = 1;
        if (t.whole) stale.stage = whole_state;
    }
    bool marked(const PieceTarget& t) const { return (*files)[t.file].pieces_staged[t.piece] != 0; }
    std::wstring path_of(const InstallFolder& folder, const PieceTarget& t) const
    {
        std::wstring path = folder.stage_path_of((*files)[t.file].file->path);
        return t.whole ? path : path + L".part";
    }
};

struct SharedDownload {
    const InstallFolder& folder;
    MirrorList& mirrors;
    const std::vector<PieceJob>& jobs;
    const std::vector<PieceDelivery>& deliveries;   // one per job
    StageTargets stage;
    bool leftovers;                                 // an earlier run left an update folder to look in
    std::atomic<uint64_t> next_index{0};
    std::atomic<bool> failed{false};
    std::atomic<bool> write_failed{false};   // the failure was the disk's, not the network's
    // Decoding and checking a piece takes a core: as many at once as there
    // are cores, whatever the number of connections.
    WorkSlots decoding{static_cast<int>(std::thread::hardware_concurrency())};
};

// One thread's buffers, kept across its pieces so that a thread holds at most
// one body and one decoded piece at any time.
struct WorkerBuffers {
    std::string body;
    std::string output;
};

enum class PieceOutcome { Cached, Failed, NotWritten };

bool cached_copy_is_good(const InstallFolder& folder, const PieceJob& job)
{
    if (cached_piece_size(folder, job.id) != job.raw_size) return false;
    std::string digest;
    return sha256_file(folder.piece_cache_path(job.id), digest) && digest == job.id;
}

// True when a stage copy left by an earlier run already holds the piece.
bool target_holds(const InstallFolder& folder, const PieceJob& job, const StageTargets& stage,
                  const PieceTarget& target, WorkerBuffers& buffers)
{
    const std::wstring path = stage.path_of(folder, target);
    const int64_t size = file_size_of(path);
    if (target.whole) {
        std::string digest;
        return size == job.raw_size && sha256_file(path, digest) && digest == job.id;
    }
    if (size < target.offset + job.raw_size) return false;
    FileHandle file(file_calls::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    buffers.output.resize(static_cast<size_t>(job.raw_size));
    return file && read_at(file.get(), target.offset, buffers.output.data(), buffers.output.size()) &&
           sha256_bytes(buffers.output.data(), buffers.output.size()) == job.id;
}

// True when nothing needs fetching: every place of the piece holds it from
// an earlier run, or the cache does (the assembly then copies it to the
// places still without it).
bool already_there(const InstallFolder& folder, const PieceJob& job, const PieceDelivery& delivery,
                   const StageTargets& stage, WorkerBuffers& buffers)
{
    bool every_target = true;
    for (const PieceTarget& target : delivery.targets) {
        if (target_holds(folder, job, stage, target, buffers)) stage.mark(target, StageState::Staged);
        else every_target = false;
    }
    if (every_target && !delivery.to_cache) return true;
    return cached_copy_is_good(folder, job);
}

// Writes the verified piece into the ".part" of a file of several pieces,
// at its offset; other threads write the other pieces of the same file.
bool write_into_part(const std::wstring& part, int64_t offset, const std::string& raw)
{
    auto open = [&] {
        return FileHandle(file_calls::CreateFileW(part.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    FileHandle file = open();
    if (!file && GetLastError() == ERROR_PATH_NOT_FOUND) {
        create_folders(parent_folder(part));
        file = open();
    }
    return file && write_at(file.get(), offset, raw.data(), raw.size());
}

// Puts the verified piece everywhere it is used. A file that is exactly this
// piece is written whole and forced to the disk at once, by this thread, so
// that the install step has nothing left to flush for it.
bool deliver(const InstallFolder& folder, const PieceJob& job, const PieceDelivery& delivery, const StageTargets& stage,
             const std::string& raw)
{
    if (delivery.to_cache && !store_piece(folder, job.id, raw.data(), raw.size())) return false;
    for (const PieceTarget& target : delivery.targets) {
        if (stage.marked(target)) continue;
        const std::wstring path = stage.path_of(folder, target);
        bool written = target.whole ? write_new_file(path, raw.data(), raw.size(), true)
                                    : write_into_part(path, target.offset, raw);
        if (!written) {
            log_line("could not write %s to the stage (error %lu)", (*stage.files)[target.file].file->path.c_str(),
                     GetLastError());
            return false;
        }
        stage.mark(target, StageState::StagedOnDisk);
    }
    return true;
}

// The most bytes a sound body of this piece can have: a stored piece is its
// raw bytes; a compressed one at worst its raw bytes in stored chunks plus the
// framing. The manifest's transfer size is allowed too. A server that sends
// more is cut off, so a hostile body cannot exhaust memory. raw_size is not
// negative here; a huge one saturates instead of wrapping round to a small cap.
size_t body_limit(const PieceJob& job)
{
    const int64_t limit = job.stored ? job.raw_size
                                     : std::max(job.transfer_size,
                                                saturating_add(job.raw_size, job.raw_size / 8 + 65536));
    return static_cast<uint64_t>(limit) > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(limit);
}

// Fetches one piece into buffers.body. Bytes are added to bytes_done as they
// arrive and taken back afterwards, whatever the outcome; the piece counts
// its transfer_size once it is cached.
bool fetch_piece(HttpClient& client, const PieceJob& job, WorkerBuffers& buffers, int& status,
                 HttpTrouble& trouble)
{
    int64_t counted = 0;
    auto progress = [&](size_t n) {
        counted += static_cast<int64_t>(n);
        update_status.bytes_done.fetch_add(static_cast<int64_t>(n));
    };
    bool ok = client.get(piece_request_path(job.id), buffers.body, progress, &update_status.stop_requested,
                         &status, body_limit(job), &trouble);
    update_status.bytes_done.fetch_sub(counted);
    return ok;
}

// Turns the fetched body into the piece's raw bytes and checks them.
// Returns the verified bytes, or null with the reason in `problem`.
const std::string* decode_and_verify(const PieceJob& job, WorkerBuffers& buffers, std::string& problem)
{
    const std::string* raw = &buffers.body;
    if (!job.stored) {
        buffers.output.resize(static_cast<size_t>(job.raw_size));
        PieceDecodeError reason = PieceDecodeError::none;
        if (!decompress_piece(reinterpret_cast<const uint8_t*>(buffers.body.data()),
                              buffers.body.size(),
                              reinterpret_cast<uint8_t*>(buffers.output.data()),
                              buffers.output.size(), &reason)) {
            problem = std::string("did not decode (") + piece_decode_error_text(reason) + ")";
            return nullptr;
        }
        raw = &buffers.output;
    }
    problem = "its bytes did not match the piece";
    if (static_cast<int64_t>(raw->size()) != job.raw_size) return nullptr;
    if (sha256_bytes(raw->data(), raw->size()) != job.id) return nullptr;
    return raw;
}

// Fetches the piece from the mirror in use, then from the other mirrors in
// turn, until one delivers bytes that verify; returns them, or null. status
// is the last HTTP status received (0 when no server answered).
const std::string* fetch_verified(SharedDownload& shared, const PieceJob& job, WorkerBuffers& buffers, int& status)
{
    MirrorList& mirrors = shared.mirrors;
    for (size_t mirror : mirrors.order()) {
        if (update_status.stop_requested.load()) return nullptr;
        HttpTrouble trouble;
        if (!fetch_piece(mirrors.client(mirror), job, buffers, status, trouble)) {
            if (!update_status.stop_requested.load()) mirrors.note_trouble(mirror, "piece " + job.id, trouble);
            continue;
        }
        std::string problem;
        const std::string* raw = [&] {
            WorkSlots::Held slot(shared.decoding);
            return decode_and_verify(job, buffers, problem);
        }();
        if (raw) return raw;
        mirrors.note_trouble(mirror, "piece " + job.id, HttpTrouble{false, problem});
        // A decoding failure has its own line, just before the next mirror's
        // attempt or the piece's failure line.
        if (problem.rfind("did not decode", 0) == 0) log_line("piece %s: %s", job.id.c_str(), problem.c_str());
    }
    return nullptr;
}

// Fetches, decodes, verifies and caches one piece. status is the last HTTP
// status received (0 when the server never answered). The cache file is not
// forced to the disk: every use of a cached piece checks its hash first.
PieceOutcome fetch_and_deliver(SharedDownload& shared, size_t index, WorkerBuffers& buffers, int& status)
{
    const PieceJob& job = shared.jobs[index];
    status = 0;
    if (job.raw_size < 0) return PieceOutcome::Failed;   // more pieces than the file's size can fill
    try {
        const std::string* raw = fetch_verified(shared, job, buffers, status);
        if (!raw) return PieceOutcome::Failed;
        const PieceDelivery& delivery = shared.deliveries[index];
        if (deliver(shared.folder, job, delivery, shared.stage, *raw)) return PieceOutcome::Cached;
        if (delivery.to_cache && delivery.targets.empty())
            log_line("could not write piece %s to the cache (error %lu)", job.id.c_str(), GetLastError());
        return PieceOutcome::NotWritten;
    } catch (const std::bad_alloc&) {   // a raw size no buffer can hold
        return PieceOutcome::Failed;
    } catch (const std::length_error&) {
        return PieceOutcome::Failed;
    }
}

void piece_worker(SharedDownload& shared)
{
    BelowNormalPriority background;
    WorkerBuffers buffers;
    for (;;) {
        if (shared.failed.load() || update_status.stop_requested.load()) return;
        uint64_t i = shared.next_index.fetch_add(1);
        if (i >= shared.jobs.size()) return;
        const PieceJob& job = shared.jobs[i];
        if (shared.leftovers && already_there(shared.folder, job, shared.deliveries[i], shared.stage, buffers)) {
            update_status.bytes_done.fetch_add(job.transfer_size);
            continue;
        }
        int status = 0;
        PieceOutcome outcome = fetch_and_deliver(shared, i, buffers, status);
        if (outcome == PieceOutcome::Cached) {
            update_status.bytes_done.fetch_add(job.transfer_size);
            continue;
        }
        log_line("piece %s: failed (http %d)", job.id.c_str(), status);
        if (outcome == PieceOutcome::NotWritten) shared.write_failed.exchange(true);
        shared.failed.exchange(true);
        return;
    }
}

// Two jobs with one id would have two threads writing one cache file; the
// game's jobs are merged already, the launcher's are not, so merge here too.
std::vector<PieceJob> distinct_jobs(const std::vector<PieceJob>& jobs)
{
    std::vector<PieceJob> out;
    std::unordered_set<std::string> seen;
    for (const PieceJob& job : jobs)
        if (seen.insert(job.id).second) out.push_back(job);
    return out;
}

// Before the next connection opens: true at once when the next piece is
// small, else once the ramp's time has passed; false when no piece is left
// to start on (or the download failed or was stopped), so none need opening.
bool ramp_up_wait(const SharedDownload& shared)
{
    const ULONGLONG until = GetTickCount64() + CONNECTION_RAMP_MS;
    for (;;) {
        const uint64_t next = shared.next_index.load();
        if (next >= shared.jobs.size() || shared.failed.load() || update_status.stop_requested.load()) return false;
        if (shared.jobs[next].transfer_size < RAMP_PIECE_BYTES || GetTickCount64() >= until) return true;
        Sleep(2);
    }
}

// Runs the twelve threads over jobs (distinct ids); false as download_pieces,
// and write_failed set when a piece failed because it could not be written.
bool run_piece_threads(const InstallFolder& folder, MirrorList& mirrors, const std::vector<PieceJob>& jobs,
                       const std::vector<PieceDelivery>& deliveries, const StageTargets& stage, bool& write_failed)
{
    // Without an update folder there is nothing to look for before fetching:
    // a first install skips two lookups per piece.
    const bool leftovers = file_calls::GetFileAttributesW(folder.update_folder().c_str()) != INVALID_FILE_ATTRIBUTES;
    create_folders(folder.pieces_folder());   // a failure shows when the pieces are written
    SharedDownload shared{folder, mirrors, jobs, deliveries, stage, leftovers};
    const std::string source = mirrors.in_use_name();
    set_download_source(source);
    log_line("downloading %zu pieces from mirror %s", jobs.size(), source.c_str());
    std::vector<std::thread> threads;
    threads.reserve(PIECE_THREADS);
    for (int i = 0; i < PIECE_THREADS; ++i) {
        if (i > 0 && !ramp_up_wait(shared)) break;
        try {
            threads.emplace_back(piece_worker, std::ref(shared));
        } catch (const std::system_error&) {
            // The twelve are required; without them the download fails and
            // the threads already running stop after their current piece.
            log_line("could not start a download thread");
            shared.failed.exchange(true);
            break;
        }
    }
    for (std::thread& t : threads) t.join();
    write_failed = shared.write_failed.load();
    return !shared.failed.load() && !update_status.stop_requested.load();
}

// A complete stage copy of a file of several pieces, left by an earlier run
// that was cut off after its assembly, becomes that file's ".part" again, so
// that its pieces are found in place instead of being fetched.
void reopen_staged_copies(const InstallFolder& folder, const UpdatePlan& plan,
                          const std::vector<PieceDelivery>& deliveries)
{
    std::vector<char> has_part(plan.stale_files.size(), 0);
    for (const PieceDelivery& delivery : deliveries)
        for (const PieceTarget& target : delivery.targets)
            if (!target.whole) has_part[target.file] = 1;
    for (size_t i = 0; i < plan.stale_files.size(); ++i) {
        if (!has_part[i]) continue;
        const std::wstring staged = folder.stage_path_of(plan.stale_files[i].file->path);
        const std::wstring part = staged + L".part";
        if (file_calls::GetFileAttributesW(part.c_str()) == INVALID_FILE_ATTRIBUTES &&
            file_calls::GetFileAttributesW(staged.c_str()) != INVALID_FILE_ATTRIBUTES)
            file_calls::MoveFileExW(staged.c_str(), part.c_str(), 0);
    }
}

}  // namespace

bool download_pieces(const InstallFolder& folder, MirrorList& mirrors, const std::vector<PieceJob>& jobs)
{
    const std::vector<PieceJob> list = distinct_jobs(jobs);
    const std::vector<PieceDelivery> to_cache(list.size(), PieceDelivery{{}, true});
    bool write_failed = false;
    return run_piece_threads(folder, mirrors, list, to_cache, StageTargets{}, write_failed);
}

bool download_update(UpdateRun& run)
{
    UpdatePlan& plan = run.plan;
    set_status(PHASE_DOWNLOADING, "downloading the update (" + format_size(plan.download_total) + ")",
               false);
    update_status.bytes_done.exchange(0);
    update_status.bytes_total.exchange(plan.download_total);

    const std::vector<PieceJob> jobs = distinct_jobs(plan.jobs);
    const std::vector<PieceDelivery> deliveries =
        plan_piece_delivery(plan.stale_files, jobs, run.manifest.piece_size);
    for (StaleFile& stale : plan.stale_files) stale.forget_stage();   // only what this run finds counts
    reopen_staged_copies(run.folder, plan, deliveries);

    bool write_failed = false;
    hold_before_pieces(run);
    if (run_piece_threads(run.folder, run.mirrors, jobs, deliveries, StageTargets{&plan.stale_files}, write_failed))
        return true;
    const char* message = "the download failed -- check the connection and open the launcher again";
    const std::string refusal = run.mirrors.proxy_refusal();
    if (update_status.stop_requested.load()) message = "stopped";
    else if (write_failed) message = "could not write to the install folder";
    else if (!refusal.empty()) message = refusal.c_str();
    set_status(PHASE_FAILED, message, false);
    return false;
}
