// Entry of the DVD-Video authoring engine.
#pragma once

#include <string>
#include <vector>

namespace platform {
class ProgressTarget;
class ManualResetEvent;
}  // namespace platform

namespace author {

// What a run tells its caller besides its result.
struct RunReport {
    std::vector<std::string> errors;  // the text of its error messages, in order
    bool cancelled = false;           // the cancel event cut it short: its output lacks inputs
    // What the run wrote that is still there: the files it created or replaced, and the
    // directories it created, parents first. A run that failed has taken its output away
    // again; what it could not remove is left here.
    std::vector<std::string> written_files;
    std::vector<std::string> created_directories;
};

// Runs the engine over a command line (argv[0] is the program name): builds the title and menu
// model from the options and writes a titleset, or with -T the table of contents. Returns 0
// when a generation driver finished, 1 after an option error or a fatal error (its message
// already on standard error). Each call starts from a fresh engine context, so the engine can
// run many times in one process. progress receives PBM_SETPOS while inputs are scanned; cancel
// (may be null) is polled to stop early. report (may be null) receives the run's error lines and
// whether a cancel cut it short.
int authoring_main(int argc, char** argv, platform::ProgressTarget* progress,
                   const platform::ManualResetEvent* cancel, RunReport* report = nullptr);

}  // namespace author
