// A failing disk for one file: while one lives, reads of a stretch of that file fail with EIO,
// as they do over bad sectors of a dying disk; the rest of the file, and every other read of
// the process, reads as usual. The test program's own read() stands in front of the system's,
// so the media libraries' reads pass through it too, and so does its own fread(), which the
// authoring engine reads its VOBs with.
#pragma once

#include <sys/types.h>

#include <string>

namespace driver::testing {

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

}  // namespace driver::testing
