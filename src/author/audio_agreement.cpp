#include "author/audio_agreement.h"

#include <string>

#include "author/attributes.h"
#include "author/diagnostics.h"

namespace author {

namespace {

// The Vob's audio streams, as "mp2 1, ac3 2"; empty for a Vob without sound.
std::string audio_streams_of(const Vob& vob) {
    std::string streams;
    for (int slot = 0; slot < kSubpictureSlotBase; ++slot) {
        if (vob.streams[slot].rows.empty()) continue;
        if (!streams.empty()) streams += ", ";
        streams += audio_format_words[slot / kStreamsPerFormat + 1];
        streams += " " + std::to_string(slot % kStreamsPerFormat + 1);
    }
    return streams;
}

}  // namespace

void warn_on_audio_disagreement(const VobGroup& group) {
    const Vob* reference = nullptr;
    std::string expected;
    for (const Vob* vob : group.vobs) {
        const std::string streams = audio_streams_of(*vob);
        if (streams.empty()) continue;
        if (reference == nullptr) {
            reference = vob;
            expected = streams;
        } else if (streams != expected) {
            emit("WARN: %s carries the audio streams %s, but %s carries %s; they share one set of "
                 "audio tracks, so some track plays silent in one of them\n",
                 reference->file_name.c_str(), expected.c_str(), vob->file_name.c_str(),
                 streams.c_str());
        }
    }
}

}  // namespace author
