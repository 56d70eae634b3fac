// Whole jobs over clips whose streams lie awkwardly in the file: transport-stream pieces joined
// byte by byte, and sound stored ahead of the pictures it belongs to. The finished title is read
// back with ffmpeg, picture by picture and sample by sample.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include "core/log.h"
#include "job_fixtures.h"
#include "platform/dshow/packet_lanes.h"
#include "reader/media_fixtures.h"

namespace driver {
namespace {

using platform::dshow::PacketPtr;
using testing::TempFolder;

struct InputClose {
    void operator()(AVFormatContext* format) const { avformat_close_input(&format); }
};
struct OutputFree {
    void operator()(AVFormatContext* format) const {
        avio_closep(&format->pb);
        avformat_free_context(format);
    }
};

// Copies a file's packets into `to` (same container) with its sound `lead` seconds ahead of the
// pictures in the file, the stamps unchanged: what a muxer that sends the sound early writes.
// False when either file cannot be handled.
bool WriteWithSoundAhead(const std::string& from, const std::string& to, double lead) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, from.c_str(), nullptr, nullptr) < 0) return false;
    const std::unique_ptr<AVFormatContext, InputClose> input(opened);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) return false;
    AVFormatContext* made = nullptr;
    if (avformat_alloc_output_context2(&made, nullptr, nullptr, to.c_str()) < 0) return false;
    const std::unique_ptr<AVFormatContext, OutputFree> output(made);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(output.get(), nullptr);
        if (stream == nullptr || avcodec_parameters_copy(stream->codecpar, input->streams[i]->codecpar) < 0) {
            return false;
        }
        stream->codecpar->codec_tag = 0;
        stream->time_base = input->streams[i]->time_base;
    }
    if (avio_open(&output->pb, to.c_str(), AVIO_FLAG_WRITE) < 0 ||
        avformat_write_header(output.get(), nullptr) < 0) {
        return false;
    }

    // Each packet goes where its decoding time, less the lead for sound, puts it.
    struct Placed {
        double seconds;
        PacketPtr packet;
    };
    std::vector<Placed> packets;
    for (PacketPtr packet(av_packet_alloc()); av_read_frame(input.get(), packet.get()) >= 0;
         packet.reset(av_packet_alloc())) {
        const AVStream* stream = input->streams[packet->stream_index];
        const int64_t stamp = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        const bool sound = stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        packets.push_back({stamp * av_q2d(stream->time_base) - (sound ? lead : 0.0), std::move(packet)});
    }
    std::stable_sort(packets.begin(), packets.end(),
                     [](const Placed& a, const Placed& b) { return a.seconds < b.seconds; });
    for (Placed& placed : packets) {
        AVPacket* packet = placed.packet.get();
        av_packet_rescale_ts(packet, input->streams[packet->stream_index]->time_base,
                             output->streams[packet->stream_index]->time_base);
        packet->pos = -1;
        // Written as they stand: the interleaving writer would sort the sound back into place.
        if (av_write_frame(output.get(), packet) < 0) return false;
    }
    return av_write_trailer(output.get()) >= 0;
}

// Seconds of near silence at the start of a file's sound, decoded by ffmpeg at 48 kHz mono.
double LeadingSilence(const std::string& file) {
    const std::string bytes = reader_test::Shell("ffmpeg -v error -nostdin -i '" + file +
                                                 "' -vn -ac 1 -ar 48000 -f s16le -");
    std::vector<int16_t> samples(bytes.size() / sizeof(int16_t));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(int16_t));
    // The test tone stands at an eighth of full scale; silence coded and decoded stays far below.
    constexpr int kAudible = 1000;
    const auto first = std::find_if(samples.begin(), samples.end(),
                                    [](int16_t value) { return std::abs(int(value)) > kAudible; });
    return double(first - samples.begin()) / 48000;
}

// Both readers: the plain graph (0) and the editing-services timeline (1).
class ClipLayoutTest : public ::testing::TestWithParam<uint32_t> {
protected:
    void SetUp() override { core::InitLogAtPath(work_ / "Lumivane.log"); }

    // The title's VOB of a PAL job over clips, written directly (directVob 1) or through
    // elementary-stream files.
    std::string Title(const std::vector<reader::ClipRecord>& clips, uint32_t directVob) {
        const std::string output = work_ / ("job" + std::to_string(jobs_++));
        const auto configure = [&](core::Settings& settings) {
            settings.UseDES = GetParam();
            settings.DirectVOB = directVob;
            settings.Standard = 1;
            // Plenty of bits, so that the numbered pictures keep their grey levels.
            settings.BitrateType = 0;
            settings.Bitrate = 8000;
        };
        return testing::RunJobInto(output, clips, configure, boxes_) + "/VIDEO_TS/VTS_01_1.VOB";
    }

    TempFolder work_;
    testing::RecordingBoxes boxes_;
    int jobs_ = 0;
};

INSTANTIATE_TEST_SUITE_P(Readers, ClipLayoutTest, ::testing::Values(0u, 1u),
                         [](const auto& info) { return std::string(info.param ? "Timeline" : "PlainGraph"); });

// Two pieces of a transport stream joined byte by byte, as cutters and receivers write them, the
// second's clock following on from the first's. The continuity counters jump at the join, so the
// demultiplexer marks the last picture before it corrupt; that picture is still whole, and it and
// the B-picture that refers to it reach the disc: every picture once, in order.
TEST_P(ClipLayoutTest, PiecesJoinedByteWiseKeepEveryPicture) {
    std::vector<reader_test::ClockPiece> pieces;
    for (const auto& [first, clock] : {std::pair{0, 10.0}, std::pair{12, 13.0}}) {
        pieces.push_back({testing::NumberedPictures("320x240", "4", 3, first) +
                              "-f lavfi -i sine=sample_rate=48000:duration=3 -c:v mpeg2video -bf 2 "
                              "-q:v 2 -c:a mp2",
                          clock});
    }
    const std::string path = work_ / "joined.ts";
    ASSERT_TRUE(reader_test::MakeJumpingStream(pieces, path));
    ASSERT_NE(reader_test::Shell("ffmpeg -nostdin -v warning -i '" + path + "' -f null - 2>&1").find("corrupt"),
              std::string::npos)
        << "the join must break the continuity count for this clip to show anything";

    std::vector<int> everyPicture(24);
    for (int n = 0; n < 24; ++n) everyPicture[size_t(n)] = n;
    for (const uint32_t directVob : {0u, 1u}) {
        SCOPED_TRACE(directVob ? "direct VOB" : "elementary streams");
        std::vector<int> shown = testing::PictureNumbers(Title({testing::ProbeClip(path)}, directVob));
        shown.erase(std::unique(shown.begin(), shown.end()), shown.end());  // each held picture once
        EXPECT_EQ(shown, everyPicture);
    }
}

// Sound stored 1 s or 6 s ahead of its pictures (a muxer that sends the sound early): a range
// in the middle of the clip has its sound from its first moment, however far back in the file
// that sound lies.
TEST_P(ClipLayoutTest, RangeOfSoundStoredAheadHasItsSoundFromItsStart) {
    for (const char* container : {"ts", "mkv"}) {
        const std::string base = testing::MakeMedia(
            "-f lavfi -i testsrc=size=320x240:rate=25:duration=12 "
            "-f lavfi -i sine=sample_rate=48000:duration=12 -c:v mpeg2video -q:v 4 -c:a mp2",
            work_ / (std::string("base.") + container));
        for (const double lead : {1.0, 6.0}) {
            SCOPED_TRACE(container + (" with its sound ahead by " + std::to_string(lead)));
            const std::string path = work_ / ("ahead" + std::to_string(int(lead)) + "." + container);
            ASSERT_TRUE(WriteWithSoundAhead(base, path, lead));
            reader::ClipRecord clip = testing::ProbeClip(path);
            clip.RangeStart = 5.0;
            clip.RangeEnd = 10.0;
            const std::string vob = Title({clip}, 0);
            EXPECT_LT(LeadingSilence(vob), 0.05);
            EXPECT_NEAR(testing::DecodedSeconds(vob).audio, 5.0, 0.1);
        }
    }
}

}  // namespace
}  // namespace driver
