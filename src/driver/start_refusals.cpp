#include "driver/start_refusals.h"

#include <algorithm>
#include <cmath>

#include "core/file_utils.h"
#include "driver/output_lock.h"
#include "driver/path_kind.h"
#include "driver/title_clock.h"
#include "driver/title_limit.h"

namespace driver {

namespace {

// "6:36:40": hours, minutes and whole seconds.
std::string ClockText(double seconds) {
    const long total = long(std::floor(seconds));
    return core::FormatString("%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
}

// Counted as the title clock counts it, so that a list accepted here never restarts the clock.
int64_t ListClockTicks(const std::vector<reader::ClipRecord>& clips) {
    int64_t ticks = 0;
    for (const reader::ClipRecord& clip : clips) {
        const int64_t range = RangeClockTicks(clip.RangeSeconds());
        ticks = std::min(ticks, INT64_MAX - range) + range;  // an endless range stays endless
    }
    return ticks;
}

}  // namespace

std::string ListLengthProblem(const std::vector<reader::ClipRecord>& clips) {
    const int64_t ticks = ListClockTicks(clips);
    if (ticks <= kTitleClockLimit) return {};
    const double seconds = double(ticks) / kTitleClockRate;
    const double limit = double(kTitleClockLimit) / kTitleClockRate;
    return "The clips last " + ClockText(seconds) + " together, longer than the " +
           ClockText(limit) + " that one DVD title can hold (the limit of its 90 kHz clock)." +
           "\n\nPlease remove clips or shorten their ranges.";
}

std::string DiscFolderProblem(const std::string& dvdFolder) {
    const PathKind kind = KindOf(dvdFolder);
    if (kind == PathKind::Missing || kind == PathKind::Folder) return {};
    return "The disc is made in the folder " + dvdFolder + ", but " + dvdFolder + " is " +
           DescribeKind(kind) + ".\n\nNothing was encoded; please move it away or choose " +
           "another output folder.";
}

std::string LinkedTemporaryProblem(const std::vector<std::string>& temporaryPaths) {
    for (const std::string& path : temporaryPaths) {
        const PathKind kind = KindOf(path);
        if (!IsLink(kind)) continue;
        return "The job writes its file " + path + ", but " + path + " is " + DescribeKind(kind) +
               ", and the job never writes through a link.\n\nNothing was encoded; please " +
               "remove the link or choose another output folder.";
    }
    return {};
}

std::string RunningJobProblem(const std::string& dvdFolder) {
    const std::string running = RunningJobFolderIn(dvdFolder);
    if (running.empty()) return {};
    return "Another job is making a DVD in the folder \"" + running + "\", inside the folder " +
           dvdFolder + " that this job empties first.\n\nPlease wait until it has finished, or " +
           "choose another output folder.";
}

}  // namespace driver
