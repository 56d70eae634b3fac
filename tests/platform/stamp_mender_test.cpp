// The stamp mender over made-up packet streams: a video stream stamped as an MPEG-2 encoder
// with two B-pictures stamps it in a transport stream, beside a stream of sound, both on the
// 90 kHz clock.
#include "platform/dshow/stamp_mender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

using platform::dshow::StampMender;
using platform::dshow::StampRepairs;

constexpr int kVideo = 0;
constexpr int kAudio = 1;
constexpr int64_t kSecond = 90000;
constexpr int64_t kFrame = kSecond / 25;
constexpr int64_t kAudioFrame = 2160;  // 1152 samples at 48 kHz
constexpr int64_t kStart = 126000;     // where the transport stream muxer starts its clock

struct Stamps {
    int stream = kVideo;
    int64_t pts = 0;
    int64_t dts = 0;
    bool operator==(const Stamps&) const = default;
};

void PrintTo(const Stamps& s, std::ostream* out) {
    *out << (s.stream == kVideo ? "video " : "audio ") << s.pts << "/" << s.dts;
}

// `seconds` of pictures at 25 a second, in decoding order (an anchor picture before the
// `bPictures` B-pictures shown before it; an anchor is shown one more picture after it is
// decoded than there are B-pictures, a B-picture when it is decoded), and of sound,
// interleaved by decoding time.
std::vector<Stamps> CleanStream(double seconds, int bPictures = 2) {
    std::vector<Stamps> packets;
    const int pictures = int(seconds * 25), span = bPictures + 1;
    for (int slot = 0; slot < pictures; ++slot) {
        // With two B-pictures, decoding order 0, 3, 1, 2, 6, 4, 5, ...: slot 0 is the I-picture.
        const int group = (slot - 1) / span + 1, place = (slot - 1) % span;
        const int shown = slot == 0 ? 0 : place == 0 ? span * group : span * (group - 1) + place;
        packets.push_back({kVideo, kStart + shown * kFrame, kStart + (slot - 1) * kFrame});
    }
    for (int64_t t = kStart; t < kStart + int64_t(seconds * kSecond); t += kAudioFrame) {
        packets.push_back({kAudio, t, t});
    }
    std::stable_sort(packets.begin(), packets.end(),
                     [](const Stamps& a, const Stamps& b) { return a.dts < b.dts; });
    return packets;
}

// The index of the first video packet from the n-th on whose stamps satisfy want.
template <typename Want>
size_t VideoFrom(const std::vector<Stamps>& packets, int n, Want want) {
    for (size_t i = 0; i < packets.size(); ++i) {
        if (packets[i].stream == kVideo && n-- <= 0 && want(packets[i])) return i;
    }
    return packets.size();
}

class StampMenderTest : public testing::Test {
protected:
    void SetUp() override {
        format_ = avformat_alloc_context();
        ASSERT_NE(format_, nullptr);
        for (int i = 0; i < 2; ++i) {
            AVStream* stream = avformat_new_stream(format_, nullptr);
            ASSERT_NE(stream, nullptr);
            stream->time_base = AVRational{1, int(kSecond)};
        }
    }
    void TearDown() override { avformat_free_context(format_); }

    // Mends packets in order, each at its own byte position.
    static std::vector<Stamps> Mended(StampMender& mender, const std::vector<Stamps>& packets) {
        std::vector<Stamps> mended;
        AVPacket* packet = av_packet_alloc();
        for (size_t i = 0; i < packets.size(); ++i) {
            packet->stream_index = packets[i].stream;
            packet->pts = packets[i].pts;
            packet->dts = packets[i].dts;
            packet->duration = packets[i].stream == kVideo ? kFrame : kAudioFrame;
            packet->pos = int64_t(i) * 188;
            mender.Mend(packet);
            mended.push_back({packet->stream_index, packet->pts, packet->dts});
        }
        av_packet_free(&packet);
        return mended;
    }

    // What a reader of the file gets: the probe reads it whole and finds the repairs; a reader
    // mends with them.
    std::vector<Stamps> Read(const std::vector<Stamps>& packets) {
        StampMender finder(format_, kVideo, kAudio);
        const std::vector<Stamps> found = Mended(finder, packets);
        repairs_ = finder.Repairs();
        StampMender reader(format_, kVideo, kAudio, repairs_);
        const std::vector<Stamps> read = Mended(reader, packets);
        if (finder.MendedAsRepairs()) {
            EXPECT_EQ(found, read) << "the probe's reading is the readers'";
        }
        return read;
    }

    AVFormatContext* format_ = nullptr;
    StampRepairs repairs_;
};

// One bit flipped in one stamp throws it seconds or hours off, either way; the packet is no
// step of the clock, and gets the stamps it had, from its neighbours: in the run for a decoding
// stamp, in the one free place among the pictures shown around it for a presentation stamp.
TEST_F(StampMenderTest, DamagedStampIsPlacedByItsNeighbours) {
    const std::vector<Stamps> clean = CleanStream(10);
    const auto reordered = [](const Stamps& s) { return s.pts != s.dts; };
    const auto bPicture = [](const Stamps& s) { return s.pts == s.dts; };
    const auto sound = [](const Stamps& s) { return s.stream == kAudio; };
    enum Field { kPts, kDts, kBoth, kSound };
    const struct {
        const char* name;
        Field field;
        int64_t error;
    } cases[] = {
        {"PTS 12 minutes late", kPts, int64_t(1) << 26},
        {"PTS 13 hours late", kPts, int64_t(1) << 32},
        {"PTS 2.9 s late", kPts, int64_t(1) << 18},
        {"PTS 1.5 s early", kPts, -(int64_t(1) << 17)},
        {"DTS 12 minutes late", kDts, int64_t(1) << 26},
        {"DTS 2.9 s late", kDts, int64_t(1) << 18},
        {"DTS 1.5 s early", kDts, -(int64_t(1) << 17)},
        {"B-picture 12 minutes late", kBoth, int64_t(1) << 26},
        {"B-picture 2.9 s late", kBoth, int64_t(1) << 18},
        {"B-picture 1.5 s early", kBoth, -(int64_t(1) << 17)},
        {"sound 12 minutes late", kSound, int64_t(1) << 26},
        {"sound 1.5 s early", kSound, -(int64_t(1) << 17)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const int n : {60, 246}) {  // in the middle, and among the last few pictures
            SCOPED_TRACE(n);
            std::vector<Stamps> damaged = clean;
            const size_t at =
                c.field == kSound
                    ? size_t(std::find_if(clean.begin() + 2 * n, clean.end(), sound) - clean.begin())
                : c.field == kBoth ? VideoFrom(clean, n, bPicture)
                                   : VideoFrom(clean, n, reordered);
            ASSERT_LT(at, clean.size());
            if (c.field != kDts) damaged[at].pts += c.error;
            if (c.field != kPts) damaged[at].dts += c.error;
            EXPECT_EQ(Read(damaged), clean);
            EXPECT_TRUE(repairs_.jumps.empty());
            EXPECT_EQ(repairs_.outliers.size(), 1u);
        }
    }
}

// Both streams stepping is the clock's jump, closed up whether it comes between groups of
// pictures (a splice: every packet from one on in decoding order steps) or inside one (an
// encode whose clock jumps: each stamp steps by its own value, so that an anchor picture
// decoded before the jump is shown after it), and whichever way it goes; a step back too small
// to be taken for damage is a step too.
TEST_F(StampMenderTest, ClockJumpsAreClosedUpInsideAGroupToo) {
    const std::vector<Stamps> clean = CleanStream(6);
    const struct {
        const char* name;
        double at;  // seconds after the start
        double step;
        bool inside;  // each stamp steps by its own value
    } cases[] = {
        {"60 s ahead inside a group", 3.01, 60, true},   {"60 s ahead between groups", 3.01, 60, false},
        {"90 s back inside a group", 3.01, -90, true},   {"0.3 s back between groups", 3.10, -0.3, false},
        {"6 h ahead inside a group", 3.05, 21600, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Stamps> jumping = clean;
        const int64_t at = kStart + int64_t(c.at * kSecond), step = int64_t(c.step * kSecond);
        for (Stamps& s : jumping) {
            if ((c.inside ? s.pts : s.dts) >= at) s.pts += step;
            if (s.dts >= at) s.dts += step;
        }
        const std::vector<Stamps> read = Read(jumping);
        EXPECT_EQ(repairs_.jumps.size(), 1u);
        EXPECT_TRUE(repairs_.outliers.empty());
        ASSERT_EQ(read.size(), clean.size());
        // The piece after the jump follows on from the last packet before it, the sound and the
        // pictures moved alike.
        for (size_t i = 0; i < read.size(); ++i) {
            EXPECT_NEAR(double(read[i].pts), double(clean[i].pts), double(kAudioFrame)) << i;
            EXPECT_NEAR(double(read[i].dts), double(clean[i].dts), double(kAudioFrame)) << i;
        }
    }
}

// A stream that steps alone has a gap of its own (sound that stops for a while, pictures that
// were lost): it stays, and the other stream is not moved either.
TEST_F(StampMenderTest, StepOfOneStreamAloneIsThatStreamsGap) {
    const std::vector<Stamps> clean = CleanStream(12);
    for (const int stream : {kAudio, kVideo}) {
        SCOPED_TRACE(stream == kAudio ? "sound" : "pictures");
        // The stream's packets from 3 s to 9 s are missing; the rest keep their stamps.
        std::vector<Stamps> gap;
        std::copy_if(clean.begin(), clean.end(), std::back_inserter(gap), [&](const Stamps& s) {
            return s.stream != stream || s.dts < kStart + 3 * kSecond || s.dts >= kStart + 9 * kSecond;
        });
        EXPECT_EQ(Read(gap), gap);
        EXPECT_TRUE(repairs_.jumps.empty());
        EXPECT_TRUE(repairs_.outliers.empty());
    }
}

// Some muxers stamp every picture with its presentation time alone, and the demultiplexer
// gives that one stamp as both: the run of such stamps goes back and forth by the pictures
// reordered, which is no damage.
TEST_F(StampMenderTest, PicturesStampedOnceInReorderedOrderAreNoDamage) {
    for (const int bPictures : {2, 3, 7}) {
        SCOPED_TRACE(bPictures);
        std::vector<Stamps> once = CleanStream(6, bPictures);
        for (Stamps& s : once) s.dts = s.pts;
        EXPECT_EQ(Read(once), once);
        EXPECT_TRUE(repairs_.Empty());
    }
}

}  // namespace
