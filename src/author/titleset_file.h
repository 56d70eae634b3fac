// A titleset information file being read back: every read is bounded by the file's real size
// and, once its header is known, by the information-file sectors that the header declares, and a
// damaged field fails the run naming the file, the field and its byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "author/bytes.h"

namespace author {

// A count, size or byte of the file as a damage report gives it.
inline std::string number(uint64_t value) { return std::to_string(value); }

class TitlesetFile {
public:
    explicit TitlesetFile(const std::string& path);
    ~TitlesetFile();
    TitlesetFile(const TitlesetFile&) = delete;
    TitlesetFile& operator=(const TitlesetFile&) = delete;

    // Names the field (at its byte in the file) and what is wrong with it; the run fails.
    [[noreturn]] void damaged(const std::string& field, uint64_t at, const std::string& problem) const;

    uint64_t file_bytes() const { return file_bytes_; }
    // From here on the tables must lie within the sectors the header declares.
    void limit_to(uint64_t bytes) { end_ = bytes; }
    uint64_t end() const { return end_; }

    // `size` bytes at `at`, which `field` (at byte `field_at`) points to.
    ByteBuffer read(uint64_t at, uint64_t size, const char* field, uint64_t field_at);

private:
    std::string path_;
    std::FILE* file_;
    uint64_t file_bytes_ = 0;
    uint64_t end_ = 0;
};

}  // namespace author
