// The reads of one file, watched: a failing disk, and a count of what was read. The test
// program's own read() stands in front of the system's, so the media libraries' reads pass
// through it too, and so does its own fread(), which the authoring engine reads its VOBs with.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace driver::testing {

// While one lives, reads of a stretch of one file fail with EIO, as they do over bad sectors of
// a dying disk; the rest of the file, and every other read of the process, reads as usual.
class FailingReads {
public:
    // The bytes from badFrom up to badTo cannot be read.
    FailingReads(const std::string& path, off_t badFrom, off_t badTo);
    ~FailingReads();
    FailingReads(const FailingReads&) = delete;
    FailingReads& operator=(const FailingReads&) = delete;

    // How many reads failed so far.
    static int Failures();
};

// While one lives, counts the bytes read from one file (by any thread, through any descriptor).
class CountedReads {
public:
    explicit CountedReads(const std::string& path);
    ~CountedReads();
    CountedReads(const CountedReads&) = delete;
    CountedReads& operator=(const CountedReads&) = delete;

    // Bytes read so far.
    static int64_t Bytes();
};

}  // namespace driver::testing
