#include "driver/start_refusals.h"

#include <cmath>

#include "core/file_utils.h"
#include "driver/output_lock.h"
#include "driver/path_kind.h"
#include "driver/title_limit.h"

namespace driver {

namespace {

// "6:36:40": hours, minutes and whole seconds.
std::string ClockText(double seconds) {
    const long total = long(std::floor(seconds));
    return core::FormatString("%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
}

double ListSeconds(const std::vector<reader::ClipRecord>& clips) {
    double seconds = 0.0;
    for (const reader::ClipRecord& clip : clips) seconds += clip.RangeSeconds();
    return seconds;
}

}  // namespace

std::string ListLengthProblem(const std::vector<reader::ClipRecord>& clips) {
    const double seconds = ListSeconds(clips);
    const double limit = double(kTitleClockLimit) / kTitleClockRate;
    if (seconds <= limit) return {};
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
