#include "core/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <vector>

#include "core/file_utils.h"
#include "platform/settings_store.h"
#include "platform/test_temp_dir.h"

using core::Settings;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// Every field, user and derived, in one comparable text that shows the difference on failure.
std::string Describe(const Settings& s) {
    std::ostringstream out;
    out << "OutputFolder=" << s.OutputFolder << " DeleteTempFiles=" << s.DeleteTempFiles
        << " Standard=" << s.Standard << " BitrateType=" << s.BitrateType
        << " AspectRatio=" << s.AspectRatio << " LetterBox=" << s.LetterBox
        << " VideoResolutionIndex=" << s.VideoResolutionIndex
        << " GOPSizeIndex=" << s.GOPSizeIndex << " BFramesIndex=" << s.BFramesIndex
        << " Bitrate=" << s.Bitrate << " MaxBitrate=" << s.MaxBitrate
        << " MinBitrate=" << s.MinBitrate << " AudioFormat=" << s.AudioFormat
        << " AudioBitrateIndex=" << s.AudioBitrateIndex << " UseDES=" << s.UseDES
        << " DirectVOB=" << s.DirectVOB << " | " << s.OutputWidth << "x" << s.OutputHeight
        << " " << s.FrameRateNum << "/" << s.FrameRateDen << " " << s.AudioKbps << "kbps";
    return out.str();
}

// The user's folders all live in a private temporary folder.
class SettingsTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv home{"HOME", dir / "home"};
    ScopedEnv config{"XDG_CONFIG_HOME", dir / "config"};
    ScopedEnv documents{"XDG_DOCUMENTS_DIR", std::nullopt};

    std::string HomeDocumentsFolder() const { return dir / "home/Documents/Lumivane"; }

    // The order the main window fills its block in.
    static Settings CreateAsTheMainWindowDoes() {
        Settings s;
        s.SetDefaults();
        s.OutputFolder = core::DefaultOutputFolder();
        s.Load();
        s.ApplyVideoStandard();
        return s;
    }

    Settings FreshUser() const {
        Settings s;
        s.OutputFolder = HomeDocumentsFolder();
        s.Standard = 0;
        s.OutputWidth = 720;
        s.OutputHeight = 480;
        s.FrameRateNum = 30000;
        s.FrameRateDen = 1001;
        s.BitrateType = 1;
        s.Bitrate = 2400;
        s.MaxBitrate = 8000;
        s.MinBitrate = 1200;
        s.GOPSizeIndex = 7;
        s.BFramesIndex = 2;
        s.AudioFormat = 0;
        s.AudioBitrateIndex = 13;
        s.AudioKbps = 384;
        s.UseDES = 1;
        s.DirectVOB = 0;
        s.DeleteTempFiles = 1;
        s.AspectRatio = 0;
        s.LetterBox = 0;
        return s;
    }
};

// One stored value as a line of the store file.
std::string Number(const std::string& name, uint32_t number) {
    platform::StoredValue value;
    value.type = platform::REG_DWORD;
    value.number = number;
    return platform::FormatSettingsLine(name, value);
}
std::string Text(const std::string& name, const std::string& text,
                 uint32_t type = platform::REG_SZ) {
    platform::StoredValue value;
    value.type = type;
    value.text = text;
    return platform::FormatSettingsLine(name, value);
}

std::string Repeat(const std::string& piece, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

}  // namespace

TEST_F(SettingsTest, LoadAppliesEveryTypeAndRangeRule) {
    const std::string e259 = "/" + Repeat("\xC3\xA9", 258);  // 259 characters, 517 bytes
    const std::string e260 = "/" + Repeat("\xC3\xA9", 259);
    // A character beyond the basic plane counts twice: these are 259 and 260 units long,
    // though only 130 and 131 characters.
    const std::string disc259 = "/" + Repeat("\xF0\x9F\x93\x80", 129);
    const std::string disc260 = disc259 + "x";
    struct Case {
        const char* name;
        std::vector<std::string> stored;  // lines of the store file; none: no file
        std::function<void(Settings&)> expect;
        std::vector<std::pair<const char*, uint32_t>> savedAs = {};  // store numbers after Save
    };
    const Case cases[] = {
        {"fresh user", {}, [](Settings&) {}, {}},
        {"AC-3 at index 18",
         {Number("AudioFormat", 1), Number("AudioBitrateIndex", 18)},
         [](Settings& s) { s.AudioFormat = 1; s.AudioBitrateIndex = 18; s.AudioKbps = 640; }},
        {"MP2 refuses index 18", {Number("AudioFormat", 0), Number("AudioBitrateIndex", 18)},
         [](Settings&) {}},
        {"flags load as 0 or 1 and save so",
         {Number("DirectVOB", 5), Number("UseDES", 7)},
         [](Settings& s) { s.DirectVOB = 1; },
         {{"DirectVOB", 1}, {"UseDES", 1}}},
        {"UseDES 0 turns editing services off", {Number("UseDES", 0)},
         [](Settings& s) { s.UseDES = 0; }},
        {"first values past each range are ignored",
         {Number("GOPSizeIndex", 20), Number("Standard", 2), Number("BFramesIndex", 7),
          Number("BitrateType", 2), Number("AspectRatio", 2), Number("LetterBox", 2),
          Number("VideoResolutionIndex", 4), Number("AudioFormat", 2)},
         [](Settings&) {}},
        {"last values in each range are taken",
         {Number("GOPSizeIndex", 19), Number("Standard", 1), Number("BFramesIndex", 6),
          Number("BitrateType", 0), Number("AspectRatio", 1), Number("LetterBox", 1),
          Number("VideoResolutionIndex", 0), Number("DeleteTempFiles", 9)},
         [](Settings& s) {
             s.GOPSizeIndex = 19; s.Standard = 1; s.BFramesIndex = 6; s.BitrateType = 0;
             s.AspectRatio = 1; s.LetterBox = 1; s.VideoResolutionIndex = 0;
             s.DeleteTempFiles = 9; s.OutputWidth = 352; s.OutputHeight = 288;
             s.FrameRateNum = 25; s.FrameRateDen = 1;
         }},
        {"bit-rates are taken as stored",
         {Number("Bitrate", 0), Number("MaxBitrate", 1), Number("MinBitrate", 99999)},
         [](Settings& s) { s.Bitrate = 0; s.MaxBitrate = 1; s.MinBitrate = 99999; }},
        {"folder of 259 characters is taken", {Text("OutputFolder", e259)},
         [&](Settings& s) { s.OutputFolder = e259; }},
        {"folder of 260 characters is ignored", {Text("OutputFolder", e260)}, [](Settings&) {}},
        {"folder of 259 UTF-16 units is taken", {Text("OutputFolder", disc259)},
         [&](Settings& s) { s.OutputFolder = disc259; }},
        {"folder of 260 UTF-16 units is ignored", {Text("OutputFolder", disc260)},
         [](Settings&) {}},
        {"expandable folder is taken as written",
         {Text("OutputFolder", "/media/%USER%", platform::REG_EXPAND_SZ)},
         [](Settings& s) { s.OutputFolder = "/media/%USER%"; }},
        {"empty folder is ignored", {Text("OutputFolder", "")}, [](Settings&) {}},
        {"non-UTF-8 folder is ignored", {Text("OutputFolder", "/bad\xC3")}, [](Settings&) {}},
        {"wrong value types are ignored",
         {Text("Standard", "1"), Number("OutputFolder", 5),
          Text("Bitrate", "5000", platform::REG_EXPAND_SZ), Text("AudioFormat", "1")},
         [](Settings&) {}},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(dir / "config");
        if (!c.stored.empty()) {
            std::filesystem::create_directories(dir / "config/Lumivane");
            std::string file;
            for (const std::string& line : c.stored) file += line;
            WriteFile(platform::DefaultSettingsPath(), file);
        }

        Settings expected = FreshUser();
        c.expect(expected);
        const Settings loaded = CreateAsTheMainWindowDoes();
        EXPECT_EQ(Describe(loaded), Describe(expected));

        if (c.savedAs.empty()) continue;
        ASSERT_EQ(loaded.Save(), 0);
        platform::SettingsStore saved(platform::DefaultSettingsPath());
        ASSERT_EQ(saved.Open(), 0);
        for (const auto& [name, number] : c.savedAs) {
            ASSERT_TRUE(saved.Query(name)) << name;
            EXPECT_EQ(saved.Query(name)->type, platform::REG_DWORD) << name;
            EXPECT_EQ(saved.Query(name)->number, number) << name;
        }
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir / "home/Documents"));
}

TEST_F(SettingsTest, SaveThenLoadGivesTheSameBlock) {
    Settings original = FreshUser();
    original.OutputFolder = "/srv/dvd \"builds\"\\caf\xC3\xA9";
    original.DeleteTempFiles = 0;
    original.Standard = 1;
    original.BitrateType = 0;
    original.AspectRatio = 1;
    original.LetterBox = 1;
    original.VideoResolutionIndex = 1;
    original.GOPSizeIndex = 14;
    original.BFramesIndex = 0;
    original.Bitrate = 6000;
    original.MaxBitrate = 9800;
    original.MinBitrate = 300;
    original.AudioFormat = 1;
    original.AudioBitrateIndex = 16;
    original.UseDES = 0;
    original.DirectVOB = 1;
    original.ApplyVideoStandard();
    ASSERT_EQ(original.Save(), 0);

    EXPECT_EQ(Describe(CreateAsTheMainWindowDoes()), Describe(original));
}

TEST_F(SettingsTest, DamagedStoreFileLoadsWhatItCan) {
    std::filesystem::create_directories(dir / "config/Lumivane");
    WriteFile(platform::DefaultSettingsPath(),
              "Standard = dword:1\n"
              "GOPSizeIndex = dword:zz\n"
              "\x01\x02\xFF binary junk\n"
              "OutputFolder = sz:\"/never/closed\n"
              "BFramesIndex = dword:5\n"
              "AudioFormat = dword:1\n"
              "Bitrate == dword:3000\n"
              "AudioBitrateIndex = dword:18\n"
              "MaxBitrate = dword:999999999999\n");
    Settings expected = FreshUser();
    expected.Standard = 1;
    expected.OutputWidth = 720;
    expected.OutputHeight = 576;
    expected.FrameRateNum = 25;
    expected.FrameRateDen = 1;
    expected.BFramesIndex = 5;
    expected.AudioFormat = 1;
    expected.AudioBitrateIndex = 18;
    expected.AudioKbps = 640;
    EXPECT_EQ(Describe(CreateAsTheMainWindowDoes()), Describe(expected));
}

TEST_F(SettingsTest, SaveReportsTheStoreFailure) {
    WriteFile(dir / "config", "a file where the folder should be");
    Settings s = FreshUser();
    EXPECT_NE(s.Save(), 0);
    // Loading from the same broken place leaves the block as it was.
    Settings loaded = FreshUser();
    loaded.Load();
    EXPECT_EQ(Describe(loaded), Describe(FreshUser()));
}

TEST(ApplyVideoStandard, FillsFrameSizeRateAndAudioRateFromBothTables) {
    struct Case {
        uint32_t standard, resolution, audioFormat, audioIndex;
        int32_t width, height;
        uint32_t rateNum, rateDen, kbps;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 352, 240, 30000, 1001, 32},
        {0, 1, 0, 1, 352, 480, 30000, 1001, 48},
        {0, 2, 1, 1, 704, 480, 30000, 1001, 40},
        {1, 0, 1, 0, 352, 288, 25, 1, 32},
        {1, 1, 0, 13, 352, 576, 25, 1, 384},
        {1, 3, 1, 15, 720, 576, 25, 1, 448},
        {7, 2, 5, 18, 704, 576, 25, 1, 640},  // any nonzero standard is PAL, any format AC-3
        // Indices no dialog or load would give fall back to their default rows.
        {0, 9, 0, 18, 720, 480, 30000, 1001, 384},
        {1, 4, 1, 19, 720, 576, 25, 1, 320},
    };
    for (const Case& c : cases) {
        Settings s;
        s.Standard = c.standard;
        s.VideoResolutionIndex = c.resolution;
        s.AudioFormat = c.audioFormat;
        s.AudioBitrateIndex = c.audioIndex;
        s.ApplyVideoStandard();
        SCOPED_TRACE(testing::Message() << c.standard << "/" << c.resolution << "/"
                                        << c.audioFormat << "/" << c.audioIndex);
        EXPECT_EQ(s.OutputWidth, c.width);
        EXPECT_EQ(s.OutputHeight, c.height);
        EXPECT_EQ(s.FrameRateNum, c.rateNum);
        EXPECT_EQ(s.FrameRateDen, c.rateDen);
        EXPECT_EQ(s.AudioKbps, c.kbps);
    }
}

TEST_F(SettingsTest, DefaultOutputFolderIsTheDocumentsFolderElseTmp) {
    const std::string home = dir / "home";
    std::filesystem::create_directories(dir / "config");
    {
        ScopedEnv env("XDG_DOCUMENTS_DIR", dir / "docs/");
        EXPECT_EQ(core::DefaultOutputFolder(), dir / "docs/Lumivane");
        EXPECT_TRUE(std::filesystem::is_directory(dir / "docs"));
    }
    {
        ScopedEnv env("XDG_DOCUMENTS_DIR", "relative/docs");  // not a usable folder: ignored
        EXPECT_EQ(core::DefaultOutputFolder(), home + "/Documents/Lumivane");
    }
    WriteFile(dir / "config/user-dirs.dirs",
              "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n");
    EXPECT_EQ(core::DefaultOutputFolder(), home + "/Papers/Lumivane");
    EXPECT_TRUE(std::filesystem::is_directory(home + "/Papers"));

    WriteFile(dir / "blocker", "x");
    ScopedEnv blockedHome("HOME", dir / "blocker");
    std::filesystem::remove(dir / "config/user-dirs.dirs");
    EXPECT_EQ(core::DefaultOutputFolder(), "/tmp");
}
