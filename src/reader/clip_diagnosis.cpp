#include "reader/clip_diagnosis.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

#include "core/file_utils.h"
#include "platform/dshow/media_file.h"

namespace reader {
namespace {

using platform::dshow::MediaFile;

// The file system's reason when the file cannot be read at all; empty when it can.
std::string FileProblem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::string("The file cannot be opened: ") + std::strerror(errno) + ".";
    }
    if (S_ISDIR(info.st_mode)) return "It is a folder, not a file.";
    if (!S_ISREG(info.st_mode)) return "It is not a regular file.";
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return std::string("The file cannot be opened: ") + std::strerror(errno) + ".";
    ::close(descriptor);
    if (info.st_size == 0) return "The file is empty.";
    return {};
}

}  // namespace

std::string ExplainUnreadableClip(const ClipRecord& clip, platform::com::HRESULT buildResult) {
    if (!(clip.RangeEnd > clip.RangeStart)) {
        return core::FormatString("Its range starts at %.2f s, which is not before its end at %.2f s.",
                                  clip.RangeStart, clip.RangeEnd);
    }
    const std::string problem = FileProblem(clip.Path);
    if (!problem.empty()) return problem;
    std::unique_ptr<MediaFile> file;
    if (platform::com::FAILED(MediaFile::Open(clip.Path, &file))) {
        return "The file is damaged or in a format the reader does not know.";
    }
    if (file->VideoStream() < 0) return "The file holds no video stream that can be decoded.";
    return core::FormatString("The reader could not be set up for it (error 0x%08X).",
                              unsigned(buildResult));
}

bool FileHoldsSound(const std::string& path) {
    std::unique_ptr<MediaFile> file;
    if (platform::com::FAILED(MediaFile::Open(path, &file))) return false;
    AVFormatContext* format = file->Format();
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return true;
    }
    return false;
}

}  // namespace reader
