// What the Start command checks and prepares before a job's worker runs. Every check that can
// refuse the job comes before anything is deleted or created; each refusal shows its own box
// and leaves every file as it was.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "driver/output_lock.h"
#include "reader/clip_record.h"

namespace driver {

// Each clip is a chapter of the disc's one title, and a title holds at most 99 chapters.
constexpr std::size_t kMaxClipsPerDisc = 99;
// The disc's folder inside the output folder; emptied at Start, written by the authoring.
constexpr const char* kDvdFolderName = "DVD";

// Checks the clips and the output folder, asks what the user must agree to, empties the "DVD"
// folder and creates the output folder. True when the job may start; `lock` then holds the
// output folder for it. A clip whose file changed since it was added is read again first: its
// record in `clips` is then the fresh one, also when the job is refused later.
bool PrepareJobOutput(std::vector<reader::ClipRecord>& clips, const std::string& folder,
                      OutputLock& lock);

}  // namespace driver
