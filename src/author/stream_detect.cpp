#include "author/stream_detect.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "author/attributes.h"
#include "author/bytes.h"
#include "author/diagnostics.h"
#include "author/vob_scanner.h"

namespace author {

namespace {

// Start codes of an MPEG video stream.
constexpr uint8_t kPictureStart = 0x00;
constexpr uint8_t kSequenceHeader = 0xb3;
constexpr uint8_t kExtensionStart = 0xb5;
constexpr uint8_t kSequenceEnd = 0xb7;
constexpr uint8_t kGroupStart = 0xb8;

// Extension ids.
constexpr int kSequenceExtension = 1;
constexpr int kSequenceDisplayExtension = 2;
constexpr int kPictureCodingExtension = 8;

constexpr int kIntraCoded = 1, kPredictive = 2;
constexpr int kMpeg1 = 1, kMpeg2 = 2;
constexpr int kNtsc = 1, kPal = 2;
constexpr int kAspect4x3 = 1, kAspect16x9 = 2;

// MPEG-2 aspect_ratio_information codes.
constexpr int kMpeg2Aspect4x3 = 2, kMpeg2Aspect16x9 = 3;

// MPEG-1 pel aspect codes as DVD players read them, per display aspect and TV standard.
struct Mpeg1Aspect {
    int code, aspect, tv_standard;
};
constexpr Mpeg1Aspect kMpeg1Aspects[] = {
    {3, kAspect16x9, kPal}, {6, kAspect16x9, kNtsc}, {8, kAspect4x3, kPal}, {12, kAspect4x3, kNtsc}};

// Offsets in a 2048-byte sector holding a PES packet after a 14-byte pack header.
constexpr int kPacketLengthOffset = 18;
constexpr int kHeaderDataLengthOffset = 22;
constexpr int kPesHeaderEnd = 23;  // payload starts here plus the header data length
constexpr int kPacketLengthBase = 20;  // the packet length counts from here

// Subpicture display-control commands and their parameter bytes.
constexpr uint8_t kCommandEndOfSequence = 0xff;
constexpr uint8_t kCommandColour = 3;
constexpr int kCommandParameterBytes[] = {0, 0, 0, -1, 2, 6, 4};  // -1: colour, handled apart

// AC-3 channel count per audio coding mode, without the LFE channel.
constexpr int kAc3Channels[8] = {2, 1, 2, 3, 3, 4, 4, 5};
constexpr uint8_t kAc3Sync[2] = {0x0b, 0x77};

bool is_start_code(const uint8_t* bytes) { return bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1; }

void count_fields(Vobu& vobu, const VideoParserState& state, int fields) {
    vobu.field_count += fields;
    if (state.shown_before_first && state.gop_phase == 2) vobu.fields_before_first += fields;
}

void on_picture(VobGroup& group, const uint8_t* bytes, Vobu& vobu, VideoParserState& state) {
    const int temporal_reference = bytes[4] << 2 | bytes[5] >> 6;
    const int coding_type = (bytes[5] >> 3) & 7;
    if (state.first_temporal_reference == -1) state.first_temporal_reference = temporal_reference;
    state.shown_before_first = temporal_reference < state.first_temporal_reference;
    if (coding_type == kIntraCoded || coding_type == kPredictive) state.reference_pending = 1;
    // MPEG-1 has no picture coding extension: every picture is a frame of two fields.
    if (group.video.mpeg_version == kMpeg1) count_fields(vobu, state, 2);
}

void rewrite_mpeg1_aspect(VobGroup& group, uint8_t* bytes, int code) {
    bool known = false;
    for (const Mpeg1Aspect& a : kMpeg1Aspects) {
        if (a.code != code) continue;
        set_video_attr(&group, kVideoAspect, aspect_words[a.aspect]);
        set_video_attr(&group, kVideoTvStandard, tv_standard_words[a.tv_standard]);
        known = true;
    }
    if (!known) emit("WARN: unknown mpeg1 aspect ratio %d\n", code);
    for (const Mpeg1Aspect& a : kMpeg1Aspects)
        if (a.aspect == group.video.aspect && a.tv_standard == group.video.tv_standard)
            bytes[7] = static_cast<uint8_t>((a.code << 4) | (bytes[7] & 0x0f));
}

void rewrite_mpeg2_aspect(VobGroup& group, uint8_t* bytes, int code) {
    if (code == kMpeg2Aspect4x3)
        set_video_attr(&group, kVideoAspect, "4:3");
    else if (code == kMpeg2Aspect16x9)
        set_video_attr(&group, kVideoAspect, "16:9");
    else
        emit("WARN: unknown mpeg2 aspect ratio %d\n", code);
    // A group without a known aspect is finalised as 4:3, so the header must say 4:3 too, not
    // 16:9.
    const int rewritten = group.video.aspect == kAspect16x9 ? kMpeg2Aspect16x9 : kMpeg2Aspect4x3;
    bytes[7] = static_cast<uint8_t>((rewritten << 4) | (bytes[7] & 0x0f));
}

void on_sequence_header(VobGroup& group, uint8_t* bytes) {
    const int width = bytes[4] << 4 | bytes[5] >> 4;
    const int height = (bytes[5] & 0x0f) << 8 | bytes[6];
    const int aspect_code = bytes[7] >> 4;
    const int rate_code = bytes[7] & 0x0f;

    set_video_frame_rate(&group, rate_code);
    switch (rate_code) {
        case 1: case 4: case 7:
            set_video_attr(&group, kVideoTvStandard, "ntsc");
            break;
        case 3: case 6:
            set_video_attr(&group, kVideoTvStandard, "pal");
            break;
        default:
            emit("WARN: unknown frame rate %d\n", rate_code);
    }
    char resolution[24];
    std::snprintf(resolution, sizeof resolution, "%dx%d", width, height);
    set_video_attr(&group, kVideoResolution, resolution);

    if (group.video.mpeg_version == kMpeg1)
        rewrite_mpeg1_aspect(group, bytes, aspect_code);
    else if (group.video.mpeg_version == kMpeg2)
        rewrite_mpeg2_aspect(group, bytes, aspect_code);
}

void on_extension(VobGroup& group, const uint8_t* bytes, int32_t sector, Vobu& vobu,
                  VideoParserState& state) {
    set_video_attr(&group, kVideoMpegVersion, "mpeg2");
    switch (bytes[4] >> 4) {
        case kSequenceExtension:
            vobu_add_reference(vobu, state.reference_pending, sector);
            break;
        case kSequenceDisplayExtension: {
            vobu_add_reference(vobu, state.reference_pending, sector);
            const int video_format = (bytes[4] >> 1) & 7;
            if (video_format == 1) set_video_attr(&group, kVideoTvStandard, "pal");
            if (video_format == 2) set_video_attr(&group, kVideoTvStandard, "ntsc");
            break;
        }
        case kPictureCodingExtension: {
            const bool frame_picture = (bytes[6] & 3) == 3;
            const bool repeat_first_field = (bytes[7] & 2) != 0;
            count_fields(vobu, state, (frame_picture ? 2 : 1) + (repeat_first_field ? 1 : 0));
            break;
        }
    }
}

void on_group_start(VideoParserState& state) {
    if (state.gop_phase == 1) {
        state.gop_phase = 2;
        state.first_temporal_reference = -1;
        state.shown_before_first = 0;
    } else if (state.gop_phase == 2) {
        state.gop_phase = 0;
    }
}

// Parses one video payload, its first bytes together with the previous packet's tail.
void parse_payload(VobGroup& group, uint8_t* payload, int length, Vobu& vobu,
                   int32_t previous_video_sector, int32_t group_sector, VideoParserState& state) {
    auto& window = state.window;
    if (length >= kWindowHead) {
        std::memcpy(&window[kWindowCarry], payload, kWindowHead);
        for (int i = 0; i < kWindowHead; ++i)
            parse_video_startcodes(group, &window[i], previous_video_sector, vobu, state);
        std::memcpy(payload, &window[kWindowCarry], kWindowHead);
        for (int i = 1; i + kWindowHead <= length; ++i)
            if (is_start_code(payload + i))
                parse_video_startcodes(group, payload + i, group_sector, vobu, state);
        return;
    }
    // A short payload: only positions whose eight bytes all exist are parsed.
    std::fill(window.begin() + kWindowCarry, window.end(), 0);
    std::memcpy(&window[kWindowCarry], payload, length);
    for (int i = 0; i < length; ++i)
        parse_video_startcodes(group, &window[i], previous_video_sector, vobu, state);
    std::memcpy(payload, &window[kWindowCarry], length);
}

void carry_tail(const uint8_t* payload, int length, VideoParserState& state) {
    if (length >= kWindowHead)
        std::memcpy(&state.window[0], payload + length - kWindowCarry, kWindowCarry);
    else
        std::fill(state.window.begin(), state.window.begin() + kWindowCarry, 0xff);
}

}  // namespace

void parse_video_startcodes(VobGroup& group, uint8_t* bytes, int32_t sector, Vobu& vobu,
                            VideoParserState& state) {
    if (!is_start_code(bytes)) return;
    switch (bytes[3]) {
        case kPictureStart:
            vobu_add_reference(vobu, state.reference_pending, sector);
            on_picture(group, bytes, vobu, state);
            break;
        case kSequenceHeader:
            vobu_add_reference(vobu, state.reference_pending, sector);
            on_sequence_header(group, bytes);
            break;
        case kExtensionStart:
            on_extension(group, bytes, sector, vobu, state);
            break;
        case kSequenceEnd:
            vobu.has_sequence_end = 1;
            break;
        case kGroupStart:
            vobu_add_reference(vobu, state.reference_pending, sector);
            on_group_start(state);
            break;
    }
}

void scan_video_pes(VobGroup& group, uint8_t* sector, Vobu& vobu, int32_t previous_video_sector,
                    int32_t group_sector, VideoParserState& state) {
    const int start = kPesHeaderEnd + sector[kHeaderDataLengthOffset];
    const int end = kPacketLengthBase + static_cast<int>(get_u16(sector + kPacketLengthOffset));
    if (end > kSectorSize || start > end) {
        emit("WARN: video packet at sector %d has a bad length; not parsed\n", group_sector);
        return;
    }
    uint8_t* payload = sector + start;
    const int length = end - start;

    const bool version_known = group.video.mpeg_version != 0;
    // The first packet decides the MPEG version; its headers are then read once more with it.
    Vobu vobu_before;
    VideoParserState state_before;
    if (!version_known) {
        vobu_before = vobu;
        state_before = state;
    }
    parse_payload(group, payload, length, vobu, previous_video_sector, group_sector, state);
    if (!version_known && length >= kWindowHead) {
        if (group.video.mpeg_version == 0) set_video_attr(&group, kVideoMpegVersion, "mpeg1");
        vobu = std::move(vobu_before);
        state = state_before;
        parse_payload(group, payload, length, vobu, previous_video_sector, group_sector, state);
    }
    carry_tail(payload, length, state);
}

void finish_vobu(VobGroup& group, Vob& vob, int32_t end_sector, VideoParserState& state) {
    if (vob.vobus.empty()) return;
    Vobu& last = vob.vobus.back();
    auto& window = state.window;
    std::fill(window.begin() + kWindowCarry, window.end(), 0);
    for (int i = 0; i < kWindowCarry; ++i)
        parse_video_startcodes(group, &window[i], end_sector, last, state);
    std::fill(window.begin(), window.begin() + kWindowCarry, 0xff);
    vobu_add_reference(last, state.reference_pending, end_sector);
}

void detect_ac3_attributes(const uint8_t* payload, int first_frame, int length,
                           StreamPtsTable& stream) {
    // A first-access pointer of 0 (no frame starts in the packet) gives a negative offset.
    if (first_frame < 0 || first_frame + 8 > length) return;
    const uint8_t* frame = payload + first_frame;
    if (frame[0] != kAc3Sync[0] || frame[1] != kAc3Sync[1]) return;
    AudioAttr& found = stream.detected;
    AudioAttr& warned = stream.detected_warned;
    const uint32_t v = get_u32(frame + 4);
    const int fscod = static_cast<int>(v >> 30);
    if (fscod != 0) emit("WARN: Unknown AC3 sample rate: %d\n", fscod);
    set_audio_attr(&found, &warned, kAudioSamplingRate, "48khz");

    const int bsid = (v >> 19) & 0x1f;
    if (bsid != 8 && bsid != 6) return;
    const int acmod = (v >> 13) & 7;
    int bit = 13;
    auto take = [&](int bits) {
        bit -= bits;
        return static_cast<int>((v >> bit) & ((1u << bits) - 1));
    };
    if ((acmod & 1) && acmod != 1) take(2);  // cmixlev
    if (acmod & 4) take(2);                  // surmixlev
    if (acmod == 2 && take(2) == 2) set_audio_attr(&found, &warned, kAudioSurround, "surround");
    const int lfeon = take(1);
    const std::string channels = std::to_string(kAc3Channels[acmod] + lfeon) + "ch";
    set_audio_attr(&found, &warned, kAudioChannels, channels.c_str());
}

void detect_lpcm_attributes(uint8_t format_byte, StreamPtsTable& stream) {
    AudioAttr& found = stream.detected;
    AudioAttr& warned = stream.detected_warned;
    const int quantisation = format_byte >> 6;
    if (quantisation < 3)
        set_audio_attr(&found, &warned, kAudioQuantisation, quantisation_words[quantisation + 1]);
    const std::string rate = std::to_string(48 * (((format_byte >> 4) & 1) + 1)) + "khz";
    set_audio_attr(&found, &warned, kAudioSamplingRate, rate.c_str());
    const std::string channels = std::to_string((format_byte & 7) + 1) + "ch";
    set_audio_attr(&found, &warned, kAudioChannels, channels.c_str());
}

void print_scan_status(int32_t sectors_written, const VobGroup& group) {
    size_t vobus = 0;
    for (const Vob* vob : group.vobs) vobus += vob->vobus.size();
    emit("STAT: VOBU %zu at %dMB, %zu PGCS\r", vobus, sectors_written / 512, group.pgcs.size());
}

void ColourRemapState::reset(Palette* owner_palette) {
    *this = ColourRemapState{};
    for (int i = 0; i < kPaletteEntries; ++i) map[i] = static_cast<uint32_t>(i);
    palette = owner_palette;
}

int alloc_colormap_slot(ColourRemapState& remap, int colour) {
    uint32_t& word = remap.map[colour & (kPaletteEntries - 1)];
    if (word < kPaletteEntries) return static_cast<int>(word);
    if (remap.palette == nullptr) fatal("ERR:  Subpicture colours have no palette to go to\n");
    Palette& palette = *remap.palette;
    const uint32_t wanted = word & 0xffffff;
    auto slot = std::find(palette.begin(), palette.end(), wanted);
    if (slot == palette.end()) {
        slot = std::find(palette.begin(), palette.end(), kPaletteUnset);
        if (slot == palette.end()) fatal("ERR: color map full, unable to allocate new colors.\n");
        *slot = wanted;
    }
    word = static_cast<uint32_t>(slot - palette.begin());
    return static_cast<int>(word);
}

void procremap(uint8_t* payload, int length, ColourRemapState& remap, int32_t& end_pts) {
    enum {
        kSizeHigh = 0, kSizeLow = 1, kFirstSequenceHigh = 2, kFirstSequenceLow = 3,
        kDelayHigh = 4, kDelayLow = 5, kNextSequenceHigh = 6, kNextSequenceLow = 7,
        kInUnit = 8, kCommand = 9, kSkipping = 10, kColourHigh = 11, kColourLow = 12,
    };
    auto add_delay = [&](int64_t ticks) {
        end_pts = static_cast<int32_t>(std::min<int64_t>(INT32_MAX, end_pts + ticks));
    };
    for (int i = 0; i < length; ++i) {
        const uint8_t byte = payload[i];
        // The unit's size is authoritative: a command cut short by the unit's end must not
        // swallow the next unit's header.
        if (remap.state > kFirstSequenceLow && remap.counter == remap.unit_size)
            remap.state = kSizeHigh;  // this byte starts the next unit
        else if (remap.state == kInUnit && remap.counter == remap.next_sequence)
            remap.state = kDelayHigh;
        switch (remap.state) {
            case kSizeHigh:
                remap.counter = 0;
                remap.skip = 0;
                remap.unit_size = byte << 8;
                remap.state = kSizeLow;
                break;
            case kSizeLow:
                remap.unit_size |= byte;
                remap.state = kFirstSequenceHigh;
                break;
            case kFirstSequenceHigh:
                remap.next_sequence = byte << 8;
                remap.state = kFirstSequenceLow;
                break;
            case kFirstSequenceLow:
                remap.next_sequence |= byte;
                remap.state = kInUnit;
                break;
            case kInUnit:
                break;
            case kDelayHigh:
                add_delay(int64_t{byte} << 18);
                remap.state = kDelayLow;
                break;
            case kDelayLow:
                add_delay(int64_t{byte} << 10);
                remap.state = kNextSequenceHigh;
                break;
            case kNextSequenceHigh:
                remap.next_sequence = byte << 8;
                remap.state = kNextSequenceLow;
                break;
            case kNextSequenceLow:
                remap.next_sequence |= byte;
                remap.state = kCommand;
                break;
            case kCommand:
                if (byte == kCommandEndOfSequence) {
                    remap.state = kInUnit;
                } else if (byte == kCommandColour) {
                    remap.state = kColourHigh;
                } else if (byte < std::size(kCommandParameterBytes)) {
                    remap.skip = kCommandParameterBytes[byte];
                    if (remap.skip > 0) remap.state = kSkipping;
                } else {
                    fatal("ERR: procremap encountered unknown subtitle command: %d\n", byte);
                }
                break;
            case kSkipping:
                if (--remap.skip == 0) remap.state = kCommand;
                break;
            case kColourHigh:
            case kColourLow: {
                const int high = alloc_colormap_slot(remap, byte >> 4);
                const int low = alloc_colormap_slot(remap, byte & 0x0f);
                payload[i] = static_cast<uint8_t>(high << 4 | low);
                remap.state = remap.state == kColourHigh ? kColourLow : kCommand;
                break;
            }
        }
        ++remap.counter;
    }
}

}  // namespace author
