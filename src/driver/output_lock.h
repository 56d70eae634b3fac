// One job per output folder: two jobs in one folder would overwrite each other's temporary
// files and disc. A job holds an advisory lock on a file in the folder from Start to its end.
// The system drops the lock with the process that held it, so a lock file left behind by a
// process that died blocks nobody.
#pragma once

#include <string>

namespace driver {

class OutputLock {
public:
    // The lock file's name in the output folder; hidden, so the folder listing stays the user's.
    static constexpr const char* kFileName = ".lumivane.lock";

    enum class Outcome { Held, Busy, Failed };

    OutputLock() = default;
    ~OutputLock() { Release(); }
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;

    // Takes the lock of an existing folder without waiting. Busy: another job holds it.
    // Failed: the lock file cannot be made there; errno tells why.
    Outcome Acquire(const std::string& folder);
    // Removes the lock file and drops the lock; nothing when none is held.
    void Release();
    bool IsHeld() const { return fd_ >= 0; }
    // A job holds the lock of that folder now (this object's own lock counts as well).
    static bool HeldByAJob(const std::string& folder);

private:
    int fd_ = -1;
    std::string path_;
};

// The first folder in folder's tree, folder included, in which a job runs now, or "" when
// there is none; links are not followed.
std::string RunningJobFolderIn(const std::string& folder);

}  // namespace driver
