// Fixtures of the whole-job tests: clips made by the ffmpeg tool in a private folder, a window
// stand-in that records what the job shows, and the finished disc read back with libdvdread and
// lsdvd, which nobody here wrote.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/settings.h"
#include "driver/frame_view.h"
#include "platform/message_box.h"
#include "platform/progress.h"
#include "reader/clip_record.h"

namespace driver::testing {

// A fresh folder of its own under the system's temporary folder, removed with its contents.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The ffmpeg encoder options of a clip's two streams; the container follows the file name.
// The pictures come from the lavfi source `picture` (its size, rate and length are added),
// followed by `pictureFilters` (e.g. ",setsar=32/27").
struct ClipCodecs {
    std::string video = "mpeg4 -q:v 4";
    std::string audio = "pcm_s16le";
    std::string picture = "testsrc";
    std::string pictureFilters;
};

// What a phone or a camera writes: H.264 video with AAC sound.
inline ClipCodecs Mp4Codecs() {
    ClipCodecs codecs;
    codecs.video = "libx264 -pix_fmt yuv420p";
    codecs.audio = "aac";
    return codecs;
}

// Makes a clip with the ffmpeg tool from its test sources: `seconds` of the picture source at
// size and rate, and a sine tone at sampleRate with `channels` (0: no sound). Fails the test
// when ffmpeg does.
std::string MakeClip(const std::string& path, const std::string& size, const std::string& rate,
                     int sampleRate, int channels, double seconds, const ClipCodecs& codecs = {});

// Runs the ffmpeg tool with `arguments` (inputs, filters, codecs) into path; fails the test
// when ffmpeg does.
std::string MakeMedia(const std::string& arguments, const std::string& path);

// A picture source whose every picture has its own flat grey: picture n of the clip has the
// level 16 + 8n, far enough apart to survive the conversions to RGB and back and the coarse
// coding of flat pictures, so a clip holds at most 25 pictures (the lavfi input of
// MakeMedia, `seconds` long at `rate`). The first picture is number `first`, so that pieces
// joined into one clip number on.
std::string NumberedPictures(const std::string& size, const std::string& rate, double seconds,
                             int first = 0);
// The picture numbers of the clip that the decoded pictures of a file show, in order, read
// from the middle of each picture.
std::vector<int> PictureNumbers(const std::string& file);

// The channel count of every audio frame ffprobe decodes from a file, in order.
std::vector<int> AudioFrameChannels(const std::string& file);

// Probes a clip as the add-clips thread does.
reader::ClipRecord ProbeClip(const std::string& path);

// Records everything the job shows; `onProgress` (when set) sees every progress message.
class RecordingView : public FrameView, public platform::ProgressTarget {
public:
    void SetStatusText(const std::string& text) override;
    platform::ProgressTarget* ProgressBar() override { return this; }
    void EnableCommand(unsigned id, bool enabled) override;
    void UpdateStartCommand() override;
    void JobEnded() override;
    void Post(unsigned message, uintptr_t wParam, intptr_t lParam) override;

    std::vector<std::string> Statuses() const;
    std::map<unsigned, bool> Commands() const;
    int RangeMessages() const;
    int JobEndedCalls() const;

    std::function<void(unsigned message, uintptr_t wParam)> onProgress;
    std::function<void(const std::string& status)> onStatus;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> statuses_;
    std::map<unsigned, bool> commands_;
    int ranges_ = 0;
    int startCommandUpdates_ = 0;
    int jobEnded_ = 0;
};

// Answers every box with a fixed button and keeps what was shown; installed for its lifetime.
class RecordingBoxes : public platform::MessageBoxService {
public:
    explicit RecordingBoxes(int answer = platform::IDOK);
    ~RecordingBoxes() override;
    int Show(const std::string& text, const std::string& caption, unsigned style) override;

    struct Box {
        std::string text;
        std::string caption;
        unsigned style;
    };
    std::vector<Box> Shown() const;

private:
    int answer_;
    mutable std::mutex mutex_;
    std::vector<Box> shown_;
};

// Runs a whole job over clips into the output folder with the settings `configure` leaves, and
// fails the test unless it finishes without showing a box. Returns the DVD folder.
std::string RunJobInto(const std::string& output, const std::vector<reader::ClipRecord>& clips,
                       const std::function<void(core::Settings&)>& configure,
                       const RecordingBoxes& boxes);

// What libdvdread finds in a DVD folder.
struct DiscLayout {
    int titles = 0;
    int chapters = 0;             // of title 1
    std::vector<double> cells;    // playback seconds of each cell of title 1
    double framesPerSecond = 0;   // of the cells' time codes
    bool ntsc = false;            // the titleset's video standard
    int width = 0;                // the titleset's picture width
};
DiscLayout ReadDisc(const std::string& dvdFolder);

// Seconds of picture and of sound that ffprobe decodes from a program stream (counted from the
// frames it reads, so timestamps cannot flatter them).
struct StreamSeconds {
    double video = 0;
    double audio = 0;
    int audioSampleRate = 0;
};
StreamSeconds DecodedSeconds(const std::string& vob);

// The picture ffmpeg decodes at `seconds` into a file's first video stream, through
// `filters` (none when empty; they must keep its size), as packed pixels of `pixelFormat`
// (e.g. "gray", "rgb24"), top row first. Fails the test and is empty when none is decoded.
struct DecodedPicture {
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0;
    std::string pixels;
    // The value of one channel of the pixel at (x, y).
    int At(int x, int y, int channel = 0) const {
        return static_cast<unsigned char>(pixels[(std::size_t(y) * width + x) * bytesPerPixel + channel]);
    }
};
DecodedPicture DecodePicture(const std::string& file, double seconds, const std::string& pixelFormat,
                             const std::string& filters = "");

// The rows and columns of a picture that are lit (an eighth of their pixels or more brighter
// than mid-grey), in the picture ffmpeg decodes at `seconds` into a file: what a viewer sees
// of a light picture between black bands. first* is the first lit row and column (-1 when
// none is).
struct LitExtent {
    int rows = 0;
    int columns = 0;
    int firstRow = -1;
    int firstColumn = -1;
};
LitExtent LitPictureExtent(const DecodedPicture& gray);
LitExtent LitPictureExtent(const std::string& file, double seconds);

// Bytes of coded pictures in a file's video stream, as ffprobe reads its packets.
double VideoStreamBytes(const std::string& file);

// What ffmpeg reports when it decodes every stream of a file to nothing: empty for a clean
// file. Fails the test when ffmpeg cannot read the file at all.
std::string DecodeErrors(const std::string& file);

// lsdvd's report on the folder; fails the test when lsdvd fails.
std::string RunLsdvd(const std::string& dvdFolder);

// A small file system mounted on a folder while one lives: with "size=64k" among its options
// it fills up as a full disk does, and with MS_RDONLY among its flags it takes no writes.
// Needs the right to mount (root); Mounted() tells whether it was given.
class MountedTmpfs {
public:
    MountedTmpfs(const std::string& folder, const std::string& options, unsigned long flags = 0);
    ~MountedTmpfs();
    MountedTmpfs(const MountedTmpfs&) = delete;
    MountedTmpfs& operator=(const MountedTmpfs&) = delete;
    bool Mounted() const { return mounted_; }

private:
    std::string folder_;
    bool mounted_ = false;
};

// The names in a folder, sorted.
std::vector<std::string> ListFolder(const std::string& folder);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);

}  // namespace driver::testing
