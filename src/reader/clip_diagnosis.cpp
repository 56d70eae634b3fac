#include "reader/clip_diagnosis.h"

#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

#include "core/file_utils.h"
#include "platform/dshow/media_file.h"

namespace reader {

using platform::dshow::MediaFile;

std::string ExplainUnreadableClip(const ClipRecord& clip, platform::com::HRESULT buildResult) {
    // The file first: a file that cannot be read is what the user must see to, whatever else.
    const std::string problem = FileProblem(clip.Path);
    if (!problem.empty()) return problem;
    if (!(clip.RangeEnd > clip.RangeStart)) {
        return core::FormatString("Its range starts at %.2f s, which is not before its end at %.2f s.",
                                  clip.RangeStart, clip.RangeEnd);
    }
    std::unique_ptr<MediaFile> file;
    const platform::com::HRESULT opened = MediaFile::Open(clip.Path, &file);
    // Worded as the Add report words it, which ran into the same fault.
    if (platform::com::FAILED(opened)) return ProbeFailureText(clip.Path, opened);
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
