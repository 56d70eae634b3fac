// What a folder holds at one moment, so that whatever a later run adds under it can be taken
// away again while everything that was there before stays.
#pragma once

#include <set>
#include <string>

namespace driver {

class FolderSnapshot {
public:
    // Records the folder and every file and folder under it; a missing folder (or a file of
    // that name) is recorded as such.
    static FolderSnapshot Take(const std::string& folder);

    // Removes every file and folder under the folder, the folder itself included, that the
    // snapshot did not hold. False when something added could not be removed, or the snapshot
    // could not read the whole tree (then nothing is removed); `error` then names the first
    // such path and the reason.
    bool RemoveAdded(std::string& error) const;

private:
    std::string folder_;
    bool existed_ = false;  // the path existed at all, whatever its kind
    bool complete_ = false;  // every entry under it could be read
    std::set<std::string> entries_;
};

}  // namespace driver
