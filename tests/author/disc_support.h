// Whole-disc checks: make input VOBs with the ffmpeg tool, run the engine as the encode job does,
// and read the result back with libdvdread, libdvdnav and lsdvd, which nobody here wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "author/ifo_fixtures.h"

namespace platform {
class ProgressTarget;
class ManualResetEvent;
}  // namespace platform

namespace author::testing {

// Makes `name` in `dir` from ffmpeg's test sources: `seconds` of testsrc and a sine tone through
// the given output options (e.g. "-target pal-dvd"). Returns its path.
std::string make_clip(const std::string& dir, const std::string& name, double seconds,
                      const std::string& output_options);

// Makes `name` in `dir` with our own multiplexer: ffmpeg encodes `seconds` of testsrc through
// the video options into an MPEG-2 elementary stream and of a sine tone through the audio
// options into `audio_file` (its extension names the format where the multiplexer needs it, as
// ".wav" for LPCM). Returns its path.
std::string make_muxed_clip(const std::string& dir, const std::string& name, double seconds,
                            const std::string& video_options, const std::string& audio_file,
                            const std::string& audio_options);

// Runs the engine over the arguments (the program name is added); returns its result.
int run_discforge(const std::vector<std::string>& arguments,
                  platform::ProgressTarget* progress = nullptr,
                  const platform::ManualResetEvent* cancel = nullptr);
// The encode job's two runs over the clips into `dvd`; both must succeed.
void author_job_disc(const std::string& dvd, const std::vector<std::string>& clips,
                     platform::ProgressTarget* progress = nullptr,
                     const platform::ManualResetEvent* cancel = nullptr);

// What a job disc must show.
struct ExpectedDisc {
    int chapters = 0;
    double chapter_seconds = 0;  // every clip's length; 0 = don't compare
    bool pal = true;
};

// One picture's time in seconds, and so how far a length may be off: a clip's sound and
// pictures may end a frame apart. A thousandth more covers lengths printed to milliseconds.
inline double frame_tolerance(bool pal) { return (pal ? 1.0 / 25 : 1001.0 / 30000) + 0.001; }

// The libdvdread checks of the information files and the walk over every NAV pack.
void check_job_disc(const std::string& dvd, const ExpectedDisc& expected);
// The same checks once more with every IFO replaced by its BUP (in a copy of the folder).
void check_job_disc_from_backups(const std::string& dvd, const ExpectedDisc& expected);
// Opens the manager and every titleset with libdvdread, which must find each menu table the
// files announce and log no consistency complaint; walks the NAV packs of every menu and title
// VOB against the cells of its tables.
void check_reader_accepts(const std::string& dvd, int titlesets);
// The same once more with every IFO replaced by its BUP.
void check_reader_accepts_backups(const std::string& dvd, int titlesets);

// Opens the manager and titlesets 1 to `titlesets` of the folder with libdvdread; false when one
// does not open. What the reader complains of on the way (failed checks, tables it cannot
// read) is appended to `complaints`.
bool reader_opens(const std::string& dvd, int titlesets, std::vector<std::string>& complaints);

// IFO == BUP, every file a whole number of sectors, an empty AUDIO_TS, and VIDEO_TS.VOB only
// for a disc with a table-of-contents menu.
void check_files(const std::string& dvd, bool manager_menu = false);

// lsdvd -x -Oy output for the folder.
std::string run_lsdvd(const std::string& dvd);
// lsdvd -x over the folder: its exit status, or -1 when a signal ended it.
int lsdvd_status(const std::string& dvd);

}  // namespace author::testing
