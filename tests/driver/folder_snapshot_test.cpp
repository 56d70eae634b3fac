#include "driver/folder_snapshot.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "job_fixtures.h"
#include "platform/permissions_bind.h"

namespace driver {
namespace {

using testing::ListFolder;
using testing::TempFolder;
using testing::WriteFile;

TEST(FolderSnapshot, RemovesOnlyWhatCameAfter) {
    TempFolder work;
    const std::string disc = work / "DVD";
    ASSERT_EQ(::mkdir(disc.c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((disc + "/VIDEO_TS").c_str(), 0777), 0);
    WriteFile(disc + "/VIDEO_TS/old.txt", "before");
    const FolderSnapshot snapshot = FolderSnapshot::Take(disc);

    WriteFile(disc + "/VIDEO_TS/VTS_01_0.IFO", "new");
    ASSERT_EQ(::mkdir((disc + "/AUDIO_TS").c_str(), 0777), 0);
    WriteFile(disc + "/AUDIO_TS/deep", "new");
    std::string error;
    EXPECT_TRUE(snapshot.RemoveAdded(error)) << error;
    EXPECT_EQ(ListFolder(disc), std::vector<std::string>{"VIDEO_TS"});
    EXPECT_EQ(ListFolder(disc + "/VIDEO_TS"), std::vector<std::string>{"old.txt"});
}

TEST(FolderSnapshot, AFolderThatWasNotThereGoesWholeAndAFileOfItsNameStays) {
    TempFolder work;
    const std::string disc = work / "DVD";
    const FolderSnapshot missing = FolderSnapshot::Take(disc);
    ASSERT_EQ(::mkdir(disc.c_str(), 0777), 0);
    WriteFile(disc + "/VIDEO_TS.IFO", "new");
    std::string error;
    EXPECT_TRUE(missing.RemoveAdded(error)) << error;
    EXPECT_EQ(ListFolder(work.Path()), std::vector<std::string>{});

    WriteFile(disc, "a file of the user's");
    EXPECT_TRUE(FolderSnapshot::Take(disc).RemoveAdded(error)) << error;
    EXPECT_EQ(testing::ReadFile(disc), "a file of the user's");
}

TEST(FolderSnapshot, WhatCannotBeRemovedIsNamed) {
    TempFolder work;
    // Root, whom permissions do not stop, is bound by them here too.
    const testing_support::PermissionsBind bind;
    if (!bind.Binding()) GTEST_SKIP() << "permissions cannot be made to bind this thread";
    const std::string disc = work / "DVD";
    ASSERT_EQ(::mkdir(disc.c_str(), 0777), 0);
    const FolderSnapshot snapshot = FolderSnapshot::Take(disc);
    ASSERT_EQ(::mkdir((disc + "/VIDEO_TS").c_str(), 0777), 0);
    WriteFile(disc + "/VIDEO_TS/VTS_01_1.VOB", "new");
    ASSERT_EQ(::chmod((disc + "/VIDEO_TS").c_str(), 0555), 0);
    std::string error;
    EXPECT_FALSE(snapshot.RemoveAdded(error));
    EXPECT_NE(error.find(disc + "/VIDEO_TS/VTS_01_1.VOB: "), std::string::npos) << error;

    // A tree the snapshot could not read in full: what it missed may be older, so nothing goes.
    ASSERT_EQ(::chmod((disc + "/VIDEO_TS").c_str(), 0), 0);
    const FolderSnapshot partial = FolderSnapshot::Take(disc);
    ASSERT_EQ(::chmod((disc + "/VIDEO_TS").c_str(), 0777), 0);
    WriteFile(disc + "/VIDEO_TS.IFO", "new");
    EXPECT_FALSE(partial.RemoveAdded(error));
    EXPECT_EQ(ListFolder(disc), (std::vector<std::string>{"VIDEO_TS", "VIDEO_TS.IFO"}));
}

}  // namespace
}  // namespace driver
