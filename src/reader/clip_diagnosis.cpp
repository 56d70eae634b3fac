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
    // The file first: a file that cannot be read is what the user must see to, whatever else.
    const std::string problem = FileProblem(clip.Path);
    if (!problem.empty()) return problem;
    if (!(clip.RangeEnd > clip.RangeStart)) {
        return core::FormatString("Its range starts at %.2f s, which is not before its end at %.2f s.",
                                  clip.RangeStart, clip.RangeEnd);
    }
    std::unique_ptr<MediaFile> file;
    if (platform::com::FAILED(MediaFile::Open(clip.Path, &file))) {
        return "The file is damaged or in a format the reader does not know.";
    }
    if (file->VideoStream() < 0) return "The file holds no video stream that can be decoded.";
    return core::FormatString("The reader could not be set up for it (error 0x%08X).",
                              unsigned(buildResult));
}

bool FileHoldsSound(const std::string& path) {
    // Only the stream table is wanted: opening the file as the reader does would also measure
    // its streams, which can mean reading all of a long file.
    if (!FileProblem(path).empty()) return false;
    const std::string url = "file:" + path;  // a colon in the name is no protocol
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, url.c_str(), nullptr, nullptr) < 0) return false;
    bool found = false;
    if (avformat_find_stream_info(format, nullptr) >= 0) {
        for (unsigned i = 0; i < format->nb_streams && !found; ++i) {
            found = format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        }
    }
    avformat_close_input(&format);
    return found;
}

}  // namespace reader
