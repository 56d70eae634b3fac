// What the reader finds in a clip's file when reading it went wrong, in words for the user.
#pragma once

#include <string>

#include "platform/com/com.h"
#include "reader/clip_record.h"

namespace reader {

// Why no reader could be built for clip (buildResult: the failure the build returned), as
// one or two sentences: its range, the file system's reason, or what the file lacks.
std::string ExplainUnreadableClip(const ClipRecord& clip, platform::com::HRESULT buildResult);

// The file holds a sound stream, decodable or not (false when it cannot be opened).
bool FileHoldsSound(const std::string& path);

}  // namespace reader
