// Formats and stream types off the DVD road, through the psmux command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "media_fixtures.h"
#include "psmux/multiplexer.h"
#include "psmux/mux_job.h"
#include "vob_checker.h"

namespace psmux_test {
namespace {

const std::string kPsmux = std::string(LUMIVANE_BIN_DIR) + "/psmux";

// Runs psmux; answers its exit status and puts its output (both streams) in `output`.
int Psmux(const std::string& arguments, std::string* output = nullptr) {
    int status = 0;
    std::string text = Run(kPsmux + " " + arguments + " 2>&1", &status);
    if (output) *output = text;
    return status;
}

// psmux -f `format` over the inputs exits 1 with the one line "psmux: `reason`" and leaves no
// output.
void ExpectRefusal(int format, const std::vector<std::string>& inputs, const std::string& reason) {
    SCOPED_TRACE(reason);
    const std::string out = NewPath(".mpg");
    std::string arguments = "-f " + std::to_string(format) + " -o " + Quote(out);
    for (const std::string& input : inputs) arguments += " " + Quote(input);
    std::string output;
    EXPECT_EQ(1, Psmux(arguments, &output));
    EXPECT_EQ(output, "psmux: " + reason + "\n");
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(OtherFormats, DecodeCleanlyWithTheirVideoIntact) {
    struct Case {
        int format;
        std::string video, audio;
        size_t sector;
    };
    const std::string dvdVideo = MpegVideo({false, 8, 2, 1});
    const Case cases[] = {
        {0, dvdVideo, Mp2Audio(384, 1), 2048},  {1, VcdVideo(), VcdAudio(), 2324},
        {2, VcdVideo(), VcdAudio(), 2324},    {3, dvdVideo, Ac3Audio(448, 1), 2048},
        {4, dvdVideo, Mp2Audio(384, 1), 2324},  {5, dvdVideo, Mp2Audio(384, 1), 2324},
        {9, dvdVideo, Mp2Audio(384, 1), 2048},  {4, dvdVideo, DtsAudio(1.5), 2324},
        {0, dvdVideo, WavAudio(24, 2, 1), 2048},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("format " + std::to_string(c.format));
        const std::string out = NewPath(".mpg");
        std::string output;
        ASSERT_EQ(0, Psmux("-f " + std::to_string(c.format) + " -o " + Quote(out) + " " + Quote(c.video) + " " +
                               Quote(c.audio), &output))
            << output;
        EXPECT_EQ(std::filesystem::file_size(out) % c.sector, 0u);
        EXPECT_EQ(ProbeStreams(out).size(), 2u);
        EXPECT_TRUE(DecodesCleanly(out));
        const std::string codec = c.format == 1 || c.format == 2 ? "mpeg1video" : "mpeg2video";
        EXPECT_EQ(Demux(out, "v", codec), ReadFile(c.video));
    }
}

TEST(OtherFormats, DtsAndLpcmArriveIntactOnTheDvdRoad) {
    const std::string video = MpegVideo({false, 8, 2, 1});
    // 20-bit samples in 3-byte containers: the 24-bit fixture with its low four bits cleared.
    std::vector<uint8_t> wav20 = ReadFile(WavAudio(24, 2, 1.5));
    ASSERT_EQ(std::string(wav20.begin() + 12, wav20.begin() + 16), "fmt ");
    wav20[34] = 20;
    const size_t data = std::search(wav20.begin(), wav20.end(), std::begin("data"), std::end("data") - 1) - wav20.begin();
    for (size_t i = data + 8; i < wav20.size(); i += 3) wav20[i] &= 0xF0;
    const std::string wav20Path = NewPath(".wav");
    WriteFile(wav20Path, wav20);
    struct Case {
        std::string audio;
        std::string expected;
        std::string demuxFormat;  // how the audio is compared with its input
        std::string inputAsRaw;   // the input decoded to the same raw form, if it is PCM
        std::string bits;         // the sample size the stream announces, if it is PCM
    };
    const Case cases[] = {
        {DtsAudio(1.5), "dts@48000", "dts", "", ""},
        {DtsAudio(1.5, 1536), "dts@48000", "dts", "", ""},  // 2048-byte frames, larger than a packet
        {WavAudio(16, 2, 1.5), "pcm_dvd@48000", "s16le", "s16le", "16"},
        {WavAudio(24, 2, 1.5), "pcm_dvd@48000", "s24le", "s24le", "24"},
        {WavAudio(16, 1, 1.5), "pcm_dvd@48000", "s16le", "s16le", "16"},
        {WavAudio(24, 1, 1.5), "pcm_dvd@48000", "s24le", "s24le", "24"},
        {WavAudio(16, 6, 1.5), "pcm_dvd@48000", "s16le", "s16le", "16"},
        {wav20Path, "pcm_dvd@48000", "s24le", "s24le", "20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.audio);
        const std::string out = NewPath(".vob");
        ASSERT_EQ(0, psmux::RunMultiplexer(out.c_str(), video.c_str(), c.audio.c_str(), nullptr, nullptr));
        const VobReport report = CheckDvdVob(ReadFile(out));
        EXPECT_TRUE(report.Ok()) << report.Summary();
        EXPECT_EQ(ProbeStreams(out), (std::vector<std::string>{"mpeg2video", c.expected}));
        EXPECT_TRUE(DecodesCleanly(out));
        if (!c.bits.empty()) {
            EXPECT_EQ(psmux_test::Run("ffprobe -v error -select_streams a -show_entries stream=bits_per_raw_sample -of csv=p=0 " +
                          Quote(out)),
                      c.bits + "\n");
        }
        std::vector<uint8_t> demuxed;
        std::vector<uint8_t> input;
        if (c.inputAsRaw.empty()) {
            demuxed = Demux(out, "a", c.demuxFormat);
            input = ReadFile(c.audio);
        } else {
            const std::string raw = NewPath(".raw");
            psmux_test::Run("ffmpeg -nostdin -v error -y -i " + Quote(out) + " -map 0:a -f " + c.demuxFormat + " " + Quote(raw));
            demuxed = ReadFile(raw);
            const std::string wavRaw = NewPath(".raw");
            psmux_test::Run("ffmpeg -nostdin -v error -y -i " + Quote(c.audio) + " -f " + c.inputAsRaw + " " + Quote(wavRaw));
            input = ReadFile(wavRaw);
        }
        // Lossless up to the video's end (1 s of 1.5): a prefix of at least 0.95 s.
        ASSERT_LE(demuxed.size(), input.size());
        EXPECT_TRUE(std::equal(demuxed.begin(), demuxed.end(), input.begin()));
        EXPECT_GT(static_cast<double>(demuxed.size()), static_cast<double>(input.size()) * 0.95 / 1.5);
    }
}

// MPEG audio besides Layer II at 48 kHz: Layer III (1152 samples a frame at MPEG-1 rates, 576
// at the lower MPEG-2 ones) and MPEG-2 Layer II, with their padded frames.
TEST(OtherFormats, MpegAudioLayersAndLowerRatesArriveIntact) {
    const std::string video = MpegVideo({false, 8, 2, 1});
    struct Case {
        std::string encoder;
        int rate;
        int kbps;
        std::string codec;
        int samples;
    };
    const Case cases[] = {{"libmp3lame", 44100, 128, "mp3", 1152},
                          {"libmp3lame", 22050, 64, "mp3", 576},
                          {"mp2", 24000, 96, "mp2", 1152}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codec + "@" + std::to_string(c.rate));
        const std::string audio = Fixture(
            c.codec + std::to_string(c.rate) + "." + c.codec,
            "-f lavfi -i sine=sample_rate=" + std::to_string(c.rate) + " -t 1.5 -ac 2 -c:a " + c.encoder + " -b:a " +
                std::to_string(c.kbps) + "k -write_xing 0 -id3v2_version 0 -f " + c.codec);
        const std::string out = NewPath(".vob");
        ASSERT_EQ(0, psmux::RunMultiplexer(out.c_str(), video.c_str(), audio.c_str(), nullptr, nullptr));
        const VobReport report = CheckDvdVob(ReadFile(out));
        EXPECT_TRUE(report.Ok()) << report.Summary();
        EXPECT_EQ(ProbeStreams(out), (std::vector<std::string>{"mpeg2video", c.codec + "@" + std::to_string(c.rate)}));
        EXPECT_TRUE(DecodesCleanly(out));
        const std::vector<uint8_t> input = ReadFile(audio);
        ASSERT_LE(report.audio.size(), input.size());
        EXPECT_TRUE(std::equal(report.audio.begin(), report.audio.end(), input.begin()));
        EXPECT_GT(static_cast<double>(report.audio.size()), static_cast<double>(input.size()) * 0.9 / 1.5);
        const double step = 90000.0 * c.samples / c.rate;
        std::vector<std::string> times = ProbePacketTimes(out, "a");
        ASSERT_GT(times.size(), 10u);
        for (size_t i = 1; i < times.size(); ++i)
            EXPECT_NEAR(std::stod(times[i]) - std::stod(times[i - 1]), step, 1.0) << "audio packet " << i;
    }
}

TEST(OtherFormats, SegmentLimitNumbersTheFilesThroughThePattern) {
    const std::string video = MpegVideo({false, 8, 2});
    const std::string pattern = NewPath("_part%02d.mpg");
    std::string output;
    ASSERT_EQ(0, Psmux("-f 3 -S 1 -o " + Quote(pattern) + " " + Quote(video) + " " + Quote(Mp2Audio(384, 2)), &output))
        << output;
    const std::string stem = pattern.substr(0, pattern.size() - 8);
    std::vector<uint8_t> joined;
    int files = 0;
    for (int i = 1; std::filesystem::exists(stem + (i < 10 ? "0" : "") + std::to_string(i) + ".mpg"); ++i) {
        const std::string part = stem + (i < 10 ? "0" : "") + std::to_string(i) + ".mpg";
        const std::vector<uint8_t> bytes = ReadFile(part);
        ASSERT_GE(bytes.size(), 4u);
        EXPECT_EQ(bytes[3], 0xBA) << part;
        joined.insert(joined.end(), bytes.begin(), bytes.end());
        ++files;
    }
    EXPECT_GE(files, 2);
    // A size limit cuts wherever the limit falls; the parts join into the whole stream.
    const std::string whole = NewPath(".mpg");
    WriteFile(whole, joined);
    EXPECT_TRUE(DecodesCleanly(whole));
    EXPECT_EQ(Demux(whole, "v", "mpeg2video"), ReadFile(video));
}

// The mux rate is 1.5 % above the streams' nominal rates plus 1250 bit/s, in steps of 50
// bytes/s, unless the format or -r fixes it; pack headers carry it in units of 50 bytes/s.
TEST(OtherFormats, MuxRateIsComputedFromTheStreamsUnlessGiven) {
    const std::string video = MpegVideo({false, 8, 2, 1});
    const std::string audio = Mp2Audio(384, 1);
    const std::vector<uint8_t> es = ReadFile(video);
    const uint64_t videoBits = ((uint64_t{es[8]} << 10 | uint64_t{es[9]} << 2 | es[10] >> 6) & 0x3FFFF) * 400;
    const uint64_t sum = videoBits + 384 * 1024;
    // The header's 50-byte/s units round up, so that packs never need more than they declare.
    const uint32_t computed = static_cast<uint32_t>(((1250 + static_cast<uint64_t>(sum * 1.015) / 50 * 50) / 8 + 49) / 50);
    struct Case {
        std::string options;
        uint32_t rateBound;
    };
    const Case cases[] = {{"-f 3", computed}, {"-f 3 -r 9800", 24500}, {"-f 8", 25200}, {"-f 4", 6972}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const std::string out = NewPath(".mpg");
        ASSERT_EQ(0, Psmux(c.options + " -o " + Quote(out) + " " + Quote(video) + " " + Quote(audio)));
        const std::vector<uint8_t> bytes = ReadFile(out);
        ASSERT_GE(bytes.size(), 14u);
        EXPECT_EQ(static_cast<uint32_t>(bytes[10]) << 14 | static_cast<uint32_t>(bytes[11]) << 6 | bytes[12] >> 2,
                  c.rateBound);
    }
}

TEST(CommandLine, WritesTheSameBytesAsTheEntry) {
    const std::string video = MpegVideo({false, 8, 2});
    for (const std::string& audio : {Ac3Audio(448, 2), Mp2Audio(384, 2)}) {
        SCOPED_TRACE(audio);
        const std::string viaEntry = NewPath(".vob");
        const std::string viaCommand = NewPath(".vob");
        ASSERT_EQ(0, psmux::RunMultiplexer(viaEntry.c_str(), video.c_str(), audio.c_str(), nullptr, nullptr));
        ASSERT_EQ(0, Psmux("-f 8 -o " + Quote(viaCommand) + " " + Quote(video) + " " + Quote(audio)));
        EXPECT_EQ(ReadFile(viaEntry), ReadFile(viaCommand));
    }
}

std::string Repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

TEST(CommandLine, RefusesBadArgumentsWithOneLineReason) {
    const std::string video = Quote(MpegVideo({false, 8, 2}));
    const std::string out = Quote(NewPath(".mpg"));
    const std::string cases[] = {
        "",
        "-o " + out,
        "-x -o " + out + " " + video,
        "-f 10 -o " + out + " " + video,
        "-s 100 -o " + out + " " + video,
        "-p 0 -o " + out + " " + video,
        "-S -1 -o " + out + " " + video,
        "-l 0 -o " + out + " " + video,
        "-T -1 -o " + out + " " + video,
        "-T 1e9 -o " + out + " " + video,
        "-T 5s -o " + out + " " + video,
        "-r 12x -o " + out + " " + video,
        "-L 44100:2:16 -o " + out + " " + video,
        "-L 48000:2 -o " + out + " " + video,
        "-b 232,x -o " + out + " " + video,
        "-b 8192 -o " + out + " " + video,
        "-o " + Quote(TempDir() + "/out%s.mpg") + " " + video,
        "-o " + Quote(TempDir() + "/out%d%d.mpg") + " " + video,
        "-o " + out + " " + Quote(TempDir() + "/missing.m2v"),
        "-f 0 -b 1 -o " + out + " " + video,
        "-f 8 -o " + out + " " + video + Repeated(" " + Quote(Ac3Audio(448, 2)), 9),  // sub-streams 0x80-0x87
        "-f 3 -o " + out + " " + video + Repeated(" " + Quote(Mp2Audio(384, 2)), 33),  // ids 0xC0-0xDF
    };
    for (const std::string& arguments : cases) {
        std::string output;
        EXPECT_EQ(1, Psmux(arguments, &output)) << arguments;
        EXPECT_EQ(output.rfind("psmux: ", 0), 0u) << arguments << "\n" << output;
        EXPECT_EQ(output.find('\n'), output.size() - 1) << "one line: " << output;
    }
}

}  // namespace
}  // namespace psmux_test

namespace psmux_test {
namespace {

TEST(StillsFormats, VideoCdStillsKeepEveryPicture) {
    const std::string standard = VcdStandardStills();
    const std::string high = VcdHighResolutionStills();
    const std::string svcd = SvcdStills();
    const std::string audio = StillsSound();

    // The first still shows as the audio starts; each later one is decoded once its whole
    // decoder buffer could have arrived at the mux rate after the previous one was shown, and
    // each shows one frame after its decoding.
    auto expectStillTimes = [](const std::string& out, const std::string& stream, double bufferBytes,
                               double muxRate) {
        const std::vector<std::string> video = ProbePacketTimes(out, stream);
        const std::vector<std::string> audio = ProbePacketTimes(out, "a");
        ASSERT_EQ(video.size(), 4u);
        ASSERT_FALSE(audio.empty());
        auto pts = [](const std::string& line) { return std::stod(line); };
        auto dts = [](const std::string& line) { return std::stod(line.substr(line.find(',') + 1)); };
        EXPECT_NEAR(pts(audio[0]), pts(video[0]), 90);
        for (size_t i = 0; i < video.size(); ++i) {
            EXPECT_NEAR(pts(video[i]) - dts(video[i]), 3003, 1) << i;
            if (i > 0) {
                EXPECT_NEAR(dts(video[i]) - pts(video[i - 1]), bufferBytes * 90000 / muxRate, 1) << i;
            }
        }
    };

    // The last still stays up while the sound plays to its end.
    const std::vector<uint8_t> sound = ReadFile(audio);
    const std::string vcd = NewPath(".mpg");
    ASSERT_EQ(0, Psmux("-f 6 -o " + Quote(vcd) + " " + Quote(standard) + " " + Quote(high) + " " + Quote(audio)));
    EXPECT_EQ(Demux(vcd, "a", "mp2"), sound);
    EXPECT_EQ(ProbeStreams(vcd).size(), 3u);
    EXPECT_TRUE(DecodesCleanly(vcd));
    EXPECT_EQ(Demux(vcd, "v:0", "mpeg1video"), ReadFile(standard));
    EXPECT_EQ(Demux(vcd, "v:1", "mpeg1video"), ReadFile(high));
    expectStillTimes(vcd, "v:0", 46 * 1024, 176400);

    const std::string super = NewPath(".mpg");
    ASSERT_EQ(0, Psmux("-f 7 -o " + Quote(super) + " " + Quote(svcd) + " " + Quote(audio)));
    EXPECT_TRUE(DecodesCleanly(super));
    EXPECT_EQ(Demux(super, "a", "mp2"), sound);
    EXPECT_EQ(Demux(super, "v", "mpeg2video"), ReadFile(svcd));
    expectStillTimes(super, "v", 230 * 1024, 348600);
}

// What the stills formats cannot carry is refused by name rather than left out of a run that
// would look whole: sound alone (nothing to show), sound other than MPEG audio, a second video
// for the super video CD, and for the video CD a second still stream of one size (the size
// decides the stream id), which a third video always is.
TEST(StillsFormats, RefuseWhatTheyCannotCarry) {
    const std::string sound = StillsSound();
    const std::string ac3 = Ac3Audio(448, 2), dts = DtsAudio(2), wav = WavAudio(16, 2, 2);
    const std::string svcd = SvcdStills();
    auto copyOf = [](const std::string& path, const char* extension) {
        const std::string copy = NewPath(extension);
        WriteFile(copy, ReadFile(path));
        return copy;
    };
    const std::string secondSvcd = copyOf(svcd, ".m2v");
    const std::string standard = VcdStandardStills(), high = VcdHighResolutionStills();
    const std::string secondStandard = copyOf(standard, ".m1v"), secondHigh = copyOf(high, ".m1v");
    const std::string carried = "the stills formats (-f 6, -f 7) carry MPEG audio only: ";
    const std::string sizes =
        "the video CD stills format (-f 6) takes one standard (up to 352 wide) and one high-resolution video stream: ";
    const struct {
        int format;
        std::vector<std::string> inputs;
        std::string reason;
    } cases[] = {
        {6, {sound}, "no video stream with a complete picture"},
        {7, {sound}, "no video stream with a complete picture"},
        {6, {VcdStandardStills(), sound, ac3}, carried + ac3 + " is AC-3 audio"},
        {7, {dts, svcd, sound}, carried + dts + " is DTS audio"},
        {7, {svcd, wav}, carried + wav + " is LPCM audio"},
        {7, {svcd, sound, secondSvcd},
         "the super video CD stills format (-f 7) takes one video stream, and this is a second: " + secondSvcd},
        {6, {standard, secondStandard, sound}, sizes + secondStandard + " is a second standard one"},
        {6, {high, sound, secondHigh}, sizes + secondHigh + " is a second high-resolution one"},
        {6, {standard, high, secondHigh, sound}, sizes + secondHigh + " is a second high-resolution one"},
        {6, {high, standard, secondStandard}, sizes + secondStandard + " is a second standard one"},
    };
    for (const auto& c : cases) ExpectRefusal(c.format, c.inputs, c.reason);
}

}  // namespace
}  // namespace psmux_test

namespace psmux_test {
namespace {

TEST(Classification, ContentDecidesBeforeTheWavExtension) {
    const std::string mp2Named = NewPath(".wav");
    WriteFile(mp2Named, ReadFile(Mp2Audio(384, 2)));
    const std::string upperWav = NewPath(".WAV");
    WriteFile(upperWav, ReadFile(WavAudio(16, 2, 2)));
    psmux::MuxJob job;
    EXPECT_TRUE(job.AddInputFile(mp2Named));
    EXPECT_TRUE(job.AddInputFile(MpegVideo({false, 8, 2})));
    EXPECT_TRUE(job.AddInputFile(Ac3Audio(448, 2)));
    EXPECT_TRUE(job.AddInputFile(DtsAudio(2)));
    EXPECT_TRUE(job.AddInputFile(WavAudio(16, 2, 2)));
    EXPECT_FALSE(job.AddInputFile(upperWav));
    ASSERT_EQ(job.inputStreams.size(), 5u);
    const psmux::StreamFormat expected[] = {psmux::StreamFormat::MpegAudio, psmux::StreamFormat::MpegVideo,
                                            psmux::StreamFormat::Ac3Audio, psmux::StreamFormat::DtsAudio,
                                            psmux::StreamFormat::LpcmAudio};
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(job.inputStreams[i].format, expected[i]) << i;
    EXPECT_EQ(job.audioCount, 4u);
    EXPECT_EQ(job.videoCount, 1u);
    EXPECT_EQ(job.lpcmCount, 1u);
}

// Outside the DVD format, which needs its one video stream.
TEST(CommandLine, JobsWithoutVideoOrStreams) {
    // Audio alone is timed from its own first frame.
    const std::string audioOnly = NewPath(".vob");
    ASSERT_EQ(0, Psmux("-f 9 -o " + Quote(audioOnly) + " " + Quote(Ac3Audio(448, 2))));
    EXPECT_EQ(ProbeStreams(audioOnly), std::vector<std::string>{"ac3@48000"});
    EXPECT_TRUE(DecodesCleanly(audioOnly));
    EXPECT_EQ(Demux(audioOnly, "a", "ac3"), ReadFile(Ac3Audio(448, 2)));

    // No stream at all: the end sector alone.
    psmux::MuxJob job;
    job.muxFormat = 9;
    job.outputName = NewPath(".vob");
    ASSERT_EQ(psmux::RunMuxJob(job), psmux::MuxStatus::Ok);
    const VobReport report = CheckDvdVob(ReadFile(job.outputName));
    EXPECT_TRUE(report.Ok()) << report.Summary();
    EXPECT_EQ(report.sectors, 1);
}

TEST(CommandLine, OptionsReachTheJobAndParsesRepeat) {
    const std::string video = MpegVideo({false, 8, 2});
    for (int round = 0; round < 2; ++round) {
        psmux::MuxJob job;
        std::string error;
        std::vector<std::string> args = {"psmux", "-r", "9800", "-O", "-40", "-b", "224,100", "-f", "3", "-VMh",
                                         "-S", "5", "-p", "2", "-l", "30", "-o", "x.mpg", video};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        ASSERT_TRUE(job.ParseCommandLine(static_cast<int>(argv.size()), argv.data(), error)) << error;
        EXPECT_EQ(job.dataRate, 1225000);
        EXPECT_EQ(job.audioOffset, 40 * 27000);
        EXPECT_EQ(job.videoOffset, 0);
        EXPECT_EQ(job.muxFormat, 3);
        EXPECT_TRUE(job.variableBitRate && job.multipleFiles && job.systemHeaderEveryPack);
        EXPECT_EQ(job.segmentLimitMb, 5);
        EXPECT_EQ(job.packetsPerPack, 2);
        EXPECT_EQ(job.runLimitSeconds, 30);
        ASSERT_EQ(job.videoParams.size(), 1u);
        EXPECT_EQ(job.videoParams[0].decoderBufferKb, 224u);
    }
}

// -O delays the video (positive milliseconds) or the audio (negative) against the other.
TEST(CommandLine, OffsetDelaysOneStreamAgainstTheOther) {
    const std::string video = MpegVideo({false, 8, 2});
    const std::string audio = Ac3Audio(448, 2);
    for (int ms : {0, 100, -250}) {
        SCOPED_TRACE("-O " + std::to_string(ms));
        const std::string out = NewPath(".vob");
        ASSERT_EQ(0, Psmux("-f 8 -O " + std::to_string(ms) + " -o " + Quote(out) + " " + Quote(video) + " " +
                           Quote(audio)));
        const VobReport report = CheckDvdVob(ReadFile(out));
        EXPECT_TRUE(report.Ok()) << report.Summary();
        int64_t firstVideo = -1, firstAudio = -1;
        for (const PesPacketInfo& p : report.packets) {
            int64_t& first = p.streamId == 0xE0 ? firstVideo : firstAudio;
            if (p.hasPts && first < 0) first = p.pts;
        }
        ASSERT_GE(firstVideo, 0);
        ASSERT_GE(firstAudio, 0);
        EXPECT_NEAR(static_cast<double>(firstVideo - firstAudio), ms * 90.0, 2);
    }
}

// A clock start moves every SCR, PTS and DTS by the same amount and changes nothing else, so
// a VOB can continue the clock of the one before it; -T gives it in milliseconds.
TEST(ClockStart, ShiftsEveryTimestampAndNothingElse) {
    const std::string video = MpegVideo({false, 8, 2});
    const int64_t start = 90090 * 300;  // 1.001 s: 30 NTSC pictures
    for (const std::string& audio : {Ac3Audio(448, 2), Mp2Audio(384, 2)}) {
        SCOPED_TRACE(audio);
        const std::string plain = NewPath(".vob");
        const std::string shifted = NewPath(".vob");
        const std::string viaCommand = NewPath(".vob");
        ASSERT_EQ(0, psmux::RunMultiplexer(plain.c_str(), video.c_str(), audio.c_str(), nullptr, nullptr));
        ASSERT_EQ(0, psmux::RunMultiplexer(shifted.c_str(), video.c_str(), audio.c_str(), nullptr, nullptr, start));
        ASSERT_EQ(0, Psmux("-f 8 -T 1001 -o " + Quote(viaCommand) + " " + Quote(video) + " " + Quote(audio)));
        EXPECT_EQ(ReadFile(viaCommand), ReadFile(shifted));

        const VobReport before = CheckDvdVob(ReadFile(plain));
        const VobReport after = CheckDvdVob(ReadFile(shifted));
        EXPECT_TRUE(after.Ok()) << after.Summary();
        ASSERT_EQ(after.scrs.size(), before.scrs.size());
        for (size_t i = 0; i < before.scrs.size(); ++i) ASSERT_EQ(after.scrs[i], before.scrs[i] + start) << i;
        ASSERT_EQ(after.packets.size(), before.packets.size());
        for (size_t i = 0; i < before.packets.size(); ++i) {
            const PesPacketInfo& b = before.packets[i];
            const PesPacketInfo& a = after.packets[i];
            ASSERT_EQ(a.sector, b.sector);
            ASSERT_EQ(a.hasPts, b.hasPts);
            if (b.hasPts) {
                ASSERT_EQ(a.pts, b.pts + start / 300) << i;
            }
            if (b.hasDts) {
                ASSERT_EQ(a.dts, b.dts + start / 300) << i;
            }
        }
        EXPECT_EQ(after.video, before.video);
        EXPECT_EQ(after.audio, before.audio);

        // ffprobe sees the same stream one clock-start later.
        const std::vector<std::string> plainTimes = ProbePacketTimes(plain, "v");
        const std::vector<std::string> shiftedTimes = ProbePacketTimes(shifted, "v");
        ASSERT_FALSE(plainTimes.empty());
        ASSERT_EQ(shiftedTimes.size(), plainTimes.size());
        auto pts = [](const std::string& line) { return line.rfind("N/A", 0) == 0 ? -1 : std::stoll(line); };
        for (size_t i = 0; i < plainTimes.size(); ++i) {
            if (pts(plainTimes[i]) >= 0) {
                ASSERT_EQ(pts(shiftedTimes[i]), pts(plainTimes[i]) + start / 300) << i;
            }
        }
    }
}

// -l ends the streams at the first unit shown at or after the limit.
TEST(CommandLine, RunLimitCutsBothStreams) {
    const std::string video = MpegVideo({true, 8, 0, 3});  // PAL, no B-pictures: shown in coding order
    const std::string audio = Mp2Audio(384, 3);
    const std::string out = NewPath(".vob");
    std::string output;
    ASSERT_EQ(0, Psmux("-f 8 -l 1 -o " + Quote(out) + " " + Quote(video) + " " + Quote(audio), &output)) << output;
    const VobReport report = CheckDvdVob(ReadFile(out));
    EXPECT_TRUE(report.Ok()) << report.Summary();
    const int pictures = CountPictures(report.video, 1) + CountPictures(report.video, 2);
    EXPECT_EQ(pictures, 24);  // presentation times 1/25 s to 24/25 s
    const std::vector<uint8_t> input = ReadFile(video);
    EXPECT_TRUE(std::equal(report.video.begin(), report.video.end(), input.begin()));
    EXPECT_NEAR(static_cast<double>(report.audio.size()) / 1152, 1.0 * 48000 / 1152, 1.5);
    EXPECT_TRUE(DecodesCleanly(out));
}

// An input that yields no picture or frame, and a DVD run without its one video stream, are
// refused, naming the input where one is at fault; no output is left behind.
TEST(CommandLine, RefusesInputsThatYieldNothing) {
    const std::string video = MpegVideo({false, 8, 2});
    const std::string audio = Mp2Audio(384, 5);
    const std::vector<uint8_t> es = ReadFile(video);
    const std::string empty = NewPath(".m2v");
    WriteFile(empty, {});
    // Its one picture is cut inside its first slices.
    const std::string cut = NewPath(".m2v");
    WriteFile(cut, {es.begin(), es.begin() + 100});
    const std::string noFrame = NewPath(".mp2");
    const std::vector<uint8_t> mp2 = ReadFile(audio);
    WriteFile(noFrame, {mp2.begin(), mp2.begin() + 500});
    struct Case {
        std::vector<std::string> inputs;
        std::string reason;
    };
    const Case cases[] = {
        {{empty, audio}, "input holds no complete picture or audio frame: " + empty},
        {{cut, audio}, "input holds no complete picture or audio frame: " + cut},
        {{video, noFrame}, "input holds no complete picture or audio frame: " + noFrame},
        {{audio}, "no video stream with a complete picture"},
        {{video, video}, "the DVD format takes one video stream, and more were given"},
    };
    for (const Case& c : cases) ExpectRefusal(8, c.inputs, c.reason);
}

// A failed write names the output and the system's reason, and leaves no partial file; a
// device named as the output stays.
TEST(CommandLine, OutputFailuresNameTheFileAndTheReason) {
    const std::string inputs = " " + Quote(MpegVideo({false, 8, 2})) + " " + Quote(Mp2Audio(384, 2));
    const std::string missing = TempDir() + "/no such folder/out.vob";
    const std::string limited = NewPath(".vob");
    struct Case {
        std::string shellPrefix;
        std::string out;
        std::string reason;
    };
    const Case cases[] = {
        {"", "/dev/full", "No space left on device"},
        {"", missing, "No such file or directory"},
        // A file-size limit of 100 KB makes a write fail halfway.
        {"trap '' XFSZ; ulimit -f 100; exec ", limited, "File too large"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        int status = 0;
        const std::string output = psmux_test::Run("sh -c " + Quote(c.shellPrefix + kPsmux + " -f 8 -o " + Quote(c.out) + inputs) + " 2>&1",
                                       &status);
        EXPECT_EQ(status, 1);
        EXPECT_EQ(output, "psmux: cannot create or write output: " + c.out + ": " + c.reason + "\n");
    }
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
    EXPECT_FALSE(std::filesystem::exists(limited));
}

// The refusal of a stray '%' recommends "%%", which then names a file with a '%'.
TEST(CommandLine, DoubledPercentInTheOutputNameIsOnePercent) {
    const std::string video = Quote(MpegVideo({false, 8, 2}));
    const std::string audio = Quote(Mp2Audio(384, 2));
    std::string output;
    EXPECT_EQ(1, Psmux("-f 8 -o " + Quote(TempDir() + "/100%.vob") + " " + video + " " + audio, &output));
    EXPECT_NE(output.find("\"%%\" for a '%'"), std::string::npos) << output;
    EXPECT_EQ(0, Psmux("-f 8 -o " + Quote(TempDir() + "/100%%.vob") + " " + video + " " + audio, &output)) << output;
    EXPECT_TRUE(CheckDvdVob(ReadFile(TempDir() + "/100%.vob")).Ok());
}

// Sound that loses its frame sync ends there, and the run says where.
TEST(CommandLine, SoundThatLosesItsSyncEndsWithAWarning) {
    std::vector<uint8_t> mp2 = ReadFile(Mp2Audio(384, 10));
    const size_t frame = 1152;
    const size_t broken = 200 * frame;
    ASSERT_GT(mp2.size(), broken + frame);
    std::fill(mp2.begin() + broken, mp2.begin() + broken + 4, 0);
    const std::string audio = NewPath(".mp2");
    WriteFile(audio, mp2);
    const std::string out = NewPath(".vob");
    std::string output;
    ASSERT_EQ(0, Psmux("-f 8 -o " + Quote(out) + " " + Quote(MpegVideo({false, 8, 2, 6})) + " " + Quote(audio), &output));
    EXPECT_EQ(output, "psmux: warning: the sound of " + audio + " ends early: no frame header at byte " +
                          std::to_string(broken) + ", after 200 frames; the rest is left out\n");
    EXPECT_EQ(Demux(out, "a", "mp2"), std::vector<uint8_t>(mp2.begin(), mp2.begin() + broken));
}

// 20- and 24-bit samples of more than two channels are refused, naming the file: how a DVD
// packet orders them is not known here.
TEST(CommandLine, LpcmOfMoreThanTwoChannelsAbove16BitsIsRefused) {
    const std::string video = Quote(MpegVideo({false, 8, 2}));
    for (int channels : {3, 6}) {
        const std::string wav = WavAudio(24, channels, 1);
        const std::string out = NewPath(".vob");
        std::string output;
        EXPECT_EQ(1, Psmux("-f 8 -o " + Quote(out) + " " + video + " " + Quote(wav), &output));
        EXPECT_EQ(output, "psmux: 20- and 24-bit LPCM is written with one or two channels only (16 bits take up to "
                          "seven): " + wav + "\n");
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST(CommandLine, LpcmParametersMustMatchTheWavFile) {
    const std::string video = Quote(MpegVideo({false, 8, 2}));
    const std::string wav = Quote(WavAudio(16, 2, 2));
    std::string output;
    EXPECT_EQ(1, Psmux("-f 8 -L 96000:2:24 -o " + Quote(NewPath(".vob")) + " " + video + " " + wav, &output));
    EXPECT_EQ(0, Psmux("-f 8 -L 48000:2:16 -o " + Quote(NewPath(".vob")) + " " + video + " " + wav, &output)) << output;
}

}  // namespace
}  // namespace psmux_test
