#include "driver/start_refusals.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "author/generation.h"
#include "core/file_utils.h"
#include "driver/output_lock.h"
#include "driver/path_kind.h"
#include "driver/title_clock.h"
#include "driver/title_limit.h"

namespace driver {

namespace {

// "6:36:40": hours, minutes and whole seconds, of seconds already rounded.
std::string ClockText(double seconds) {
    const long long total = reader::TruncateToInt64(seconds);
    return core::FormatString("%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
}

constexpr const char* kNothingEncoded = "\n\nNothing was encoded; please ";

// The errno that keeps this thread from `mode` access (R_OK, W_OK, X_OK) to path, with its own
// rights (as the job will use them, not as a set-user-id program's real user); 0 when none.
int AccessError(const std::string& path, int mode) {
    return ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0 ? 0 : errno;
}

// Why this user cannot use the folder as the engine does (list it, then write into it); "".
std::string FolderAccessProblem(const std::string& folder) {
    if (const int error = AccessError(folder, R_OK | X_OK)) {
        return folder + " cannot be read: " + std::strerror(error);
    }
    if (const int error = AccessError(folder, W_OK | X_OK)) {
        return folder + " cannot be written into: " + std::strerror(error);
    }
    return {};
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
    // Rounded apart, so that the list never reads as long as the limit it passes.
    return "The clips last " + ClockText(std::ceil(seconds)) + " together, longer than the " +
           ClockText(std::floor(limit)) + " that one DVD title can hold (the limit of its 90 kHz " +
           "clock).\n\nPlease remove clips or shorten their ranges.";
}

std::string DiscFolderProblem(const std::string& dvdFolder) {
    const PathKind kind = KindOf(dvdFolder);
    if (kind == PathKind::Missing || kind == PathKind::Folder) return {};
    return "The disc is made in the folder " + dvdFolder + ", but " + dvdFolder + " is " +
           DescribeKind(kind) + "." + kNothingEncoded + "move it away or choose another " +
           "output folder.";
}

std::string DiscFolderAccessProblem(const std::string& dvdFolder) {
    for (const std::string& folder : {dvdFolder, author::get_video_ts_dir(dvdFolder)}) {
        // One that is missing is made by the job; any other kind is refused, or met, elsewhere.
        if (KindOf(folder) != PathKind::Folder) continue;
        const std::string problem = FolderAccessProblem(folder);
        if (problem.empty()) continue;
        return "The disc is made in the folder " + dvdFolder + ", but " + problem + "." +
               kNothingEncoded + "make it readable and writable, or choose another output folder.";
    }
    return {};
}

std::string DiscFolderNotEmptiedProblem(const std::string& dvdFolder,
                                        const core::DeleteFailure& failure) {
    // The entry that stayed is a file that could not be deleted, or a folder that could not
    // be read.
    const bool folder = KindOf(failure.Path) == PathKind::Folder;
    return "The output directory \"" + dvdFolder + "\" could not be emptied:\n\n" + failure.Path +
           (folder ? " cannot be read: " : ": ") + std::strerror(failure.Error) + kNothingEncoded +
           (folder ? "make it readable, remove it" : "remove the file") +
           " or choose another output folder.";
}

std::string RelativeOutputFolderProblem(const std::string& folder) {
    return folder.empty() ? std::string("No output folder is chosen; please choose one.")
                          : "Can not create directory " + folder + ": it is not a full path.";
}

std::string OutputFolderNotCreatedProblem(const std::string& folder, int error) {
    // What stands under its name, when something other than a folder does, tells more than
    // "File exists".
    const PathKind kind = KindOf(folder);
    const std::string reason = kind == PathKind::Missing || kind == PathKind::Folder
                                   ? std::strerror(error)
                                   : "it is " + DescribeKind(kind);
    return "Can not create directory " + folder + ": " + reason + ".";
}

std::string LinkedTemporaryProblem(const std::vector<std::string>& temporaryPaths) {
    for (const std::string& path : temporaryPaths) {
        const PathKind kind = KindOf(path);
        if (!IsLink(kind)) continue;
        return "The job writes its file " + path + ", but " + path + " is " + DescribeKind(kind) +
               ", and the job never writes through a link." + kNothingEncoded +
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
