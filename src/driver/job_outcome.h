// How a job ended, told the same way to the window's status line and to LastJobResult.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace driver {

// Finished: the disc holds every clip in full. Stopped: a Stop left a disc of fewer clips, or
// of a clip cut short, or no disc. Failed: an error (shown in its own box) ended the job.
// Crashed: an exception ended it; nothing is known of its files.
enum class JobResult { None, Finished, Stopped, Failed, Crashed };

struct JobOutcome {
    bool failed = false;
    std::size_t clipCount = 0;    // clips in the list
    std::size_t clipsOnDisc = 0;  // the first clips of the list, as chapters; 0: no disc
    bool lastClipCut = false;     // the last of them holds only what was encoded before the Stop
    std::vector<std::string> kept;  // paths of the job's own files left in the output folder
    bool clipsReadShort = false;    // some clips gave less than their range (named in a warning)

    JobResult Result() const;
};

// The status line at the job's end: how the job ended ("Job finished." for a finished job
// whose clips were all read in full), for any other what the disc holds, then which of the
// job's files stay ("Kept: ...") and the output folder.
std::string JobEndStatus(const JobOutcome& outcome, const std::string& outputFolder);

}  // namespace driver
