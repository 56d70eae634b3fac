// What a clip's source really decoded while the clip was read, as opposed to what the reader
// made of it: the timeline fills its whole range with held pictures, black and silence,
// whatever the file gave.
#pragma once

#include <cstdint>

namespace reader {

struct SourceDelivery {
    int64_t Pictures = 0;
    double PictureSeconds = 0.0;  // how far into the range the decoded pictures reach
    double SoundSeconds = 0.0;    // of decoded sound
};

}  // namespace reader
