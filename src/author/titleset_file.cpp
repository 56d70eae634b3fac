#include "author/titleset_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "author/diagnostics.h"

namespace author {

TitlesetFile::TitlesetFile(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "rb")) {
    if (file_ == nullptr) fatal("ERR:  cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    struct stat status;
    if (::fstat(::fileno(file_), &status) != 0) {
        const int error = errno;
        std::fclose(file_);
        fatal("ERR:  cannot read %s: %s\n", path.c_str(), std::strerror(error));
    }
    file_bytes_ = end_ = static_cast<uint64_t>(status.st_size);
}

TitlesetFile::~TitlesetFile() { std::fclose(file_); }

void TitlesetFile::damaged(const std::string& field, uint64_t at, const std::string& problem) const {
    fatal("ERR:  %s: %s (byte 0x%03" PRIx64 ") %s\n", path_.c_str(), field.c_str(), at, problem.c_str());
}

ByteBuffer TitlesetFile::read(uint64_t at, uint64_t size, const char* field, uint64_t field_at) {
    if (at + size > end_)
        damaged(field, field_at, "points to bytes " + number(at) + " to " + number(at + size - 1) +
                                     ", past the end of the information file (" + number(end_) + " bytes)");
    ByteBuffer bytes(size);
    if (std::fseek(file_, static_cast<long>(at), SEEK_SET) != 0 ||
        std::fread(bytes.data(), 1, bytes.size(), file_) != bytes.size())
        fatal("ERR:  cannot read %s: %s\n", path_.c_str(), std::ferror(file_) ? std::strerror(errno) : "it ended early");
    return bytes;
}

}  // namespace author
