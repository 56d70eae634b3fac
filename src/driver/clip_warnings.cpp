#include "driver/clip_warnings.h"

#include "core/file_utils.h"
#include "reader/clip_diagnosis.h"

namespace driver {

void ClipWarnings::Review(const reader::ClipRecord& clip, const reader::SourceDelivery& delivered) {
    const double range = clip.RangeEnd - clip.RangeStart;
    // Without a range of its own the clip runs to the end of its file, whatever that holds.
    if (range > 0.0 && delivered.PictureSeconds < range - kShortfallSeconds) {
        const double read = delivered.PictureSeconds;
        warnings_.push_back(
            {clip.Path, core::FormatString("only %.1f of its %.1f seconds could be read.", read, range)});
    }
    // A file with no sound, or sound that ends before the range begins, makes a silent
    // chapter by design. The probe passes over a sound stream it cannot decode, so without
    // probed sound the file itself is asked.
    const bool soundExpected = clip.HasAudio != 0 ? clip.AudioLength > clip.RangeStart
                                                  : reader::FileHoldsSound(clip.Path);
    if (delivered.SoundSeconds <= 0.0 && soundExpected) {
        warnings_.push_back({clip.Path, "its sound could not be decoded; the chapter is silent."});
    }
}

std::string ClipWarnings::Message() const {
    if (warnings_.empty()) return {};
    std::string text = "Some clips could not be read in full:\n";
    for (const ClipWarning& warning : warnings_) text += "\n" + warning.Path + ": " + warning.Problem;
    return text + "\n\nThe disc holds what could be read.";
}

}  // namespace driver
