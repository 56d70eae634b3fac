// One source clip: what the media detector reports about its streams, the range of it to
// encode, and the size and modification time its file had, which tell when it has changed.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/guid.h"

namespace reader {

struct ClipRecord {
    std::string Path;
    uint64_t FileSize = 0;
    int32_t HasVideo = 0;
    int32_t HasAudio = 0;
    int32_t Width = 0;
    int32_t Height = 0;  // always positive, whichever way the rows are stored
    int32_t BitRate = 0;  // bits per second over the whole file
    int32_t FirstVideoStream = 0;
    platform::com::GUID VideoSubtype{};
    double FrameRate = 0.0;
    double VideoLength = 0.0;  // seconds
    uint32_t VideoBitRate = 0;
    uint32_t AudioSampleRate = 0;
    double AudioLength = 0.0;  // seconds
    uint32_t AudioChannels = 0;
    uint32_t AudioBitsPerSample = 0;
    int32_t AudioBytes = 0;
    int64_t FrameCount = 0;
    double RangeStart = 0.0;  // seconds from the start of the file
    double RangeEnd = 0.0;
    // The file's modification time when it was probed, in nanoseconds since the epoch; 0 for a
    // record that was not probed from a file.
    int64_t FileModified = 0;

    // How long the range lasts; 0 for a range that ends where it starts, or before.
    double RangeSeconds() const { return RangeEnd > RangeStart ? RangeEnd - RangeStart : 0.0; }

    // Probes path into this record: 0 when probed; 2 when the file cannot be opened as a
    // regular file; otherwise the failing media-detector result. The calling thread must
    // have COM initialised.
    int32_t ReadMediaInfo(const std::string& path);

    // The file at Path differs in size or modification time from the one probed (overwritten,
    // cut short, grown). False for a record that was not probed, and for a file that cannot be
    // looked at now: FileProblem tells about that one.
    bool FileChangedSinceProbe() const;
};

// Why path cannot be read as a clip's file at all (no such file, permission denied, a folder,
// an empty file, ...), as a sentence for the user; empty when it can. The one wording of these
// faults, whether the Add report, Start or the job finds them.
std::string FileProblem(const std::string& path);

// Why ClipRecord::ReadMediaInfo returned the failure `result` for path, as a sentence for the
// user: FileProblem's when the file itself is at fault.
std::string ProbeFailureText(const std::string& path, int32_t result);

// value truncated toward zero, 0 for NaN, saturated at the type's limits: no double reaches
// an integer without passing here.
int64_t TruncateToInt64(double value);
int32_t TruncateToInt32(double value);

}  // namespace reader
