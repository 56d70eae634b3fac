#include "author/attributes.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "author/diagnostics.h"

namespace author {

const char* const mpeg_version_words[] = {"", "mpeg1", "mpeg2", nullptr};
const char* const resolution_words[] = {"", "720xfull", "704xfull", "352xfull", "352xhalf", nullptr};
const char* const tv_standard_words[] = {"", "ntsc", "pal", nullptr};
const char* const aspect_words[] = {"", "4:3", "16:9", nullptr};
const char* const widescreen_words[] = {"", "noletterbox", "nopanscan", nullptr};
const char* const frame_rate_words[] = {
    "",
    "24000.0/1001.0 (NTSC 3:2 pulldown converted FILM)",
    "24.0 (NATIVE FILM)",
    "25.0 (PAL/SECAM VIDEO / converted FILM)",
    "30000.0/1001.0 (NTSC VIDEO)",
    "30.0",
    "50.0 (PAL FIELD RATE)",
    "60000.0/1001.0 (NTSC FIELD RATE)",
    "60.0",
    nullptr,
};
const char* const audio_format_words[] = {"", "ac3", "mp2", "pcm", "dts", nullptr};
const char* const quantisation_words[] = {"", "16bps", "20bps", "24bps", "drc", nullptr};
const char* const surround_words[] = {"", "surround", nullptr};
const char* const language_flag_words[] = {"", "nolang", "lang", nullptr};
const char* const channel_words[] = {"", "1ch", "2ch", "3ch", "4ch", "5ch", "6ch", "7ch", "8ch", nullptr};
const char* const sampling_rate_words[] = {"", "48khz", "96khz", nullptr};

namespace {

constexpr int kMpeg1 = 1, kMpeg2 = 2;
constexpr int kNtsc = 1, kPal = 2;
constexpr int kAspect4x3 = 1;
constexpr int kWidescreenNeither = 3;
constexpr int kResolutionFull = 1, kResolutionHalf = 4;
constexpr int kFormatAc3 = 1, kFormatMp2 = 2, kFormatPcm = 3, kFormatDts = 4;
constexpr int kQuant16 = 1, kQuantMp2Default = 2, kQuantDrc = 4;
constexpr int kSampling48k = 1;
constexpr int kLangFlagLang = 2;
constexpr int kAudioFormats = 4;
constexpr int kFrameRateCodes = 8;

// The word of a code; codes past the table's end (the widescreen code 3, which has no word)
// give an empty word rather than reading past it.
const char* word_of(const char* const* table, int code) {
    for (int i = 0; i <= code; ++i)
        if (table[i] == nullptr) return "";
    return table[code];
}

int find_word(const char* const* table, const char* word) {
    for (int i = 1; table[i] != nullptr; ++i)
        if (std::strcmp(table[i], word) == 0) return i;
    return 0;
}

// attr_update_by_name's answer as the setters return it: -1 not found, 0 done, 1 refused.
int update_named(int* slot, int* warned, const char* description, const char* const* table,
                 const char* word) {
    return attr_update_by_name(slot, warned, description, table, word) - 1;
}

bool applies(int category, int own) { return category == 0 || category == own; }

bool all_digits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

bool all_letters(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!std::isalpha(static_cast<unsigned char>(c))) return false;
    return true;
}

// "WxH", "Wxfull", "Wxhigh" or "Wx<word>": false when the word is not of that form.
bool parse_resolution(const char* word, int* width, int* height) {
    const char* x = std::strchr(word, 'x');
    if (x == nullptr) return false;
    const std::string w(word, x), h(x + 1);
    if (!all_digits(w) || w.size() > 5) return false;
    *width = std::atoi(w.c_str());
    if (all_digits(h) && h.size() <= 5) {
        *height = std::atoi(h.c_str());
    } else if (h == "full" || h == "high") {
        *height = 384;
    } else if (all_letters(h)) {
        *height = 383;
    } else {
        return false;
    }
    return true;
}

int resolution_code(int width, int height) {
    if (width > 704) return 1;
    if (width > 352) return 2;
    return height >= 384 ? 3 : 4;
}

// Sets a language code (two characters, stored lower-cased) on a record with a language flag.
int set_language(int* flag, int* flag_warned, char* letters, const char* description,
                 const char* word) {
    int result = attr_update(language_flag_words, flag, kLangFlagLang, flag_warned, description);
    if (letters[0] != 0 || letters[1] != 0) result = 1;
    for (int i = 0; i < 2; ++i)
        letters[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(word[i])));
    return result;
}

bool stream_present_in(const Vob* vob, int slot) { return !vob->streams[slot].rows.empty(); }

const Vob* first_vob_with_stream(const VobGroup* group, int slot) {
    for (const Vob* vob : group->vobs)
        if (stream_present_in(vob, slot)) return vob;
    return nullptr;
}

bool compatible_field(int a, int b) { return a == 0 || b == 0 || a == b; }

// -1 when incompatible, else the number of equal fields.
int track_score(const AudioAttr& track, const AudioAttr& found) {
    const int pairs[5][2] = {
        {track.format, found.format},       {track.quantisation, found.quantisation},
        {track.surround, found.surround},   {track.channels, found.channels},
        {track.sampling_rate, found.sampling_rate},
    };
    int score = 0;
    for (const auto& pair : pairs) {
        if (!compatible_field(pair[0], pair[1])) return -1;
        if (pair[0] == pair[1]) ++score;
    }
    return score;
}

void take_detected(AudioAttr* track, AudioAttr* warned, const AudioAttr& found) {
    struct Field {
        int AudioAttr::*member;
        const char* const* table;
        const char* description;
    };
    static const Field fields[] = {
        {&AudioAttr::quantisation, quantisation_words, "audio quantization"},
        {&AudioAttr::surround, surround_words, "surround"},
        {&AudioAttr::channels, channel_words, "number of channels"},
        {&AudioAttr::sampling_rate, sampling_rate_words, "sampling rate"},
    };
    for (const Field& field : fields)
        if (found.*field.member != 0)
            attr_update(field.table, &(track->*field.member), found.*field.member,
                        &(warned->*field.member), field.description);
}

void assign_audio_stream(VobGroup* group, int format, int number, const AudioAttr& found) {
    for (int t = 0; t < group->audio_track_count; ++t)
        if (group->audio[t].format == format && group->audio[t].stream_number == number) return;

    AudioAttr wanted = found;
    wanted.format = format;
    int best = -1, best_score = -1;
    for (int t = 0; t < group->audio_track_count; ++t) {
        if (group->audio[t].stream_number != 0) continue;
        const int score = track_score(group->audio[t], wanted);
        if (score > best_score) best = t, best_score = score;
    }
    if (best < 0) {
        if (group->audio_track_count >= kMaxAudioTracks) {
            emit("WARN: No audio track left for %s stream %d; it is not listed\n",
                 audio_format_words[format], number);
            return;
        }
        best = group->audio_track_count++;
    }
    AudioAttr& track = group->audio[best];
    track.format = format;
    track.stream_number = number;
    take_detected(&track, &group->audio_warned[best], found);
}

void map_audio_streams(VobGroup* group) {
    // Stream 1 of every format comes before stream 2 of any.
    for (int k = 0; k < kAudioFormats * kStreamsPerFormat; ++k) {
        const int number = k / kAudioFormats + 1, format = k % kAudioFormats + 1;
        const int slot = (format - 1) * kStreamsPerFormat + (number - 1);
        if (const Vob* vob = first_vob_with_stream(group, slot))
            assign_audio_stream(group, format, number, vob->streams[slot].detected);
    }
}

void default_audio_tracks(VobGroup* group) {
    for (int t = 0; t < group->audio_track_count; ++t) {
        AudioAttr& track = group->audio[t];
        if (track.format == 0) {
            emit("WARN: audio stream %d was not autodetected\n", t);
            track.format = kFormatMp2;
        }
        auto set_if_unset = [](int& field, int value) {
            if (field == 0) field = value;
        };
        switch (track.format) {
            case kFormatAc3:
            case kFormatDts:
                set_if_unset(track.quantisation, kQuantDrc);
                set_if_unset(track.channels, 6);
                break;
            case kFormatMp2:
                set_if_unset(track.quantisation, kQuantMp2Default);
                set_if_unset(track.channels, 2);
                break;
            case kFormatPcm:
                set_if_unset(track.channels, 2);
                set_if_unset(track.quantisation, kQuant16);
                break;
        }
        set_if_unset(track.sampling_rate, kSampling48k);
    }
}

void map_subpicture_streams(VobGroup* group) {
    for (int s = 1; s <= kMaxSubpictureTracks; ++s) {
        const int slot = kSubpictureSlotBase + s - 1;
        if (first_vob_with_stream(group, slot) == nullptr) continue;
        bool mapped = false;
        for (int t = 0; t < group->subpicture_track_count && !mapped; ++t)
            mapped = group->subpicture[t].stream_number == s;
        for (int t = 0; t < group->subpicture_track_count && !mapped; ++t) {
            if (group->subpicture[t].stream_number != 0) continue;
            group->subpicture[t].stream_number = s;
            mapped = true;
        }
        if (!mapped && group->subpicture_track_count < kMaxSubpictureTracks)
            group->subpicture[group->subpicture_track_count++].stream_number = s;
    }
}

void default_video(VobGroup* group) {
    struct Default {
        int VideoAttr::*member;
        int value;
        const char* warning;
    };
    static const Default defaults[] = {
        {&VideoAttr::mpeg_version, kMpeg2, "WARN: video mpeg version was not autodetected\n"},
        {&VideoAttr::resolution, kResolutionFull, "WARN: video resolution was not autodetected\n"},
        {&VideoAttr::tv_standard, kNtsc, "WARN: video format was not autodetected\n"},
        {&VideoAttr::aspect, kAspect4x3, "WARN: aspect ratio was not autodetected\n"},
    };
    for (const Default& d : defaults) {
        if (group->video.*d.member != 0) continue;
        emit("%s", d.warning);
        group->video.*d.member = d.value;
    }
    if (group->video.aspect == kAspect4x3) group->video.widescreen = kWidescreenNeither;
}

void report(const VobGroup* group, int kind) {
    const VideoAttr& v = group->video;
    emit("INFO: Generating %s with the following video attributes:\n", pgc_type_names[kind]);
    emit("INFO: MPEG version: %s\n", word_of(mpeg_version_words, v.mpeg_version));
    emit("INFO: TV standard: %s\n", word_of(tv_standard_words, v.tv_standard));
    emit("INFO: Aspect ratio: %s\n", word_of(aspect_words, v.aspect));
    const int width = v.resolution == 1 ? 720 : v.resolution == 2 ? 704 : 352;
    int height = v.resolution == kResolutionHalf ? 240 : 480;
    if (v.tv_standard == kPal) height = height * 6 / 5;
    emit("INFO: Resolution: %dx%d\n", width, height);
    for (int t = 0; t < group->audio_track_count; ++t) {
        const AudioAttr& a = group->audio[t];
        if (a.stream_number == 0) {
            emit("WARN: Audio ch %d is not used!\n", t);
            continue;
        }
        emit("INFO: Audio ch %d format: %s/%s, %s %s", t, word_of(audio_format_words, a.format),
             word_of(channel_words, a.channels), word_of(sampling_rate_words, a.sampling_rate),
             word_of(quantisation_words, a.quantisation));
        if (a.surround) emit(", surround");
        if (a.language[0] != 0) emit(", '%c%c'", a.language[0], a.language[1]);
        emit("\n");
    }
}

}  // namespace

const char* frame_rate_word(int code) {
    return code >= 1 && code <= kFrameRateCodes ? frame_rate_words[code] : nullptr;
}

int attr_update(const char* const* table, int* slot, int code, int* warned,
                const char* description) {
    if (*slot == 0) {
        *slot = code;
        return 0;
    }
    if (*slot == code) return 0;
    if (*warned != code) {
        emit("WARN: attempt to update %s from %s to %s; skipping\n", description,
             word_of(table, *slot), word_of(table, code));
        *warned = code;
    }
    return 1;
}

int attr_update_by_name(int* slot, int* warned, const char* description,
                        const char* const* table, const char* word) {
    const int code = find_word(table, word);
    if (code == 0) return 0;
    return attr_update(table, slot, code, warned, description) == 0 ? 1 : 2;
}

int set_video_attr(VobGroup* group, int category, const char* word) {
    VideoAttr& v = group->video;
    VideoAttr& w = group->video_warned;
    struct Named {
        int own;
        int VideoAttr::*member;
        const char* const* table;
        const char* description;
    };
    static const Named named[] = {
        {kVideoMpegVersion, &VideoAttr::mpeg_version, mpeg_version_words, "mpeg format"},
        {kVideoTvStandard, &VideoAttr::tv_standard, tv_standard_words, "tv format"},
        {kVideoAspect, &VideoAttr::aspect, aspect_words, "aspect ratio"},
        {kVideoWidescreen, &VideoAttr::widescreen, widescreen_words, "16:9 disallow"},
    };
    for (const Named& n : named) {
        if (!applies(category, n.own)) continue;
        const int result = update_named(&(v.*n.member), &(w.*n.member), n.description, n.table, word);
        if (result >= 0) return result;
    }
    if (applies(category, kVideoCaption)) {
        if (std::strcmp(word, "field1") == 0 || std::strcmp(word, "field2") == 0) {
            v.caption |= word[5] == '1' ? 1 : 2;
            return 0;
        }
    }
    int width = 0, height = 0;
    if (applies(category, kVideoResolution) && parse_resolution(word, &width, &height)) {
        const int result = attr_update(resolution_words, &v.resolution,
                                       resolution_code(width, height), &w.resolution, "resolution");
        if (v.tv_standard == 0) {
            if (height % 5 == 0)
                v.tv_standard = kNtsc;
            else if (height % 9 == 0)
                v.tv_standard = kPal;
        }
        return result;
    }
    fatal("ERR:  Cannot parse video option '%s'\n", word);
}

int set_video_frame_rate(VobGroup* group, int code) {
    const char* word = frame_rate_word(code);
    if (word == nullptr) {
        // Reserved codes have no rate; storing one would index past the rate tables.
        emit("WARN: reserved frame rate code %d ignored\n", code);
        return 0;
    }
    if (group->video.frame_rate == 0 && code != 3 && code != 4)
        emit("WARN: not a valid DVD frame rate: %s\n", word);
    return update_named(&group->video.frame_rate, &group->video_warned.frame_rate, "frame rate",
                        frame_rate_words, word);
}

int set_audio_attr(AudioAttr* attr, AudioAttr* warned, int category, const char* word) {
    struct Named {
        int own;  // -1: only with category 0
        int AudioAttr::*member;
        const char* const* table;
        const char* description;
    };
    static const Named named[] = {
        {kAudioFormat, &AudioAttr::format, audio_format_words, "audio format"},
        {kAudioQuantisation, &AudioAttr::quantisation, quantisation_words, "audio quantization"},
        {kAudioSurround, &AudioAttr::surround, surround_words, "surround"},
        {-1, &AudioAttr::language_flag, language_flag_words, "audio language"},
        {kAudioChannels, &AudioAttr::channels, channel_words, "number of channels"},
        {kAudioSamplingRate, &AudioAttr::sampling_rate, sampling_rate_words, "sampling rate"},
    };
    for (const Named& n : named) {
        if (!applies(category, n.own)) continue;
        const int result =
            update_named(&(attr->*n.member), &(warned->*n.member), n.description, n.table, word);
        if (result >= 0) return result;
    }
    if (applies(category, kAudioLanguage) && std::strlen(word) == 2)
        return set_language(&attr->language_flag, &warned->language_flag, attr->language,
                            "audio language", word);
    fatal("ERR:  Cannot parse audio option '%s'\n", word);
}

int set_subpicture_attr(int category, int track, VobGroup* group, const char* word) {
    if (track < 0 || track >= kMaxSubpictureTracks)
        fatal("ERR:  Subpicture track %d is beyond the limit of %d tracks\n", track + 1,
              kMaxSubpictureTracks);
    if (group->subpicture_track_count < track + 1) group->subpicture_track_count = track + 1;
    SubpictureAttr& attr = group->subpicture[track];
    SubpictureAttr& warned = group->subpicture_warned[track];
    if (category == kSubpictureAny) {
        const int result = update_named(&attr.language_flag, &warned.language_flag,
                                        "subpicture language", language_flag_words, word);
        if (result >= 0) return result;
    }
    if ((category == kSubpictureAny || category == kSubpictureLanguage) && std::strlen(word) == 2)
        return set_language(&attr.language_flag, &warned.language_flag, attr.language,
                            "subpicture language", word);
    fatal("ERR:  Cannot parse subpicture option '%s' on track %d\n", word, track);
}

void finalize_attributes(VobGroup* group, int kind) {
    default_video(group);
    map_audio_streams(group);
    default_audio_tracks(group);
    map_subpicture_streams(group);
    report(group, kind);
}

}  // namespace author
