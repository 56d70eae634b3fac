// What Start can tell before anything is encoded or deleted that would make the job fail hours
// later, or harm files that are not the job's. Each check returns the message that names the
// problem, or "" when there is none.
#pragma once

#include <string>
#include <vector>

#include "reader/clip_record.h"

namespace driver {

// The ranges of the list together pass what one title can hold.
std::string ListLengthProblem(const std::vector<reader::ClipRecord>& clips);
// Something other than a folder stands under the name of the disc's folder.
std::string DiscFolderProblem(const std::string& dvdFolder);
// A link stands under the name of one of the job's files: the job would write through it into
// another folder.
std::string LinkedTemporaryProblem(const std::vector<std::string>& temporaryPaths);
// A job runs in a folder inside the disc's folder, which Start empties.
std::string RunningJobProblem(const std::string& dvdFolder);

}  // namespace driver
