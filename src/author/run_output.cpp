#include "author/run_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "author/diagnostics.h"
#include "author/model.h"

namespace author {

void record_output_file(const std::string& path) { engine().output.files.push_back(path); }

void record_output_directory(const std::string& path) { engine().output.directories.push_back(path); }

std::vector<std::string> present_output_files() {
    std::vector<std::string> present;
    for (const std::string& file : engine().output.files) {
        struct stat entry;
        if (::lstat(file.c_str(), &entry) != 0 || S_ISDIR(entry.st_mode)) continue;
        if (std::find(present.begin(), present.end(), file) == present.end()) present.push_back(file);
    }
    return present;
}

void remove_run_output() {
    RunOutput& output = engine().output;
    RunOutput left;
    for (const std::string& file : output.files) {
        if (::unlink(file.c_str()) == 0 || errno == ENOENT || errno == EISDIR) continue;
        emit("WARN: Cannot remove %s of the failed run: %s\n", file.c_str(), std::strerror(errno));
        left.files.push_back(file);
    }
    // Children before parents; a directory that holds what an earlier run made stays.
    for (auto directory = output.directories.rbegin(); directory != output.directories.rend(); ++directory) {
        if (::rmdir(directory->c_str()) == 0 || errno == ENOENT) continue;
        if (errno != ENOTEMPTY && errno != EEXIST)
            emit("WARN: Cannot remove %s of the failed run: %s\n", directory->c_str(), std::strerror(errno));
        left.directories.insert(left.directories.begin(), *directory);
    }
    output = left;
}

}  // namespace author
