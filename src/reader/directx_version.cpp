#include "reader/directx_version.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <vector>

#include "reader/pe_version.h"

namespace reader {

using platform::com::E_FAIL;
using platform::com::E_INVALIDARG;
using platform::com::E_OUTOFMEMORY;
using platform::com::FAILED;
using platform::com::S_OK;

const char* const kSystemDirectory = "/windows/system32";

namespace {

// Version resources sit in executables of a few megabytes; anything far larger is not one
// of the components we look for.
constexpr off_t kLargestImage = off_t(512) << 20;

struct Row {
    const char* file;
    uint64_t atLeast;       // the condition, or the one for first number 4 when split
    uint64_t atLeastFor5;   // 0: one condition for every version; else the first number 5 one
    uint32_t major;
    uint32_t minor;
    char letter;
};

// In probing order; later rows that hold overwrite earlier ones.
constexpr Row kRows[] = {
    {"ddraw.dll", MakeFileVersion(4, 2, 0, 95), 0, 1, 0, ' '},
    {"ddraw.dll", MakeFileVersion(4, 3, 0, 1096), 0, 2, 0, ' '},
    {"ddraw.dll", MakeFileVersion(4, 4, 0, 68), 0, 3, 0, ' '},
    {"d3drg8x.dll", MakeFileVersion(4, 4, 0, 70), 0, 3, 0, 'a'},
    {"ddraw.dll", MakeFileVersion(4, 5, 0, 155), 0, 5, 0, ' '},
    {"ddraw.dll", MakeFileVersion(4, 6, 0, 318), 0, 6, 0, ' '},
    {"ddraw.dll", MakeFileVersion(4, 6, 0, 436), 0, 6, 1, ' '},
    {"dplayx.dll", MakeFileVersion(4, 6, 3, 518), 0, 6, 1, 'a'},
    {"ddraw.dll", MakeFileVersion(4, 7, 0, 700), 0, 7, 0, ' '},
    {"dinput.dll", MakeFileVersion(4, 7, 0, 716), 0, 7, 0, 'a'},
    {"ddraw.dll", MakeFileVersion(4, 8, 0, 400), MakeFileVersion(5, 1, 2258, 400), 8, 0, ' '},
    {"d3d8.dll", MakeFileVersion(4, 8, 1, 881), MakeFileVersion(5, 1, 2600, 881), 8, 1, ' '},
    {"d3d8.dll", MakeFileVersion(4, 8, 1, 901), MakeFileVersion(5, 1, 2600, 901), 8, 1, 'a'},
    {"mpg2splt.ax", MakeFileVersion(6, 3, 1, 885), 0, 8, 1, 'b'},
    {"dpnet.dll", MakeFileVersion(4, 9, 0, 134), MakeFileVersion(5, 2, 3677, 134), 8, 2, ' '},
};

bool RowHolds(const Row& row, uint64_t version) {
    if (row.atLeastFor5 == 0) return CompareVersions(version, row.atLeast) >= 0;
    switch (version >> 48) {
        case 4:
            return CompareVersions(version, row.atLeast) >= 0;
        case 5:
            return CompareVersions(version, row.atLeastFor5) >= 0;
        default:
            return false;
    }
}

void Write(uint32_t* major, uint32_t* minor, char* letter, uint32_t a, uint32_t b, char c) {
    if (major) *major = a;
    if (minor) *minor = b;
    if (letter) *letter = c;
}

}  // namespace

HRESULT GetFileVersion(const char* path, uint64_t* version) {
    if (path == nullptr || version == nullptr) return E_INVALIDARG;
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return E_FAIL;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kLargestImage) {
        ::close(fd);
        return E_FAIL;
    }
    std::vector<uint8_t> image;
    try {
        image.resize(size_t(info.st_size));
    } catch (const std::bad_alloc&) {
        ::close(fd);
        return E_OUTOFMEMORY;
    }
    size_t done = 0;
    while (done < image.size()) {
        const ssize_t got = ::read(fd, image.data() + done, image.size() - done);
        if (got <= 0) break;
        done += size_t(got);
    }
    ::close(fd);
    if (done != image.size()) return E_FAIL;
    return ReadPeFileVersion(image, version);
}

int CompareVersions(uint64_t a, uint64_t b) {
    const uint32_t highA = uint32_t(a >> 32), highB = uint32_t(b >> 32);
    if (highA != highB) return highA > highB ? 1 : -1;
    const uint32_t lowA = uint32_t(a), lowB = uint32_t(b);
    if (lowA != lowB) return lowA > lowB ? 1 : -1;
    return 0;
}

HRESULT GetDirectXVersion(uint32_t* major, uint32_t* minor, char* letter) {
    return GetDirectXVersion(kSystemDirectory,
                             [](const std::string& path, uint64_t* version) {
                                 return GetFileVersion(path.c_str(), version);
                             },
                             major, minor, letter);
}

HRESULT GetDirectXVersion(const std::string& systemDirectory, const FileVersionReader& readVersion,
                          uint32_t* major, uint32_t* minor, char* letter) {
    if (systemDirectory.empty() || !readVersion) {
        Write(major, minor, letter, 0, 0, ' ');
        return S_OK;
    }
    bool found = false;
    for (const Row& row : kRows) {
        uint64_t version = 0;
        if (FAILED(readVersion(systemDirectory + "/" + row.file, &version))) continue;
        if (RowHolds(row, version)) {
            Write(major, minor, letter, row.major, row.minor, row.letter);
            found = true;
        }
    }
    uint64_t d3d9 = 0;
    if (!FAILED(readVersion(systemDirectory + "/d3d9.dll", &d3d9))) {
        Write(major, minor, letter, 9, 0, ' ');
    } else if (!found) {
        Write(major, minor, letter, 0, 0, ' ');
    }
    return S_OK;
}

}  // namespace reader
