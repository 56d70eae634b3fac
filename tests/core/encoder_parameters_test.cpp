// The DVD parameter set as the opened encoder contexts carry it.
#include <algorithm>
#include <cstdio>

#include "core/audio_encoder.h"
#include "core/encoder_dvd_video.h"
#include "core/encoder_packets.h"
#include "core/encoder_picture.h"
#include "core/output_writer.h"
#include "core/video_encoder.h"
#include "encoder_test_support.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace {

using encoder_test::MakeHost;

int64_t PrivateInt(const AVCodecContext* context, const char* name) {
    int64_t value = -1;
    av_opt_get_int(context->priv_data, name, 0, &value);
    return value;
}

struct RateCase {
    const char* name;
    int resolutionIndex;  // NTSC row
    uint32_t bitrate;     // kbit/s
    uint32_t bitrateType;
    int qmin, qmax;  // qmax -1: the encoder's default
    int64_t lmin, lmax;
    bool fixedQuantiser;
    int64_t minRate, maxRate, bitRate;  // bit/s as the encoder got them
};

// Defaults elsewhere: MaxBitrate 8000, MinBitrate 1200 kbit/s, GOP 8, 2 B-pictures, MP2 at
// 384 kbit/s. Variable rate hands FFmpeg no minimum (it would overshoot the average for it).
const RateCase kRateCases[] = {
    {"Fixed8", 3, 8, 1, 8, 8, 944, 944, true, 0, 8'000'000, 8000},
    {"Fixed31", 3, 31, 1, 31, 31, 31 * 118, 31 * 118, true, 0, 8'000'000, 31000},
    {"Rate32SmallFrame", 0, 32, 1, 2, -1, 236, -1, false, 0, 8'000'000, 32000},
    {"Full2400", 3, 2400, 1, 2, -1, 236, -1, false, 0, 8'000'000, 2'400'000},
    {"Full3000", 3, 3000, 1, 1, -1, 118, -1, false, 0, 8'000'000, 3'000'000},
    {"Small800", 0, 800, 1, 2, -1, 236, -1, false, 0, 8'000'000, 800'000},
    {"Small1000", 0, 1000, 1, 1, -1, 118, -1, false, 0, 8'000'000, 1'000'000},
    // Above what the multiplex carries beside the sound: held to that. 10.08 Mbit/s is 615.234
    // packs a second, less 3.746 navigation packs (29.97 pictures in GOPs of 8) and 23.810 sound
    // packs (384 kbit/s at 2016 bytes a pack), less 2% for padding, at 2015 video bytes a pack.
    {"AboveDvdCeiling", 3, 12000, 1, 1, -1, 118, -1, false, 0, 9'283'911, 9'283'911},
    {"Constant", 3, 4000, 0, 1, -1, 118, -1, false, 4'000'000, 4'000'000, 4'000'000},
};

class RateControl : public ::testing::TestWithParam<RateCase> {};

TEST_P(RateControl, OpenedContextCarriesTheDvdRates) {
    const RateCase& c = GetParam();
    auto host = MakeHost(0, c.resolutionIndex);
    host.settings.Bitrate = c.bitrate;
    host.settings.BitrateType = c.bitrateType;
    core::VideoEncoder encoder(&host);
    ASSERT_EQ(encoder.Open(&host), 1) << encoder.Error();
    const AVCodecContext* ctx = encoder.CodecContext();
    ASSERT_TRUE(avcodec_is_open(const_cast<AVCodecContext*>(ctx)));
    EXPECT_EQ(ctx->qmin, c.qmin);
    if (c.qmax >= 0) {
        EXPECT_EQ(ctx->qmax, c.qmax);
    }
    EXPECT_EQ(PrivateInt(ctx, "lmin"), c.lmin);
    if (c.lmax >= 0) {
        EXPECT_EQ(PrivateInt(ctx, "lmax"), c.lmax);
    }
    EXPECT_EQ((ctx->flags & AV_CODEC_FLAG_QSCALE) != 0, c.fixedQuantiser);
    if (c.fixedQuantiser) {
        EXPECT_EQ(ctx->global_quality, c.qmin * FF_QP2LAMBDA);
    }
    EXPECT_EQ(ctx->rc_min_rate, c.minRate);
    EXPECT_EQ(ctx->rc_max_rate, c.maxRate);
    EXPECT_EQ(ctx->bit_rate, c.bitRate);
}

INSTANTIATE_TEST_SUITE_P(Encoder, RateControl, ::testing::ValuesIn(kRateCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EncoderParameters, FixedParametersOfBothRoads) {
    auto host = MakeHost(0, 3);
    core::VideoEncoder encoder(&host);
    ASSERT_EQ(encoder.Open(&host), 1) << encoder.Error();
    const AVCodecContext* es = encoder.CodecContext();
    EXPECT_EQ(es->gop_size, 8);
    EXPECT_EQ(es->max_b_frames, 2);
    EXPECT_EQ(es->rc_buffer_size, 1835008);
    EXPECT_EQ(es->rc_initial_buffer_occupancy, 1376256);
    EXPECT_EQ(es->time_base.num, 1001);
    EXPECT_EQ(es->time_base.den, 30000);
    EXPECT_FLOAT_EQ(es->b_quant_factor, 1.0f);
    EXPECT_FLOAT_EQ(es->i_quant_factor, 0.5f);
    EXPECT_EQ(es->max_qdiff, 5);
    EXPECT_EQ(PrivateInt(es, "sc_threshold"), 1000000000);
    EXPECT_EQ(PrivateInt(es, "b_strategy"), 0);
    EXPECT_EQ(es->flags & AV_CODEC_FLAG_CLOSED_GOP, 0);

    // The direct writer: lowest lambda 1 at a rate above the coarse floor, closed GOPs, and
    // the frame rate from the rate code.
    encoder_test::TempDir dir;
    host.settings.Bitrate = 6000;
    host.settings.Standard = 1;
    host.settings.OutputHeight = 576;
    core::OutputWriter writer(&host);
    ASSERT_EQ(core::ConfigureVobWriter(writer, host, dir.File("a.vob").c_str()), 0)
        << writer.Error();
    const AVCodecContext* direct = writer.VideoCodecContext();
    EXPECT_EQ(PrivateInt(direct, "lmin"), 1);
    EXPECT_NE(direct->flags & AV_CODEC_FLAG_CLOSED_GOP, 0);
    EXPECT_EQ(direct->time_base.num, 1);
    EXPECT_EQ(direct->time_base.den, 25);
    EXPECT_TRUE(writer.Close()) << writer.Error();
}

// Each repeat of a picture is a picture of its own in time: the first picture of a clip given
// three times at 30000/1001 is stamped 0, 33367 and 66733 µs, and every picture comes out of the
// opened encoder with its own stamp once it is drained, held-back B-pictures included.
TEST(EncoderParameters, RepeatsGetTheirOwnIncreasingTimestamps) {
    const struct {
        int standard;
        std::vector<int> repeats;
        std::vector<int64_t> micros;
    } kCases[] = {
        {0, {3, 1}, {0, 33367, 66733, 100100}},
        {1, {2, 1, 2}, {0, 40000, 80000, 120000, 160000}},
    };
    for (const auto& c : kCases) {
        const auto host = MakeHost(c.standard, 0);
        const core::Settings& s = host.settings;
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
        AVCodecContext* ctx = avcodec_alloc_context3(codec);
        ASSERT_NE(ctx, nullptr);
        ctx->framerate = {static_cast<int>(s.FrameRateNum), static_cast<int>(s.FrameRateDen)};
        ctx->time_base = av_inv_q(ctx->framerate);
        std::string error;
        ASSERT_TRUE(
            core::ApplyDvdVideoParameters(ctx, s, core::VideoRoad::ElementaryStream, &error))
            << error;
        ASSERT_GE(avcodec_open2(ctx, codec, nullptr), 0);

        core::PictureConverter converter;
        ASSERT_TRUE(converter.Open(host.picture, s.OutputWidth, s.OutputHeight, &error)) << error;
        const encoder_test::TestPicture card =
            encoder_test::MakeTestCard(s.OutputWidth, s.OutputHeight);
        std::vector<int64_t> micros;
        const core::PacketHandler collect = [&](AVPacket* packet, std::string*) {
            micros.push_back(av_rescale_q(packet->pts, ctx->time_base, {1, 1'000'000}));
            return true;
        };
        for (int repeat : c.repeats)
            ASSERT_TRUE(
                converter.EncodeRepeated(ctx, card.bottomUpBgr.data(), repeat, 0, collect, &error))
                << error;
        ASSERT_TRUE(core::EncodeAndDeliver(ctx, nullptr, collect, &error)) << error;
        std::sort(micros.begin(), micros.end());  // packets come in coding order
        EXPECT_EQ(micros, c.micros) << "standard " << c.standard;
        avcodec_free_context(&ctx);
    }
}

TEST(EncoderParameters, SampleAspectSignalsFourByThreeAtEveryFrameSize) {
    const struct {
        int width, height, num, den;
    } kAspects[] = {{720, 480, 8, 9},   {720, 576, 16, 15}, {704, 480, 10, 11}, {352, 240, 10, 11},
                    {704, 576, 12, 11}, {352, 288, 12, 11}, {352, 480, 20, 11}, {352, 576, 24, 11}};
    for (const auto& a : kAspects) {
        const AVRational sar = core::SampleAspectFor4x3(a.width, a.height);
        EXPECT_EQ(sar.num, a.num) << a.width << "x" << a.height;
        EXPECT_EQ(sar.den, a.den) << a.width << "x" << a.height;
    }
}

TEST(EncoderParameters, AudioFramesAndDvdCeilings) {
    const struct {
        AVCodecID codec;
        int channels;
        uint32_t kbps;
        int valuesPerFrame;
        int64_t bitRate;
    } kCases[] = {
        {AV_CODEC_ID_AC3, 2, 448, 3072, 448'000},  // 1536 samples per channel
        {AV_CODEC_ID_AC3, 2, 640, 3072, 448'000},  // held to the DVD ceiling
        {AV_CODEC_ID_AC3, 1, 192, 1536, 192'000},
        {AV_CODEC_ID_MP2, 2, 384, 2304, 384'000},  // 1152 samples per channel
        {AV_CODEC_ID_MP2, 1, 192, 1152, 192'000},
        // Layer II rates by channel mode: one channel tops out at 192 kbit/s, two start at 64
        // and skip 80.
        {AV_CODEC_ID_MP2, 1, 384, 1152, 192'000},
        {AV_CODEC_ID_MP2, 2, 32, 2304, 64'000},
        {AV_CODEC_ID_MP2, 2, 80, 2304, 64'000},
        {AV_CODEC_ID_MP2, 1, 80, 1152, 80'000},
    };
    for (const auto& c : kCases) {
        auto host = MakeHost();
        host.settings.AudioKbps = c.kbps;
        host.audio = {c.channels, 44100};
        core::AudioEncoder encoder(&host, c.codec);
        ASSERT_EQ(encoder.Open(), 0) << encoder.Error();
        const AVCodecContext* ctx = encoder.CodecContext();
        EXPECT_EQ(ctx->frame_size * ctx->ch_layout.nb_channels, c.valuesPerFrame)
            << avcodec_get_name(c.codec) << " " << c.channels;
        EXPECT_EQ(ctx->sample_rate, 48000);
        EXPECT_EQ(ctx->bit_rate, c.bitRate);
    }
}

}  // namespace
