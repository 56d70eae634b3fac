// Small shared routines: frame rates, playback time, stream slots, the splitter, the listing;
// and the settings-file lookup.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "author/core_routines.h"
#include "author/model.h"
#include "author/settings_file.h"
#include "front_test_support.h"

using namespace author;
using front_test::ScopedEnv;
using front_test::TempDir;

namespace {

TEST(CoreRoutines, PlaybackTime) {
    struct Case {
        int64_t ticks, denominator;
        uint32_t expected;
    };
    const Case cases[] = {
        {0, 90000, 0x00000040},
        {90000, 90000, 0x00000140},
        {45045, 90090, 0x000000d5},           // 15 frames at 30
        {3600LL * 90000, 90000, 0x01000040},  // one hour
        {1799, 90000, 0x00000041},            // just under a frame rounds up to it
        {1798, 90000, 0x00000040},
        {(59 * 60 + 59) * 90000LL + 24 * 3600, 90000, 0x00595964},
        {99LL * 3600 * 90000, 90000, 0x99000040},
    };
    for (const Case& c : cases)
        EXPECT_EQ(build_time_bcd(c.ticks, c.denominator), c.expected) << c.ticks;
}

TEST(CoreRoutines, FrameRateTables) {
    const int expected[9][2] = {{90090, 3003}, {90090, 3753}, {90000, 3750}, {90000, 3600},
                                {90090, 3003}, {90000, 3000}, {90000, 1800}, {90090, 1501},
                                {90000, 1500}};
    VobGroup group;
    for (int code = 0; code <= 8; ++code) {
        group.video.frame_rate = code;
        EXPECT_EQ(get_rate_denominator(&group), expected[code][0]) << code;
        EXPECT_EQ(get_frame_pts(&group), expected[code][1]) << code;
    }
    group.video.frame_rate = 3;
    EXPECT_EQ(build_time_even(&group, 90000), 0x00000140u);
}

TEST(CoreRoutines, AudioStreamSlots) {
    VobGroup group;
    group.audio[0] = AudioAttr{};
    group.audio[0].format = 2;
    group.audio[0].stream_number = 1;
    group.audio[1].format = 4;
    group.audio[1].stream_number = 3;
    group.audio[2].format = 1;  // no stream found
    EXPECT_EQ(get_audio_stream_id(&group, 0), 8);
    EXPECT_EQ(get_audio_stream_id(&group, 1), 26);
    EXPECT_EQ(get_audio_stream_id(&group, 2), -1);
    EXPECT_EQ(get_audio_stream_id(&group, 8), -1);
}

std::vector<std::string> split(const char* text, const char* delimiters) {
    std::string copy = text;
    char* p = copy.data();
    std::vector<std::string> tokens;
    while (char* token = author::strsep(&p, delimiters)) tokens.push_back(token);
    return tokens;
}

TEST(CoreRoutines, Splitter) {
    using Tokens = std::vector<std::string>;
    EXPECT_EQ(split("a,,b", ","), (Tokens{"a", "", "b"}));
    EXPECT_EQ(split("a,", ","), (Tokens{"a"}));
    EXPECT_EQ(split("", ","), Tokens{});
    EXPECT_EQ(split(",a", ","), (Tokens{"", "a"}));
    EXPECT_EQ(split("root, ptt", ", "), (Tokens{"root", "", "ptt"}));
    EXPECT_EQ(split("abc", ","), (Tokens{"abc"}));
    EXPECT_EQ(author::strsep(nullptr, ","), nullptr);
    char* none = nullptr;
    EXPECT_EQ(author::strsep(&none, ","), nullptr);
}

TEST(CoreRoutines, DirectoryListing) {
    TempDir dir;
    dir.file("VTS_01_0.IFO", "");
    dir.file("other", "");
    for (const std::string& name : {dir.path(), dir.path() + "/"}) {
        DirListingPtr listing = author::opendir(name.c_str());
        ASSERT_TRUE(listing);
        std::set<std::string> entries;
        while (const char* entry = author::readdir(listing.get())) entries.insert(entry);
        EXPECT_EQ(entries, (std::set<std::string>{".", "..", "VTS_01_0.IFO", "other"}));
    }
    errno = 0;
    EXPECT_FALSE(author::opendir(""));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(author::opendir(nullptr));
    EXPECT_FALSE(author::opendir((dir.path() + "/missing").c_str()));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(author::readdir(nullptr), nullptr);
    EXPECT_EQ(errno, EBADF);
}

TEST(SettingsFile, KeysAndValues) {
    TempDir dir;
    const std::string file = dir.file(
        "rc", "noequals\nworkdir=/lower\nWORKDIR =/blank\nWORKDIR=/tmp/dvd\nWORKDIR=/second\nEMPTY=\nA=b=c\nDOS=x\r\n");
    struct Case {
        const char* key;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {"WORKDIR", "/tmp/dvd"}, {"workdir", "/lower"}, {"EMPTY", ""},
        {"A", "b=c"},            {"MISSING", std::nullopt}, {"noequals", std::nullopt},
        {"DOS", "x"},
    };
    for (const Case& c : cases) EXPECT_EQ(read_setting_file(file.c_str(), c.key), c.value) << c.key;
    EXPECT_EQ(read_setting_file((dir.path() + "/none").c_str(), "WORKDIR"), std::nullopt);
}

TEST(SettingsFile, UserFileComesFirst) {
    TempDir home;
    {
        ScopedEnv env("HOME", home.path().c_str());
        home.file(".discforgerc", "OTHER=1\n");
        EXPECT_EQ(get_setting("OTHER"), "1");
        home.file(".discforgerc", "WORKDIR=/tmp/dvd\n");
        EXPECT_EQ(get_setting("WORKDIR"), "/tmp/dvd");
    }
    // Without HOME only the system-wide file is asked; this machine has none.
    ScopedEnv no_home("HOME", nullptr);
    if (!std::filesystem::exists("/discforge.conf")) EXPECT_EQ(get_setting("WORKDIR"), std::nullopt);
}

}  // namespace
