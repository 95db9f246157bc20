#include "update/piece_assembly.h"

#include "base/file_calls.h"
#include "base/log.h"
#include "base/parallel_for.h"
#include "base/paths.h"
#include "base/rule_checks.h"
#include "base/update_status.h"
#include "base/whole_file.h"
#include "base/win_handles.h"
#include "crypto/sha256.h"
#include "update/piece_cache.h"
#include "update/planning_rules.h"
#include "update/update_run.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_set>

namespace {

// Pieces from this size on are hashed on a second thread while this one
// writes them; for smaller ones starting a thread costs more than it saves.
constexpr size_t HASH_BESIDE_WRITE = 1u << 20;

enum class AssemblyResult {
    Built,         // dest holds the verified file
    NotVerified,   // a piece is missing, or the bytes are not the manifest's
    NotWritten,    // the stage could not be written (disk full, ...); logged
    Abandoned,     // given up on request; dest untouched
};

// True when the file being built is no longer wanted.
using AbandonCheck = std::function<bool()>;

// The ids of pieces linked into a file by this run. A piece is linked into
// one file only, so that no two installed files ever share their bytes on
// disk; the other files of that piece get copies.
class LinkedPieces {
public:
    // True for the first caller with this id.
    bool claim(const std::string& id)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return ids_.insert(id).second;
    }

private:
    std::mutex mutex_;
    std::unordered_set<std::string> ids_;
};

AssemblyResult not_written(const ManifestFile& file)
{
    log_line("could not write the new %s to the stage (error %lu)", file.path.c_str(), GetLastError());
    return AssemblyResult::NotWritten;
}

// Hashes and writes one piece, the two at once for a large one: both only
// read the buffer.
bool hash_and_write(Sha256Hash& hash, HANDLE part, int64_t at, const std::string& data, bool& hashed)
{
    if (data.size() >= HASH_BESIDE_WRITE) {
        try {
            bool written = false;
            std::thread hasher([&] { hashed = hash.add(data.data(), data.size()); });
            written = write_at(part, at, data.data(), data.size());
            DWORD error = GetLastError();
            hasher.join();
            SetLastError(error);
            return written;
        } catch (const std::system_error&) {   // no second thread: one after the other
        }
    }
    hashed = hash.add(data.data(), data.size());
    return write_at(part, at, data.data(), data.size());
}

// Which pieces of a file the download step already wrote into its ".part",
// at their offsets; null or empty when none.
struct PiecesInPart {
    const std::vector<char>* staged = nullptr;
    int64_t piece_size = DEFAULT_PIECE_SIZE;

    bool any() const
    {
        return staged && std::find(staged->begin(), staged->end(), 1) != staged->end();
    }
    bool has(size_t k) const { return staged && k < staged->size() && (*staged)[k]; }
};

// Hashes the pieces in order into the open ".part" file: a piece already in
// it is read back from its offset, any other is read from the cache and
// written there. The file's bytes are exactly the hashed ones: pieces follow
// each other without gaps, and the file is cut where the last one ends.
AssemblyResult write_pieces(const InstallFolder& folder, const ManifestFile& file, HANDLE part,
                            const PiecesInPart& in_part, const AbandonCheck& abandoned)
{
    Sha256Hash hash;
    if (!hash.ok()) return AssemblyResult::NotVerified;
    std::string data;   // one buffer for every piece of the file
    int64_t at = 0;
    for (size_t k = 0; k < file.pieces.size(); ++k) {
        if (abandoned()) return AssemblyResult::Abandoned;
        bool hashed = false;
        if (in_part.has(k)) {
            if (at != static_cast<int64_t>(k) * in_part.piece_size) return AssemblyResult::NotVerified;
            data.resize(static_cast<size_t>(piece_raw_size(file.size, k, in_part.piece_size)));
            if (!read_at(part, at, data.data(), data.size())) return AssemblyResult::NotVerified;
            hashed = hash.add(data.data(), data.size());
        } else {
            read_whole_file_into(folder.piece_cache_path(file.pieces[k].id), data);
            if (data.empty() && file.size > 0) return AssemblyResult::NotVerified;   // missing or empty piece
            if (!hash_and_write(hash, part, at, data, hashed)) return not_written(file);
        }
        if (!hashed) return AssemblyResult::NotVerified;
        at += static_cast<int64_t>(data.size());
    }
    if (sha256_hex(hash) != file.hash) return AssemblyResult::NotVerified;
    LARGE_INTEGER end{};
    end.QuadPart = at;
    if (!file_calls::SetFilePointerEx(part, end, nullptr, FILE_BEGIN) || !file_calls::SetEndOfFile(part)) return not_written(file);
    return AssemblyResult::Built;
}

// A verified file is committed to the disk before it is closed: its bytes
// have been waiting in memory since the download, and writing them out now,
// while the other workers still hash, spares the install step the wait.
AssemblyResult build_from_pieces(const InstallFolder& folder, const ManifestFile& file, const std::wstring& dest,
                                 const PiecesInPart& in_part, const AbandonCheck& abandoned, bool& on_disk)
{
    const std::wstring part = dest + L".part";
    AssemblyResult result = AssemblyResult::NotVerified;
    {
        // A ".part" the download wrote pieces into is kept; otherwise it
        // starts empty.
        const DWORD disposition = in_part.any() ? OPEN_EXISTING : CREATE_ALWAYS;
        FileHandle out(file_calls::CreateFileW(part.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) return in_part.any() ? AssemblyResult::NotVerified : not_written(file);
        result = write_pieces(folder, file, out.get(), in_part, abandoned);
        on_disk = result == AssemblyResult::Built && file_calls::FlushFileBuffers(out.get());
    }   // closed before the rename
    // Only replace-existing: the rename needs no write-through; the install
    // step's journal is what makes the staged files count.
    if (result == AssemblyResult::Built && !file_calls::MoveFileExW(part.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING))
        result = not_written(file);
    // A ".part" the download wrote pieces into holds bytes no cache has: it
    // stays for the next run, which checks each piece in it before using it.
    if (result != AssemblyResult::Built && !in_part.any()) file_calls::DeleteFileW(part.c_str());
    return result;
}

// True when the file at path has no other name: a cached piece linked into
// the stage by an earlier run has two, and linking it again would give two
// installed files one set of bytes.
bool has_one_name(const std::wstring& path)
{
    FileHandle file(file_calls::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    return file && file_calls::GetFileInformationByHandle(file.get(), &info) && info.nNumberOfLinks == 1;
}

// A file of one piece holds exactly that piece's bytes, which hash to its id:
// it checks out exactly when the manifest names the id as the file's hash and
// the piece's length as its size. The piece is linked into the stage (one
// name more, no bytes copied) the first time, copied after that, also in a
// later run: a piece file with a second name is never linked again.
AssemblyResult build_from_one_piece(const InstallFolder& folder, const ManifestFile& file, const std::wstring& dest,
                                    LinkedPieces& linked)
{
    const std::string& id = file.pieces.front().id;
    if (file.hash != id || cached_piece_size(folder, id) != file.size) return AssemblyResult::NotVerified;
    const std::wstring piece = folder.piece_cache_path(id);
    if (linked.claim(id) && has_one_name(piece)) {
        bool made = file_calls::CreateHardLinkW(dest.c_str(), piece.c_str(), nullptr);
        if (!made && GetLastError() == ERROR_ALREADY_EXISTS && file_calls::DeleteFileW(dest.c_str()))   // staged before
            made = file_calls::CreateHardLinkW(dest.c_str(), piece.c_str(), nullptr);
        if (made) return AssemblyResult::Built;
    }
    // Shared with another file, or a volume without links.
    const std::wstring part = dest + L".part";
    if (file_calls::CopyFileW(piece.c_str(), part.c_str(), FALSE) &&
        file_calls::MoveFileExW(part.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING))
        return AssemblyResult::Built;
    AssemblyResult result = not_written(file);
    file_calls::DeleteFileW(part.c_str());
    return result;
}

// Concatenates the cached pieces of `file` into dest. Unless Built, dest is
// untouched and the ".part" deleted. on_disk tells whether the built file's
// bytes have been committed to the disk.
AssemblyResult build_file(const InstallFolder& folder, const ManifestFile& file, const std::wstring& dest,
                          LinkedPieces& linked, const PiecesInPart& in_part, const AbandonCheck& abandoned,
                          bool& on_disk)
{
    on_disk = false;
    create_folders(parent_folder(dest));
    if (file.pieces.size() == 1 && !in_part.any()) return build_from_one_piece(folder, file, dest, linked);
    return build_from_pieces(folder, file, dest, in_part, abandoned, on_disk);
}

// The files of one assembly step, shared by its workers. Files are taken in
// manifest order, so when file i fails every earlier file has been taken
// already: those are finished (one of them may fail too and become the one
// reported), while later ones are abandoned.
struct SharedAssembly {
    const InstallFolder& folder;
    const std::vector<const ManifestFile*>& files;
    std::vector<PiecesInPart> in_part;     // one per file
    std::vector<AssemblyResult> results;   // one per file, each written by the worker that built it
    std::vector<char> on_disk;             // likewise
    std::atomic<size_t> first_failure{SIZE_MAX};
    LinkedPieces linked;

    SharedAssembly(const InstallFolder& install, const std::vector<const ManifestFile*>& list)
        : folder(install), files(list), in_part(list.size()), results(list.size(), AssemblyResult::Abandoned),
          on_disk(list.size(), 0) {}

    void failed(size_t i)
    {
        size_t seen = first_failure.load();
        while (i < seen && !first_failure.compare_exchange_weak(seen, i)) {
        }
    }
};

// Builds file i; false once the assembly should hand out no further file.
bool assemble_one(SharedAssembly& shared, size_t i)
{
    if (update_status.stop_requested.load() || i > shared.first_failure.load()) return false;
    const ManifestFile& file = *shared.files[i];
    auto abandoned = [&] { return update_status.stop_requested.load() || shared.first_failure.load() < i; };
    bool on_disk = false;
    const AssemblyResult result = build_file(shared.folder, file, shared.folder.stage_path_of(file.path), shared.linked,
                                             shared.in_part[i], abandoned, on_disk);
    shared.results[i] = result;
    shared.on_disk[i] = on_disk;
    if (result == AssemblyResult::Built) update_status.bytes_done.fetch_add(1);
    else if (result != AssemblyResult::Abandoned) shared.failed(i);
    return true;
}

}  // namespace

bool assemble_file(const InstallFolder& folder, const ManifestFile& file, const std::wstring& dest)
{
    LinkedPieces linked;
    bool on_disk = false;
    return build_file(folder, file, dest, linked, PiecesInPart{}, [] { return false; }, on_disk) ==
           AssemblyResult::Built;
}

bool assemble_stale_files(UpdateRun& run)
{
    UpdatePlan& plan = run.plan;
    set_status(PHASE_INSTALLING, "installing", false);
    std::vector<size_t> to_build;   // indexes into stale_files
    for (size_t i = 0; i < plan.stale_files.size(); ++i) {
        const StaleFile& stale = plan.stale_files[i];
        if (stale.stage == StageState::ToBuild) to_build.push_back(i);
        else check_rule(std::all_of(stale.pieces_staged.begin(), stale.pieces_staged.end(), [](char c) { return c; }),
                        "a file counts as staged while one of its pieces is not");
    }
    update_status.bytes_done.exchange(static_cast<int64_t>(plan.stale_files.size() - to_build.size()));
    update_status.bytes_total.exchange(static_cast<int64_t>(plan.stale_files.size()));

    std::vector<const ManifestFile*> files;
    files.reserve(to_build.size());
    for (size_t i : to_build) files.push_back(plan.stale_files[i].file);
    SharedAssembly shared(run.folder, files);
    for (size_t n = 0; n < to_build.size(); ++n)
        shared.in_part[n] = {&plan.stale_files[to_build[n]].pieces_staged, run.manifest.piece_size};
    // One worker per hardware thread, the calling thread among them.
    for_each_index(files.size(), std::max(1u, std::thread::hardware_concurrency()),
                   [&](size_t i) { return assemble_one(shared, i); });
    if (update_status.stop_requested.load()) return false;

    if (const size_t f = shared.first_failure.load(); f != SIZE_MAX) {
        if (shared.results[f] == AssemblyResult::NotWritten)
            set_status(PHASE_FAILED, "could not write to the install folder", false);
        else
            set_status(PHASE_FAILED, "a downloaded file did not check out: " + files[f]->path, false);
        return false;
    }
    for (size_t n = 0; n < to_build.size(); ++n)
        plan.stale_files[to_build[n]].stage = shared.on_disk[n] ? StageState::StagedOnDisk : StageState::Staged;
    return true;
}
