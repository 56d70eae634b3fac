// Stream attributes of a VobGroup: keyword tables, the first-value-wins update rule and the
// setters used by the options and by stream detection.
#pragma once

#include "author/model.h"

namespace author {

// Keyword tables: index 0 is the empty word, codes are 1-based, the list ends with null.
extern const char* const mpeg_version_words[];
extern const char* const resolution_words[];
extern const char* const tv_standard_words[];
extern const char* const aspect_words[];
extern const char* const widescreen_words[];
extern const char* const frame_rate_words[];
extern const char* const audio_format_words[];
extern const char* const quantisation_words[];
extern const char* const surround_words[];
extern const char* const language_flag_words[];
extern const char* const channel_words[];
extern const char* const sampling_rate_words[];

// The word of a frame-rate code, or null for a code outside 1..8.
const char* frame_rate_word(int code);

// Video categories of set_video_attr.
enum VideoCategory {
    kVideoAny = 0, kVideoMpegVersion = 1, kVideoTvStandard = 2, kVideoAspect = 3,
    kVideoResolution = 4, kVideoWidescreen = 5, kVideoCaption = 7,
};
// Audio categories of set_audio_attr.
enum AudioCategory {
    kAudioAny = 0, kAudioFormat = 1, kAudioQuantisation = 2, kAudioSurround = 3,
    kAudioLanguage = 4, kAudioChannels = 5, kAudioSamplingRate = 6,
};
// Subpicture categories of set_subpicture_attr.
enum SubpictureCategory { kSubpictureAny = 0, kSubpictureLanguage = 1 };

// The update rule: an unset slot takes the code (0), the same code is kept (0), a different
// code is refused (1) with a warning printed once per refused value.
int attr_update(const char* const* table, int* slot, int code, int* warned,
                const char* description);
// Looks the word up in the table: 0 not found, 1 taken or kept, 2 refused.
int attr_update_by_name(int* slot, int* warned, const char* description,
                        const char* const* table, const char* word);

// Each returns 0 when the word was taken or repeated and 1 when it was refused; a word the
// category does not know is a fatal error.
int set_video_attr(VobGroup* group, int category, const char* word);
// From detection: a rate other than 25 or 29.97 warns; a reserved code is warned about and not
// stored.
int set_video_frame_rate(VobGroup* group, int code);
int set_audio_attr(AudioAttr* attr, AudioAttr* warned, int category, const char* word);
// Raises the subpicture track count to track + 1 (a track past the limit is a fatal error).
int set_subpicture_attr(int category, int track, VobGroup* group, const char* word);

// After the scan: maps the streams found to tracks, fills defaults and reports the result.
// kind is a PgcGroupType.
void finalize_attributes(VobGroup* group, int kind);

}  // namespace author
