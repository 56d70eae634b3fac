#include "core/file_utils.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <vector>

#include "platform/message_box.h"
#include "platform/test_temp_dir.h"
#include "platform/undeletable_file.h"

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(FileUtils, SkipPathRootStepsOverTheRootOfAbsolutePathsOnly) {
    const char* absolute = "/a/b";
    EXPECT_EQ(core::SkipPathRoot(absolute), absolute + 1);
    const char* root = "/";
    EXPECT_EQ(core::SkipPathRoot(root), root + 1);
    for (const char* relative : {"docs/x", "./x", "", "C:\\tmp"})
        EXPECT_EQ(core::SkipPathRoot(relative), nullptr) << relative;
    EXPECT_EQ(core::SkipPathRoot(nullptr), nullptr);
}

TEST(FileUtils, IsDirectoryTakesTheNameLiterally) {
    TempDir dir;
    fs::create_directory(dir / "sub");
    WriteFile(dir / "file", "x");
    fs::create_directory_symlink(dir / "sub", dir / "link");
    EXPECT_EQ(core::IsDirectory(dir.path().c_str()), 1);
    EXPECT_EQ(core::IsDirectory((dir / "link").c_str()), 1);
    EXPECT_EQ(core::IsDirectory((dir / "file").c_str()), 0);
    EXPECT_EQ(core::IsDirectory((dir / "su*").c_str()), 0);
    EXPECT_EQ(core::IsDirectory((dir / "missing").c_str()), 0);
    EXPECT_EQ(core::IsDirectory(""), 0);
    EXPECT_EQ(core::IsDirectory(nullptr), 0);
}

TEST(FileUtils, CreateDirectoryTreeMakesEveryMissingFolder) {
    TempDir dir;
    const std::string deep = dir / "a/b//c/";
    EXPECT_EQ(core::CreateDirectoryTree(deep.c_str()), 1);
    EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
    EXPECT_EQ(core::CreateDirectoryTree(deep.c_str()), 1);  // all there already

    WriteFile(dir / "a/file", "x");
    errno = 0;
    EXPECT_EQ(core::CreateDirectoryTree((dir / "a/file/d").c_str()), 0);
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_TRUE(fs::is_regular_file(dir / "a/file"));
}

TEST(FileUtils, CreateDirectoryTreeRefusesRelativePaths) {
    TempDir dir;
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_EQ(core::CreateDirectoryTree("rel/x"), 0);
    EXPECT_EQ(core::CreateDirectoryTree(""), 0);
    EXPECT_EQ(core::CreateDirectoryTree(nullptr), 0);
    fs::current_path(before);
    EXPECT_FALSE(fs::exists(dir / "rel"));
}

TEST(FileUtils, DirectoryTreeHasNoFilesLooksThroughEveryFolder) {
    TempDir dir;
    fs::create_directories(dir / "empty/a/b");
    fs::create_directories(dir / "deep/a/b");
    WriteFile(dir / "deep/a/b/file", "x");
    fs::create_directories(dir / "hidden");
    WriteFile(dir / "hidden/.keep", "x");  // dot names are not looked at
    fs::create_directories(dir / "linked");
    fs::create_symlink(dir / "empty", dir / "linked/link");  // a link is an entry, not a folder

    EXPECT_EQ(core::DirectoryTreeHasNoFiles((dir / "empty").c_str()), 1);
    EXPECT_EQ(core::DirectoryTreeHasNoFiles((dir / "hidden").c_str()), 1);
    EXPECT_EQ(core::DirectoryTreeHasNoFiles((dir / "deep").c_str()), 0);
    EXPECT_EQ(core::DirectoryTreeHasNoFiles((dir / "linked").c_str()), 0);
    EXPECT_EQ(core::DirectoryTreeHasNoFiles((dir / "missing").c_str()), 0);
}

TEST(FileUtils, DeleteDirectoryTreeEmptiesTheDvdFolder) {
    TempDir dir;
    const std::string dvd = dir / "DVD";
    fs::create_directories(dvd + "/AUDIO_TS");
    fs::create_directories(dvd + "/VIDEO_TS");
    for (const char* name : {"VIDEO_TS.IFO", "VIDEO_TS.BUP", "VTS_01_1.VOB"})
        WriteFile(dvd + "/VIDEO_TS/" + name, "data");
    WriteFile(dvd + "/stray.txt", "x");

    EXPECT_EQ(core::DeleteDirectoryTree(dvd.c_str()), 1);
    EXPECT_FALSE(fs::exists(dvd + "/AUDIO_TS"));
    EXPECT_TRUE(fs::is_directory(dvd + "/VIDEO_TS"));
    EXPECT_TRUE(fs::is_empty(dvd + "/VIDEO_TS"));
    EXPECT_FALSE(fs::exists(dvd + "/stray.txt"));
    EXPECT_TRUE(fs::is_directory(dvd));
    EXPECT_EQ(core::DeleteDirectoryTree((dir / "missing").c_str()), 1);
}

// What stays is reported, the first entry with its reason; everything else still goes.
TEST(FileUtils, DeleteDirectoryTreeReportsWhatStays) {
    TempDir dir;
    const std::string dvd = dir / "DVD";
    fs::create_directories(dvd + "/VIDEO_TS");
    fs::create_directories(dvd + "/AUDIO_TS");
    WriteFile(dvd + "/VIDEO_TS/VTS_01_0.IFO", "old");
    WriteFile(dvd + "/AUDIO_TS/stray", "x");
    core::DeleteFailure failure;
    {
        testing_support::UndeletableFile kept(dvd + "/VIDEO_TS/VTS_01_0.IFO");
        if (!kept.Held()) GTEST_SKIP() << "this file system cannot keep a file from deletion";
        EXPECT_EQ(core::DeleteDirectoryTree(dvd.c_str(), &failure), 0);
    }
    EXPECT_EQ(failure.Path, dvd + "/VIDEO_TS/VTS_01_0.IFO");
    EXPECT_TRUE(failure.Error == EPERM || failure.Error == EACCES) << failure.Error;
    EXPECT_EQ(testing_support::ReadFile(dvd + "/VIDEO_TS/VTS_01_0.IFO"), "old");
    EXPECT_FALSE(fs::exists(dvd + "/AUDIO_TS/stray"));

    // A folder given as a link is not emptied through it, and says so.
    fs::create_directory_symlink(dvd, dir / "DVD-link");
    failure = {};
    EXPECT_EQ(core::DeleteDirectoryTree((dir / "DVD-link").c_str(), &failure), 0);
    EXPECT_EQ(failure.Path, dir / "DVD-link");
    EXPECT_NE(failure.Error, 0);
}

TEST(FileUtils, ListForMessageCountsWhatItLeavesOut) {
    const std::vector<std::string> lines{"a", "b", "c"};
    EXPECT_EQ(core::ListForMessage(lines, 3), "a\nb\nc");
    EXPECT_EQ(core::ListForMessage(lines, 2), "a\nb\n... and 1 more");
    EXPECT_EQ(core::ListForMessage({}, 2), "");
}

TEST(FileUtils, DeleteDirectoryTreeNeverFollowsALink) {
    TempDir dir;
    fs::create_directories(dir / "outside/folder");
    WriteFile(dir / "outside/folder/precious", "keep");
    WriteFile(dir / "outside/file", "keep");
    const std::string dvd = dir / "DVD";
    fs::create_directories(dvd + "/VIDEO_TS");
    fs::create_directory_symlink(dir / "outside/folder", dvd + "/VIDEO_TS/folder-link");
    fs::create_symlink(dir / "outside/file", dvd + "/file-link");
    fs::create_directory_symlink(dir / "outside", dir / "DVD-link");

    core::DeleteDirectoryTree(dvd.c_str());
    EXPECT_FALSE(fs::exists(fs::symlink_status(dvd + "/VIDEO_TS/folder-link")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dvd + "/file-link")));
    EXPECT_EQ(testing_support::ReadFile(dir / "outside/folder/precious"), "keep");
    EXPECT_EQ(testing_support::ReadFile(dir / "outside/file"), "keep");

    // A folder given as a link is not emptied through it.
    core::DeleteDirectoryTree((dir / "DVD-link").c_str());
    EXPECT_TRUE(fs::exists(dir / "outside/file"));
    EXPECT_TRUE(fs::is_symlink(dir / "DVD-link"));
}

namespace {

class RecordingMessageBox : public platform::MessageBoxService {
public:
    struct Box {
        std::string text, caption;
        unsigned style;
    };
    std::vector<Box> boxes;
    int Show(const std::string& text, const std::string& caption, unsigned style) override {
        boxes.push_back({text, caption, style});
        return platform::IDOK;
    }
};

}  // namespace

TEST(FileUtils, ShowLastErrorBoxShowsTheSystemTextOfErrno) {
    RecordingMessageBox recorder;
    platform::SetMessageBoxService(&recorder);
    errno = ENOSPC;
    core::ShowLastErrorBox("Lumivane", platform::MB_ICONERROR);
    platform::SetMessageBoxService(nullptr);
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].text, "No space left on device");
    EXPECT_EQ(recorder.boxes[0].caption, "Lumivane");
    EXPECT_EQ(recorder.boxes[0].style, platform::MB_ICONERROR);
}

TEST(FileUtils, FormatStringHasNoLengthLimit) {
    const std::string long_part(5000, 'x');
    EXPECT_EQ(core::FormatString("%s/Lumivane%02d.vob", long_part.c_str(), 3),
              long_part + "/Lumivane03.vob");
    EXPECT_EQ(core::FormatString("%s", ""), "");
    EXPECT_EQ(core::IntToString(INT_MIN), "-2147483648");
    EXPECT_EQ(core::IntToString(42), "42");
}
