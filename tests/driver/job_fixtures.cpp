#include "job_fixtures.h"

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/ifo_types.h>
#include <sys/mount.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "driver/main_frame.h"
#include "platform/com/class_table.h"

namespace driver::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "lumivane-driver-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

namespace {

std::string RunCommand(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        *status = -1;
        return output;
    }
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    *status = ::pclose(pipe);
    return output;
}

// A time code counts whole seconds at the nominal rate (30 or 25) plus frames; the disc plays
// them at the real rate.
double DvdTimeSeconds(const dvd_time_t& time, double* framesPerSecond) {
    auto bcd = [](uint8_t value) { return (value >> 4) * 10 + (value & 0x0f); };
    const bool ntsc = (time.frame_u & 0xc0) == 0xc0;
    const int nominal = ntsc ? 30 : 25;
    *framesPerSecond = ntsc ? 30000.0 / 1001 : 25.0;
    const long frames = (bcd(time.hour) * 3600L + bcd(time.minute) * 60L + bcd(time.second)) *
                            nominal + bcd(time.frame_u & 0x3f);
    return frames / *framesPerSecond;
}

}  // namespace

std::string MakeClip(const std::string& path, const std::string& size, const std::string& rate,
                     int sampleRate, int channels, double seconds, const ClipCodecs& codecs) {
    std::ostringstream command;
    command << "ffmpeg -nostdin -loglevel error -y -f lavfi -i " << codecs.picture
            << (codecs.picture.find('=') == std::string::npos ? "=" : ":") << "size=" << size
            << ":rate=" << rate << ":duration=" << seconds << codecs.pictureFilters;
    if (channels > 0) {
        command << " -f lavfi -i sine=frequency=440:sample_rate=" << sampleRate
                << ":duration=" << seconds << " -ac " << channels << " -c:a " << codecs.audio;
    }
    command << " -c:v " << codecs.video << " '" << path << "' 2>&1";
    int status = 0;
    const std::string output = RunCommand(command.str(), &status);
    EXPECT_EQ(status, 0) << command.str() << "\n" << output;
    return path;
}

std::string MakeMedia(const std::string& arguments, const std::string& path) {
    const std::string command =
        "ffmpeg -nostdin -loglevel error -y " + arguments + " '" + path + "' 2>&1";
    int status = 0;
    const std::string output = RunCommand(command, &status);
    EXPECT_EQ(status, 0) << command << "\n" << output;
    return path;
}

std::string NumberedPictures(const std::string& size, const std::string& rate, double seconds,
                             int first) {
    std::ostringstream source;
    source << "-f lavfi -i \"color=size=" << size << ":rate=" << rate << ":duration=" << seconds
           << ",format=yuv420p,geq=lum='16+8*(N+" << first << ")':cb=128:cr=128\" ";
    return source.str();
}

namespace {

// The number on each non-empty line that an ffprobe command prints.
std::vector<double> ProbedNumbers(const std::string& command) {
    int status = 0;
    const std::string output = RunCommand(command + " 2>&1", &status);
    EXPECT_EQ(status, 0) << output;
    std::vector<double> numbers;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) numbers.push_back(std::atof(line.c_str()));
    }
    return numbers;
}

}  // namespace

std::vector<int> PictureNumbers(const std::string& file) {
    std::vector<int> numbers;
    for (const double level : ProbedNumbers("ffprobe -v error -f lavfi \"movie='" + file +
                                            "',crop=iw/4:ih/4,signalstats\" -show_entries "
                                            "frame_tags=lavfi.signalstats.YAVG -of csv=p=0")) {
        numbers.push_back(int(std::lround((level - 16) / 8)));
    }
    return numbers;
}

std::vector<int> AudioFrameChannels(const std::string& file) {
    std::vector<int> channels;
    for (const double count : ProbedNumbers("ffprobe -v error -select_streams a -show_entries "
                                            "frame=channels -of csv=p=0 '" + file + "'")) {
        channels.push_back(int(count));
    }
    return channels;
}

reader::ClipRecord ProbeClip(const std::string& path) {
    platform::com::ScopedComInit com;
    reader::ClipRecord clip;
    EXPECT_EQ(clip.ReadMediaInfo(path), 0) << path;
    return clip;
}

void RecordingView::SetStatusText(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        statuses_.push_back(text);
    }
    if (onStatus) onStatus(text);
}

void RecordingView::EnableCommand(unsigned id, bool enabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_[id] = enabled;
}

void RecordingView::UpdateStartCommand() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++startCommandUpdates_;
}

void RecordingView::JobEnded() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++jobEnded_;
}

void RecordingView::Post(unsigned message, uintptr_t wParam, intptr_t) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (message == platform::PBM_SETRANGE) ++ranges_;
    }
    if (onProgress) onProgress(message, wParam);
}

std::vector<std::string> RecordingView::Statuses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return statuses_;
}

std::map<unsigned, bool> RecordingView::Commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

int RecordingView::RangeMessages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ranges_;
}

int RecordingView::JobEndedCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobEnded_;
}

RecordingBoxes::RecordingBoxes(int answer) : answer_(answer) {
    platform::SetMessageBoxService(this);
}

RecordingBoxes::~RecordingBoxes() { platform::SetMessageBoxService(nullptr); }

int RecordingBoxes::Show(const std::string& text, const std::string& caption, unsigned style) {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_.push_back({text, caption, style});
    return answer_;
}

std::vector<RecordingBoxes::Box> RecordingBoxes::Shown() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown_;
}

DiscLayout ReadDisc(const std::string& dvdFolder) {
    DiscLayout layout;
    dvd_reader_t* dvd = DVDOpen(dvdFolder.c_str());
    if (dvd == nullptr) {
        ADD_FAILURE() << "libdvdread cannot open " << dvdFolder;
        return layout;
    }
    if (ifo_handle_t* manager = ifoOpen(dvd, 0)) {
        if (manager->tt_srpt != nullptr) {
            layout.titles = manager->tt_srpt->nr_of_srpts;
            if (layout.titles > 0) layout.chapters = manager->tt_srpt->title[0].nr_of_ptts;
        }
        ifoClose(manager);
    } else {
        ADD_FAILURE() << "no readable VIDEO_TS.IFO";
    }
    if (ifo_handle_t* titleset = ifoOpen(dvd, 1)) {
        const video_attr_t& video = titleset->vtsi_mat->vts_video_attr;
        layout.ntsc = video.video_format == 0;
        const int widths[] = {720, 704, 352, 352};
        layout.width = widths[video.picture_size & 3];
        if (titleset->vts_pgcit != nullptr && titleset->vts_pgcit->nr_of_pgci_srp > 0) {
            const pgc_t* pgc = titleset->vts_pgcit->pgci_srp[0].pgc;
            for (int cell = 0; cell < pgc->nr_of_cells; ++cell) {
                layout.cells.push_back(
                    DvdTimeSeconds(pgc->cell_playback[cell].playback_time, &layout.framesPerSecond));
            }
        }
        ifoClose(titleset);
    } else {
        ADD_FAILURE() << "no readable VTS_01_0.IFO";
    }
    DVDClose(dvd);
    return layout;
}

std::string RunJobInto(const std::string& output, const std::vector<reader::ClipRecord>& clips,
                       const std::function<void(core::Settings&)>& configure,
                       const RecordingBoxes& boxes) {
    MainFrame frame;
    frame.Settings().OutputFolder = output;
    configure(frame.Settings());
    for (const reader::ClipRecord& clip : clips) frame.AddClip(clip);
    EXPECT_TRUE(frame.OnStartEncoding());
    frame.WaitForJob();
    for (const auto& box : boxes.Shown()) ADD_FAILURE() << box.text;
    EXPECT_EQ(frame.LastJobResult(), MainFrame::JobResult::Finished);
    return output + "/DVD";
}

DecodedPicture DecodePicture(const std::string& file, double seconds, const std::string& pixelFormat,
                             const std::string& filters) {
    int status = 0;
    const std::string size = RunCommand(
        "ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 '" +
            file + "'",
        &status);
    DecodedPicture picture;
    EXPECT_EQ(std::sscanf(size.c_str(), "%d,%d", &picture.width, &picture.height), 2) << size;
    const std::string filter = filters.empty() ? std::string() : " -vf '" + filters + "'";
    picture.pixels = RunCommand("ffmpeg -nostdin -v error -ss " + std::to_string(seconds) + " -i '" +
                                    file + "' -map 0:v:0 -frames:v 1" + filter +
                                    " -f rawvideo -pix_fmt " + pixelFormat + " -",
                                &status);
    const std::size_t area = std::size_t(std::max(picture.width, 0)) * std::max(picture.height, 0);
    picture.bytesPerPixel = area > 0 ? int(picture.pixels.size() / area) : 0;
    if (area == 0 || picture.bytesPerPixel == 0 || picture.pixels.size() != area * picture.bytesPerPixel) {
        ADD_FAILURE() << "no " << picture.width << "x" << picture.height << " picture decoded from " << file;
        return {};
    }
    return picture;
}

namespace {

struct LitLines {
    int count = 0;
    int first = -1;
};

// Of `lines` lines of `length` pixels each (lit(i, j): pixel j of line i is lit), those that
// count as lit: an eighth of their pixels are. The bands are black through, while a narrow
// picture between wide bands (a phone's upright 9:16 in the 4:3 frame) lights less than half
// of each row.
template <typename Lit>
LitLines CountLitLines(int lines, int length, Lit lit) {
    LitLines found;
    for (int i = 0; i < lines; ++i) {
        int pixels = 0;
        for (int j = 0; j < length; ++j) pixels += lit(i, j) ? 1 : 0;
        if (pixels * 8 <= length) continue;
        ++found.count;
        if (found.first < 0) found.first = i;
    }
    return found;
}

}  // namespace

LitExtent LitPictureExtent(const DecodedPicture& gray) {
    const LitLines rows =
        CountLitLines(gray.height, gray.width, [&](int y, int x) { return gray.At(x, y) > 128; });
    const LitLines columns =
        CountLitLines(gray.width, gray.height, [&](int x, int y) { return gray.At(x, y) > 128; });
    return {rows.count, columns.count, rows.first, columns.first};
}

LitExtent LitPictureExtent(const std::string& file, double seconds) {
    return LitPictureExtent(DecodePicture(file, seconds, "gray"));
}

double VideoStreamBytes(const std::string& file) {
    int status = 0;
    std::istringstream sizes(RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
                                        "packet=size -of csv=p=0 '" + file + "'",
                                        &status));
    EXPECT_EQ(status, 0);
    double bytes = 0;
    for (std::string line; std::getline(sizes, line);) bytes += std::atof(line.c_str());
    return bytes;
}

StreamSeconds DecodedSeconds(const std::string& vob) {
    int status = 0;
    const std::string output = RunCommand(
        "ffprobe -v error -count_frames -show_entries "
        "stream=codec_type,codec_name,sample_rate,nb_read_frames,avg_frame_rate -of compact=p=0 '" +
            vob + "' 2>&1",
        &status);
    EXPECT_EQ(status, 0) << output;
    StreamSeconds seconds;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        // One stream a line: name=value pairs separated by '|'.
        std::map<std::string, std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '|');) {
            const std::size_t equals = field.find('=');
            if (equals != std::string::npos) fields[field.substr(0, equals)] = field.substr(equals + 1);
        }
        const double frames = std::atof(fields["nb_read_frames"].c_str());
        if (fields["codec_type"] == "video") {
            int num = 0, den = 1;
            // Not r_frame_rate: ffprobe guesses that from the finest step between time stamps,
            // and the joins of a title on one clock need not fall on whole frames.
            std::sscanf(fields["avg_frame_rate"].c_str(), "%d/%d", &num, &den);
            if (num > 0) seconds.video = frames * den / num;
        } else if (fields["codec_type"] == "audio") {
            seconds.audioSampleRate = std::atoi(fields["sample_rate"].c_str());
            const double samplesPerFrame = fields["codec_name"] == "ac3" ? 1536 : 1152;
            if (seconds.audioSampleRate > 0) seconds.audio = frames * samplesPerFrame / seconds.audioSampleRate;
        }
    }
    return seconds;
}

std::string DecodeErrors(const std::string& file) {
    int status = 0;
    const std::string output =
        RunCommand("ffmpeg -nostdin -v error -i '" + file + "' -f null - 2>&1", &status);
    EXPECT_EQ(status, 0) << output;
    return output;
}

std::string RunLsdvd(const std::string& dvdFolder) {
    int status = 0;
    const std::string output = RunCommand("lsdvd -c '" + dvdFolder + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << output;
    return output;
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

MountedTmpfs::MountedTmpfs(const std::string& folder, const std::string& options,
                           unsigned long flags)
    : folder_(folder) {
    mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", flags, options.c_str()) == 0;
}

MountedTmpfs::~MountedTmpfs() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary) << contents;
}

}  // namespace driver::testing
