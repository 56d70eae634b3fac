// Test helpers: an entry marked immutable for a while (it cannot be changed, deleted, or, for a
// folder, written into, even by root), and a file that cannot be deleted for a while, as a
// read-only or busy file in a shared folder cannot. Both are undone at the end.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

namespace testing_support {

// Needs root (CAP_LINUX_IMMUTABLE) and a file system that keeps the attribute.
class ImmutableAttribute {
public:
    explicit ImmutableAttribute(const std::string& path) : path_(path) { held_ = Set(true); }
    ~ImmutableAttribute() {
        if (held_) Set(false);
    }
    ImmutableAttribute(const ImmutableAttribute&) = delete;
    ImmutableAttribute& operator=(const ImmutableAttribute&) = delete;

    bool Held() const { return held_; }

private:
    bool Set(bool immutable) {
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
    bool held_ = false;
};

// Its folder is made read-only; root, whom permissions do not stop, also gets the file marked
// immutable.
class UndeletableFile {
public:
    explicit UndeletableFile(const std::string& path)
        : folder_(std::filesystem::path(path).parent_path().string()) {
        ::chmod(folder_.c_str(), 0555);
        if (::geteuid() == 0) immutable_ = std::make_unique<ImmutableAttribute>(path);
        held_ = immutable_ ? immutable_->Held() : ::access(folder_.c_str(), W_OK) != 0;
    }
    ~UndeletableFile() {
        immutable_.reset();
        ::chmod(folder_.c_str(), 0755);
    }
    UndeletableFile(const UndeletableFile&) = delete;
    UndeletableFile& operator=(const UndeletableFile&) = delete;

    // False where the file system offers neither way; the test then has nothing to show.
    bool Held() const { return held_; }

private:
    std::string folder_;
    std::unique_ptr<ImmutableAttribute> immutable_;
    bool held_ = false;
};

}  // namespace testing_support
