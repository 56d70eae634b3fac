// What Start can tell before anything is encoded or deleted that would make the job fail hours
// later, or harm files that are not the job's. Each check returns the message that names the
// problem, or "" when there is none.
#pragma once

#include <string>
#include <vector>

#include "core/file_utils.h"
#include "reader/clip_record.h"

namespace driver {

// The ranges of the list together pass what one title can hold.
std::string ListLengthProblem(const std::vector<reader::ClipRecord>& clips);
// Something other than a folder stands under the name of the disc's folder.
std::string DiscFolderProblem(const std::string& dvdFolder);
// The disc's folder, or the VIDEO_TS folder in it that the engine writes into, is there but
// this user cannot read it or write into it (its permissions, a read-only file system, the
// immutable attribute): the engine would fail only once every clip is encoded.
std::string DiscFolderAccessProblem(const std::string& dvdFolder);
// Emptying the disc's folder left the entry of `failure` behind.
std::string DiscFolderNotEmptiedProblem(const std::string& dvdFolder,
                                        const core::DeleteFailure& failure);
// The output folder is not a full path, or cannot be created: `error` is the errno of the
// failed creation.
std::string RelativeOutputFolderProblem(const std::string& folder);
std::string OutputFolderNotCreatedProblem(const std::string& folder, int error);
// A link stands under the name of one of the job's files: the job would write through it into
// another folder.
std::string LinkedTemporaryProblem(const std::vector<std::string>& temporaryPaths);
// A job runs in a folder inside the disc's folder, which Start empties.
std::string RunningJobProblem(const std::string& dvdFolder);

}  // namespace driver
