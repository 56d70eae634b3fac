// The sector layouts: PES stuffing against padding packets, the end code, the DVD headers and
// the segment names.
#include <gtest/gtest.h>

#include <cstring>

#include "media_fixtures.h"
#include "psmux/program_stream_writer.h"

namespace psmux {
namespace {

// Supplies a fixed number of payload bytes.
class FixedStream : public PesStream {
public:
    FixedStream(int id, size_t bytes) : left_(bytes) { Configure(id, 1, 237568, 0, false, false); }
    size_t ReadPayload(uint8_t* buffer, size_t maximum) override {
        size_t n = std::min(maximum, left_);
        std::memset(buffer, 0xAB, n);
        left_ -= n;
        return n;
    }

private:
    size_t left_;
};

struct WrittenSector {
    std::vector<uint8_t> bytes;
    size_t payload;
};

WrittenSector Write(int mpegVersion, size_t payloadBytes, TimestampKind kind, bool endCode = false) {
    const std::string path = psmux_test::NewPath(".mpg");
    WrittenSector result;
    {
        ProgramStreamWriter writer(mpegVersion, 2048, SegmentNamer(path, false), 0);
        EXPECT_TRUE(writer.OpenFile());
        HeaderBuffer pack;
        writer.BuildPackHeader(pack, 43885, 25200);
        FixedStream stream(0xE0, payloadBytes);
        result.payload = writer.WriteSector(&pack, nullptr, 0, stream, false, endCode, 900000, 810000, kind);
        EXPECT_TRUE(writer.CloseFile());
    }
    result.bytes = psmux_test::ReadFile(path);
    return result;
}

TEST(SectorWriter, SmallGapsAreHeaderStuffingLargerOnesAPaddingPacket) {
    const size_t full = 2048 - 14 - 6 - 3 - 10;  // MPEG-2, PTS and DTS
    for (size_t gap : {0, 1, 5, 9, 10, 11, 100}) {
        SCOPED_TRACE("gap " + std::to_string(gap));
        const WrittenSector s = Write(2, full - gap, kPtsAndDts);
        ASSERT_EQ(s.bytes.size(), 2048u);
        EXPECT_EQ(s.payload, full - gap);
        const uint8_t* pes = s.bytes.data() + 14;
        const size_t pesLength = static_cast<size_t>(pes[4] << 8 | pes[5]);
        const size_t headerData = pes[8];
        if (gap < 10) {
            EXPECT_EQ(14 + 6 + pesLength, 2048u);
            EXPECT_EQ(headerData, 10 + gap);
            for (size_t i = 0; i < gap; ++i) EXPECT_EQ(pes[9 + 10 + i], 0xFF);
            EXPECT_EQ(pes[9 + headerData], 0xAB);
        } else {
            EXPECT_EQ(headerData, 10u);
            const uint8_t* padding = s.bytes.data() + 2048 - gap;
            EXPECT_EQ(std::vector<uint8_t>(padding, padding + 4), (std::vector<uint8_t>{0, 0, 1, 0xBE}));
            EXPECT_EQ(static_cast<size_t>(padding[4] << 8 | padding[5]), gap - 6);
            EXPECT_EQ(padding[6], 0xFF);
        }
    }
}

TEST(SectorWriter, Mpeg1StuffingFollowsTheLengthField) {
    const size_t full = 2048 - 12 - 6 - 5;  // MPEG-1 pack header, PTS only
    const WrittenSector s = Write(1, full - 3, kPtsOnly);
    const uint8_t* pes = s.bytes.data() + 12;
    EXPECT_EQ(std::vector<uint8_t>(pes + 6, pes + 9), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(pes[9] >> 4, 2);  // the PTS after the stuffing
    EXPECT_EQ(static_cast<size_t>(pes[4] << 8 | pes[5]) + 6 + 12, 2048u);
}

TEST(SectorWriter, EndCodeClosesTheLastFourBytes) {
    const WrittenSector s = Write(2, 100, kNoTimestamps, true);
    ASSERT_EQ(s.bytes.size(), 2048u);
    EXPECT_EQ(std::vector<uint8_t>(s.bytes.end() - 4, s.bytes.end()), (std::vector<uint8_t>{0, 0, 1, 0xB9}));
}

TEST(SectorWriter, DvdPackAndSystemHeaderBytes) {
    ProgramStreamWriter writer(2, 2048, SegmentNamer("unused", false), 0);
    HeaderBuffer pack;
    writer.BuildPackHeader(pack, 43885, 25200);
    ASSERT_EQ(pack.length, 14u);
    EXPECT_EQ(std::vector<uint8_t>(pack.bytes.begin() + 10, pack.bytes.begin() + 14),
              (std::vector<uint8_t>{0x01, 0x89, 0xC3, 0xF8}));
    const PlaceholderStream video(0xB9, 1, 237568), mpegAudio(0xB8, 0, 4096), private1(0xBD, 1, 59392),
        private2(0xBF, 1, 2048);
    HeaderBuffer system;
    writer.BuildSystemHeader(system, 25200, false, false, true, true, {&video, &mpegAudio, &private1, &private2});
    const std::vector<uint8_t> expected = {0x00, 0x00, 0x01, 0xBB, 0x00, 0x12, 0x80, 0xC4, 0xE1, 0x04, 0xE1, 0xFF,
                                           0xB9, 0xE0, 0xE8, 0xB8, 0xC0, 0x20, 0xBD, 0xE0, 0x3A, 0xBF, 0xE0, 0x02};
    EXPECT_EQ(std::vector<uint8_t>(system.bytes.begin(), system.bytes.begin() + system.length), expected);
}

TEST(SegmentNames, PatternsHoldAtMostOneIntegerConversion) {
    struct Case {
        const char* name;
        bool valid;
        const char* second;  // the name of segment 2
    };
    const Case cases[] = {
        {"out%02d.mpg", true, "out02.mpg"},   {"out%d.mpg", true, "out2.mpg"},
        {"100%%_%03u.mpg", true, "100%_002.mpg"}, {"%s%n", false, nullptr},
        {"out%02d%d.mpg", false, nullptr},    {"out%", false, nullptr},
        {"%x.mpg", false, nullptr},
        // Without a conversion the escapes name one file, numbered as a literal name is.
        {"100%%.mpg", true, "100%_02.mpg"},   {"out.mpg", true, "out_02.mpg"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SegmentNamer::IsValidPattern(c.name), c.valid) << c.name;
        if (c.valid) {
            EXPECT_EQ(SegmentNamer(c.name, true).NameOf(2), c.second) << c.name;
        }
    }
    EXPECT_EQ(SegmentNamer("100%%.mpg", true).NameOf(1), "100%.mpg");
    // A literal name keeps '%' as it stands and numbers later segments before the extension.
    EXPECT_EQ(SegmentNamer("/a/%s%n/clip.vob", false).NameOf(1), "/a/%s%n/clip.vob");
    EXPECT_EQ(SegmentNamer("/a/%s%n/clip.vob", false).NameOf(3), "/a/%s%n/clip_03.vob");
    EXPECT_EQ(SegmentNamer("/a.b/clip", false).NameOf(2), "/a.b/clip_02");
}

}  // namespace
}  // namespace psmux
