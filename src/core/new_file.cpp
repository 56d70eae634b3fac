#include "core/new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace core {

namespace {

// The errno a name of this kind is refused with; 0 for a regular file, which may be replaced.
int RefusalFor(mode_t mode) {
    if (S_ISREG(mode)) return 0;
    if (S_ISLNK(mode)) return ELOOP;  // what an open that does not follow links says
    if (S_ISDIR(mode)) return EISDIR;
    return EEXIST;
}

}  // namespace

int CreateNewFile(const std::string& path) {
    struct stat entry;
    if (::lstat(path.c_str(), &entry) == 0) {
        if (const int refusal = RefusalFor(entry.st_mode); refusal != 0) {
            errno = refusal;
            return -1;
        }
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) return -1;
    } else if (errno != ENOENT) {
        return -1;
    }
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

std::FILE* CreateNewStream(const std::string& path) {
    const int fd = CreateNewFile(path);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return file;
}

std::string FileFailure(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace core
