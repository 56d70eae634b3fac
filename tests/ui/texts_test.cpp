// The texts the window writes: clip times and the settings dialog's rows.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ui/settings_choices.h"
#include "ui/time_text.h"

namespace {

TEST(ClipTimeText, TruncatesEachPartAndLeavesHoursUnbounded) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0.0, "0:00:00"},
        {59.999, "0:00:59"},
        {3725.9, "1:02:05"},
        {360000.0, "100:00:00"},
        // Values no clip should have still give a readable text, never a negative part.
        {-5.0, "0:00:00"},
        {std::nan(""), "0:00:00"},
        {std::numeric_limits<double>::infinity(), "2562047788015215:30:07"},
    };
    for (const auto& c : cases) EXPECT_EQ(ui::FormatClipTime(c.seconds), c.text) << c.seconds;
}

TEST(SettingsChoices, OfferTheSettingsOwnTables) {
    EXPECT_EQ(ui::FrameSizeChoices(0), (std::vector<std::string>{"352 x 240", "352 x 480",
                                                                 "704 x 480", "720 x 480"}));
    EXPECT_EQ(ui::FrameSizeChoices(1), (std::vector<std::string>{"352 x 288", "352 x 576",
                                                                 "704 x 576", "720 x 576"}));
    const std::vector<uint32_t> mp2 = ui::AudioBitrateChoices(0);
    const std::vector<uint32_t> ac3 = ui::AudioBitrateChoices(1);
    ASSERT_EQ(mp2.size(), 14u);
    EXPECT_EQ(mp2.front(), 32u);
    EXPECT_EQ(mp2.back(), 384u);
    ASSERT_EQ(ac3.size(), 19u);
    EXPECT_EQ(ac3[1], 40u);
    EXPECT_EQ(ac3.back(), 640u);
}

}  // namespace
