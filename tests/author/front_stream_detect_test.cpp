// Elementary-stream detection on hand-made packets: video start codes across packet borders,
// aspect rewrites, picture counting, AC-3 and LPCM headers, the subpicture colour remap.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "author/attributes.h"
#include "author/diagnostics.h"
#include "author/model.h"
#include "author/stream_detect.h"

using namespace author;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kPayloadStart = 23;  // after a 14-byte pack header and a PES header without data

// A 2048-byte sector holding one video PES packet with the given payload; the bytes after the
// packet are 0xEE so that writes past it show.
std::array<uint8_t, kSectorSize> video_sector(const Bytes& payload) {
    std::array<uint8_t, kSectorSize> sector;
    sector.fill(0xEE);
    const uint8_t head[kPayloadStart] = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 1, 0x89, 0xC3, 0xF8,
                                         0, 0, 1, 0xE0, 0, 0, 0x81, 0x00, 0x00};
    std::copy(std::begin(head), std::end(head), sector.begin());
    const int packet_length = static_cast<int>(payload.size()) + 3;
    sector[18] = static_cast<uint8_t>(packet_length >> 8);
    sector[19] = static_cast<uint8_t>(packet_length);
    std::copy(payload.begin(), payload.end(), sector.begin() + kPayloadStart);
    return sector;
}

// Sequence header: 720x576, the given aspect code and frame-rate code.
Bytes sequence_header(int aspect, int rate) {
    return {0, 0, 1, 0xB3, 0x2D, 0x02, 0x40, static_cast<uint8_t>(aspect << 4 | rate), 0x11, 0x22, 0x33, 0x44};
}
const Bytes kSequenceExtension = {0, 0, 1, 0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00};
const Bytes kGop = {0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x00};
Bytes picture(int temporal_reference, int type) {
    return {0, 0, 1, 0x00, static_cast<uint8_t>(temporal_reference >> 2),
            static_cast<uint8_t>((temporal_reference & 3) << 6 | type << 3), 0xFF, 0xF8};
}
// Picture coding extension of a frame picture, optionally with repeat_first_field.
Bytes frame_extension(bool repeat_first_field) {
    return {0, 0, 1, 0xB5, 0x8F, 0xFF, 0x03, static_cast<uint8_t>(repeat_first_field ? 0x82 : 0x80), 0, 0};
}
const Bytes kFiller = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct VideoFixture {
    VobGroup group;
    Vobu vobu;
    VideoParserState state;
    std::string messages;

    std::array<uint8_t, kSectorSize> scan(const Bytes& payload, int32_t sector = 10) {
        auto s = video_sector(payload);
        testing::internal::CaptureStderr();
        scan_video_pes(group, s.data(), vobu, sector - 1, sector, state);
        messages += testing::internal::GetCapturedStderr();
        return s;
    }
};

int aspect_nibble_at(const std::array<uint8_t, kSectorSize>& sector, int header_offset) {
    return sector[kPayloadStart + header_offset + 7] >> 4;
}

TEST(VideoDetection, Mpeg2HeaderBeforeItsExtensionIsReadWithTheRightVersion) {
    VideoFixture f;
    auto out = f.scan(join({sequence_header(3, 3), kSequenceExtension, kFiller}));
    EXPECT_EQ(f.group.video.mpeg_version, 2);
    EXPECT_EQ(f.group.video.aspect, 2);  // 16:9
    EXPECT_EQ(f.group.video.tv_standard, 2);
    EXPECT_EQ(f.group.video.resolution, 1);
    EXPECT_EQ(f.group.video.frame_rate, 3);
    EXPECT_EQ(aspect_nibble_at(out, 0), 3);
    EXPECT_EQ(f.messages, "");
}

TEST(VideoDetection, StreamWithoutExtensionIsMpeg1AndGetsThePlayersAspectCode) {
    VideoFixture f;
    set_video_attr(&f.group, kVideoAny, "16:9");
    set_video_attr(&f.group, kVideoAny, "pal");
    auto out = f.scan(join({sequence_header(12, 3), kFiller}));
    EXPECT_EQ(f.group.video.mpeg_version, 1);
    EXPECT_EQ(aspect_nibble_at(out, 0), 3);  // pal 16:9
    EXPECT_NE(f.messages.find("attempt to update aspect ratio from 16:9 to 4:3"), std::string::npos);
}

TEST(VideoDetection, UnknownMpeg2AspectIsWrittenAsTheDefault4x3) {
    VideoFixture f;
    auto out = f.scan(join({sequence_header(1, 3), kSequenceExtension, kFiller}));
    EXPECT_EQ(f.group.video.aspect, 0);
    EXPECT_EQ(aspect_nibble_at(out, 0), 2);
    EXPECT_NE(f.messages.find("WARN: unknown mpeg2 aspect ratio 1\n"), std::string::npos);
}

TEST(VideoDetection, HeaderSplitAcrossPacketsIsParsedAndRewritten) {
    VideoFixture f;
    set_video_attr(&f.group, kVideoAny, "mpeg2");
    set_video_attr(&f.group, kVideoAny, "4:3");
    const Bytes header = sequence_header(3, 4);
    const Bytes first = join({kFiller, Bytes(header.begin(), header.begin() + 3)});
    const Bytes second = join({Bytes(header.begin() + 3, header.end()), kFiller});
    f.scan(first, 10);
    auto out = f.scan(second, 11);
    EXPECT_EQ(f.group.video.frame_rate, 4);
    EXPECT_EQ(f.group.video.resolution, 1);
    // Byte 7 of the header is byte 4 of the second packet's payload.
    EXPECT_EQ(out[kPayloadStart + 4] >> 4, 2);
}

TEST(VideoDetection, ShortPayloadWritesNothingPastThePacket) {
    VideoFixture f;
    set_video_attr(&f.group, kVideoAny, "mpeg2");
    // The sequence end code ends the first packet; the short second one completes its window.
    f.scan(join({kFiller, Bytes{0, 0, 1, 0xB7}}));
    auto out = f.scan(Bytes{0, 0, 0, 0}, 11);
    EXPECT_EQ(f.vobu.has_sequence_end, 1);
    for (int i = kPayloadStart + 4; i < kSectorSize; ++i) ASSERT_EQ(out[i], 0xEE) << i;
}

TEST(VideoDetection, BadPacketLengthIsNotParsed) {
    VideoFixture f;
    auto sector = video_sector(join({sequence_header(2, 3), kFiller}));
    sector[18] = 0x09;  // claims 2300 bytes
    sector[19] = 0x00;
    testing::internal::CaptureStderr();
    scan_video_pes(f.group, sector.data(), f.vobu, 0, 1, f.state);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("bad length"), std::string::npos);
    EXPECT_EQ(f.group.video.mpeg_version, 0);
}

TEST(VideoDetection, FieldsAndReferencePictures) {
    VideoFixture f;
    set_video_attr(&f.group, kVideoAny, "mpeg2");
    f.state.start_vobu();
    // I (shown third), then B (shown first, before the I), then P in the next sector.
    f.scan(join({kGop, picture(2, 1), frame_extension(true), picture(0, 3), frame_extension(false), kFiller}), 20);
    f.scan(join({kFiller, picture(5, 2), frame_extension(false), kFiller}), 21);
    EXPECT_EQ(f.vobu.field_count, 3 + 2 + 2);
    EXPECT_EQ(f.vobu.fields_before_first, 2);
    ASSERT_EQ(f.vobu.ref_count, 1);
    EXPECT_EQ(f.vobu.ref_end[0], 20);  // the I picture ends where the B picture starts
    Vob vob;
    vob.vobus.push_back(f.vobu);
    finish_vobu(f.group, vob, 30, f.state);
    ASSERT_EQ(vob.vobus.back().ref_count, 2);
    EXPECT_EQ(vob.vobus.back().ref_end[1], 30);
}

TEST(AudioDetection, Ac3Headers) {
    struct Case {
        uint8_t fscod_byte, bsid_byte, mode_byte;
        int channels, surround;
        const char* warning;
    };
    const Case cases[] = {
        {0x00, 0x40, 0xE1, 6, 0, ""},                                    // 3/2 + LFE
        {0x40, 0x40, 0x40, 2, 0, "WARN: Unknown AC3 sample rate: 1\n"},  // 44.1 kHz stereo
        {0x00, 0x30, 0x50, 2, 1, ""},                                    // bsid 6, Dolby surround
        {0x00, 0x40, 0x30, 2, 0, ""},                                    // mono + LFE
    };
    for (const Case& c : cases) {
        StreamPtsTable stream;
        const Bytes payload = {0x99, 0x0B, 0x77, 0, 0, c.fscod_byte, c.bsid_byte, c.mode_byte, 0};
        testing::internal::CaptureStderr();
        detect_ac3_attributes(payload.data(), 1, static_cast<int>(payload.size()), stream);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.warning);
        EXPECT_EQ(stream.detected.channels, c.channels) << int(c.mode_byte);
        EXPECT_EQ(stream.detected.surround, c.surround) << int(c.mode_byte);
        EXPECT_EQ(stream.detected.sampling_rate, 1);
    }
    // No frame start in the packet (pointer 0), a frame past the payload, no sync word.
    const Bytes payload = {0x0B, 0x77, 0, 0, 0, 0x40, 0xE1, 0};
    for (int offset : {-1, 1}) {
        StreamPtsTable stream;
        detect_ac3_attributes(payload.data(), offset, 8, stream);
        EXPECT_EQ(stream.detected.sampling_rate, 0) << offset;
    }
}

TEST(AudioDetection, LpcmHeader) {
    StreamPtsTable stream;
    detect_lpcm_attributes(0x81, stream);
    EXPECT_EQ(stream.detected.quantisation, 3);
    EXPECT_EQ(stream.detected.sampling_rate, 1);
    EXPECT_EQ(stream.detected.channels, 2);
    StreamPtsTable other;
    detect_lpcm_attributes(0xD5, other);  // quantisation 3 sets nothing; 96 kHz, 6 channels
    EXPECT_EQ(other.detected.quantisation, 0);
    EXPECT_EQ(other.detected.sampling_rate, 2);
    EXPECT_EQ(other.detected.channels, 6);
}

TEST(ScanStatus, CountsUnitsOfAllVobs) {
    VobGroup group;
    Vob a, b;
    a.vobus.resize(3);
    b.vobus.resize(2);
    group.vobs = {&a, &b};
    Pgc pgc;
    group.pgcs = {&pgc};
    testing::internal::CaptureStderr();
    print_scan_status(2048, group);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "STAT: VOBU 5 at 4MB, 1 PGCS\r");
}

// A subpicture unit of 30 bytes: header, 4 bytes of pixel data, then one display-control
// sequence with every command kind, its colour command at unit bytes 16-17.
Bytes subpicture_unit() {
    return {0x00, 0x1E, 0x00, 0x08,               // unit size 30, sequence at 8
            0x11, 0x22, 0x33, 0x44,               // pixel data
            0x00, 0x10, 0x00, 0x08,               // delay 16, next sequence: itself
            0x01,                                 // start display
            0x06, 0x00, 0x04, 0x00, 0x06,         // pixel data addresses
            0x03, 0x32, 0x10,                     // colours
            0x04, 0xFF, 0xF0,                     // contrast
            0x05, 0, 0, 0, 0, 0,                  // (area, cut short by the unit end)
    };
}

TEST(ColourRemap, RewritesColoursOntoThePalette) {
    for (size_t split : {size_t{0}, size_t{5}, size_t{19}}) {
        Palette palette = default_palette;
        palette[0] = 0x108080;  // already holds colour 2
        ColourRemapState remap;
        remap.reset(&palette);
        remap.map[1] = kPaletteUnset | 0xEB8080;
        remap.map[2] = kPaletteUnset | 0x108080;
        remap.map[3] = kPaletteUnset | 0x515A5A;
        Bytes unit = subpicture_unit();
        const Bytes next_unit = {0x00, 0x04, 0x00, 0x04};
        unit.insert(unit.end(), next_unit.begin(), next_unit.end());
        int32_t end_pts = 1000;
        if (split > 0) procremap(unit.data(), static_cast<int>(split), remap, end_pts);
        procremap(unit.data() + split, static_cast<int>(unit.size() - split), remap, end_pts);
        SCOPED_TRACE(split);
        EXPECT_EQ(end_pts, 1000 + 16 * 1024);
        EXPECT_EQ(unit[19], 0x10) << "colour 3 takes the first free slot, 2 finds its own";
        EXPECT_EQ(unit[20], 0x20) << "colour 1 takes the next free slot, 0 stays";
        EXPECT_EQ(palette[1], 0x515A5Au);
        EXPECT_EQ(palette[2], 0xEB8080u);
        EXPECT_EQ(palette[3], kPaletteUnset);
        EXPECT_EQ(unit[22], 0xFF) << "contrast bytes are not colours";
        EXPECT_EQ(remap.state, 8) << "the next unit's header was read";
        EXPECT_EQ(remap.unit_size, 4);
    }
}

TEST(ColourRemap, FailuresAreErrors) {
    Palette full;
    for (int i = 0; i < kPaletteEntries; ++i) full[i] = static_cast<uint32_t>(i);
    ColourRemapState remap;
    remap.reset(&full);
    remap.map[5] = kPaletteUnset | 0x123456;
    testing::internal::CaptureStderr();
    EXPECT_THROW(alloc_colormap_slot(remap, 5), FatalError);
    EXPECT_EQ(alloc_colormap_slot(remap, 4), 4);

    ColourRemapState commands;
    commands.reset(&full);
    Bytes unit = {0x00, 0x20, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x07};
    int32_t end_pts = 0;
    EXPECT_THROW(procremap(unit.data(), static_cast<int>(unit.size()), commands, end_pts), FatalError);
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_NE(messages.find("ERR: color map full, unable to allocate new colors.\n"), std::string::npos);
    EXPECT_NE(messages.find("ERR: procremap encountered unknown subtitle command: 7\n"), std::string::npos);
}

}  // namespace

namespace {

// Random sectors and subpicture payloads: detection may warn or refuse, but never reads or
// writes outside what it was given (run under the sanitizers to see it).
TEST(DetectionRobustness, RandomInput) {
    std::mt19937 random(12345);
    auto byte = [&] { return static_cast<uint8_t>(random()); };
    VobGroup group;
    VideoParserState state;
    Vobu vobu;
    Vob vob;
    vob.vobus.emplace_back();
    Palette palette = default_palette;
    ColourRemapState remap;
    remap.reset(&palette);
    testing::internal::CaptureStderr();
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> sector(kSectorSize);
        for (uint8_t& b : sector) b = byte();
        // Mostly plausible lengths, sometimes start codes, sometimes nonsense.
        if (round % 3 != 0) {
            const int length = static_cast<int>(random() % 2030);
            sector[18] = static_cast<uint8_t>(length >> 8);
            sector[19] = static_cast<uint8_t>(length);
            sector[22] = static_cast<uint8_t>(random() % 16);
            for (int i = 23; i + 4 < kSectorSize; i += 1 + static_cast<int>(random() % 64)) {
                sector[i] = 0, sector[i + 1] = 0, sector[i + 2] = 1;
            }
        }
        scan_video_pes(group, sector.data(), vobu, round - 1, round, state);
        if (round % 50 == 0) finish_vobu(group, vob, round, state);

        const int first_frame = static_cast<int>(random() % 40) - 1;
        detect_ac3_attributes(sector.data() + 100, first_frame, static_cast<int>(random() % 40),
                              vob.streams[0]);
        detect_lpcm_attributes(byte(), vob.streams[16]);

        const int length = static_cast<int>(random() % 200);
        std::vector<uint8_t> payload(sector.begin(), sector.begin() + length);
        try {
            int32_t end_pts = static_cast<int32_t>(random() % 1000000);
            procremap(payload.data(), length, remap, end_pts);
        } catch (const FatalError&) {
            remap.reset(&palette);
        }
    }
    testing::internal::GetCapturedStderr();
    EXPECT_LE(vobu.ref_count, 3);
    EXPECT_GE(group.video.frame_rate, 0);
    EXPECT_LE(group.video.frame_rate, 8);
}

}  // namespace
