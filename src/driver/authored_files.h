// Taking away again what the authoring runs of a job wrote, once they failed or were stopped:
// exactly the files and folders the engine reports it made, so that a file or folder anyone
// else put under the "DVD" folder meanwhile (the user's, another job's output) stays.
#pragma once

#include <string>
#include <vector>

namespace driver {

// Removes `files` (the engine's outputs: a folder standing under one of their names is not
// one and stays), then `folders`, last made first, each only when it holds nothing by then: a
// folder that holds something of anyone else's stays. Answers the files that could not be
// removed; `error` then names the first with the system's reason.
std::vector<std::string> RemoveAuthoredFiles(const std::vector<std::string>& files,
                                             const std::vector<std::string>& folders,
                                             std::string& error);

}  // namespace driver
