#include "tools/publish/staged_file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char TEMP_MARK[] = ".tmp-";

// Unique within the process; the process id makes it unique across runs that
// publish into the same folder at once.
std::string temp_name_for(const std::string& final_path)
{
    static std::atomic<unsigned long> counter{0};
    return final_path + TEMP_MARK + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1));
}

bool write_all(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The process id in a temporary name made by temp_name_for, or 0.
pid_t temp_name_owner(const std::string& name)
{
    size_t mark = name.rfind(TEMP_MARK);
    if (mark == std::string::npos) return 0;
    const char* digits = name.c_str() + mark + sizeof TEMP_MARK - 1;
    char* end = nullptr;
    long pid = std::strtol(digits, &end, 10);
    return end != digits && *end == '-' && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

}  // namespace

void remove_stale_temp_files(const std::string& folder)
{
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) return;
    while (dirent* entry = ::readdir(dir.get())) {
        pid_t owner = temp_name_owner(entry->d_name);
        if (owner != 0 && owner != ::getpid() && ::kill(owner, 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
    }
}

std::string errno_message(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

StagedFile::~StagedFile() { discard(); }

void StagedFile::discard()
{
    fd_.reset();
    if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
    temp_path_.clear();
}

bool StagedFile::open(const std::string& final_path, mode_t mode, std::string& error)
{
    discard();
    final_path_ = final_path;
    std::string temp = temp_name_for(final_path);
    fd_.reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!fd_.valid()) {
        error = errno_message("cannot create", temp);
        return false;
    }
    temp_path_ = temp;
    // The umask may have narrowed the mode; never widened it. Set it exactly.
    if (::fchmod(fd_.get(), mode) != 0) {
        error = errno_message("cannot set the mode of", temp);
        discard();
        return false;
    }
    return true;
}

bool StagedFile::write(const void* data, size_t size, std::string& error)
{
    if (!fd_.valid() || !write_all(fd_.get(), static_cast<const char*>(data), size)) {
        error = errno_message("cannot write", temp_path_);
        discard();
        return false;
    }
    return true;
}

bool StagedFile::flush_and_close(std::string& error)
{
    if (!fd_.valid()) {
        error = "nothing to commit for " + final_path_;
        return false;
    }
    if (::fsync(fd_.get()) != 0 || ::close(fd_.release()) != 0) {
        error = errno_message("cannot flush", temp_path_);
        discard();
        return false;
    }
    return true;
}

bool StagedFile::commit_replacing(std::string& error)
{
    if (!flush_and_close(error)) return false;
    if (::rename(temp_path_.c_str(), final_path_.c_str()) != 0) {
        error = errno_message("cannot rename into", final_path_);
        discard();
        return false;
    }
    temp_path_.clear();
    return true;
}

bool StagedFile::commit_new(std::string& error)
{
    if (!flush_and_close(error)) return false;
    if (::link(temp_path_.c_str(), final_path_.c_str()) != 0) {
        error = errno == EEXIST ? final_path_ + " already exists -- not replacing it"
                                : errno_message("cannot create", final_path_);
        discard();
        return false;
    }
    discard();   // the final name holds the data; drop the temporary name
    return true;
}

bool write_file_replacing(const std::string& final_path, std::string_view bytes,
                          std::string& error)
{
    StagedFile file;
    return file.open(final_path, 0644, error) && file.write(bytes.data(), bytes.size(), error) &&
           file.commit_replacing(error);
}

bool sync_folder(const std::string& folder, std::string& error)
{
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid() || ::fsync(fd.get()) != 0) {
        error = errno_message("cannot flush the folder", folder);
        return false;
    }
    return true;
}

bool read_file(const std::string& path, std::string& bytes, std::string& error)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        error = errno_message("cannot read", path);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "not a regular file: " + path;
        return false;
    }
    bytes.clear();
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno_message("cannot read", path);
            return false;
        }
        if (n == 0) return true;
        bytes.append(buffer, static_cast<size_t>(n));
    }
}
