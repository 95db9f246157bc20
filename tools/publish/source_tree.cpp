#include "tools/publish/source_tree.h"

#include "formats/manifest.h"
#include "formats/relative_path.h"
#include "tools/publish/staged_file.h"
#include "tools/publish/unique_fd.h"
#include "tools/publish/utf8_text.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace {

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

bool check_name(const std::string& relative, std::string& error)
{
    if (!is_valid_utf8(relative)) {
        error = "file name is not valid UTF-8: " + printable_text(relative);
        return false;
    }
    if (!is_safe_relative_path(relative)) {
        error = "file name cannot be published (the launcher refuses it): " +
                printable_text(relative);
        return false;
    }
    return true;
}

// Opening now finds an unreadable file before any piece is written.
bool check_readable(const std::string& disk_path, std::string& error)
{
    UniqueFd fd(::open(disk_path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        error = errno_message("cannot read", printable_text(disk_path));
        return false;
    }
    return true;
}

bool walk(const std::string& disk_folder, const std::string& relative_folder,
          std::vector<SourceFile>& files, std::string& error)
{
    DirPtr dir(::opendir(disk_folder.c_str()));
    if (!dir) {
        error = errno_message("cannot list the folder", printable_text(disk_folder));
        return false;
    }
    while (dirent* entry = ::readdir(dir.get())) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string disk_path = disk_folder + "/" + name;
        std::string relative = relative_folder.empty() ? name : relative_folder + "/" + name;
        struct stat st {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            error = errno_message("cannot examine", printable_text(disk_path));
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            if (!walk(disk_path, relative, files, error)) return false;
        } else if (S_ISREG(st.st_mode)) {
            if (!check_name(relative, error) || !check_readable(disk_path, error)) return false;
            files.push_back({relative, disk_path, static_cast<uint64_t>(st.st_size)});
        } else {
            std::fprintf(stderr, "warning: skipping %s (not a regular file)\n",
                         printable_text(relative).c_str());
        }
    }
    return true;
}

}  // namespace

bool collect_source_files(const std::string& root, std::vector<SourceFile>& files,
                          std::string& error)
{
    files.clear();
    struct stat st {};
    if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "not a folder: " + printable_text(root);
        return false;
    }
    if (!walk(root, "", files, error)) return false;
    // std::string compares through char_traits<char>, which orders bytes as
    // unsigned values: the byte order the manifest promises.
    std::sort(files.begin(), files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });
    std::vector<std::string> paths;
    for (const SourceFile& f : files) paths.push_back(f.path);
    const std::string conflict = conflicting_path(paths);
    if (!conflict.empty()) {
        error = "file name cannot be published (on Windows it is the same file as another, or one "
                "of the launcher's own): " + printable_text(conflict);
        return false;
    }
    return true;
}

bool describe_single_file(const std::string& disk_path, const std::string& manifest_path,
                          SourceFile& file, std::string& error)
{
    struct stat st {};
    if (::stat(disk_path.c_str(), &st) != 0) {
        error = errno_message("cannot read", printable_text(disk_path));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "not a regular file: " + printable_text(disk_path);
        return false;
    }
    if (!check_readable(disk_path, error)) return false;
    file = {manifest_path, disk_path, static_cast<uint64_t>(st.st_size)};
    return true;
}
