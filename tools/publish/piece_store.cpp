#include "tools/publish/piece_store.h"

#include "tools/publish/staged_file.h"

#include <cerrno>
#include <sys/stat.h>

namespace {

// The compressed framing starts with a 24-byte header and a 4-byte chunk size.
constexpr uint64_t SMALLEST_COMPRESSED_BODY = 28;

}  // namespace

std::string piece_folder(const std::string& out, const std::string& id)
{
    return out + "/chunks/" + id.substr(0, 2);
}

std::string piece_path(const std::string& out, const std::string& id)
{
    return piece_folder(out, id) + "/" + id;
}

bool find_existing_piece(const std::string& out, const std::string& id, uint64_t raw_size,
                         PublishedPiece& piece)
{
    struct stat st {};
    if (::stat(piece_path(out, id).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    auto size = static_cast<uint64_t>(st.st_size);
    // Anything else (say, a file cut short by hand) is rewritten.
    if (size != raw_size && (size >= raw_size || size < SMALLEST_COMPRESSED_BODY)) return false;
    piece = {id, static_cast<int64_t>(size), size == raw_size};
    return true;
}

bool store_piece(const std::string& out, const std::string& id, std::string_view body,
                 std::string& error)
{
    std::string folder = piece_folder(out, id);
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        error = errno_message("cannot create the folder", folder);
        return false;
    }
    return write_file_replacing(piece_path(out, id), body, error);
}

void remove_stale_temp_files_below(const std::string& out)
{
    remove_stale_temp_files(out);
    static const char DIGITS[] = "0123456789abcdef";
    for (int hi = 0; hi < 16; ++hi)
        for (int lo = 0; lo < 16; ++lo)
            remove_stale_temp_files(out + "/chunks/" + DIGITS[hi] + DIGITS[lo]);
}
