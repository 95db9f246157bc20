#pragma once
// Files that appear under their final name only when complete: the bytes go
// to a temporary name in the same folder, are flushed to disk, and the
// temporary file is then renamed over (or linked to) the final name. A file
// that is abandoned, or whose owner is destroyed first, is removed, so a
// failed run leaves nothing half-written behind.
#include "tools/publish/unique_fd.h"

#include <string>
#include <string_view>
#include <sys/types.h>

class StagedFile {
public:
    StagedFile() = default;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    ~StagedFile();

    // Creates the temporary file beside final_path with the given mode.
    bool open(const std::string& final_path, mode_t mode, std::string& error);
    bool write(const void* data, size_t size, std::string& error);
    // Flushes and renames over the final name, replacing what is there.
    bool commit_replacing(std::string& error);
    // Flushes and links to the final name; fails when that name exists.
    bool commit_new(std::string& error);

private:
    bool flush_and_close(std::string& error);
    void discard();

    std::string final_path_;
    std::string temp_path_;
    UniqueFd fd_;
};

// The whole of `bytes` as final_path (mode 0644), replacing an older file.
bool write_file_replacing(const std::string& final_path, std::string_view bytes,
                          std::string& error);

// Removes temporary files left in `folder` by runs that were killed before
// they could clean up (their process no longer exists).
void remove_stale_temp_files(const std::string& folder);

// Flushes a folder's entries (the renames into it) to disk.
bool sync_folder(const std::string& folder, std::string& error);

// Reads a whole file; false with a message when it cannot be read.
bool read_file(const std::string& path, std::string& bytes, std::string& error);

// "what path: reason" from errno.
std::string errno_message(const std::string& what, const std::string& path);
