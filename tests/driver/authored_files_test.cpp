#include "driver/authored_files.h"

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

// Only what the runs made goes: a file of the user's keeps the runs' folder that holds it, a
// folder of the user's under an engine file name stays, and so does everything not listed.
TEST(RemoveAuthoredFiles, RemovesOnlyWhatTheRunsMade) {
    TempFolder work;
    const std::string disc = work / "DVD";
    const std::string videoTs = disc + "/VIDEO_TS", audioTs = disc + "/AUDIO_TS";
    for (const std::string& folder : {disc, videoTs, audioTs, videoTs + "/VIDEO_TS.IFO", disc + "/other-job"}) {
        ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0) << folder;
    }
    for (const char* made : {"/VTS_01_0.IFO", "/VTS_01_0.BUP", "/VTS_01_1.VOB"}) WriteFile(videoTs + made, "made");
    WriteFile(videoTs + "/notes.txt", "the user's");
    WriteFile(disc + "/other-job/Lumivane00.vob", "another job's");

    std::string error;
    const std::vector<std::string> left = RemoveAuthoredFiles(
        {videoTs + "/VTS_01_0.IFO", videoTs + "/VTS_01_0.BUP", videoTs + "/VTS_01_1.VOB",
         videoTs + "/VIDEO_TS.IFO", videoTs + "/VIDEO_TS.VOB"},
        {disc, videoTs, audioTs}, error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(left, std::vector<std::string>{});
    EXPECT_EQ(ListFolder(disc), (std::vector<std::string>{"VIDEO_TS", "other-job"}));
    EXPECT_EQ(ListFolder(videoTs), (std::vector<std::string>{"VIDEO_TS.IFO", "notes.txt"}));
    EXPECT_EQ(testing::ReadFile(disc + "/other-job/Lumivane00.vob"), "another job's");
}

TEST(RemoveAuthoredFiles, WhatCannotBeRemovedIsNamed) {
    TempFolder work;
    // Root, whom permissions do not stop, is bound by them here too.
    const testing_support::PermissionsBind bind;
    if (!bind.Binding()) GTEST_SKIP() << "permissions cannot be made to bind this thread";
    const std::string videoTs = work / "VIDEO_TS";
    ASSERT_EQ(::mkdir(videoTs.c_str(), 0777), 0);
    const std::string vob = videoTs + "/VTS_01_1.VOB";
    WriteFile(vob, "made");
    ASSERT_EQ(::chmod(videoTs.c_str(), 0555), 0);
    std::string error;
    EXPECT_EQ(RemoveAuthoredFiles({vob}, {videoTs}, error), std::vector<std::string>{vob});
    EXPECT_EQ(error, vob + ": Permission denied");
    ASSERT_EQ(::chmod(videoTs.c_str(), 0777), 0);
}

}  // namespace
}  // namespace driver
