// What a run writes into the DVD folder, kept so that a run that fails leaves nothing behind
// that looks like a disc (a VOB without its information file, or one cut short by the error),
// and reported, so that the job can take away what its runs wrote when a later one fails or
// is stopped.
#pragma once

#include <string>
#include <vector>

namespace author {

// Called once the file is open for writing (created or truncated by this run), or before the run
// goes on to replace a file an earlier run wrote.
void record_output_file(const std::string& path);
// Called for a directory this run created (not for one that was already there).
void record_output_directory(const std::string& path);

// The recorded files that are there now (a name recorded before the run replaced it may never
// have been written), each once, in the order they were first recorded.
std::vector<std::string> present_output_files();

// Removes the recorded files, then the recorded directories that are empty by then, and keeps
// only what is still there of them. A file that cannot be removed is named in a warning; a
// directory under a recorded file's name is no output of the run's and is left alone.
void remove_run_output();

}  // namespace author
