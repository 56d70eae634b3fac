// Truncated, bit-flipped and garbage inputs: every run gives a well-formed program stream or
// a non-zero result, never a crash, an assertion or a hang. This binary is built with
// AddressSanitizer and UndefinedBehaviorSanitizer.
#include <gtest/gtest.h>

#include <random>

#include "media_fixtures.h"
#include "psmux/multiplexer.h"
#include "psmux/mux_job.h"
#include "vob_checker.h"

namespace psmux_test {
namespace {

std::vector<uint8_t> Flipped(std::vector<uint8_t> bytes, unsigned seed, int flips) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> at(0, bytes.size() * 8 - 1);
    for (int i = 0; i < flips; ++i) {
        size_t bit = at(random);
        bytes[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    }
    return bytes;
}

std::vector<uint8_t> Garbage(std::vector<uint8_t> prefix, size_t size, unsigned seed) {
    std::mt19937 random(seed);
    while (prefix.size() < size) prefix.push_back(static_cast<uint8_t>(random()));
    return prefix;
}

std::string Saved(const std::vector<uint8_t>& bytes, const std::string& suffix) {
    const std::string path = NewPath(suffix);
    WriteFile(path, bytes);
    return path;
}

void ExpectValidOrRefused(const std::string& video, const std::string& audio, const std::string& what) {
    const std::string out = NewPath(".vob");
    const int result = psmux::RunMultiplexer(out.c_str(), video.c_str(), audio.c_str(), nullptr, nullptr);
    if (result == 0) {
        const VobReport report = CheckDvdVob(ReadFile(out));
        EXPECT_TRUE(report.Ok()) << what << ": " << report.Summary();
    }
}

TEST(MalformedInput, TruncatedInputs) {
    const std::vector<uint8_t> video = ReadFile(MpegVideo({false, 8, 2, 1}));
    const struct {
        std::vector<uint8_t> bytes;
        const char* suffix;
    } audio[] = {{ReadFile(Mp2Audio(384, 1)), ".mp2"}, {ReadFile(Ac3Audio(640, 1)), ".ac3"},
                 {ReadFile(DtsAudio(1, 1536)), ".dts"}, {ReadFile(WavAudio(24, 2, 1)), ".wav"}};
    auto cutAt = [](const std::vector<uint8_t>& bytes, size_t cut) {
        return std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::min(cut, bytes.size()));
    };
    for (size_t cut : {4, 12, 40, 45, 200, 3000, 30000}) {
        ExpectValidOrRefused(Saved(cutAt(video, cut), ".m2v"), Mp2Audio(384, 1), "video cut at " + std::to_string(cut));
        for (const auto& a : audio)
            ExpectValidOrRefused(MpegVideo({false, 8, 2, 1}), Saved(cutAt(a.bytes, cut), a.suffix),
                                 std::string(a.suffix) + " cut at " + std::to_string(cut));
    }
}

TEST(MalformedInput, BitFlippedInputs) {
    const std::vector<uint8_t> video = ReadFile(MpegVideo({false, 8, 2, 1}));
    const std::vector<uint8_t> audio[] = {ReadFile(Mp2Audio(384, 1)), ReadFile(Ac3Audio(448, 1)),
                                          ReadFile(DtsAudio(1)), ReadFile(WavAudio(16, 2, 1))};
    const char* suffixes[] = {".mp2", ".ac3", ".dts", ".wav"};
    for (unsigned seed = 1; seed <= 4; ++seed) {
        const std::string v = Saved(Flipped(video, seed, 200), ".m2v");
        for (size_t i = 0; i < 4; ++i) {
            const std::string a = Saved(Flipped(audio[i], seed * 10 + i, 100), suffixes[i]);
            ExpectValidOrRefused(v, a, "seed " + std::to_string(seed) + suffixes[i]);
        }
    }
}

TEST(MalformedInput, GarbageBehindValidLookingHeaders) {
    const std::string video = MpegVideo({false, 8, 2, 1});
    const std::string audio = Mp2Audio(384, 1);
    // Pictures separated by sequence ends and no sequence headers: every end closes a unit.
    std::vector<uint8_t> endless = {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x01, 0xE0, 0x24, 0xFF, 0xFF, 0xE0, 0x00};
    for (int i = 0; i < 600; ++i)
        for (uint8_t b : {0x00, 0x00, 0x01, 0x00, 0x00, 0x08, 0xAA, 0x00, 0x00, 0x01, 0xB7}) endless.push_back(b);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* suffix;
        bool isVideo;
    };
    const Case cases[] = {
        {"sequence header then noise", Garbage({0x00, 0x00, 0x01, 0xB3}, 300000, 1), ".m2v", true},
        {"pictures between sequence ends", endless, ".m2v", true},
        {"MPEG audio sync then noise", Garbage({0xFF, 0xFD, 0xE0, 0x04}, 50000, 2), ".mp2", false},
        {"AC-3 sync then noise", Garbage({0x0B, 0x77, 0x00, 0x00, 0x1E, 0x40}, 50000, 3), ".ac3", false},
        {"DTS sync then noise", Garbage({0x7F, 0xFE, 0x80, 0x01}, 50000, 4), ".dts", false},
        {"RIFF noise", Garbage({'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, 50000, 5), ".wav", false},
        {"JPEG", Garbage({0xFF, 0xD8, 0xFF, 0xE0}, 20000, 6), ".mp2", false},
        {"noise", Garbage({}, 100000, 7), ".wav", false},
    };
    for (const Case& c : cases) {
        const std::string path = Saved(c.bytes, c.suffix);
        if (c.isVideo)
            ExpectValidOrRefused(path, audio, c.what);
        else
            ExpectValidOrRefused(video, path, c.what);
    }
}

TEST(MalformedInput, OtherFormatsOnBrokenInputs) {
    const std::string video = Saved(Flipped(ReadFile(MpegVideo({false, 8, 2, 1})), 99, 300), ".m2v");
    // The 24-bit fixture relabelled as 20 bits (its low nibbles are not cleared: no matter here).
    std::vector<uint8_t> wav20 = ReadFile(WavAudio(24, 2, 1));
    ASSERT_GT(wav20.size(), 34u);
    wav20[34] = 20;
    const std::string wavs[] = {Saved(Flipped(ReadFile(WavAudio(24, 2, 1)), 98, 40), ".wav"),
                                Saved(wav20, ".wav"), Saved(Flipped(wav20, 97, 40), ".wav")};
    for (const std::string& wav : wavs) {
        for (int format = 0; format <= 9; ++format) {
            psmux::MuxJob job;
            job.muxFormat = format;
            job.outputName = NewPath(".mpg");
            job.AddInputFiles({video, wav});
            psmux::RunMuxJob(job);  // any result; the sanitizers watch the run
        }
    }
}

}  // namespace
}  // namespace psmux_test

namespace psmux_test {
namespace {

TEST(MalformedInput, CommandLinesThatDoNotParse) {
    const std::vector<std::vector<std::string>> cases = {
        {"psmux"},
        {"psmux", "-o"},
        {"psmux", "-o", ""},
        {"psmux", "-r", "99999999999999999999", "-o", "x", "y"},
        {"psmux", "-O", "-9999999999", "-o", "x", "y"},
        {"psmux", "-L", "::,::", "-o", "x", "y"},
        {"psmux", "-b", ",,", "-o", "x", "y"},
        {"psmux", "-b", "", "-o", "x", "y"},
        {"psmux", "-o", "%", "y"},
        {"psmux", "-o", "%%%0999d", "y"},
        {"psmux", "-fff", "-o", "x", "y"},
    };
    for (const auto& arguments : cases) {
        std::vector<std::string> copy = arguments;
        std::vector<char*> argv;
        for (std::string& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        psmux::MuxJob job;
        std::string error;
        EXPECT_FALSE(job.ParseCommandLine(static_cast<int>(copy.size()), argv.data(), error)) << arguments.size();
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace psmux_test
