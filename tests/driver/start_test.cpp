// The Start command's checks before a job runs: they either refuse with a message and leave
// every file alone, or start the worker.
#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/file_utils.h"
#include "core/log.h"
#include "driver/main_frame.h"
#include "job_fixtures.h"
#include "platform/permissions_bind.h"
#include "platform/undeletable_file.h"

namespace driver {
namespace {

using testing::RecordingBoxes;
using testing::RecordingView;
using testing::TempFolder;

// A row of the list whose file held a picture when it was added.
reader::ClipRecord ListedClip(const std::string& path) {
    reader::ClipRecord clip;
    clip.Path = path;
    clip.HasVideo = 1;
    return clip;
}

// A clip that cannot be read: a started job ends at once with the graph message, which is all
// these tests need to tell a started job from a refused one.
reader::ClipRecord UnreadableClip(const std::string& path) {
    testing::WriteFile(path, "not a video");
    return ListedClip(path);
}

void ExpectQuestion(const RecordingBoxes::Box& box, const std::string& question) {
    EXPECT_EQ(box.text, question);
    EXPECT_EQ(box.caption, "Confirm To Cancel");
    EXPECT_EQ(box.style, platform::MB_YESNO | platform::MB_ICONQUESTION);
}

void ExpectFolderInUse(const RecordingBoxes::Box& box, const std::string& folder) {
    EXPECT_EQ(box.text, "Another job is already making a DVD in the output folder \"" + folder +
                            "\".\n\nPlease wait until it has finished, or choose another output "
                            "folder.");
    EXPECT_EQ(box.caption, "Output folder in use");
    EXPECT_EQ(box.style, platform::MB_ICONWARNING);
}

// Another process that holds a lock on a file until it is killed, as a second window's job
// holds its output folder. The flock tool locks the shell's descriptor and leaves; the shell
// then becomes the sleep, so one process holds the lock and dies with it.
class LockHolder {
public:
    explicit LockHolder(const std::string& lockFile) : lockFile_(lockFile) {
        const char* argv[] = {"sh", "-c", "exec 9>>\"$0\" && flock -n 9 && exec sleep 60",
                              lockFile.c_str(), nullptr};
        if (::posix_spawnp(&pid_, "sh", nullptr, nullptr, const_cast<char* const*>(argv),
                           environ) != 0) {
            pid_ = 0;
        }
    }
    ~LockHolder() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    bool WaitUntilHeld() const {
        for (int attempt = 0; pid_ > 0 && attempt < 500; ++attempt) {
            const int fd = ::open(lockFile_.c_str(), O_RDONLY | O_CLOEXEC);
            const bool held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
            if (fd >= 0) ::close(fd);
            if (held) return true;
            ::usleep(10000);
        }
        return false;
    }

private:
    std::string lockFile_;
    pid_t pid_ = 0;
};

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

    // Presses Start while `folder` has `mode` and permissions bind this thread as they bind a
    // user who is not root; the mode is undone after. `bound` is false where they cannot bind.
    bool StartWithFolderMode(const std::string& folder, mode_t mode, bool& bound) {
        EXPECT_EQ(::chmod(folder.c_str(), mode), 0);
        bool started = false;
        {
            const testing_support::PermissionsBind bind;
            bound = bind.Binding();
            if (bound) started = Start();
        }
        EXPECT_EQ(::chmod(folder.c_str(), 0755), 0);
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
    const std::string dangling = work_ / "dangling";
    std::filesystem::create_symlink(work_ / "gone", dangling);
    const std::string loop = work_ / "loop";
    std::filesystem::create_symlink(loop, loop);
    const Case cases[] = {
        {"empty list", output_, 0, "Please add source clip first.", "No source"},
        {"more clips than a title has chapters", output_, 100,
         "A DVD title holds at most 99 chapters, one per clip; please remove clips until 99 "
         "remain.",
         "Too many clips"},
        {"relative folder", "out", 1, "Can not create directory out: it is not a full path.",
         "Error"},
        {"no folder", "", 1, "No output folder is chosen; please choose one.", "Error"},
        {"folder below a file", blocker + "/out", 1,
         "Can not create directory " + blocker + "/out: Not a directory.", "Error"},
        {"a file", blocker, 1, "Can not create directory " + blocker + ": it is a file.", "Error"},
        {"a link to nothing", dangling, 1,
         "Can not create directory " + dangling + ": it is a link to nothing.", "Error"},
        {"a loop of links", loop, 1,
         "Can not create directory " + loop + ": it is a loop of links.", "Error"},
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
    EXPECT_EQ(testing::ListFolder(work_.Path()),
              (std::vector<std::string>{"Lumivane.log", "clip.avi", "dangling", "file", "loop"}));
    EXPECT_FALSE(std::filesystem::exists(work_ / "gone"));
}

TEST_F(StartTest, ExistingDiscFolderIsEmptiedOnlyWhenTheUserAgrees) {
    const std::string dvd = output_ + "/DVD";
    ASSERT_TRUE(core::CreateDirectoryTree((dvd + "/VIDEO_TS").c_str()));
    testing::WriteFile(dvd + "/VIDEO_TS/VIDEO_TS.IFO", "old disc");
    frame_.AddClip(UnreadableClip(work_ / "clip.avi"));
    frame_.Settings().DirectVOB = 1;  // its failing jobs then leave no temporary file to ask about
    const std::string question = "The output directory \"" + dvd +
                                 "\" already exists,\n\nthe contents in it will be deleted "
                                 "first,\n\ndo you want to continue?";
    {
        RecordingBoxes boxes(platform::IDNO);
        EXPECT_FALSE(Start());
        ASSERT_EQ(boxes.Shown().size(), 1u);
        ExpectQuestion(boxes.Shown()[0], question);
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

// Every entry under a folder with a digest of its contents, to show that a refused Start left
// everything as it was.
std::map<std::string, std::size_t> FolderContents(const std::string& folder) {
    std::map<std::string, std::size_t> contents;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
        const std::string path = entry.path().string();
        // A loop of links is no folder, and reads as empty.
        contents[path] =
            entry.is_directory(error) ? 0 : std::hash<std::string>{}(testing::ReadFile(path));
    }
    return contents;
}

// A clip that cannot become a chapter is refused, naming it, before the old disc is offered for
// deletion or any file is written, also when it is not the first clip of the list.
TEST_F(StartTest, ClipsThatCannotBecomeChaptersAreRefused) {
    const std::string sounds = work_ / "sound.wav";
    const std::string m4a = work_ / "sound.m4a";
    const std::string subtitles = work_ / "subtitles.mkv";
    testing::WriteFile(work_ / "subtitles.srt", "1\n00:00:00,000 --> 00:00:01,000\nHello\n");
    for (const std::string& command :
         {"-f lavfi -i sine=duration=1 '" + sounds + "'",
          "-f lavfi -i sine=duration=1 -c:a aac '" + m4a + "'",
          "-i '" + work_ / "subtitles.srt" + "' -c:s srt '" + subtitles + "'"}) {
        ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -y " + command).c_str()), 0);
    }
    const std::string dvd = output_ + "/DVD";
    ASSERT_TRUE(core::CreateDirectoryTree((dvd + "/VIDEO_TS").c_str()));
    const std::string oldVob = dvd + "/VIDEO_TS/VTS_01_1.VOB";
    testing::WriteFile(oldVob, "old disc");
    const std::string noPicture = " holds no picture stream, so it cannot become a chapter of the "
                                  "DVD.\n\nPlease remove it from the list.";
    const struct {
        const char* name;
        reader::ClipRecord clip;
        std::string text;
    } cases[] = {
        {"sound only", testing::ProbeClip(sounds), "The clip " + sounds + noPicture},
        {"sound only, AAC", testing::ProbeClip(m4a), "The clip " + m4a + noPicture},
        {"subtitles only", testing::ProbeClip(subtitles), "The clip " + subtitles + noPicture},
        {"deleted since it was added", ListedClip(work_ / "gone.avi"),
         "The clip " + work_ / "gone.avi" + " cannot be read:\nThe file cannot be opened: No "
         "such file or directory.\n\nPlease remove it from the list."},
        {"emptied since it was added", ListedClip(work_ / "emptied.avi"),
         "The clip " + work_ / "emptied.avi" + " cannot be read:\nThe file is empty.\n\nPlease "
         "remove it from the list."},
        {"a folder", ListedClip(work_ / "folder.avi"),
         "The clip " + work_ / "folder.avi" + " cannot be read:\nIt is a folder, not a "
         "file.\n\nPlease remove it from the list."},
        {"inside the disc folder", ListedClip(oldVob),
         "The source clip " + oldVob + " lies in the folder " + dvd + ", which is emptied before "
         "the DVD is made; please move the clip or choose another output folder."},
        {"inside the disc folder by another name",
         ListedClip(output_ + "/../out/DVD/VIDEO_TS/VTS_01_1.VOB"),
         "The source clip " + output_ + "/../out/DVD/VIDEO_TS/VTS_01_1.VOB lies in the folder " +
         dvd + ", which is emptied before the DVD is made; please move the clip or choose "
         "another output folder."},
    };
    std::filesystem::create_directory(work_ / "folder.avi");
    testing::WriteFile(work_ / "emptied.avi", "");
    const reader::ClipRecord first = UnreadableClip(work_ / "first.avi");
    const auto before = FolderContents(work_.Path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingBoxes boxes(platform::IDYES);
        MainFrame frame(&view_);
        frame.Settings().OutputFolder = output_;
        frame.AddClip(first);
        frame.AddClip(c.clip);
        EXPECT_FALSE(frame.OnStartEncoding());
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text, c.text);
        EXPECT_EQ(boxes.Shown()[0].caption, "Error");
        EXPECT_EQ(FolderContents(work_.Path()), before);
    }
}

// What stands under the disc folder's name and is no folder is refused at Start, naming it,
// before the old disc is offered for deletion and before anything is encoded; the user's file
// and whatever a link points to stay as they were.
TEST_F(StartTest, DiscFolderThatIsNoFolderIsRefused) {
    const std::string elsewhere = work_ / "elsewhere";
    ASSERT_TRUE(core::CreateDirectoryTree(elsewhere.c_str()));
    testing::WriteFile(elsewhere + "/VIDEO_TS.IFO", "another disc");
    const std::string dvd = output_ + "/DVD";
    const struct {
        const char* name;
        std::function<void()> make;
        const char* kind;
    } cases[] = {
        {"a file", [&] { testing::WriteFile(dvd, "mine"); }, "a file"},
        {"a link to nothing", [&] { std::filesystem::create_symlink(work_ / "gone", dvd); },
         "a link to nothing"},
        {"a link to a folder", [&] { std::filesystem::create_directory_symlink(elsewhere, dvd); },
         "a link to a folder"},
        {"a loop of links", [&] { std::filesystem::create_symlink(dvd, dvd); }, "a loop of links"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(output_);
        ASSERT_TRUE(core::CreateDirectoryTree(output_.c_str()));
        c.make();
        RecordingBoxes boxes(platform::IDYES);
        MainFrame frame(&view_);
        frame.Settings().OutputFolder = output_;
        frame.AddClip(UnreadableClip(work_ / "clip.avi"));
        const auto before = FolderContents(work_.Path());
        EXPECT_FALSE(frame.OnStartEncoding());
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text, "The disc is made in the folder " + dvd + ", but " + dvd +
                                             " is " + c.kind + ".\n\nNothing was encoded; please "
                                             "move it away or choose another output folder.");
        EXPECT_EQ(boxes.Shown()[0].caption, "Error");
        EXPECT_EQ(FolderContents(work_.Path()), before);
    }
    EXPECT_EQ(testing::ReadFile(elsewhere + "/VIDEO_TS.IFO"), "another disc");
}

// Links under the names of the job's files would have the job write into other folders: Start
// refuses them by name, and the files they point to stay byte for byte.
TEST_F(StartTest, LinksUnderTheJobsFileNamesAreRefused) {
    ASSERT_TRUE(core::CreateDirectoryTree(output_.c_str()));
    const std::string target = work_ / "precious.bin";
    testing::WriteFile(target, std::string("precious\0bytes", 14));
    frame_.AddClip(UnreadableClip(work_ / "first.avi"));
    frame_.AddClip(UnreadableClip(work_ / "second.avi"));
    for (const char* name : {"Chapter00.m2v", "Chapter00.mp2", "Lumivane00.vob", "Chapter01.ac3"}) {
        SCOPED_TRACE(name);
        const std::string link = output_ + "/" + name;
        std::filesystem::create_symlink(target, link);
        RecordingBoxes boxes(platform::IDYES);
        EXPECT_FALSE(Start());
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text,
                  "The job writes its file " + link + ", but " + link + " is a link to a file, "
                  "and the job never writes through a link.\n\nNothing was encoded; please "
                  "remove the link or choose another output folder.");
        EXPECT_EQ(testing::ReadFile(target), std::string("precious\0bytes", 14));
        EXPECT_EQ(testing::ListFolder(output_), std::vector<std::string>{name});
        std::filesystem::remove(link);
    }
}

// Start has every clip's range: a list longer than one title can hold is refused, naming the
// list's length and the limit, before anything is encoded; a list just below it starts.
TEST_F(StartTest, ListLongerThanATitleIsRefused) {
    const auto clipOf = [&](double seconds) {
        reader::ClipRecord clip = UnreadableClip(work_ / "clip.avi");
        clip.RangeStart = 10.0;  // only the range counts, not where it starts
        clip.RangeEnd = 10.0 + seconds;
        return clip;
    };
    // The engine's 32-bit 90 kHz count, less a minute: 6:36:40.94.
    const double limit = double(INT32_MAX - 60 * 90000) / 90000;
    frame_.AddClip(clipOf(4 * 3600.0));
    frame_.AddClip(clipOf(0.0));
    // The list's length is rounded up, so that it never reads as long as the limit.
    const struct {
        double seconds;
        const char* shown;
    } cases[] = {{limit + 5 * 60 + 49.5, "6:42:31"}, {limit + 0.05, "6:36:41"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        RecordingBoxes boxes;
        ASSERT_TRUE(frame_.SetClipRange(1, 10.0, 10.0 + c.seconds - 4 * 3600.0));
        EXPECT_FALSE(Start());
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text,
                  std::string("The clips last ") + c.shown + " together, longer than the 6:36:40 "
                  "that one DVD title can hold (the limit of its 90 kHz clock).\n\nPlease remove "
                  "clips or shorten their ranges.");
        EXPECT_EQ(boxes.Shown()[0].caption, "List too long");
        EXPECT_FALSE(std::filesystem::exists(output_));
    }
    {
        RecordingBoxes boxes;
        const double justBelow = 6 * 3600 + 36 * 60 + 40;
        ASSERT_TRUE(frame_.SetClipRange(1, 10.0, 10.0 + justBelow - 4 * 3600.0));
        EXPECT_TRUE(Start());  // and fails on the unreadable clip
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text.rfind("Encoding " + work_ / "clip.avi" + " failed", 0), 0u)
            << boxes.Shown()[0].text;
    }
}

// A job that runs in a folder inside this job's disc folder would lose its files when Start
// empties it: Start refuses, naming that job's folder, and deletes nothing.
TEST_F(StartTest, JobRunningInsideTheDiscFolderIsRefused) {
    const std::string inner = output_ + "/DVD/other";
    ASSERT_TRUE(core::CreateDirectoryTree(inner.c_str()));
    testing::WriteFile(inner + "/Lumivane00.vob", "the other job's");
    frame_.AddClip(UnreadableClip(work_ / "clip.avi"));
    {
        OutputLock otherJob;
        ASSERT_EQ(otherJob.Acquire(inner), OutputLock::Outcome::Held);
        RecordingBoxes boxes(platform::IDYES);
        EXPECT_FALSE(Start());
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text,
                  "Another job is making a DVD in the folder \"" + inner + "\", inside the folder " +
                  output_ + "/DVD that this job empties first.\n\nPlease wait until it has "
                  "finished, or choose another output folder.");
        EXPECT_EQ(boxes.Shown()[0].caption, "Output folder in use");
        EXPECT_EQ(testing::ReadFile(inner + "/Lumivane00.vob"), "the other job's");
        EXPECT_TRUE(otherJob.IsHeld());
        EXPECT_FALSE(std::filesystem::exists(output_ + "/" + OutputLock::kFileName));
    }
    // Once that job has ended, Start offers the old contents for deletion as usual.
    RecordingBoxes boxes(platform::IDNO);
    EXPECT_FALSE(Start());
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].caption, "Confirm To Cancel");
}

// Files of the user's under the names the job writes for its clips are named in a question
// first; No starts nothing and keeps them.
TEST_F(StartTest, UserFilesUnderTemporaryNamesAreAskedAbout) {
    ASSERT_TRUE(core::CreateDirectoryTree((output_ + "/DVD").c_str()));
    testing::WriteFile(output_ + "/DVD/VIDEO_TS.IFO", "old disc");
    for (const char* name : {"Chapter00.m2v", "Lumivane01.vob", "Chapter02.ac3"}) {
        testing::WriteFile(output_ + "/" + name, "mine");
    }
    std::filesystem::create_directory(output_ + "/Chapter00.mp2");  // cannot be overwritten
    frame_.AddClip(UnreadableClip(work_ / "first.avi"));
    frame_.AddClip(UnreadableClip(work_ / "second.avi"));
    const auto before = FolderContents(work_.Path());
    const std::string question = "The output directory \"" + output_ + "\" already holds these "
                                 "files, which the job will overwrite:\n\nChapter00.m2v\n"
                                 "Lumivane01.vob\n\ndo you want to continue?";
    {
        RecordingBoxes boxes(platform::IDNO);
        EXPECT_FALSE(Start());
        ASSERT_EQ(boxes.Shown().size(), 1u);
        ExpectQuestion(boxes.Shown()[0], question);
        EXPECT_EQ(FolderContents(work_.Path()), before);
    }
    {
        RecordingBoxes boxes(platform::IDYES);
        EXPECT_TRUE(Start());
        ASSERT_GE(boxes.Shown().size(), 2u);
        EXPECT_EQ(boxes.Shown()[0].text, question);
        EXPECT_EQ(boxes.Shown()[1].caption, "Confirm To Cancel");  // then the old disc
        EXPECT_EQ(testing::ReadFile(output_ + "/Chapter02.ac3"), "mine");
    }
}

// Something of the old disc that cannot be deleted would become part of the new one: the job
// does not start, and the box names what stayed and why.
TEST_F(StartTest, DiscFolderThatCannotBeEmptiedStopsTheJob) {
    const std::string dvd = output_ + "/DVD";
    ASSERT_TRUE(core::CreateDirectoryTree((dvd + "/VIDEO_TS").c_str()));
    const std::string kept = dvd + "/VIDEO_TS/VTS_01_0.IFO";
    testing::WriteFile(kept, "old titleset");
    frame_.AddClip(UnreadableClip(work_ / "clip.avi"));
    RecordingBoxes boxes(platform::IDYES);
    {
        testing_support::UndeletableFile undeletable(kept);
        if (!undeletable.Held()) GTEST_SKIP() << "the file system cannot keep a file from deletion";
        EXPECT_FALSE(Start());
    }
    ASSERT_EQ(boxes.Shown().size(), 2u);
    EXPECT_EQ(boxes.Shown()[0].caption, "Confirm To Cancel");
    const std::string text = boxes.Shown()[1].text;
    EXPECT_EQ(text.rfind("The output directory \"" + dvd + "\" could not be emptied:\n\n" + kept +
                             ": ", 0),
              0u)
        << text;
    EXPECT_NE(text.find("Nothing was encoded"), std::string::npos) << text;
    EXPECT_EQ(boxes.Shown()[1].caption, "Error");
    EXPECT_EQ(testing::ReadFile(kept), "old titleset");
    EXPECT_EQ(testing::ListFolder(output_), std::vector<std::string>{"DVD"});
}

// A folder in the old disc that cannot be read is named as a folder that cannot be read, not
// as a file to remove.
TEST_F(StartTest, UnreadableFolderInTheDiscFolderIsNamedWhenItCannotBeEmptied) {
    const std::string dvd = output_ + "/DVD";
    const std::string unreadable = dvd + "/AUDIO_TS";
    ASSERT_TRUE(core::CreateDirectoryTree(unreadable.c_str()));
    testing::WriteFile(unreadable + "/old.txt", "old");
    frame_.AddClip(UnreadableClip(work_ / "clip.avi"));
    RecordingBoxes boxes(platform::IDYES);
    bool bound = false;
    EXPECT_FALSE(StartWithFolderMode(unreadable, 0, bound));
    if (!bound) GTEST_SKIP() << "permissions cannot be made to bind this thread";
    ASSERT_EQ(boxes.Shown().size(), 2u);
    EXPECT_EQ(boxes.Shown()[0].caption, "Confirm To Cancel");
    EXPECT_EQ(boxes.Shown()[1].text,
              "The output directory \"" + dvd + "\" could not be emptied:\n\n" + unreadable +
                  " cannot be read: Permission denied\n\nNothing was encoded; please make it "
                  "readable, remove it or choose another output folder.");
    EXPECT_EQ(testing::ReadFile(unreadable + "/old.txt"), "old");
}

// A disc folder, or its VIDEO_TS folder, that is there but that this user cannot read or write
// into would fail the job only once every clip is encoded: Start refuses it, naming the folder
// and the reason, before the old disc is offered for deletion.
TEST_F(StartTest, DiscFolderThatCannotBeReadOrWrittenIsRefused) {
    const std::string dvd = output_ + "/DVD";
    const std::string videoTs = dvd + "/VIDEO_TS";
    ASSERT_TRUE(core::CreateDirectoryTree(videoTs.c_str()));
    testing::WriteFile(dvd + "/VIDEO_TS.IFO", "old disc");
    frame_.AddClip(UnreadableClip(work_ / "clip.avi"));
    const auto before = FolderContents(work_.Path());
    // Mode: the folder gets `mode`, and permissions bind this thread.
    enum class Fault { Immutable, Mode, ReadOnlyFileSystem };
    const struct {
        const char* name;
        std::string folder;
        Fault fault;
        mode_t mode;
        const char* problem;
    } cases[] = {
        {"immutable disc folder", dvd, Fault::Immutable, 0,
         "cannot be written into: Operation not permitted"},
        {"immutable VIDEO_TS", videoTs, Fault::Immutable, 0,
         "cannot be written into: Operation not permitted"},
        {"VIDEO_TS on a read-only file system", videoTs, Fault::ReadOnlyFileSystem, 0,
         "cannot be written into: Read-only file system"},
        {"read-only disc folder", dvd, Fault::Mode, 0555, "cannot be written into: Permission denied"},
        {"unreadable disc folder", dvd, Fault::Mode, 0300, "cannot be read: Permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingBoxes boxes(platform::IDYES);
        bool started = false;
        bool made = true;  // false: this machine cannot make the fault (it needs root)
        if (c.fault == Fault::Immutable) {
            const testing_support::ImmutableAttribute immutable(c.folder);
            made = immutable.Held();
            if (made) started = Start();
        } else if (c.fault == Fault::ReadOnlyFileSystem) {
            const testing::MountedTmpfs readOnly(c.folder, "size=64k", MS_RDONLY);
            made = readOnly.Mounted();
            if (made) started = Start();
        } else {
            started = StartWithFolderMode(c.folder, c.mode, made);
        }
        if (!made) continue;
        EXPECT_FALSE(started);
        ASSERT_FALSE(boxes.Shown().empty());
        EXPECT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text, "The disc is made in the folder " + dvd + ", but " +
                                             c.folder + " " + c.problem + ".\n\nNothing was "
                                             "encoded; please make it readable and writable, or "
                                             "choose another output folder.");
        EXPECT_EQ(boxes.Shown()[0].caption, "Error");
        EXPECT_EQ(FolderContents(work_.Path()), before);
    }
}

// A clip whose file changed since it was added is read again at Start: one that can no longer
// be read is refused, named, in the Add report's words, before anything is encoded.
TEST_F(StartTest, ClipChangedIntoSomethingUnreadableIsRefused) {
    const std::string clip = work_ / "clip.avi";
    const std::string unreadable = "No video or sound can be read from it (an unknown format, or "
                                   "a damaged or incomplete file).";
    const struct {
        const char* name;
        std::function<void()> change;
        std::string reason;
    } cases[] = {
        {"overwritten", [&] { testing::WriteFile(clip, "no longer a video"); }, unreadable},
        {"cut short", [&] { std::filesystem::resize_file(clip, 4096); }, unreadable},
        {"emptied", [&] { std::filesystem::resize_file(clip, 0); }, "The file is empty."},
        {"rewritten in place at its size",
         [&] {
             const auto size = std::filesystem::file_size(clip);
             testing::WriteFile(clip, std::string(size, '\0'));
             // Later than the probe by more than the file system's clock may tell apart.
             std::filesystem::last_write_time(
                 clip, std::filesystem::last_write_time(clip) + std::chrono::seconds(1));
         },
         unreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::MakeClip(clip, "160x120", "25", 0, 0, 1.0);
        RecordingBoxes boxes;
        MainFrame frame(&view_);
        frame.Settings().OutputFolder = output_;
        frame.AddClip(testing::ProbeClip(clip));
        c.change();
        EXPECT_FALSE(frame.OnStartEncoding());
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text, "The clip " + clip + " changed since it was added and can "
                                         "no longer be read:\n" + c.reason + "\n\nPlease remove it "
                                         "from the list.");
        EXPECT_EQ(boxes.Shown()[0].caption, "Error");
        EXPECT_FALSE(std::filesystem::exists(output_));
    }
}

// One that can still be read gets a fresh record in its row, keeping its range where it still
// fits the new file, and the job starts.
TEST_F(StartTest, ClipChangedIntoAnotherVideoIsReadAgain) {
    const std::string clip = work_ / "clip.avi";
    const struct {
        const char* name;
        double rangeStart, rangeEnd;  // 0, 0: the whole file, as added
        double newSeconds;
        double keptStart, keptEnd;    // 0, 0: the whole new file
    } cases[] = {
        {"whole file, now shorter", 0.0, 0.0, 1.0, 0.0, 0.0},
        {"whole file, now longer", 0.0, 0.0, 3.0, 0.0, 0.0},
        {"a range that still fits", 0.5, 1.0, 3.0, 0.5, 1.0},
        {"a range past the new end", 0.5, 1.8, 1.0, 0.0, 0.0},
    };
    frame_.Settings().DirectVOB = 1;  // its failing jobs then leave no temporary file to ask about
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::MakeClip(clip, "160x120", "25", 0, 0, 2.0);
        // The unreadable clip first ends the job at once.
        frame_.AddClip(UnreadableClip(work_ / "first.avi"));
        const std::size_t row = frame_.AddClip(testing::ProbeClip(clip));
        if (c.rangeEnd > 0) {
            ASSERT_TRUE(frame_.SetClipRange(row, c.rangeStart, c.rangeEnd));
        }
        testing::MakeClip(clip, "320x240", "25", 0, 0, c.newSeconds);
        RecordingBoxes boxes;
        EXPECT_TRUE(Start());

        const std::optional<reader::ClipRecord> fresh = frame_.ClipAt(row);
        ASSERT_TRUE(fresh);
        EXPECT_EQ(fresh->Width, 320);
        EXPECT_NEAR(fresh->VideoLength, c.newSeconds, 0.05);
        EXPECT_EQ(fresh->RangeStart, c.keptStart);
        EXPECT_EQ(fresh->RangeEnd, c.keptEnd > 0 ? c.keptEnd : fresh->VideoLength);
        EXPECT_FALSE(fresh->FileChangedSinceProbe());
        frame_.RemoveClip(row);
        frame_.RemoveClip(0);
    }
}

// One job per output folder: a second Start on a folder whose job still runs is refused and
// touches nothing; the folder is free again once that job has ended.
TEST_F(StartTest, OneJobPerOutputFolder) {
    ASSERT_TRUE(core::CreateDirectoryTree(output_.c_str()));
    const std::string lockFile = output_ + "/" + OutputLock::kFileName;
    RecordingBoxes boxes;
    MainFrame second(&view_);
    second.Settings().OutputFolder = output_;
    second.Settings().DirectVOB = 1;  // the failing jobs then leave no temporary file behind
    second.AddClip(UnreadableClip(work_ / "second.avi"));
    std::vector<std::string> duringTheJob;
    bool secondStarted = true;
    RecordingView firstView;
    firstView.onStatus = [&](const std::string& status) {
        if (status != "Start encoding...") return;
        duringTheJob = testing::ListFolder(output_);
        secondStarted = second.OnStartEncoding();
    };
    MainFrame first(&firstView);
    first.Settings().OutputFolder = output_;
    first.Settings().DirectVOB = 1;
    first.AddClip(UnreadableClip(work_ / "first.avi"));
    ASSERT_TRUE(first.OnStartEncoding());
    first.WaitForJob();

    EXPECT_FALSE(secondStarted);
    EXPECT_EQ(duringTheJob, std::vector<std::string>{OutputLock::kFileName});
    ASSERT_EQ(boxes.Shown().size(), 2u);  // the refusal, then the first job's failure
    ExpectFolderInUse(boxes.Shown()[0], output_);
    EXPECT_FALSE(second.IsJobRunning());
    EXPECT_FALSE(std::filesystem::exists(lockFile));  // released with the failed job

    EXPECT_TRUE(second.OnStartEncoding());
    second.WaitForJob();
}

// The lock of a job in another process (a second window) refuses Start, and stops doing so
// once that process has died, though its lock file stays behind.
TEST_F(StartTest, LockOfAnotherProcessHoldsUntilItDies) {
    ASSERT_TRUE(core::CreateDirectoryTree(output_.c_str()));
    const std::string lockFile = output_ + "/" + OutputLock::kFileName;
    frame_.AddClip(UnreadableClip(work_ / "clip.avi"));
    frame_.Settings().DirectVOB = 1;
    RecordingBoxes boxes;
    {
        if (std::system("flock --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no flock tool";
        LockHolder other(lockFile);
        ASSERT_TRUE(other.WaitUntilHeld());
        EXPECT_FALSE(Start());
        ASSERT_EQ(boxes.Shown().size(), 1u);
        ExpectFolderInUse(boxes.Shown()[0], output_);
    }
    ASSERT_TRUE(std::filesystem::exists(lockFile));
    EXPECT_TRUE(Start());
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
    // The status tells of the failure and where the report is, not of the job's last step.
    const std::string status = "Job failed: an exception ended it. The crash report is in " +
                               core::LogPath() + ".";
    ASSERT_FALSE(view.Statuses().empty());
    EXPECT_EQ(view.Statuses().back(), status);
    EXPECT_NE(testing::ReadFile(core::LogPath()).find(status), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(output_ + "/" + OutputLock::kFileName));
}

}  // namespace
}  // namespace driver
