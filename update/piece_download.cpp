#include "update/piece_download.h"

#include "app/log.h"
#include "app/paths.h"
#include "app/update_status.h"
#include "crypto/sha256.h"
#include "formats/piece_codec.h"
#include "net/http_client.h"
#include "net/server_paths.h"
#include "update/piece_cache.h"
#include "update/planning_rules.h"
#include "update/update_folder.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_set>

namespace {

struct SharedDownload {
    HttpClient& client;
    const std::vector<PieceJob>& jobs;
    std::atomic<uint64_t> next_index{0};
    std::atomic<bool> failed{false};
    std::atomic<bool> write_failed{false};   // the failure was the disk's, not the network's
};

// One thread's buffers, kept across its pieces so that a thread holds at most
// one body and one decoded piece at any time.
struct WorkerBuffers {
    std::string body;
    std::string output;
};

enum class PieceOutcome { Cached, Failed, NotWritten };

bool cached_copy_is_good(const PieceJob& job)
{
    if (cached_piece_size(job.id) != job.raw_size) return false;
    std::string digest;
    return sha256_file(piece_cache_path(job.id), digest) && digest == job.id;
}

int64_t saturating_add(int64_t a, int64_t b)
{
    int64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<int64_t>::max() : sum;
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
bool fetch_piece(HttpClient& client, const PieceJob& job, WorkerBuffers& buffers, int& status)
{
    int64_t counted = 0;
    auto progress = [&](size_t n) {
        counted += static_cast<int64_t>(n);
        update_status.bytes_done.fetch_add(static_cast<int64_t>(n));
    };
    bool ok = client.get(piece_request_path(job.id), buffers.body, progress, &update_status.stop_requested,
                         &status, body_limit(job));
    update_status.bytes_done.fetch_sub(counted);
    return ok;
}

// Turns the fetched body into the piece's raw bytes and checks them.
// Returns the verified bytes, or null.
const std::string* decode_and_verify(const PieceJob& job, WorkerBuffers& buffers)
{
    const std::string* raw = &buffers.body;
    if (!job.stored) {
        buffers.output.resize(static_cast<size_t>(job.raw_size));
        PieceDecodeError reason = PieceDecodeError::none;
        if (!decompress_piece(reinterpret_cast<const uint8_t*>(buffers.body.data()),
                              buffers.body.size(),
                              reinterpret_cast<uint8_t*>(buffers.output.data()),
                              buffers.output.size(), &reason)) {
            // Its own line, just before the piece's failure line.
            log_line("piece %s: did not decode (%s)", job.id.c_str(), piece_decode_error_text(reason));
            return nullptr;
        }
        raw = &buffers.output;
    }
    if (static_cast<int64_t>(raw->size()) != job.raw_size) return nullptr;
    if (sha256_bytes(raw->data(), raw->size()) != job.id) return nullptr;
    return raw;
}

// Fetches, decodes, verifies and caches one piece. status is the last HTTP
// status received (0 when the server never answered). The cache file is not
// forced to the disk: every use of a cached piece checks its hash first.
PieceOutcome fetch_and_cache(HttpClient& client, const PieceJob& job, WorkerBuffers& buffers, int& status)
{
    status = 0;
    if (job.raw_size < 0) return PieceOutcome::Failed;   // more pieces than the file's size can fill
    if (!fetch_piece(client, job, buffers, status)) return PieceOutcome::Failed;
    try {
        const std::string* raw = decode_and_verify(job, buffers);
        if (!raw) return PieceOutcome::Failed;
        if (store_piece(job.id, raw->data(), raw->size())) return PieceOutcome::Cached;
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
    WorkerBuffers buffers;
    for (;;) {
        if (shared.failed.load() || update_status.stop_requested.load()) return;
        uint64_t i = shared.next_index.fetch_add(1);
        if (i >= shared.jobs.size()) return;
        const PieceJob& job = shared.jobs[i];
        if (cached_copy_is_good(job)) {
            update_status.bytes_done.fetch_add(job.transfer_size);
            continue;
        }
        int status = 0;
        PieceOutcome outcome = fetch_and_cache(shared.client, job, buffers, status);
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

// Runs the twelve threads; false as download_pieces, and write_failed set when
// a piece failed because the cache could not be written.
bool run_piece_threads(HttpClient& client, const std::vector<PieceJob>& jobs, bool& write_failed)
{
    create_folders(pieces_folder());   // a failure shows when the pieces are written
    const std::vector<PieceJob> list = distinct_jobs(jobs);
    SharedDownload shared{client, list};
    std::vector<std::thread> threads;
    threads.reserve(PIECE_THREADS);
    for (int i = 0; i < PIECE_THREADS; ++i) {
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

}  // namespace

bool download_pieces(HttpClient& client, const std::vector<PieceJob>& jobs)
{
    bool write_failed = false;
    return run_piece_threads(client, jobs, write_failed);
}

bool download_update(HttpClient& client, const UpdatePlan& plan)
{
    set_status(PHASE_DOWNLOADING, "downloading the update (" + format_size(plan.download_total) + ")",
               false);
    update_status.bytes_done.exchange(0);
    update_status.bytes_total.exchange(plan.download_total);
    bool write_failed = false;
    if (run_piece_threads(client, plan.jobs, write_failed)) return true;
    const char* message = "the download failed -- check the connection and open the launcher again";
    if (update_status.stop_requested.load()) message = "stopped";
    else if (write_failed) message = "could not write to the install folder";
    set_status(PHASE_FAILED, message, false);
    return false;
}
