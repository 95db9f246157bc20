#include "tools/publish/piece_publisher.h"

#include "formats/piece_codec.h"
#include "tools/publish/piece_encoder.h"
#include "tools/publish/piece_store.h"
#include "tools/publish/progress_meter.h"
#include "tools/publish/sha256_text.h"
#include "tools/publish/staged_file.h"
#include "tools/publish/unique_fd.h"
#include "tools/publish/utf8_text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>

namespace {

struct PieceTask {
    size_t file;
    uint64_t index;
};

// A whole file's hash is fed its pieces in order while the pieces themselves
// are handled in parallel.
struct FileHashing {
    Sha256 hash;
    uint64_t next_piece = 0;
};

bool read_at(const std::string& path, uint64_t offset, uint8_t* buffer, uint64_t size,
             std::string& error)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        error = errno_message("cannot read", printable_text(path));
        return false;
    }
    uint64_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd.get(), buffer + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno_message("cannot read", printable_text(path));
            return false;
        }
        if (n == 0) {
            error = printable_text(path) + " became shorter while it was being published";
            return false;
        }
        done += static_cast<uint64_t>(n);
    }
    return true;
}

class PiecePass {
public:
    PiecePass(const std::vector<SourceFile>& sources, uint64_t piece_size, const std::string& out,
              std::vector<PublishedFile>& published);
    bool run(PieceTotals& totals, std::string& error);

private:
    void work();
    bool publish_one(const PieceTask& task, std::vector<uint8_t>& raw,
                     std::vector<uint8_t>& check, std::string& error);
    bool feed_file_hash(const PieceTask& task, const uint8_t* data, uint64_t size);
    bool encode_and_store(const std::string& id, const uint8_t* raw, uint64_t raw_size,
                          std::vector<uint8_t>& check, PublishedPiece& piece, std::string& error);
    void fail(const std::string& error);

    const std::vector<SourceFile>& sources_;
    const uint64_t piece_size_;
    const std::string out_;
    std::vector<PublishedFile>& published_;
    std::vector<PieceTask> tasks_;
    std::vector<FileHashing> hashing_;
    uint64_t largest_piece_ = 0;
    uint64_t total_bytes_ = 0;

    std::atomic<size_t> next_task_{0};
    std::atomic<bool> failed_{false};
    std::mutex mutex_;                 // guards the fields below and hashing_ order
    std::condition_variable hashed_;   // a file hash took another piece, or a failure
    std::string first_error_;
    std::set<std::string> written_folders_;
    std::set<std::string> written_ids_;
    uint64_t new_pieces_ = 0, new_bytes_ = 0;
    std::unique_ptr<ProgressMeter> progress_;
};

PiecePass::PiecePass(const std::vector<SourceFile>& sources, uint64_t piece_size,
                     const std::string& out, std::vector<PublishedFile>& published)
    : sources_(sources), piece_size_(piece_size), out_(out), published_(published),
      hashing_(sources.size())
{
    published_.assign(sources.size(), PublishedFile{});
    for (size_t f = 0; f < sources.size(); ++f) {
        const SourceFile& source = sources[f];
        uint64_t count = piece_count(source.size, piece_size);
        published_[f].path = source.path;
        published_[f].size = source.size;
        published_[f].pieces.resize(count);
        if (count == 0) published_[f].hash = hashing_[f].hash.finish_hex();
        for (uint64_t k = 0; k < count; ++k) tasks_.push_back({f, k});
        if (count > 0) largest_piece_ = std::max(largest_piece_, std::min(source.size, piece_size));
        total_bytes_ += source.size;
    }
    progress_ = std::make_unique<ProgressMeter>(tasks_.size(), total_bytes_);
}

void PiecePass::fail(const std::string& error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!failed_.exchange(true)) first_error_ = error;
    hashed_.notify_all();
}

bool PiecePass::feed_file_hash(const PieceTask& task, const uint8_t* data, uint64_t size)
{
    FileHashing& file = hashing_[task.file];
    std::unique_lock<std::mutex> lock(mutex_);
    // Tasks are handed out in order, so the earlier piece is already in the
    // hands of a thread that will feed it or fail: this wait always ends.
    hashed_.wait(lock, [&] { return failed_.load() || file.next_piece == task.index; });
    if (failed_) return false;
    lock.unlock();
    file.hash.update(data, size);
    lock.lock();
    if (++file.next_piece == published_[task.file].pieces.size())
        published_[task.file].hash = file.hash.finish_hex();
    hashed_.notify_all();
    return true;
}

bool PiecePass::encode_and_store(const std::string& id, const uint8_t* raw, uint64_t raw_size,
                                 std::vector<uint8_t>& check, PublishedPiece& piece,
                                 std::string& error)
{
    std::string compressed = compress_piece(raw, raw_size);
    bool use_compressed = !compressed.empty() && compressed.size() < raw_size;
    // A piece that does not decode back would break every install that
    // fetches it; such a piece goes out raw instead.
    if (use_compressed &&
        (!decompress_piece(reinterpret_cast<const uint8_t*>(compressed.data()), compressed.size(),
                           check.data(), raw_size) ||
         std::memcmp(check.data(), raw, raw_size) != 0)) {
        std::fprintf(stderr, "warning: the compressed form of piece %s does not decode back -- "
                             "storing it raw\n", id.c_str());
        use_compressed = false;
    }
    std::string_view body = use_compressed
                                ? std::string_view(compressed)
                                : std::string_view(reinterpret_cast<const char*>(raw), raw_size);
    if (!store_piece(out_, id, body, error)) return false;
    piece = {id, static_cast<int64_t>(body.size()), !use_compressed};
    std::lock_guard<std::mutex> lock(mutex_);
    written_folders_.insert(piece_folder(out_, id));
    // Two threads may have written the same new piece at once; count it once.
    if (written_ids_.insert(id).second) {
        ++new_pieces_;
        new_bytes_ += body.size();
    }
    return true;
}

bool PiecePass::publish_one(const PieceTask& task, std::vector<uint8_t>& raw,
                            std::vector<uint8_t>& check, std::string& error)
{
    const SourceFile& source = sources_[task.file];
    uint64_t raw_size = piece_raw_size(source.size, piece_size_, task.index);
    if (!read_at(source.disk_path, task.index * piece_size_, raw.data(), raw_size, error))
        return false;
    if (!feed_file_hash(task, raw.data(), raw_size)) return false;
    std::string id = sha256_hex(raw.data(), raw_size);
    if (id.empty()) {
        error = "hashing failed";
        return false;
    }
    PublishedPiece& piece = published_[task.file].pieces[task.index];
    if (!find_existing_piece(out_, id, raw_size, piece) &&
        !encode_and_store(id, raw.data(), raw_size, check, piece, error))
        return false;
    progress_->piece_done(raw_size);
    return true;
}

void PiecePass::work()
{
    try {
        std::vector<uint8_t> raw(largest_piece_), check(largest_piece_);
        std::string error;
        while (!failed_) {
            size_t i = next_task_.fetch_add(1);
            if (i >= tasks_.size()) return;
            if (!publish_one(tasks_[i], raw, check, error)) {
                fail(error);
                return;
            }
        }
    } catch (const std::exception& e) {   // std::bad_alloc from a piece buffer
        fail(std::string("publishing a piece failed: ") + e.what());
    }
}

bool PiecePass::run(PieceTotals& totals, std::string& error)
{
    size_t cores = std::max(1u, std::thread::hardware_concurrency());
    size_t count = std::min(cores, tasks_.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < count; ++i) threads.emplace_back([this] { work(); });
    for (std::thread& t : threads) t.join();
    if (failed_) {
        error = first_error_;
        return false;
    }
    // The manifest may name these pieces only once they are on disk.
    for (const std::string& folder : written_folders_)
        if (!sync_folder(folder, error)) return false;
    if (!written_folders_.empty() && !sync_folder(out_ + "/chunks", error)) return false;
    totals.pieces = tasks_.size();
    totals.new_pieces = new_pieces_;
    totals.new_bytes = new_bytes_;
    totals.raw_bytes = total_bytes_;
    return true;
}

}  // namespace

bool publish_pieces(const std::vector<SourceFile>& sources, uint64_t piece_size,
                    const std::string& out, std::vector<PublishedFile>& published,
                    PieceTotals& totals, std::string& error)
{
    PiecePass pass(sources, piece_size, out, published);
    return pass.run(totals, error);
}
