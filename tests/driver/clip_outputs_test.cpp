// A clip's outputs on both writing roads: the files each creates, finishes and leaves, and what
// happens when a name is taken by a link.
#include "driver/clip_outputs.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "job_fixtures.h"

namespace driver {
namespace {

using testing::TempFolder;

constexpr int kPictures = 12;

struct Road {
    const char* name;
    uint32_t directVob;
    uint32_t audioFormat;  // 0 MP2, 1 AC-3
};

class ClipOutputsTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = work_ / "out";
        std::filesystem::create_directory(folder_);
        core::Settings& settings = host_.settings;
        settings.SetDefaults();
        settings.OutputFolder = folder_;
        settings.VideoResolutionIndex = 0;  // small pictures encode quickly
        settings.ApplyVideoStandard();
        host_.picture.SourceWidth = settings.OutputWidth;
        host_.picture.SourceHeight = settings.OutputHeight;
        host_.audio = {2, 48000};
    }

    void UseRoad(const Road& road) {
        host_.settings.DirectVOB = road.directVob;
        host_.settings.AudioFormat = road.audioFormat;
    }

    // Takes a clip through the road the job's way, from Create to its VOB; the first failure
    // as the job reports it, or "" when the VOB was made.
    std::string MakeVob(ClipOutputs& outputs) {
        ClipOutputs::CreateFailure notCreated;
        if (!outputs.Create(0, notCreated)) return notCreated.path + ": " + notCreated.reason;
        std::string error;
        if (!outputs.Open(0, error)) return error;
        const core::Settings& s = host_.settings;
        const std::vector<uint8_t> grey(std::size_t((s.OutputWidth * 3 + 3) & ~3) * s.OutputHeight, 0x80);
        const int soundPerPicture = 2 * 48000 * int(s.FrameRateDen) / int(s.FrameRateNum);
        const std::vector<int16_t> silence(std::size_t(soundPerPicture), 0);
        for (int i = 0; i < kPictures; ++i) {
            if (!outputs.WriteVideo(grey.data(), 1)) return "picture not written";
            if (!outputs.WriteSound(silence.data(), soundPerPicture)) return "sound not written";
        }
        if (!outputs.Close(error)) return error;
        if (!outputs.Direct() && !outputs.Multiplex(nullptr, 0, error)) return error;
        return "";
    }

    std::string Path(const std::string& name) const { return folder_ + "/" + name; }

    TempFolder work_;
    std::string folder_;
    core::FixedEncoderHost host_;
};

// Each road creates its files under the clip's names, makes a VOB of every picture, and leaves
// its files (the caller keeps or removes them) once released.
TEST_F(ClipOutputsTest, EachRoadCreatesFinishesAndReleasesItsFiles) {
    const struct {
        Road road;
        std::vector<std::string> files;  // vob, video, audio
    } cases[] = {
        {{"elementary streams, MP2", 0, 0}, {"Lumivane00.vob", "Chapter00.m2v", "Chapter00.mp2"}},
        {{"elementary streams, AC-3", 0, 1}, {"Lumivane00.vob", "Chapter00.m2v", "Chapter00.ac3"}},
        {{"direct", 1, 0}, {"Lumivane00.vob", "", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.road.name);
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directory(folder_);
        UseRoad(c.road);
        ClipOutputs outputs(&host_);
        ASSERT_EQ(MakeVob(outputs), "");
        outputs.Release();

        const auto inFolder = [&](const std::string& name) { return name.empty() ? name : Path(name); };
        const ClipOutputs::Files& created = outputs.Created();
        EXPECT_EQ(std::vector<std::string>({created.vob, created.video, created.audio}),
                  std::vector<std::string>({inFolder(c.files[0]), inFolder(c.files[1]), inFolder(c.files[2])}));
        std::vector<std::string> expected;
        for (const std::string& name : c.files) {
            if (!name.empty()) expected.push_back(name);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(testing::ListFolder(folder_), expected);
        const testing::StreamSeconds decoded = testing::DecodedSeconds(created.vob);
        EXPECT_NEAR(decoded.video, kPictures * double(host_.settings.FrameRateDen) / host_.settings.FrameRateNum, 0.01);
        EXPECT_GT(decoded.audio, 0.0);
    }
}

// A link under any of the clip's names is never written through, on either road: the file it
// leads to keeps its bytes, the failure names the file and the system's reason, and all that
// stays in the folder besides the link is what Created() lists.
TEST_F(ClipOutputsTest, LinkUnderAClipNameFailsAndIsNeverWrittenThrough) {
    const std::string precious = work_ / "precious.bin";
    const std::string loop = ": Too many levels of symbolic links";
    const struct {
        Road road;
        const char* linked;
        std::string failure;
    } cases[] = {
        {{"video stream", 0, 0}, "Chapter00.m2v", Path("Chapter00.m2v") + loop},
        {{"audio stream", 0, 1}, "Chapter00.ac3", Path("Chapter00.ac3") + loop},
        {{"multiplexed VOB", 0, 0}, "Lumivane00.vob",
         "Multiplexing into " + Path("Lumivane00.vob") +
             " failed: cannot create or write output: " + Path("Lumivane00.vob") + loop},
        {{"direct VOB", 1, 0}, "Lumivane00.vob", "Cannot create " + Path("Lumivane00.vob") + loop},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.road.name);
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directory(folder_);
        testing::WriteFile(precious, "the user's");
        std::filesystem::create_symlink(precious, Path(c.linked));
        UseRoad(c.road);
        ClipOutputs outputs(&host_);
        EXPECT_EQ(MakeVob(outputs), c.failure);
        outputs.Release();

        EXPECT_EQ(testing::ReadFile(precious), "the user's");
        EXPECT_TRUE(std::filesystem::is_symlink(Path(c.linked)));
        const ClipOutputs::Files& created = outputs.Created();
        EXPECT_EQ(created.vob, "");
        std::vector<std::string> expected{c.linked};
        for (const std::string& path : {created.video, created.audio}) {
            if (!path.empty()) expected.push_back(std::filesystem::path(path).filename());
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(testing::ListFolder(folder_), expected);
    }
}

}  // namespace
}  // namespace driver
