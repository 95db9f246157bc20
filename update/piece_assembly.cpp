#include "update/piece_assembly.h"

#include "app/log.h"
#include "app/paths.h"
#include "app/update_status.h"
#include "app/whole_file.h"
#include "app/win_handles.h"
#include "crypto/sha256.h"
#include "update/piece_cache.h"
#include "update/update_folder.h"

#include <windows.h>

#include <algorithm>
#include <system_error>
#include <thread>

namespace {

// Pieces from this size on are hashed on a second thread while this one
// writes them; for smaller ones starting a thread costs more than it saves.
constexpr size_t HASH_BESIDE_WRITE = 1u << 20;

AssemblyResult not_written(const ManifestFile& file)
{
    log_line("could not write the new %s to the stage (error %lu)", file.path.c_str(), GetLastError());
    return AssemblyResult::NotWritten;
}

// Hashes and writes one piece, the two at once for a large one: both only
// read the buffer.
bool hash_and_write(Sha256Hash& hash, HANDLE part, const std::string& data, bool& hashed)
{
    if (data.size() >= HASH_BESIDE_WRITE) {
        try {
            bool written = false;
            std::thread hasher([&] { hashed = hash.add(data.data(), data.size()); });
            written = write_to_handle(part, data.data(), data.size());
            DWORD error = GetLastError();
            hasher.join();
            SetLastError(error);
            return written;
        } catch (const std::system_error&) {   // no second thread: one after the other
        }
    }
    hashed = hash.add(data.data(), data.size());
    return write_to_handle(part, data.data(), data.size());
}

// Writes the pieces into the open ".part" file and hashes them on the way.
AssemblyResult write_pieces(const ManifestFile& file, HANDLE part)
{
    Sha256Hash hash;
    if (!hash.ok()) return AssemblyResult::NotVerified;
    std::string data;   // one buffer for every piece of the file
    for (const PieceRef& piece : file.pieces) {
        read_whole_file_into(piece_cache_path(piece.id), data);
        if (data.empty() && file.size > 0) return AssemblyResult::NotVerified;   // missing or empty piece
        bool hashed = false;
        if (!hash_and_write(hash, part, data, hashed)) return not_written(file);
        if (!hashed) return AssemblyResult::NotVerified;
    }
    return sha256_hex(hash) == file.hash ? AssemblyResult::Built : AssemblyResult::NotVerified;
}

AssemblyResult build_from_pieces(const ManifestFile& file, const std::wstring& dest)
{
    const std::wstring part = dest + L".part";
    AssemblyResult result = AssemblyResult::NotVerified;
    {
        FileHandle out(CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) return not_written(file);
        result = write_pieces(file, out.get());
    }   // closed before the rename
    // Only replace-existing: a stage file needs no write-through; the
    // install step commits the staged files to the disk before its journal.
    if (result == AssemblyResult::Built && !MoveFileExW(part.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING))
        result = not_written(file);
    if (result != AssemblyResult::Built) DeleteFileW(part.c_str());
    return result;
}

// A file of one piece holds exactly that piece's bytes, which hash to its id:
// it checks out exactly when the manifest names the id as the file's hash and
// the piece's length as its size. The piece is linked into the stage (one
// name more, no bytes copied) the first time, copied after that.
AssemblyResult build_from_one_piece(const ManifestFile& file, const std::wstring& dest,
                                    std::unordered_set<std::string>& linked)
{
    const std::string& id = file.pieces.front().id;
    if (file.hash != id || cached_piece_size(id) != file.size) return AssemblyResult::NotVerified;
    const std::wstring piece = piece_cache_path(id);
    if (!linked.count(id)) {
        bool made = CreateHardLinkW(dest.c_str(), piece.c_str(), nullptr);
        if (!made && GetLastError() == ERROR_ALREADY_EXISTS && DeleteFileW(dest.c_str()))   // staged before
            made = CreateHardLinkW(dest.c_str(), piece.c_str(), nullptr);
        if (made) {
            linked.insert(id);
            return AssemblyResult::Built;
        }
    }
    // Shared with another file, or a volume without links.
    const std::wstring part = dest + L".part";
    if (CopyFileW(piece.c_str(), part.c_str(), FALSE) &&
        MoveFileExW(part.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING))
        return AssemblyResult::Built;
    AssemblyResult result = not_written(file);
    DeleteFileW(part.c_str());
    return result;
}

}  // namespace

AssemblyResult build_file(const ManifestFile& file, const std::wstring& dest,
                          std::unordered_set<std::string>& linked)
{
    create_folders(parent_folder(dest));
    if (file.pieces.size() == 1) return build_from_one_piece(file, dest, linked);
    return build_from_pieces(file, dest);
}

bool assemble_file(const ManifestFile& file, const std::wstring& dest)
{
    std::unordered_set<std::string> linked;
    return build_file(file, dest, linked) == AssemblyResult::Built;
}

bool assemble_stale_files(const UpdatePlan& plan)
{
    set_status(PHASE_INSTALLING, "installing", false);
    update_status.bytes_done.exchange(0);
    update_status.bytes_total.exchange(static_cast<int64_t>(plan.stale_files.size()));
    std::unordered_set<std::string> linked;
    for (const ManifestFile* file : plan.stale_files) {
        switch (build_file(*file, stage_path_of(file->path), linked)) {
        case AssemblyResult::Built:
            break;
        case AssemblyResult::NotVerified:
            set_status(PHASE_FAILED, "a downloaded file did not check out: " + file->path, false);
            return false;
        case AssemblyResult::NotWritten:
            set_status(PHASE_FAILED, "could not write to the install folder", false);
            return false;
        }
        update_status.bytes_done.fetch_add(1);
    }
    return true;
}
