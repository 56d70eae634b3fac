#include "driver/authored_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace driver {

namespace {

void NoteFailure(const std::string& path, std::string& error) {
    if (error.empty()) error = path + ": " + std::strerror(errno);
}

// A folder that has gone, holds something, or is no folder (a link in its place) is not the
// runs' to remove.
bool KeptOnPurpose(int error) {
    return error == ENOENT || error == ENOTEMPTY || error == EEXIST || error == ENOTDIR;
}

}  // namespace

std::vector<std::string> RemoveAuthoredFiles(const std::vector<std::string>& files,
                                             const std::vector<std::string>& folders,
                                             std::string& error) {
    error.clear();
    std::vector<std::string> left;
    for (const std::string& file : files) {
        struct stat entry;
        if (::lstat(file.c_str(), &entry) != 0 || S_ISDIR(entry.st_mode)) continue;
        if (::unlink(file.c_str()) == 0 || errno == ENOENT) continue;
        NoteFailure(file, error);
        left.push_back(file);
    }
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        if (::rmdir(folder->c_str()) != 0 && !KeptOnPurpose(errno)) NoteFailure(*folder, error);
    }
    return left;
}

}  // namespace driver
