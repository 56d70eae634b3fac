// Frame-header parsing of the audio streams: lengths by the ISO 11172-3 / 13818-3 and ATSC
// A/52 rules, and refusal of reserved values that would otherwise index past the tables.
#include <gtest/gtest.h>

#include "psmux/ac3_stream.h"
#include "psmux/audio_stream.h"
#include "psmux/dts_stream.h"

namespace psmux {
namespace {

uint32_t MpegHeader(int version, int layerBits, int bitRateIndex, int rateIndex, int padding) {
    return 0x7FFu << 21 | static_cast<uint32_t>(version) << 19 | static_cast<uint32_t>(layerBits) << 17 | 1u << 16 |
           static_cast<uint32_t>(bitRateIndex) << 12 | static_cast<uint32_t>(rateIndex) << 10 |
           static_cast<uint32_t>(padding) << 9;
}

TEST(MpegAudioHeader, FrameLengthsAndSamplesFollowLayerAndVersion) {
    struct Case {
        const char* what;
        uint32_t header;
        uint32_t length;
        uint32_t samples;
        int rate;
    };
    const Case cases[] = {
        {"MPEG-1 layer II 384k 48k", MpegHeader(3, 2, 14, 1, 0), 1152, 1152, 48000},
        {"MPEG-1 layer II 224k 48k", MpegHeader(3, 2, 11, 1, 0), 672, 1152, 48000},
        {"MPEG-1 layer I 384k 48k", MpegHeader(3, 3, 12, 1, 0), 384, 384, 48000},
        {"MPEG-1 layer I 32k 44.1k padded", MpegHeader(3, 3, 1, 0, 1), 36, 384, 44100},
        {"MPEG-1 layer III 128k 44.1k padded", MpegHeader(3, 1, 9, 0, 1), 418, 1152, 44100},
        {"MPEG-2 layer III 64k 22.05k", MpegHeader(2, 1, 8, 0, 0), 208, 576, 22050},
        {"MPEG-2.5 layer III 8k 8k", MpegHeader(0, 1, 1, 2, 0), 72, 576, 8000},
        {"MPEG-2 layer II 160k 24k", MpegHeader(2, 2, 14, 1, 0), 960, 1152, 24000},
        {"MPEG-2 layer I 256k 16k", MpegHeader(2, 3, 14, 2, 0), 768, 384, 16000},
    };
    for (const Case& c : cases) {
        MpegAudioHeader h;
        ASSERT_TRUE(ParseMpegAudioHeader(c.header, h)) << c.what;
        EXPECT_EQ(h.frameLength, c.length) << c.what;
        EXPECT_EQ(h.samples, c.samples) << c.what;
        EXPECT_EQ(h.sampleRate, c.rate) << c.what;
    }
}

TEST(MpegAudioHeader, ReservedValuesAreRefused) {
    const uint32_t refused[] = {
        MpegHeader(1, 2, 14, 1, 0),  // reserved version
        MpegHeader(3, 0, 14, 1, 0),  // reserved layer
        MpegHeader(3, 2, 0, 1, 0),   // free format
        MpegHeader(3, 2, 15, 1, 0),  // bad bit rate
        MpegHeader(3, 2, 14, 3, 0),  // reserved sample rate
        0xFFD8FFE0,                  // a JPEG file's first bytes
        0x000001B3,
    };
    for (uint32_t header : refused) {
        MpegAudioHeader h;
        EXPECT_FALSE(ParseMpegAudioHeader(header, h)) << std::hex << header;
    }
}

TEST(Ac3Header, FrameLengthsAndRefusals) {
    struct Case {
        uint8_t rateAndSize;
        uint8_t bsid;
        bool valid;
        uint32_t length;
    };
    const Case cases[] = {
        {0 << 6 | 30, 8, true, 1792},   // 448 kbit/s at 48 kHz
        {0 << 6 | 36, 8, true, 2560},   // 640 kbit/s at 48 kHz
        {1 << 6 | 1, 8, true, 140},     // 32 kbit/s at 44.1 kHz, odd code: one word more
        {2 << 6 | 0, 6, true, 192},     // 32 kbit/s at 32 kHz
        {3 << 6 | 30, 8, false, 0},     // reserved sample rate
        {0 << 6 | 38, 8, false, 0},     // frame-size code past the table
        {0 << 6 | 63, 8, false, 0},
        {0 << 6 | 30, 16, false, 0},    // E-AC-3
    };
    for (const Case& c : cases) {
        const uint8_t bytes[6] = {0x0B, 0x77, 0x12, 0x34, c.rateAndSize, static_cast<uint8_t>(c.bsid << 3)};
        Ac3Header h;
        EXPECT_EQ(ParseAc3Header(bytes, h), c.valid) << int(c.rateAndSize);
        if (c.valid) EXPECT_EQ(h.frameLength, c.length) << int(c.rateAndSize);
    }
}

std::array<uint8_t, 10> DtsBytes(uint32_t blocks, uint32_t frameSize, uint32_t rateIndex, uint32_t bitRateIndex) {
    // After the sync word: frame type 1, deficit 5, CRC 1, blocks-1 7, size-1 14, arrangement 6,
    // frequency 4, bit rate 5, then 5 more bits.
    uint64_t bits = 1ull << 47 | 31ull << 42 | static_cast<uint64_t>(blocks - 1) << 34 |
                    static_cast<uint64_t>(frameSize - 1) << 20 | 9ull << 14 |
                    static_cast<uint64_t>(rateIndex) << 10 | static_cast<uint64_t>(bitRateIndex) << 5;
    std::array<uint8_t, 10> b{0x7F, 0xFE, 0x80, 0x01};
    for (int i = 0; i < 6; ++i) b[4 + i] = static_cast<uint8_t>(bits >> (40 - 8 * i));
    return b;
}

TEST(DtsHeader, FrameSizesSamplesAndRefusals) {
    DtsHeader h;
    ASSERT_TRUE(ParseDtsHeader(DtsBytes(16, 4096, 13, 24).data(), h));  // 4 KB frames at 48 kHz
    EXPECT_EQ(h.frameLength, 4096u);
    EXPECT_EQ(h.samples, 512u);
    EXPECT_EQ(h.sampleRate, 48000);
    EXPECT_FALSE(ParseDtsHeader(DtsBytes(5, 1024, 13, 15).data(), h));   // too few sample blocks
    EXPECT_FALSE(ParseDtsHeader(DtsBytes(16, 95, 13, 15).data(), h));    // frame below 96 bytes
    EXPECT_FALSE(ParseDtsHeader(DtsBytes(16, 1024, 4, 15).data(), h));   // no such frequency
    EXPECT_FALSE(ParseDtsHeader(DtsBytes(16, 1024, 13, 29).data(), h));  // open bit rate
}

}  // namespace
}  // namespace psmux
