#include "driver/clip_reread.h"

#include "core/log.h"
#include "platform/com/class_table.h"

namespace driver {

namespace {

bool CoversWholeFile(const reader::ClipRecord& clip) {
    return clip.RangeStart == 0.0 && clip.RangeEnd == clip.VideoLength;
}

bool RangeFits(const reader::ClipRecord& range, const reader::ClipRecord& file) {
    return range.RangeStart < range.RangeEnd && range.RangeEnd <= file.VideoLength;
}

}  // namespace

bool RereadClip(reader::ClipRecord& clip, std::string& failure) {
    const platform::com::ScopedComInit com;
    reader::ClipRecord fresh;
    const int32_t result = fresh.ReadMediaInfo(clip.Path);
    if (result != 0) {
        failure = reader::ProbeFailureText(clip.Path, result);
        core::LogPrintf("Changed since it was added and no longer readable (%d): %s\n", result,
                        clip.Path.c_str());
        return false;
    }
    if (!CoversWholeFile(clip) && RangeFits(clip, fresh)) {
        fresh.RangeStart = clip.RangeStart;
        fresh.RangeEnd = clip.RangeEnd;
    }
    core::LogPrintf("Read again, changed since it was added: %s, %.3f s, range %.3f to %.3f s\n",
                    clip.Path.c_str(), fresh.VideoLength, fresh.RangeStart, fresh.RangeEnd);
    clip = fresh;
    return true;
}

}  // namespace driver
