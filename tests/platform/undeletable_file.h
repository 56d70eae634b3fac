// Test helper: a file that cannot be deleted for a while, as a read-only or busy file in a
// shared folder cannot. Its folder is made read-only; root, whom permissions do not stop, also
// gets the file marked immutable. Both are undone at the end.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace testing_support {

class UndeletableFile {
public:
    explicit UndeletableFile(const std::string& path)
        : path_(path), folder_(std::filesystem::path(path).parent_path().string()) {
        ::chmod(folder_.c_str(), 0555);
        held_ = ::geteuid() == 0 ? SetImmutable(true) : ::access(folder_.c_str(), W_OK) != 0;
    }
    ~UndeletableFile() {
        if (::geteuid() == 0) SetImmutable(false);
        ::chmod(folder_.c_str(), 0755);
    }
    UndeletableFile(const UndeletableFile&) = delete;
    UndeletableFile& operator=(const UndeletableFile&) = delete;

    // False where the file system offers neither way; the test then has nothing to show.
    bool Held() const { return held_; }

private:
    bool SetImmutable(bool immutable) {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return done;
    }

    std::string path_;
    std::string folder_;
    bool held_ = false;
};

}  // namespace testing_support
