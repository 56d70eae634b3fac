#include "reader/clip_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/com/class_table.h"
#include "platform/dshow/interfaces.h"
#include "platform/dshow/media_type.h"

namespace reader {

using namespace platform::com;
using namespace platform::dshow;

int64_t TruncateToInt64(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (value <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return int64_t(value);
}

int32_t TruncateToInt32(double value) {
    const int64_t wide = TruncateToInt64(value);
    if (wide > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (wide < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return int32_t(wide);
}

namespace {

constexpr int32_t kCannotOpen = 2;
constexpr int64_t kNanosecondsPerSecond = 1000000000;

int64_t ModifiedNanoseconds(const struct stat& info) {
    return int64_t(info.st_mtim.tv_sec) * kNanosecondsPerSecond + info.st_mtim.tv_nsec;
}

// The size (and, when asked, the modification time) of a regular file that can be opened for
// reading; the errno when there is none (EISDIR for a folder, EINVAL for anything else but a
// regular file), else 0. Opening without blocking and testing the type of what was opened
// keeps FIFOs and devices from hanging the probe.
int RegularFileSize(const std::string& path, uint64_t* size, int64_t* modified = nullptr) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat info {};
    const int error = ::fstat(fd, &info) != 0 ? errno
                      : S_ISDIR(info.st_mode) ? EISDIR
                      : !S_ISREG(info.st_mode) ? EINVAL
                                               : 0;
    ::close(fd);
    if (error == 0) {
        *size = uint64_t(info.st_size);
        if (modified != nullptr) *modified = ModifiedNanoseconds(info);
    }
    return error;
}

}  // namespace

std::string FileProblem(const std::string& path) {
    uint64_t size = 0;
    switch (const int error = RegularFileSize(path, &size)) {
        case 0: return size == 0 ? "The file is empty." : "";
        case EISDIR: return "It is a folder, not a file.";
        case EINVAL: return "It is not a regular file.";
        default: return std::string("The file cannot be opened: ") + std::strerror(error) + ".";
    }
}

bool ClipRecord::FileChangedSinceProbe() const {
    if (FileModified == 0) return false;
    struct stat info {};
    if (::stat(Path.c_str(), &info) != 0) return false;
    return uint64_t(info.st_size) != FileSize || ModifiedNanoseconds(info) != FileModified;
}

std::string ProbeFailureText(const std::string& path, int32_t result) {
    const std::string problem = FileProblem(path);
    if (!problem.empty()) return problem;
    if (result == VFW_E_UNKNOWN_FILE_TYPE) {
        return "No video or sound can be read from it (an unknown format, or a damaged or "
               "incomplete file).";
    }
    if (const int error = platform::com::ErrnoFromHresult(result)) {
        return std::string("The file cannot be read: ") + std::strerror(error) + ".";
    }
    char text[64];
    std::snprintf(text, sizeof text, "Its streams cannot be read (error 0x%08X).", unsigned(result));
    return text;
}

int32_t ClipRecord::ReadMediaInfo(const std::string& path) {
    Path = path;
    if (RegularFileSize(path, &FileSize, &FileModified) != 0) return kCannotOpen;

    ComPtr<IMediaDet> detector;
    HRESULT result = CoCreateInstance(CLSID_MediaDet, nullptr, CLSCTX_ALL, &detector);
    if (FAILED(result)) return result;
    result = detector->put_Filename(path.c_str());
    if (FAILED(result)) return result;

    FirstVideoStream = -1;
    long count = 0;
    result = detector->get_OutputStreams(&count);
    for (long i = 0; i < count; ++i) {
        detector->put_CurrentStream(i);
        GUID major{};
        result = detector->get_StreamType(&major);
        if (major == MEDIATYPE_Video) {
            if (FirstVideoStream < 0) FirstVideoStream = int32_t(i);
            HasVideo = 1;
            detector->get_FrameRate(&FrameRate);
            if (FrameRate < 1.0) FrameRate = 25.0;
            detector->get_StreamLength(&VideoLength);
            CMediaType type;
            result = detector->get_StreamMediaType(&type);
            if (SUCCEEDED(result)) {
                VideoSubtype = type.subtype;
                if (const auto* info = type.formattype == FORMAT_VideoInfo
                                           ? type.FormatAs<VIDEOINFOHEADER>()
                                           : nullptr) {
                    Width = info->bmiHeader.biWidth;
                    Height = info->bmiHeader.biHeight == std::numeric_limits<int32_t>::min()
                                 ? std::numeric_limits<int32_t>::max()
                                 : std::abs(info->bmiHeader.biHeight);
                    VideoBitRate = info->dwBitRate;
                }
            }
        } else if (major == MEDIATYPE_Audio) {
            HasAudio = 1;
            detector->get_StreamLength(&AudioLength);
            CMediaType type;
            result = detector->get_StreamMediaType(&type);
            if (SUCCEEDED(result)) {
                if (const auto* format = type.formattype == FORMAT_WaveFormatEx
                                             ? type.FormatAs<WAVEFORMATEX>()
                                             : nullptr) {
                    AudioBytes = int32_t(uint32_t(
                        uint64_t(TruncateToInt64(double(format->nAvgBytesPerSec) * AudioLength))));
                    AudioChannels = format->nChannels;
                    AudioBitsPerSample = format->wBitsPerSample;
                    AudioSampleRate = format->nSamplesPerSec;
                }
            }
        }
    }

    if (FileSize != 0) {
        const double length = AudioLength > VideoLength ? AudioLength : VideoLength;
        // A file whose streams have no length has no bit rate rather than an infinite one.
        if (length > 0.0 && std::isfinite(length)) {
            BitRate = TruncateToInt32(TruncateToInt64(double(FileSize) / length) * 8.0);
        }
    }
    FrameCount = TruncateToInt64(FrameRate * VideoLength);
    RangeStart = 0.0;
    RangeEnd = VideoLength;
    return result;
}

}  // namespace reader
