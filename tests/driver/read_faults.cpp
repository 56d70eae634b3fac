#include "read_faults.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>

namespace driver::testing {

namespace {

using ReadFunction = ssize_t (*)(int, void*, size_t);
using StreamReadFunction = size_t (*)(void*, size_t, size_t, std::FILE*);

// Set before `armed` and read only while it is set.
std::string failingFile;
off_t badFrom = 0;
off_t badTo = 0;
std::atomic<bool> armed{false};
std::atomic<int> failures{0};

std::string countedFile;  // set before `counting`, read only while it is set
std::atomic<bool> counting{false};
std::atomic<int64_t> bytesRead{0};

ReadFunction SystemRead() {
    static const auto function = reinterpret_cast<ReadFunction>(::dlsym(RTLD_NEXT, "read"));
    return function;
}

StreamReadFunction SystemStreamRead() {
    static const auto function =
        reinterpret_cast<StreamReadFunction>(::dlsym(RTLD_NEXT, "fread"));
    return function;
}

std::string OpenedFile(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link, target, sizeof target);
    return length > 0 ? std::string(target, size_t(length)) : std::string();
}

ssize_t FailOrRead(int fd, void* buffer, size_t count) {
    if (armed && OpenedFile(fd) == failingFile) {
        const off_t at = ::lseek(fd, 0, SEEK_CUR);
        if (at >= badFrom && at < badTo) {
            ++failures;
            errno = EIO;
            return -1;
        }
        if (at < badFrom) count = std::min(count, size_t(badFrom - at));
    }
    return SystemRead()(fd, buffer, count);
}

}  // namespace

FailingReads::FailingReads(const std::string& path, off_t from, off_t to) {
    SystemRead();  // looked up before any streaming thread may need it
    SystemStreamRead();
    failingFile = std::filesystem::canonical(path).string();
    badFrom = from;
    badTo = to;
    failures = 0;
    armed = true;
}

FailingReads::~FailingReads() { armed = false; }

int FailingReads::Failures() { return failures; }

CountedReads::CountedReads(const std::string& path) {
    SystemRead();
    countedFile = std::filesystem::canonical(path).string();
    bytesRead = 0;
    counting = true;
}

CountedReads::~CountedReads() { counting = false; }

int64_t CountedReads::Bytes() { return bytesRead; }

// C linkage: the media libraries' calls of read() find this one first.
extern "C" ssize_t read(int fd, void* buffer, size_t count) {
    const ssize_t got = FailOrRead(fd, buffer, count);
    if (got > 0 && counting && OpenedFile(fd) == countedFile) bytesRead += got;
    return got;
}

// The C library's fread fills its buffer through an internal read that no program can stand in
// front of, so a stream of the failing file is read here past the buffer, through the read()
// above. Such a stream is read from its start while a FailingReads lives (it is opened after),
// so its buffer stays empty and its position is the file's.
extern "C" size_t fread(void* buffer, size_t size, size_t count, std::FILE* stream) {
    if (!armed || size == 0 || OpenedFile(::fileno(stream)) != failingFile) {
        return SystemStreamRead()(buffer, size, count, stream);
    }
    auto* bytes = static_cast<char*>(buffer);
    const size_t wanted = size * count;
    size_t got = 0;
    while (got < wanted) {
        const ssize_t piece = ::read(::fileno(stream), bytes + got, wanted - got);
        if (piece <= 0) {
            // The flags ferror() and feof() test, as the library's own fread sets them.
            stream->_flags |= piece < 0 ? _IO_ERR_SEEN : _IO_EOF_SEEN;
            break;
        }
        got += size_t(piece);
    }
    return got / size;
}

}  // namespace driver::testing
