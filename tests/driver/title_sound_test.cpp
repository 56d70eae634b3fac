#include "driver/title_sound.h"

#include <vector>

#include <gtest/gtest.h>

namespace driver {
namespace {

// What the sound's output was handed, in order.
class TitleSoundTest : public ::testing::Test {
protected:
    void SetUp() override { Begin(48000); }
    void Begin(int rate) {
        sound_.BeginClip(rate, [this](const int16_t* samples, int count) {
            if (failWrites_) return false;
            written_.insert(written_.end(), samples, samples + count);
            return true;
        });
    }
    // A packet of `frames` stereo frames stamped at `start` (100 ns), every value `level`.
    static AudioPacket Packet(int64_t start, int64_t frames, int16_t level) {
        return AudioPacket{start, std::vector<int16_t>(size_t(frames) * kTitleChannels, level)};
    }
    int64_t FramesHanded() const { return int64_t(written_.size()) / kTitleChannels; }

    TitleSound sound_;
    std::vector<int16_t> written_;
    bool failWrites_ = false;
};

TEST_F(TitleSoundTest, ReaderSoundIsCutAtTheRangeOnlyWhereTheReaderRunsPastIt) {
    EXPECT_EQ(sound_.Frames(1.0 / 3), 16000);
    EXPECT_EQ(sound_.Receive(30000, 0.5), 24000);  // 0.5 s hold 24000 frames
    EXPECT_EQ(sound_.Receive(30000, 0.5), 0);
    EXPECT_EQ(sound_.FramesReceived(), 24000);
    Begin(44100);
    EXPECT_EQ(sound_.Receive(100000, 0.0), 100000);  // the timeline cuts the range itself
    EXPECT_EQ(sound_.Frames(0.5), 22050);
}

TEST_F(TitleSoundTest, SilenceMakesUpWhatTheReaderDidNotGive) {
    const std::vector<int16_t> block(2 * 1000, 7);
    ASSERT_TRUE(sound_.Write(block.data(), 1000));
    ASSERT_TRUE(sound_.FillTo(12000));  // more than one chunk of silence
    EXPECT_EQ(sound_.FramesWritten(), 12000);
    ASSERT_EQ(FramesHanded(), 12000);
    EXPECT_EQ(written_[2 * 999 + 1], 7);
    EXPECT_EQ(written_[2 * 1000], 0);
    EXPECT_TRUE(sound_.FillTo(500));  // already longer: nothing is taken back
    EXPECT_EQ(FramesHanded(), 12000);
}

TEST_F(TitleSoundTest, FailedOutputIsReported) {
    failWrites_ = true;
    EXPECT_FALSE(sound_.FillTo(100));
    EXPECT_EQ(sound_.FramesWritten(), 0);
}

// Direct road: queued sound goes out as the pictures reach its time; at the clip's end what the
// last pictures cover follows, cut at the pictures' length.
TEST_F(TitleSoundTest, QueuedSoundFollowsThePicturesAndEndsWithThem) {
    sound_.Queue(Packet(0, 4800, 1));
    sound_.Queue(Packet(1000000, 4800, 2));  // 0.1 s
    sound_.Queue(Packet(2000000, 4800, 3));  // 0.2 s, past the pictures' 0.25 s at its end
    sound_.Drain(999999);
    EXPECT_EQ(FramesHanded(), 4800);
    ASSERT_TRUE(sound_.EndWithPictures(0.25, 2500000));
    ASSERT_EQ(FramesHanded(), 12000);
    EXPECT_EQ(written_[2 * 9599], 2);
    EXPECT_EQ(written_.back(), 3);

    // Sound that starts after the last picture is dropped; silence makes up the length.
    Begin(48000);
    written_.clear();
    sound_.DiscardQueue();
    sound_.Queue(Packet(2500000, 4800, 4));
    ASSERT_TRUE(sound_.EndWithPictures(0.05, 2500000));
    ASSERT_EQ(FramesHanded(), 2400);
    EXPECT_EQ(written_.back(), 0);
}

TEST(ToTitleChannels, EverySourceLayoutPlaysOnTheTitlesTwoChannels) {
    const int16_t mono[] = {1, 2};
    EXPECT_EQ(ToTitleChannels(mono, 2, 1), (std::vector<int16_t>{1, 1, 2, 2}));
    const int16_t stereo[] = {1, 2, 3, 4};
    EXPECT_EQ(ToTitleChannels(stereo, 2, 2), (std::vector<int16_t>{1, 2, 3, 4}));
}

}  // namespace
}  // namespace driver
