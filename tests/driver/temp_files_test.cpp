#include "driver/temp_files.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "job_fixtures.h"

namespace driver {
namespace {

using testing::ListFolder;
using testing::TempFolder;
using testing::WriteFile;

// What the job could not delete stays named, whatever the setting: the end status lists
// Kept(), so a file left behind is never passed over in silence.
TEST(TempFiles, WhatCannotBeDeletedIsKeptAndNamed) {
    TempFolder work;
    const std::string vob = work / "Lumivane00.vob", video = work / "Chapter00.m2v",
                      audio = work / "Chapter00.mp2";
    WriteFile(vob, "vob");
    WriteFile(audio, "sound");
    // A folder under the stream's name: unlink refuses it, even for root.
    ASSERT_EQ(::mkdir(video.c_str(), 0777), 0);
    WriteFile(video + "/inside", "x");

    TempFiles files(true);
    files.BeginClip(vob, video, audio);
    files.ClipMade();
    files.DiscAuthored();

    EXPECT_EQ(files.Kept(), std::vector<std::string>{video});
    EXPECT_EQ(ListFolder(work.Path()), std::vector<std::string>{"Chapter00.m2v"});
}

}  // namespace
}  // namespace driver
