// A listed clip whose file changed since it was added (overwritten, cut short, grown) is read
// again at Start, so that the job neither fails on it after encoding the clips before it nor
// encodes it by what an older file held.
#pragma once

#include <string>

#include "reader/clip_record.h"

namespace driver {

// Probes the clip's file again into `clip`. Its range is kept when it still fits the file; a
// range that covered the whole old file covers the whole new one, and one that no longer fits
// becomes the whole file too. False, leaving `clip` as it was, when the file can no longer be
// probed; `failure` then says why in the words the Add report uses.
bool RereadClip(reader::ClipRecord& clip, std::string& failure);

}  // namespace driver
