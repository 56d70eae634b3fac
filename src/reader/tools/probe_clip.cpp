// probe-clip FILE: prints the clip record of FILE as Name=value lines, or exits non-zero with
// the reason it cannot be probed.
#include <cinttypes>
#include <cstdio>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/com/class_table.h"
#include "reader/clip_record.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: probe-clip FILE\n");
        return 2;
    }
    // FFmpeg's complaints about damaged packets are not this tool's output.
    av_log_set_level(AV_LOG_QUIET);
    platform::com::ScopedComInit com;
    reader::ClipRecord clip;
    const int32_t result = clip.ReadMediaInfo(argv[1]);
    if (result != 0) {
        // The reason the Add report gives, e.g. a read that failed while the file was measured.
        const std::string reason = reader::ProbeFailureText(argv[1], result);
        if (result == 2) {
            std::fprintf(stderr, "probe-clip: %s: not a readable regular file: %s\n", argv[1],
                         reason.c_str());
        } else {
            std::fprintf(stderr, "probe-clip: %s: %s (0x%08" PRIX32 ")\n", argv[1], reason.c_str(),
                         uint32_t(result));
        }
        return 1;
    }
    std::printf("Path=%s\n", clip.Path.c_str());
    std::printf("FileSize=%" PRIu64 "\n", clip.FileSize);
    std::printf("HasVideo=%d\n", clip.HasVideo);
    std::printf("HasAudio=%d\n", clip.HasAudio);
    std::printf("Width=%d\n", clip.Width);
    std::printf("Height=%d\n", clip.Height);
    std::printf("BitRate=%d\n", clip.BitRate);
    std::printf("FirstVideoStream=%d\n", clip.FirstVideoStream);
    std::printf("VideoSubtype=%s\n", platform::com::GuidToString(clip.VideoSubtype).c_str());
    std::printf("FrameRate=%.9g\n", clip.FrameRate);
    std::printf("VideoLength=%.9g\n", clip.VideoLength);
    std::printf("VideoBitRate=%u\n", clip.VideoBitRate);
    std::printf("AudioSampleRate=%u\n", clip.AudioSampleRate);
    std::printf("AudioLength=%.9g\n", clip.AudioLength);
    std::printf("AudioChannels=%u\n", clip.AudioChannels);
    std::printf("AudioBitsPerSample=%u\n", clip.AudioBitsPerSample);
    std::printf("AudioBytes=%d\n", clip.AudioBytes);
    std::printf("FrameCount=%" PRId64 "\n", clip.FrameCount);
    std::printf("RangeStart=%.9g\n", clip.RangeStart);
    std::printf("RangeEnd=%.9g\n", clip.RangeEnd);
    return 0;
}
