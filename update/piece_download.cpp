#include "update/piece_download.h"

#include "app/log.h"
#include "app/paths.h"
#include "app/update_status.h"
#include "app/whole_file.h"
#include "crypto/sha256.h"
#include "formats/piece_codec.h"
#include "net/http_client.h"
#include "net/server_paths.h"
#include "update/planning_rules.h"
#include "update/update_folder.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
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
};

// One thread's buffers, kept across its pieces so that a thread holds at most
// one body and one decoded piece at any time.
struct WorkerBuffers {
    std::string body;
    std::string output;
};

int64_t cached_size(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool cached_copy_is_good(const PieceJob& job, const std::wstring& cache_file)
{
    if (cached_size(cache_file) != job.raw_size) return false;
    std::string digest;
    return sha256_file(cache_file, digest) && digest == job.id;
}

// The most bytes a sound body of this piece can have: a stored piece is its
// raw bytes; a compressed one at worst its raw bytes in stored chunks plus the
// framing. The manifest's transfer size is allowed too. A server that sends
// more is cut off, so a hostile body cannot exhaust memory.
int64_t body_limit(const PieceJob& job)
{
    if (job.stored) return job.raw_size;
    return std::max(job.transfer_size, job.raw_size + job.raw_size / 8 + 65536);
}

// Fetches one piece into buffers.body. counted bytes are added to bytes_done
// as they arrive and taken back afterwards, whatever the outcome; the piece
// counts its transfer_size once it is cached.
bool fetch_piece(HttpClient& client, const PieceJob& job, WorkerBuffers& buffers, int& status)
{
    int64_t counted = 0;
    const int64_t limit = body_limit(job);
    // Ends an attempt early: on a stop request, or on a body larger than any
    // sound one. Fed from stop_requested before the fetch and at every read.
    std::atomic<bool> cut_off{update_status.stop_requested.load()};
    auto progress = [&](size_t n) {
        counted += static_cast<int64_t>(n);
        update_status.bytes_done.fetch_add(static_cast<int64_t>(n));
        if (update_status.stop_requested.load() ||
            static_cast<int64_t>(buffers.body.size()) > limit)
            cut_off.store(true);
    };
    bool ok = client.get(piece_request_path(job.id), buffers.body, progress, &cut_off, &status);
    update_status.bytes_done.fetch_sub(counted);
    return ok && !cut_off.load();
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
// status received (0 when the server never answered).
bool fetch_and_cache(HttpClient& client, const PieceJob& job, const std::wstring& cache_file,
                     WorkerBuffers& buffers, int& status)
{
    status = 0;
    if (job.raw_size < 0) return false;   // more pieces than the file's size can fill
    if (!fetch_piece(client, job, buffers, status)) return false;
    try {
        const std::string* raw = decode_and_verify(job, buffers);
        return raw && write_file_atomic(cache_file, *raw);
    } catch (const std::bad_alloc&) {   // a raw size no buffer can hold
        return false;
    } catch (const std::length_error&) {
        return false;
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
        const std::wstring cache_file = piece_cache_path(job.id);
        if (cached_copy_is_good(job, cache_file)) {
            update_status.bytes_done.fetch_add(job.transfer_size);
            continue;
        }
        int status = 0;
        if (fetch_and_cache(shared.client, job, cache_file, buffers, status)) {
            update_status.bytes_done.fetch_add(job.transfer_size);
            continue;
        }
        log_line("piece %s: failed (http %d)", job.id.c_str(), status);
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

}  // namespace

bool download_pieces(HttpClient& client, const std::vector<PieceJob>& jobs)
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
    return !shared.failed.load() && !update_status.stop_requested.load();
}

bool download_update(HttpClient& client, const UpdatePlan& plan)
{
    set_status(PHASE_DOWNLOADING, "downloading the update (" + format_size(plan.download_total) + ")",
               false);
    update_status.bytes_done.exchange(0);
    update_status.bytes_total.exchange(plan.download_total);
    if (download_pieces(client, plan.jobs)) return true;
    set_status(PHASE_FAILED,
               update_status.stop_requested.load()
                   ? "stopped"
                   : "the download failed -- check the connection and open the launcher again",
               false);
    return false;
}
