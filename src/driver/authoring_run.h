// The job's two runs of the authoring engine over the clips' VOBs: the titleset, then the
// table of contents, into the disc's folder. What the engine said went wrong comes back, so
// that the user reads the system's reason and not only "failed".
#pragma once

#include <string>
#include <vector>

namespace platform {
class ProgressTarget;
class ManualResetEvent;
}  // namespace platform

namespace driver {

struct AuthoringResult {
    bool authored = false;  // both runs finished
    // The Stop cut the titleset short: the disc lacks the VOBs the engine did not reach. A
    // Stop that came once the engine had read every VOB leaves the disc whole.
    bool stopped = false;
    std::vector<std::string> errors;  // the engine's error lines, in order
    // What the runs wrote that is still there (the engine's report, and the disc's folder when
    // it was made here), for taking it away again after a failure or a stop.
    std::vector<std::string> writtenFiles;
    std::vector<std::string> createdFolders;  // parents first
};

// The program name the engine is given, and the name its messages go under in the log; its
// option parser names itself by it too, so it is the engine's own command's name.
inline constexpr const char* kAuthoringProgramName = "discforge";

// Creates the disc's folder (one level) and runs the engine. stop is polled by the engine.
AuthoringResult RunAuthoring(const std::string& dvdFolder, const std::vector<std::string>& vobPaths,
                             platform::ProgressTarget* progress,
                             const platform::ManualResetEvent* stop);

}  // namespace driver
