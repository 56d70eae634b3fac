#include "platform/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <random>

#include "platform/test_temp_dir.h"

using namespace platform;
using testing_support::ReadFile;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(SettingsStore, ValuesKeepNamesTypesAndTextAcrossCommitAndOpen) {
    TempDir dir;
    const std::string path = dir / "sub/settings.conf";  // the folder is made on commit
    const std::string tricky[] = {
        "", "plain", "C:\\tmp\\x", "quote \" inside", "line\nbreak\r\ttab", "\x01\x1f\x7f",
        "# not a comment = not a value", "  spaces kept  ", "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC",
    };
    {
        SettingsStore store(path);
        EXPECT_EQ(store.Open(), ENOENT);
        for (size_t i = 0; i < std::size(tricky); ++i)
            ASSERT_TRUE(store.SetString("S" + std::to_string(i), tricky[i]));
        ASSERT_TRUE(store.SetNumber("Zero", 0));
        ASSERT_TRUE(store.SetNumber("Max", 0xFFFFFFFFu));
        ASSERT_EQ(store.Commit(), 0);
    }
    SettingsStore store(path);
    ASSERT_EQ(store.Open(), 0);
    for (size_t i = 0; i < std::size(tricky); ++i) {
        const auto value = store.Query("S" + std::to_string(i));
        ASSERT_TRUE(value) << i;
        EXPECT_EQ(value->type, REG_SZ);
        EXPECT_EQ(value->text, tricky[i]) << i;
    }
    ASSERT_TRUE(store.Query("max"));  // names ignore ASCII case
    EXPECT_EQ(store.Query("max")->type, REG_DWORD);
    EXPECT_EQ(store.Query("MAX")->number, 0xFFFFFFFFu);
    EXPECT_EQ(store.Query("Zero")->number, 0u);
    EXPECT_FALSE(store.Query("Missing"));
}

TEST(SettingsStore, RefusesNamesTheFileCannotHold) {
    SettingsStore store("/nonexistent/x");
    for (const char* name : {"", "#x", "a=b", " lead", "trail ", "new\nline"})
        EXPECT_FALSE(store.SetNumber(name, 1)) << '"' << name << '"';
    EXPECT_TRUE(store.SetNumber("Inner space", 1));
}

TEST(SettingsStore, CommitKeepsOtherValuesAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir / "settings.conf";
    WriteFile(path, "Other = sz:\"kept\"\nStandard = dword:1\n");
    SettingsStore store(path);
    ASSERT_EQ(store.Open(), 0);
    store.SetNumber("standard", 0);
    store.SetNumber("New", 7);
    ASSERT_EQ(store.Commit(), 0);

    SettingsStore reread(path);
    ASSERT_EQ(reread.Open(), 0);
    EXPECT_EQ(reread.Query("Other")->text, "kept");
    EXPECT_EQ(reread.Query("Standard")->number, 0u);
    EXPECT_EQ(reread.Query("New")->number, 7u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(SettingsStore, DamagedLinesCostOnlyTheirOwnValues) {
    TempDir dir;
    const std::string path = dir / "settings.conf";
    WriteFile(path,
              "# comment\n"
              "\n"
              "Good1 = dword:12\r\n"             // a line edited on another system
              "NoEquals dword:3\n"
              "BadNumber = dword:12x\n"
              "TooBig = dword:4294967296\n"
              "Negative = dword:-1\n"
              "Empty = dword:\n"
              "HexGood = dword:0x1F\n"
              "Unterminated = sz:\"abc\n"
              "Trailing = sz:\"abc\" junk\n"
              "BadEscape = sz:\"a\\qb\"\n"
              "NulEscape = sz:\"a\\x00b\"\n"
              "RawNul = sz:\"a" + std::string(1, '\0') + "b\"\n"
              "UnknownType = binary:00\n"
              " = dword:1\n"
              "Good2 = expand_sz:\"%HOME%/x\"\n"
              "Dup = dword:1\n"
              "Dup = dword:2\n"
              "\xFF\xFE garbage \x01\x02\n"
              "Last = dword:9");  // no final line end
    SettingsStore store(path);
    ASSERT_EQ(store.Open(), 0);
    EXPECT_EQ(store.Query("Good1")->number, 12u);
    EXPECT_EQ(store.Query("HexGood")->number, 31u);
    EXPECT_EQ(store.Query("Good2")->type, REG_EXPAND_SZ);
    EXPECT_EQ(store.Query("Good2")->text, "%HOME%/x");
    EXPECT_EQ(store.Query("Dup")->number, 2u);
    EXPECT_EQ(store.Query("Last")->number, 9u);
    for (const char* damaged : {"NoEquals", "BadNumber", "TooBig", "Negative", "Empty",
                                "Unterminated", "Trailing", "BadEscape", "NulEscape", "RawNul",
                                "UnknownType"})
        EXPECT_FALSE(store.Query(damaged)) << damaged;
}

TEST(SettingsStore, RandomBytesOpenWithoutValuesOrCrash) {
    TempDir dir;
    const std::string path = dir / "settings.conf";
    std::mt19937 random(1234);
    std::string noise(3 << 20, '\0');  // larger than any store is read
    for (char& c : noise) c = static_cast<char>(random());
    WriteFile(path, noise);
    SettingsStore store(path);
    EXPECT_EQ(store.Open(), 0);
    store.SetNumber("After", 1);
    EXPECT_EQ(store.Commit(), 0);
    EXPECT_LT(ReadFile(path).size(), noise.size());
}

TEST(SettingsStore, AnOversizedFileIsNotReadAsACutValue) {
    TempDir dir;
    const std::string path = dir / "settings.conf";
    // Far more than any store is read for. The limit is a round binary size, so the reading
    // stops inside one of these 26-byte lines, whose cut number must not be taken.
    const std::string line = "Bitrate = dword:123456789\n";
    std::string text;
    while (text.size() < (3u << 20)) text += line;
    WriteFile(path, text);
    SettingsStore store(path);
    ASSERT_EQ(store.Open(), 0);
    ASSERT_TRUE(store.Query("Bitrate"));
    EXPECT_EQ(store.Query("Bitrate")->number, 123456789u);
}

TEST(SettingsStore, FailuresAreReportedAndLeaveTheFileAlone) {
    TempDir dir;
    // The store's folder is a regular file: nothing can be created under it.
    WriteFile(dir / "blocker", "x");
    SettingsStore blocked(dir / "blocker/settings.conf");
    EXPECT_NE(blocked.Open(), 0);
    blocked.SetNumber("A", 1);
    EXPECT_NE(blocked.Commit(), 0);

    // A folder in place of the file cannot be read and is not replaced.
    std::filesystem::create_directory(dir / "settings.conf");
    SettingsStore folder(dir / "settings.conf");
    EXPECT_NE(folder.Open(), 0);
    folder.SetNumber("A", 1);
    EXPECT_NE(folder.Commit(), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "settings.conf"));
}

TEST(SettingsStore, DefaultPathFollowsXdgConfigHomeElseHome) {
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
        EXPECT_EQ(DefaultSettingsPath(), "/cfg/Lumivane/settings.conf");
    }
    for (std::optional<std::string> ignored : {std::optional<std::string>(),
                                               std::optional<std::string>(""),
                                               std::optional<std::string>("relative/cfg")}) {
        ScopedEnv config("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(DefaultSettingsPath(), "/home/someone/.config/Lumivane/settings.conf");
    }
}
