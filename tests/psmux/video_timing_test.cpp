// Field and repeat-first-field timing of the video scanner, on small made-up streams whose
// I-pictures carry their timestamps on the DVD road.
#include <gtest/gtest.h>

#include <cmath>

#include "media_fixtures.h"
#include "psmux/multiplexer.h"
#include "vob_checker.h"

namespace psmux_test {
namespace {

class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ == 0) bytes_.push_back(0);
            bytes_.back() |= static_cast<uint8_t>(((value >> i) & 1) << (7 - used_));
            used_ = (used_ + 1) % 8;
        }
    }
    void StartCode(uint8_t code) {
        used_ = 0;
        for (uint8_t b : {0x00, 0x00, 0x01}) bytes_.push_back(b);
        bytes_.push_back(code);
    }
    void Filler(size_t n) {
        used_ = 0;
        bytes_.insert(bytes_.end(), n, 0x55);
    }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int used_ = 0;
};

enum Structure : uint32_t { kTopField = 1, kBottomField = 2, kFrame = 3 };

struct Picture {
    uint32_t type;  // 1 I, 2 P
    Structure structure;
    bool repeatFirstField;
    bool newGop;
    uint32_t temporalReference;
};

// A stream of the pictures (at 30000/1001 frames per second unless the frame-rate code says
// otherwise), each with a picture coding extension and some bytes of would-be slice data.
std::vector<uint8_t> MakeStream(const std::vector<Picture>& pictures, uint32_t frameRateCode = 4) {
    BitWriter w;
    w.StartCode(0xB3);
    w.Put(720, 12);
    w.Put(480, 12);
    w.Put(2, 4);       // 4:3
    w.Put(frameRateCode, 4);
    w.Put(15000, 18);  // 6 Mbit/s
    w.Put(1, 1);
    w.Put(112, 10);
    w.Put(0, 3);  // constrained, no quantiser matrices
    for (const Picture& p : pictures) {
        if (p.newGop) {
            w.StartCode(0xB8);
            w.Put(1 << 12, 25);  // time code with its marker bit
            w.Put(1, 1);         // closed
            w.Put(0, 6);
        }
        w.StartCode(0x00);
        w.Put(p.temporalReference, 10);
        w.Put(p.type, 3);
        w.Put(0xFFFF, 16);
        w.Put(p.type == 2 ? 0x7 << 1 : 0, p.type == 2 ? 4 : 0);  // P: full-pel flag and f-code
        w.Put(0, 3);
        w.StartCode(0xB5);
        w.Put(8, 4);
        w.Put(0xFFFF, 16);
        w.Put(0, 2);
        w.Put(p.structure, 2);
        w.Put(1, 1);  // top field first
        w.Put(p.structure == kFrame ? 1 : 0, 1);
        w.Put(0, 4);
        w.Put(p.repeatFirstField ? 1 : 0, 1);
        w.Put(1, 1);  // 4:2:0
        w.Put(p.structure == kFrame ? 1 : 0, 1);
        w.Put(0, 1);
        w.Filler(300);
    }
    return w.Bytes();
}

// The timestamped pictures' decode and presentation times in 90 kHz units from the first
// decode time.
struct Times {
    std::vector<int64_t> dts, pts;
};

Times TimesOf(const std::vector<uint8_t>& stream) {
    const std::string video = NewPath(".m2v");
    WriteFile(video, stream);
    const std::string noAudio = NewPath(".mp2");
    WriteFile(noAudio, {});
    const std::string out = NewPath(".vob");
    Times times;
    EXPECT_EQ(0, psmux::RunMultiplexer(out.c_str(), video.c_str(), noAudio.c_str(), nullptr, nullptr));
    const VobReport report = CheckDvdVob(ReadFile(out));
    EXPECT_TRUE(report.Ok()) << report.Summary();
    EXPECT_EQ(report.video, stream);
    int64_t origin = -1;
    for (const PesPacketInfo& p : report.packets) {
        if (p.streamId != 0xE0 || !p.hasPts) continue;
        EXPECT_TRUE(p.hasDts);
        if (origin < 0) origin = p.dts;
        times.dts.push_back(p.dts - origin);
        times.pts.push_back(p.pts - origin);
    }
    return times;
}

// Times in 90 kHz units against expected multiples of `unit`; they are truncated to whole
// units, so they may fall short by one.
void ExpectMultiples(const std::vector<int64_t>& actual, const std::vector<int>& expected, double unit,
                     const char* what) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(static_cast<double>(actual[i]), expected[i] * unit, 1.0) << what << " " << i;
}

constexpr double kNtscField = 90000.0 * 1001 / 60000;  // 1501.5

TEST(VideoTiming, RepeatFirstFieldAddsAThirdField) {
    // 3:2 pull-down: frames of 3, 2, 3, 2 fields; each shown one field after its decoding.
    std::vector<Picture> pictures;
    for (int i = 0; i < 6; ++i) pictures.push_back({1, kFrame, i % 2 == 0, true, 0});
    const Times t = TimesOf(MakeStream(pictures));
    ExpectMultiples(t.dts, {0, 3, 5, 8, 10, 13}, kNtscField, "DTS");
    ExpectMultiples(t.pts, {1, 4, 6, 9, 11, 14}, kNtscField, "PTS");
}

TEST(VideoTiming, FieldPicturesCountOneFieldEach) {
    // GOPs of three frames, each coded as two field pictures (I or P, then P); only the
    // I-fields carry timestamps, six fields apart, each shown one field after its decoding.
    std::vector<Picture> pictures;
    for (int gop = 0; gop < 4; ++gop) {
        for (uint32_t frame = 0; frame < 3; ++frame) {
            pictures.push_back({frame == 0 ? 1u : 2u, kTopField, false, frame == 0, frame});
            pictures.push_back({2, kBottomField, false, false, frame});
        }
    }
    const Times t = TimesOf(MakeStream(pictures));
    ExpectMultiples(t.dts, {0, 6, 12, 18}, kNtscField, "DTS");
    ExpectMultiples(t.pts, {1, 7, 13, 19}, kNtscField, "PTS");
}

TEST(VideoTiming, FrameRateCodesAndTheFallbackToTwentyFive) {
    const struct {
        uint32_t code;
        double frame;  // 90 kHz units
    } cases[] = {{1, 3753.75}, {2, 3750}, {3, 3600}, {4, 3003}, {5, 3000}, {6, 1800},
                 {7, 1501.5},  {8, 1500}, {0, 3600}, {9, 3600}, {15, 3600}};
    std::vector<Picture> pictures(5, Picture{1, kFrame, false, true, 0});
    for (const auto& c : cases) {
        SCOPED_TRACE("frame-rate code " + std::to_string(c.code));
        const Times t = TimesOf(MakeStream(pictures, c.code));
        ExpectMultiples(t.dts, {0, 1, 2, 3, 4}, c.frame, "DTS");
        ExpectMultiples(t.pts, {1, 2, 3, 4, 5}, c.frame, "PTS");
    }
}

}  // namespace
}  // namespace psmux_test
