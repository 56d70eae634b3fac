// The Start command's checks before a job runs: they either refuse with a message and leave
// every file alone, or start the worker.
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/file_utils.h"
#include "core/log.h"
#include "driver/main_frame.h"
#include "job_fixtures.h"

namespace driver {
namespace {

using testing::RecordingBoxes;
using testing::RecordingView;
using testing::TempFolder;

// A clip that cannot be read: a started job ends at once with the graph message, which is all
// these tests need to tell a started job from a refused one.
reader::ClipRecord UnreadableClip(const std::string& path) {
    testing::WriteFile(path, "not a video");
    reader::ClipRecord clip;
    clip.Path = path;
    return clip;
}

class StartTest : public ::testing::Test {
protected:
    void SetUp() override {
        core::InitLogAtPath(work_ / "Lumivane.log");
        frame_.Settings().OutputFolder = output_;
    }

    // Presses Start; true when a job ran.
    bool Start() {
        const bool started = frame_.OnStartEncoding();
        frame_.WaitForJob();
        return started;
    }

    TempFolder work_;
    std::string output_ = work_ / "out";
    RecordingView view_;
    MainFrame frame_{&view_};
};

TEST_F(StartTest, RefusalsLeaveEverythingAlone) {
    struct Case {
        const char* name;
        std::string folder;
        int clips;
        std::string text;
        std::string caption;
    };
    const std::string blocker = work_ / "file";
    testing::WriteFile(blocker, "x");
    const Case cases[] = {
        {"empty list", output_, 0, "Please add source clip first.", "No source"},
        {"more clips than a title has chapters", output_, 100,
         "A DVD title holds at most 99 chapters, one per clip; please remove clips until 99 "
         "remain.",
         "Too many clips"},
        {"relative folder", "out", 1, "Can not create directory : out", "Error"},
        {"empty folder", "", 1, "Can not create directory : ", "Error"},
        {"folder below a file", blocker + "/out", 1,
         "Can not create directory : " + blocker + "/out", "Error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingBoxes boxes;
        MainFrame frame(&view_);
        frame.Settings().OutputFolder = c.folder;
        for (int i = 0; i < c.clips; ++i) frame.AddClip(UnreadableClip(work_ / "clip.avi"));
        EXPECT_FALSE(frame.OnStartEncoding());
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text, c.text);
        EXPECT_EQ(boxes.Shown()[0].caption, c.caption);
        EXPECT_FALSE(frame.IsJobRunning());
    }
    EXPECT_EQ(testing::ReadFile(blocker), "x");
    EXPECT_EQ(testing::ListFolder(work_.Path()), (std::vector<std::string>{"Lumivane.log", "clip.avi", "file"}));
}

TEST_F(StartTest, ExistingDiscFolderIsEmptiedOnlyWhenTheUserAgrees) {
    const std::string dvd = output_ + "/DVD";
    ASSERT_TRUE(core::CreateDirectoryTree((dvd + "/VIDEO_TS").c_str()));
    testing::WriteFile(dvd + "/VIDEO_TS/VIDEO_TS.IFO", "old disc");
    frame_.AddClip(UnreadableClip(work_ / "clip.avi"));
    const std::string question = "The output directory \"" + dvd +
                                 "\" already exists,\n\nthe contents in it will be deleted "
                                 "first,\n\ndo you want to continue?";
    {
        RecordingBoxes boxes(platform::IDNO);
        EXPECT_FALSE(Start());
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text, question);
        EXPECT_EQ(boxes.Shown()[0].caption, "Confirm To Cancel");
        EXPECT_EQ(boxes.Shown()[0].style, platform::MB_YESNO | platform::MB_ICONQUESTION);
        EXPECT_EQ(testing::ReadFile(dvd + "/VIDEO_TS/VIDEO_TS.IFO"), "old disc");
    }
    {
        RecordingBoxes boxes(platform::IDYES);
        EXPECT_TRUE(Start());
        ASSERT_GE(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text, question);
        EXPECT_TRUE(core::DirectoryTreeHasNoFiles(dvd.c_str()));
    }
    {
        // Only empty folders left: reused without asking.
        RecordingBoxes boxes(platform::IDNO);
        EXPECT_TRUE(Start());
        for (const auto& box : boxes.Shown()) EXPECT_NE(box.caption, "Confirm To Cancel");
    }
}

TEST_F(StartTest, SourceNamedLikeATemporaryFileIsRefused) {
    // Refused before anything is offered for deletion.
    ASSERT_TRUE(core::CreateDirectoryTree((output_ + "/DVD").c_str()));
    testing::WriteFile(output_ + "/DVD/keep.txt", "kept");
    frame_.AddClip(UnreadableClip(work_ / "first.avi"));
    frame_.AddClip(UnreadableClip(output_ + "/../out/Chapter01.m2v"));
    RecordingBoxes boxes(platform::IDYES);
    EXPECT_FALSE(Start());
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_NE(boxes.Shown()[0].text.find("Chapter01.m2v has the name of a temporary file"),
              std::string::npos);
    EXPECT_EQ(testing::ReadFile(output_ + "/Chapter01.m2v"), "not a video");
    EXPECT_EQ(testing::ReadFile(output_ + "/DVD/keep.txt"), "kept");
}

TEST_F(StartTest, CommandsFollowTheJob) {
    frame_.AddClip(UnreadableClip(work_ / "clip.avi"));
    RecordingBoxes boxes;
    EXPECT_TRUE(Start());
    // The job ran and ended: Stop off again, the editing commands back.
    for (unsigned id : {ID_CLIP_ADD, ID_OUTPUT_FOLDER, ID_START, ID_SETTING}) {
        EXPECT_TRUE(view_.Commands()[id]) << id;
    }
    EXPECT_FALSE(view_.Commands()[ID_STOP]);
    EXPECT_EQ(view_.JobEndedCalls(), 1);
    EXPECT_TRUE(core::IsDirectory(output_.c_str()));  // made by Start
}

// A fault inside the job is caught on the worker: the report goes to the log, the user is told,
// and the window may close again.
TEST_F(StartTest, CrashInsideTheJobIsReported) {
    struct ThrowingView : RecordingView {
        void SetStatusText(const std::string& text) override {
            if (text == "Start encoding...") throw std::runtime_error("broken view");
            RecordingView::SetStatusText(text);
        }
    } view;
    MainFrame frame(&view);
    frame.Settings().OutputFolder = output_;
    frame.AddClip(UnreadableClip(work_ / "clip.avi"));
    RecordingBoxes boxes;
    ASSERT_TRUE(frame.OnStartEncoding());
    frame.WaitForJob();

    EXPECT_EQ(frame.LastJobResult(), MainFrame::JobResult::Crashed);
    EXPECT_FALSE(frame.IsJobRunning());
    EXPECT_EQ(view.JobEndedCalls(), 1);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].caption, "Exception");
    EXPECT_EQ(boxes.Shown()[0].text.rfind("An exception happened while encoding DVD, please send "
                                          "the Lumivane.log file to ", 0),
              0u);
    EXPECT_NE(testing::ReadFile(core::LogPath()).find("Error Information"), std::string::npos);
}

}  // namespace
}  // namespace driver
