#include "driver/output_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/file_utils.h"
#include "core/log.h"

namespace driver {

namespace {

// A job that ends removes its lock file while still holding it; one that opened that file
// just before then gets a lock on a file no longer in the folder and must open anew.
constexpr int kOpenAttempts = 8;

// A file system that offers no locks cannot keep a second job out; refusing every job there
// would be worse, so the job runs as it did before there was a lock.
bool LocksUnavailable(int error) {
    if (error != ENOLCK && error != EOPNOTSUPP && error != ENOSYS) return false;
    core::LogPrintf("The output folder cannot be locked (%s); a second job is not kept out\n",
                    std::strerror(error));
    return true;
}

bool StillNamedBy(int fd, const std::string& path) {
    struct stat opened {}, named {};
    return ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace

OutputLock::Outcome OutputLock::Acquire(const std::string& folder) {
    Release();
    const std::string path = core::PathInFolder(folder, kFileName);
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        // Read access is all a lock needs, so a lock file another user's job left behind in a
        // shared folder serves as well.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0) return Outcome::Failed;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (!LocksUnavailable(error)) {
                ::close(fd);
                errno = error;
                return error == EWOULDBLOCK ? Outcome::Busy : Outcome::Failed;
            }
        }
        if (StillNamedBy(fd, path)) {
            fd_ = fd;
            path_ = path;
            return Outcome::Held;
        }
        ::close(fd);
    }
    errno = EAGAIN;
    return Outcome::Failed;
}

bool OutputLock::HeldByAJob(const std::string& folder) {
    const std::string path = core::PathInFolder(folder, kFileName);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;  // no job has run there, or its lock file went with it
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);  // also drops the lock just taken, when it was free
    return held;
}

std::string RunningJobFolderIn(const std::string& folder) {
    if (OutputLock::HeldByAJob(folder)) return folder;
    namespace fs = std::filesystem;
    std::error_code error;
    for (fs::recursive_directory_iterator entry(folder, fs::directory_options::skip_permission_denied,
                                                error), end;
         !error && entry != end; entry.increment(error)) {
        if (entry->is_directory(error) && !entry->is_symlink(error) &&
            OutputLock::HeldByAJob(entry->path().string())) {
            return entry->path().string();
        }
    }
    return {};
}

void OutputLock::Release() {
    if (fd_ < 0) return;
    // Removed before the lock drops, so no other job can take a lock on it in between.
    ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
    path_.clear();
}

}  // namespace driver
