// The sample sink against samples and formats a misbehaving upstream filter might deliver.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "core/log.h"
#include "driver/main_frame.h"
#include "job_fixtures.h"
#include "platform/dshow/media_sample.h"

namespace driver {
namespace {

using platform::dshow::AM_MEDIA_TYPE;
using platform::dshow::MediaSample;
using platform::dshow::VIDEOINFOHEADER;
using platform::dshow::WAVEFORMATEX;

class SinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        core::InitLogAtPath(work_ / "Lumivane.log");
        frame_.PrepareJobSettings();
    }

    void SetVideoFormat(int width, int height) {
        VIDEOINFOHEADER info{};
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = height;
        info.bmiHeader.biBitCount = 24;
        AM_MEDIA_TYPE type{};
        type.cbFormat = sizeof info;
        type.pbFormat = reinterpret_cast<platform::dshow::BYTE*>(&info);
        frame_.OnVideoFormat(&type);
    }

    // A picture sample of `bytes` bytes stamped at 0.
    platform::com::ComPtr<MediaSample> Picture(long bytes) {
        auto sample = MediaSample::Create(size_t(bytes));
        std::memset(sample->Data(), 0x80, size_t(bytes));
        sample->SetActualDataLength(bytes);
        platform::dshow::REFERENCE_TIME start = 0, stop = 333667;
        sample->SetTime(&start, &stop);
        return sample;
    }

    testing::TempFolder work_;
    MainFrame frame_;
};

TEST_F(SinkTest, PictureSmallerThanItsFormatIsSkipped) {
    SetVideoFormat(320, 240);
    EXPECT_EQ(frame_.EncoderPicture().SourceWidth, 320);
    EXPECT_TRUE(frame_.EncoderPicture().NeedsScaling);

    // Short of the 320 x 240 x 3 bytes: never reaches an encoder.
    frame_.OnVideoSample(Picture(320 * 3 * 10).Get());
    EXPECT_FALSE(frame_.StopEvent()->IsSet());
    EXPECT_NE(testing::ReadFile(core::LogPath()).find("where 230400 are needed; skipped"),
              std::string::npos);

    // A whole picture with no encoder open is a failed write, which ends the clip.
    frame_.OnVideoSample(Picture(320 * 3 * 240).Get());
    EXPECT_TRUE(frame_.StopEvent()->IsSet());
}

// The timeline fits the picture by its own stretch mode, so the sink adds no bands there even
// when a picture arrives at another size; the plain graph's pictures are fitted by the sink.
TEST_F(SinkTest, OnlyThePlainGraphsPicturesGetBands) {
    struct Case {
        const char* name;
        uint32_t useDes, letterBox;
        int width, height;
        int padTop, padLeft;
        bool scaled;
    };
    const Case cases[] = {
        {"plain graph, wide source", 0, 0, 640, 352, 64, 0, true},
        {"plain graph, stretched", 0, 1, 640, 352, 0, 0, true},
        {"timeline, output size", 1, 0, 720, 480, 0, 0, false},
        {"timeline, another size", 1, 0, 640, 352, 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        frame_.Settings().Standard = 0;
        frame_.Settings().UseDES = c.useDes;
        frame_.Settings().LetterBox = c.letterBox;
        frame_.PrepareJobSettings();
        SetVideoFormat(c.width, c.height);
        const core::PictureGeometry geometry = frame_.EncoderPicture();
        EXPECT_EQ(geometry.PadTop, c.padTop);
        EXPECT_EQ(geometry.PadBottom, c.padTop);
        EXPECT_EQ(geometry.PadLeft, c.padLeft);
        EXPECT_EQ(geometry.PadRight, c.padLeft);
        EXPECT_EQ(geometry.NeedsScaling, c.scaled);
    }
}

TEST_F(SinkTest, FormatsWithoutTheirBlocksAreIgnored) {
    AM_MEDIA_TYPE empty{};
    frame_.OnVideoFormat(&empty);
    frame_.OnVideoFormat(nullptr);
    EXPECT_EQ(frame_.EncoderPicture().SourceWidth, 0);
    frame_.OnAudioFormat(nullptr);

    // A plain 16-byte wave format (no cbSize) is taken as far as it goes.
    WAVEFORMATEX wave{};
    wave.nChannels = 2;
    wave.nSamplesPerSec = 44100;
    wave.cbSize = 0xBEEF;
    AM_MEDIA_TYPE type{};
    type.cbFormat = 16;
    type.pbFormat = reinterpret_cast<platform::dshow::BYTE*>(&wave);
    frame_.OnAudioFormat(&type);
    EXPECT_EQ(frame_.EncoderAudioInput().Channels, 2);
    EXPECT_EQ(frame_.EncoderAudioInput().SampleRate, 44100);

    // A picture before any format has nothing to be checked against.
    frame_.OnVideoSample(Picture(64).Get());
    EXPECT_FALSE(frame_.StopEvent()->IsSet());
}

}  // namespace
}  // namespace driver
