#include "update/piece_assembly.h"

#include "app/paths.h"
#include "app/update_status.h"
#include "app/whole_file.h"
#include "app/win_handles.h"
#include "crypto/sha256.h"
#include "update/update_folder.h"

#include <windows.h>

#include <algorithm>
#include <system_error>
#include <thread>

namespace {

bool write_all(HANDLE file, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

// Writes the pieces into the open ".part" file and hashes them on the way.
// True when every piece was there and the digest is the manifest's. Each
// piece is hashed on a second thread while this one writes it: both only read
// the buffer, and the two costs are of the same size.
bool write_pieces(const ManifestFile& file, HANDLE part)
{
    Sha256Hash hash;
    if (!hash.ok()) return false;
    std::string data;   // one buffer for every piece of the file
    for (const PieceRef& piece : file.pieces) {
        read_whole_file_into(piece_cache_path(piece.id), data);
        if (data.empty() && file.size > 0) return false;   // missing or empty piece
        bool hashed = false;
        bool written = false;
        try {
            std::thread hasher([&] { hashed = hash.add(data.data(), data.size()); });
            written = write_all(part, data);
            hasher.join();
        } catch (const std::system_error&) {   // no second thread: one after the other
            hashed = hash.add(data.data(), data.size());
            written = write_all(part, data);
        }
        if (!hashed || !written) return false;
    }
    return sha256_hex(hash) == file.hash;
}

}  // namespace

bool assemble_file(const ManifestFile& file, const std::wstring& dest)
{
    create_folders(parent_folder(dest));
    const std::wstring part = dest + L".part";
    bool good = false;
    {
        FileHandle out(CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) return false;
        good = write_pieces(file, out.get());
    }   // closed before the rename
    // Only replace-existing: a stage file needs no write-through, the install
    // step's moves carry that.
    bool moved = good && MoveFileExW(part.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!moved) DeleteFileW(part.c_str());
    return moved;
}

bool assemble_stale_files(const UpdatePlan& plan)
{
    set_status(PHASE_INSTALLING, "installing", false);
    update_status.bytes_done.exchange(0);
    update_status.bytes_total.exchange(static_cast<int64_t>(plan.stale_files.size()));
    for (const ManifestFile* file : plan.stale_files) {
        if (!assemble_file(*file, stage_path_of(file->path))) {
            set_status(PHASE_FAILED, "a downloaded file did not check out: " + file->path, false);
            return false;
        }
        update_status.bytes_done.fetch_add(1);
    }
    return true;
}
