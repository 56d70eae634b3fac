// The file version stored in a Windows executable's version resource, read without loading
// the executable: every offset and length in the image is checked against its bounds.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/com/com.h"

namespace reader {

// The version as dwFileVersionMS in the high word and dwFileVersionLS in the low word.
// E_FAIL when the image is not a PE file, has no version resource, or any structure on the
// way lies outside the image.
platform::com::HRESULT ReadPeFileVersion(const std::vector<uint8_t>& image, uint64_t* version);

}  // namespace reader
