#include "driver/folder_snapshot.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace driver {

namespace fs = std::filesystem;

namespace {

// Every path under folder, parents before their contents; links are listed, never followed.
// False when part of the tree could not be read.
bool ListPathsUnder(const std::string& folder, std::vector<std::string>& paths) {
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(folder, error))) return true;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        paths.push_back(it->path().string());
    }
    return !error;
}

bool RemoveOne(const std::string& path, std::string& error) {
    std::error_code failure;
    const fs::file_status status = fs::symlink_status(path, failure);
    if (failure || !fs::exists(status)) return true;  // gone with its folder, or never there
    // Only empty folders are removed: contents go first.
    if (fs::remove(path, failure) || !failure) return true;
    if (error.empty()) error = path + ": " + failure.message();
    return false;
}

}  // namespace

FolderSnapshot FolderSnapshot::Take(const std::string& folder) {
    FolderSnapshot snapshot;
    snapshot.folder_ = folder;
    std::error_code error;
    snapshot.existed_ = fs::exists(fs::symlink_status(folder, error));
    std::vector<std::string> paths;
    snapshot.complete_ = ListPathsUnder(folder, paths);
    snapshot.entries_.insert(paths.begin(), paths.end());
    return snapshot;
}

bool FolderSnapshot::RemoveAdded(std::string& error) const {
    error.clear();
    // What the snapshot could not read might have been there before: nothing is removed then.
    if (!complete_) {
        error = folder_ + ": its contents could not all be read beforehand";
        return false;
    }
    std::vector<std::string> paths, added;
    const bool listed = ListPathsUnder(folder_, paths);
    for (const std::string& path : paths) {
        if (entries_.count(path) == 0) added.push_back(path);
    }
    if (!existed_) added.insert(added.begin(), folder_);
    bool removed = true;
    // Contents before their folders.
    for (auto it = added.rbegin(); it != added.rend(); ++it) removed &= RemoveOne(*it, error);
    if (!listed && error.empty()) error = folder_ + ": its contents could not all be read";
    return removed && listed;
}

}  // namespace driver
