#include "driver/main_frame.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

#include "author/authoring_main.h"
#include "core/codec_library.h"
#include "core/crash_report.h"
#include "core/file_utils.h"
#include "core/log.h"
#include "driver/arg_list.h"
#include "driver/clip_graph.h"
#include "platform/com/class_table.h"
#include "platform/message_box.h"
#include "platform/progress.h"
#include "psmux/multiplexer.h"

namespace driver {

MainFrame* TheMainFrame = nullptr;

namespace {

using platform::dshow::AM_MEDIA_TYPE;
using platform::dshow::IMediaSample;
using platform::dshow::REFERENCE_TIME;
using platform::dshow::VIDEOINFOHEADER;
using platform::dshow::WAVEFORMATEX;

using platform::com::FAILED;
using platform::com::SUCCEEDED;
constexpr HRESULT kOk = 0;
constexpr const char* kSupportAddress = "support@lumivane.example";
constexpr const char* kDvdFolderName = "DVD";
constexpr const char* kNoPictureError = "No picture could be read from the clip.";
// Each clip is a chapter of the disc's one title, and a title holds at most 99 chapters.
constexpr std::size_t kMaxClipsPerDisc = 99;
// The authoring engine's argv[0]; it names itself in its own messages.
constexpr const char* kAuthoringProgramName = "psmux";
// The VOBs' timestamps count 90 kHz ticks; the multiplexer's clock runs 300 times as fast.
constexpr int64_t kVobClockRate = 90000;
constexpr int64_t kMuxTicksPerVobTick = 300;
// The authoring engine counts a title's time in signed 32 bits of those ticks (about 6.6 hours);
// a minute is left for a clip running past its range.
constexpr int64_t kTitleClockLimit = INT32_MAX - 60 * kVobClockRate;
// PBM_SETRANGE carries the range as MAKELPARAM(low, high).
constexpr intptr_t kProgressRange0To100 = intptr_t(100) << 16;

NullFrameView& SilentView() {
    static NullFrameView view;
    return view;
}

// The bytes of a sample that are both filled and inside its buffer.
long UsableBytes(IMediaSample* sample) {
    return std::max(0L, std::min(sample->GetActualDataLength(), sample->GetSize()));
}

// Bitmap rows are padded to 4 bytes.
long BitmapBytes(int width, int height) { return long((width * 3 + 3) & ~3) * height; }

// The path with every link and "." or ".." resolved as far as it exists, so two names of one
// file compare equal.
std::filesystem::path CanonicalPath(const std::string& path) {
    std::error_code error;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    return error ? std::filesystem::path(path) : canonical;
}

void DeleteFiles(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (std::remove(path.c_str()) != 0 && errno != ENOENT) {
            core::LogPrintf("Cannot delete %s: %s\n", path.c_str(), std::strerror(errno));
        }
    }
}

// Closes a file the encoder wrote; false when the last buffered bytes could not be written.
bool CloseFile(std::FILE*& file) {
    if (file == nullptr) return true;
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    return closed;
}

}  // namespace

MainFrame::MainFrame(FrameView* view) : view_(view != nullptr ? view : &SilentView()) {
    settings_.SetDefaults();
    jobSettings_ = settings_;
}

MainFrame::~MainFrame() {
    if (IsJobRunning()) OnStopEncoding();
    WaitForJob();
    ReleaseClipOutputs();
    DiscardAudioQueue();
}

// ---- Clip list --------------------------------------------------------------------------

std::size_t MainFrame::AddClip(const reader::ClipRecord& clip) {
    std::lock_guard<std::mutex> lock(clipsMutex_);
    clips_.push_back(clip);
    return clips_.size() - 1;
}

bool MainFrame::RemoveClip(std::size_t row) {
    std::lock_guard<std::mutex> lock(clipsMutex_);
    if (row >= clips_.size()) return false;
    clips_.erase(clips_.begin() + std::ptrdiff_t(row));
    return true;
}

bool MainFrame::SwapClips(std::size_t rowA, std::size_t rowB) {
    std::lock_guard<std::mutex> lock(clipsMutex_);
    if (rowA >= clips_.size() || rowB >= clips_.size()) return false;
    std::swap(clips_[rowA], clips_[rowB]);
    return true;
}

bool MainFrame::SetClipRange(std::size_t row, double rangeStart, double rangeEnd) {
    std::lock_guard<std::mutex> lock(clipsMutex_);
    if (row >= clips_.size()) return false;
    clips_[row].RangeStart = rangeStart;
    clips_[row].RangeEnd = rangeEnd;
    return true;
}

std::size_t MainFrame::ClipCount() const {
    std::lock_guard<std::mutex> lock(clipsMutex_);
    return clips_.size();
}

std::optional<reader::ClipRecord> MainFrame::ClipAt(std::size_t row) const {
    std::lock_guard<std::mutex> lock(clipsMutex_);
    if (row >= clips_.size()) return std::nullopt;
    return clips_[row];
}

// ---- Start and stop ---------------------------------------------------------------------

bool MainFrame::OnStartEncoding() {
    if (IsJobRunning()) return false;
    PrepareJobSettings();  // the paths below come from the job's copy
    if (!CheckClipList() || !CheckOutputFolder() || !EmptyDiscFolder()) return false;
    const std::string& folder = jobSettings_.OutputFolder;
    if (!core::IsDirectory(folder.c_str()) && !core::CreateDirectoryTree(folder.c_str())) {
        platform::ShowMessageBox("Can not create directory : " + folder, "Error",
                                 platform::MB_ICONERROR);
        return false;
    }

    hStop.Reset();
    hCanceled.Reset();
    MarkJobCommands(true);
    worker_.Join();  // the previous job's thread has left the job already
    jobRunning_ = true;
    if (!worker_.Start([this] { return EncodeThreadProc(); })) {
        jobRunning_ = false;
        MarkJobCommands(false);
        view_->UpdateStartCommand();
        return false;
    }
    return true;
}

bool MainFrame::CheckClipList() const {
    const std::size_t count = ClipCount();
    if (count == 0) {
        platform::ShowMessageBox("Please add source clip first.", "No source",
                                 platform::MB_ICONWARNING);
        return false;
    }
    if (count > kMaxClipsPerDisc) {
        platform::ShowMessageBox(core::FormatString("A DVD title holds at most %d chapters, one "
                                                    "per clip; please remove clips until %d "
                                                    "remain.",
                                                    int(kMaxClipsPerDisc), int(kMaxClipsPerDisc)),
                                 "Too many clips", platform::MB_ICONWARNING);
        return false;
    }
    return true;
}

bool MainFrame::CheckOutputFolder() const {
    const std::string& folder = jobSettings_.OutputFolder;
    // A relative or empty folder would put the "DVD" folder (which may get emptied) wherever
    // the process happens to stand, or at the file-system root.
    if (core::SkipPathRoot(folder.c_str()) == nullptr) {
        platform::ShowMessageBox("Can not create directory : " + folder, "Error",
                                 platform::MB_ICONERROR);
        return false;
    }
    // The job writes and later deletes its intermediate files in the output folder; a source
    // clip under one of those names would be overwritten while it is read.
    const std::size_t count = ClipCount();
    std::set<std::filesystem::path> intermediates;
    for (std::size_t index = 0; index < count; ++index) {
        for (const char* pattern : {"Lumivane%02d.vob", "Chapter%02d.m2v", "Chapter%02d.mp2",
                                    "Chapter%02d.ac3"}) {
            intermediates.insert(CanonicalPath(OutputPath(core::FormatString(pattern, int(index)))));
        }
    }
    for (std::size_t row = 0; row < count; ++row) {
        const std::optional<reader::ClipRecord> clip = ClipAt(row);
        if (clip && intermediates.count(CanonicalPath(clip->Path)) != 0) {
            platform::ShowMessageBox("The source clip " + clip->Path +
                                         " has the name of a temporary file of the job; please "
                                         "choose another output folder.",
                                     "Error", platform::MB_ICONERROR);
            return false;
        }
    }
    return true;
}

bool MainFrame::EmptyDiscFolder() const {
    const std::string dvdFolder = OutputPath(kDvdFolderName);
    if (!core::IsDirectory(dvdFolder.c_str()) || core::DirectoryTreeHasNoFiles(dvdFolder.c_str())) {
        return true;
    }
    const std::string question = "The output directory \"" + dvdFolder +
                                 "\" already exists,\n\nthe contents in it will be deleted "
                                 "first,\n\ndo you want to continue?";
    if (platform::ShowMessageBox(question, "Confirm To Cancel",
                                 platform::MB_YESNO | platform::MB_ICONQUESTION) != platform::IDYES) {
        return false;
    }
    core::DeleteDirectoryTree(dvdFolder.c_str());
    return true;
}

void MainFrame::OnStopEncoding() {
    hCanceled.Set();
    hStop.Set();
}

void MainFrame::WaitForJob() { worker_.Join(); }

void MainFrame::PrepareJobSettings() {
    jobSettings_ = settings_;
    jobSettings_.ApplyVideoStandard();
}

uint32_t MainFrame::EncodeThreadProc() {
    platform::com::ScopedComInit com(platform::com::COINIT_APARTMENTTHREADED);
    core::LogPrintf("Begin encoding\n");
    if (core::RunGuarded([this] { EncodeJob(); })) {
        core::LogPrintf("End encoding\n");
    } else {
        // The job stopped mid-way; its commands stay as they were, since what it held is
        // unknown. The user can still close the window.
        lastResult_ = JobResult::Crashed;
        platform::ShowMessageBox(std::string("An exception happened while encoding DVD, please "
                                             "send the Lumivane.log file to ") +
                                     kSupportAddress + ".",
                                 "Exception", platform::MB_ICONERROR);
    }
    jobRunning_ = false;
    view_->JobEnded();
    return 0;
}

// ---- The job ----------------------------------------------------------------------------

void MainFrame::EncodeJob() {
    SetStatus("Start encoding...");
    core::InitCodecLibrary();
    DiscardAudioQueue();
    titleClock_ = 0;
    JobFiles files;
    for (std::size_t index = 0; index < kMaxClipsPerDisc; ++index) {
        // Read per clip: the add-clips thread may still be appending rows.
        const std::optional<reader::ClipRecord> clip = ClipAt(index);
        if (!clip) break;
        if (EncodeClip(index, *clip, files) == ClipOutcome::Failed) {
            EndJob(JobResult::Failed);
            return;
        }
        if (hCanceled.IsSet()) break;
    }

    hStop.Reset();
    const bool authored = CreateDvdStructure(files.Vobs);
    // Set only by a Stop during authoring: the disc may then lack clips whose VOBs were not
    // scanned yet.
    const bool authoringStopped = hStop.IsSet();
    // The elementary streams live on in the VOBs; the VOBs go only once a whole disc holds them.
    DeleteFiles(files.VideoStreams);
    DeleteFiles(files.AudioStreams);
    if (authored && !authoringStopped) {
        DeleteFiles(files.Vobs);
        EndJob(JobResult::Finished);
        return;
    }
    if (authoringStopped) {
        platform::ShowMessageBox("Creating the DVD structure was stopped; the clips' VOB files are "
                                 "kept in the output folder.",
                                 "Stopped", platform::MB_ICONINFORMATION);
    } else {
        platform::ShowMessageBox("Creating the DVD structure failed; the clips' VOB files are "
                                 "kept in the output folder.",
                                 "Error", platform::MB_ICONERROR);
    }
    EndJob(authoringStopped ? JobResult::Stopped : JobResult::Failed);
}

void MainFrame::BeginClip(const reader::ClipRecord& clip) {
    clipLength_ = clip.RangeEnd > clip.RangeStart ? clip.RangeEnd - clip.RangeStart : 0.0;
    // A clip that would carry the title's clock past the engine's range starts it again at 0,
    // as a discontinuity the cells are marked for.
    if (titleClock_ + int64_t(clipLength_ * kVobClockRate) > kTitleClockLimit) titleClock_ = 0;
    // The timeline delivers the range at the output rate, whatever the clip's own rate, so
    // the total counts those pictures (and the progress never runs past it).
    totalFrames_ = ReadsThroughTimeline()
                       ? TimelineFrames(clip.RangeStart, clip.RangeEnd, jobSettings_.FrameRateNum,
                                        jobSettings_.FrameRateDen)
                       : ExpectedFrames(clip.RangeStart, clip.RangeEnd, clip.FrameRate);
    if (platform::ProgressTarget* bar = ProgressBar()) {
        bar->Post(platform::PBM_SETRANGE, 0, kProgressRange0To100);
    }
    clipStartTime_ = platform::TickCountMs();
    pacing_ = PacingState{};
    geometry_ = core::PictureGeometry{};
    sourceAudioFormat_ = WAVEFORMATEX{};
    shortPictureLogged_ = false;
    clipHasAudio_ = false;
    lastPictureEnd_ = 0;
    clipClockLength_ = 0;
    // hCanceled is left alone: a Stop between two clips must still end the job. Such a Stop
    // also keeps hStop set, so the reader returns at once (the timeline looks at hStop
    // alone and would otherwise decode the whole range for nothing). Stop sets hCanceled
    // before hStop, so testing after the reset misses none.
    hStop.Reset();
    if (hCanceled.IsSet()) hStop.Set();
}

MainFrame::ClipOutcome MainFrame::EncodeClip(std::size_t index, const reader::ClipRecord& clip,
                                             JobFiles& files) {
    BeginClip(clip);
    const int number = int(index);
    const std::string vobPath = OutputPath(core::FormatString("Lumivane%02d.vob", number));
    core::LogPrintf("Begin encoding file: %s, total frames: %d\n", clip.Path.c_str(),
                    totalFrames_);
    // The probe found sound and no picture: neither reader would make a chapter of it, and the
    // timeline would fail to build with a message that blames the system instead.
    if (clip.HasAudio != 0 && clip.HasVideo == 0) {
        ShowClipFailure(clip, kNoPictureError);
        return ClipOutcome::Failed;
    }
    std::string videoPath, audioPath;
    if (!CreateClipOutputs(number, videoPath, audioPath)) return ClipOutcome::Failed;
    if (!videoPath.empty()) {
        files.VideoStreams.push_back(videoPath);
        files.AudioStreams.push_back(audioPath);
    }

    reader::ClipRecord graphClip = clip;  // the graph keeps a pointer to it while it lives
    const std::unique_ptr<ClipGraph> graph = MakeClipGraph(ReadsThroughTimeline(), this);
    if (FAILED(graph->Build(&graphClip))) {
        platform::ShowMessageBox("Creating DirectShow Graph failed.\nPlease make sure you have "
                                 "latest DirectX installed.",
                                 "Error", platform::MB_ICONERROR);
        graph->Release();
        ReleaseClipOutputs();
        return ClipOutcome::Failed;
    }
    std::string error;
    if (!OpenClipOutputs(vobPath, error)) {
        graph->Release();
        ReleaseClipOutputs();
        ShowClipFailure(clip, error);
        return ClipOutcome::Failed;
    }
    graph->Run();
    graph->Release();

    bool made = FinishClipOutputs(vobPath, videoPath, audioPath, error);
    core::LogPrintf("End encoding file, received frames: %d\n", pacing_.FramesReceived);
    DiscardAudioQueue();
    if (pacing_.FramesDelivered == 0) {
        if (hCanceled.IsSet()) {
            core::LogPrintf("Stopped before the first picture; %s is left out\n", vobPath.c_str());
            std::remove(vobPath.c_str());
            return ClipOutcome::Skipped;
        }
        made = false;
        error = kNoPictureError;
    }
    if (!made) {
        ShowClipFailure(clip, error);
        return ClipOutcome::Failed;
    }
    files.Vobs.push_back(vobPath);
    titleClock_ += clipClockLength_;
    return ClipOutcome::Made;
}

bool MainFrame::CreateClipOutputs(int number, std::string& videoPath, std::string& audioPath) {
    if (jobSettings_.DirectVOB) {
        writer_ = std::make_unique<core::OutputWriter>(this);
        return true;
    }
    video_ = std::make_unique<core::VideoEncoder>(this);
    audio_ = std::make_unique<core::JobAudioEncoder>(this);
    videoPath = OutputPath(core::FormatString("Chapter%02d.m2v", number));
    audioPath = OutputPath(core::FormatString(
        jobSettings_.AudioFormat == 0 ? "Chapter%02d.mp2" : "Chapter%02d.ac3", number));
    videoFile_ = std::fopen(videoPath.c_str(), "wb");
    audioFile_ = videoFile_ != nullptr ? std::fopen(audioPath.c_str(), "wb") : nullptr;
    if (videoFile_ == nullptr || audioFile_ == nullptr) {
        core::ShowLastErrorBox(videoPath, platform::MB_ICONERROR);
        const bool videoCreated = videoFile_ != nullptr;
        ReleaseClipOutputs();
        if (videoCreated) std::remove(videoPath.c_str());  // ours, and empty
        return false;
    }
    video_->SetOutputFile(&videoFile_);
    audio_->SetOutputFile(&audioFile_);
    return true;
}

void MainFrame::ShowClipFailure(const reader::ClipRecord& clip, const std::string& error) const {
    core::LogPrintf("Encoding %s failed: %s\n", clip.Path.c_str(), error.c_str());
    platform::ShowMessageBox("Encoding " + clip.Path + " failed:\n" + error, "Error",
                             platform::MB_ICONERROR);
}

int MainFrame::ConfigureVobWriter(const char* vobPath) {
    return core::ConfigureVobWriter(*writer_, *this, vobPath, titleClock_);
}

bool MainFrame::OpenClipOutputs(const std::string& vobPath, std::string& error) {
    if (geometry_.SourceWidth <= 0 || geometry_.SourceHeight <= 0) {
        error = kNoPictureError;  // the graph found no picture stream to connect
        return false;
    }
    clipHasAudio_ = sourceAudioFormat_.nChannels > 0 && sourceAudioFormat_.nSamplesPerSec > 0;
    if (writer_) {
        if (ConfigureVobWriter(vobPath.c_str()) < 0) {
            error = writer_->Error();
            return false;
        }
        return true;
    }
    if (video_->Open(this) != 1) {
        error = video_->Error();
        return false;
    }
    // A clip without sound leaves its audio file empty, which the multiplexer accepts.
    if (clipHasAudio_ && audio_->Open() != 0) {
        error = audio_->Error();
        return false;
    }
    return true;
}

bool MainFrame::FinishClipOutputs(const std::string& vobPath, const std::string& videoPath,
                                  const std::string& audioPath, std::string& error) {
    if (writer_) {
        // Sound the last pictures cover may still wait: the sound thread can trail the
        // pictures. What lies beyond them has no pictures to go with and is dropped.
        DrainAudioQueue(lastPictureEnd_ - 1);
        const bool closed = writer_->Close();
        if (!closed) error = writer_->Error();
        // The writer keeps all sound the pictures let in, which may run past them.
        clipClockLength_ = writer_->ClockLength();
        writer_.reset();
        return closed;
    }
    bool finished = video_->Finish() == 0;
    if (!finished) error = video_->Error();
    if (clipHasAudio_ && audio_->Finish() != 0 && finished) {
        finished = false;
        error = audio_->Error();
    }
    const bool videoClosed = CloseFile(videoFile_);
    const bool audioClosed = CloseFile(audioFile_);
    if (finished && !(videoClosed && audioClosed)) {
        finished = false;
        error = "Cannot finish writing " + (videoClosed ? audioPath : videoPath);
    }
    video_.reset();
    audio_.reset();
    if (!finished) return false;

    SetStatus("Multiplexing audio and video...");
    hStop.Reset();
    const int muxResult = psmux::RunMultiplexer(vobPath.c_str(), videoPath.c_str(),
                                                audioPath.c_str(), ProgressBar(), &hStop,
                                                titleClock_ * kMuxTicksPerVobTick);
    if (muxResult != 0) {
        error = core::FormatString("Multiplexing into %s failed (code %d)", vobPath.c_str(),
                                   muxResult);
        core::LogPrintf("%s\n", error.c_str());
        return false;
    }
    // The multiplexer ends the sound with the pictures.
    clipClockLength_ = PicturesClockLength();
    return true;
}

void MainFrame::ReleaseClipOutputs() {
    video_.reset();
    audio_.reset();
    CloseFile(videoFile_);
    CloseFile(audioFile_);
    writer_.reset();
}

bool MainFrame::CreateDvdStructure(const std::vector<std::string>& vobPaths) {
    core::LogPrintf("Begin creatinge DVD files\n");
    SetStatus("Creating DVD structure...");
    if (vobPaths.empty()) {
        core::LogPrintf("No clip was encoded; nothing to author\n");
        return true;
    }
    const std::string dvdFolder = OutputPath(kDvdFolderName);
    if (::mkdir(dvdFolder.c_str(), 0777) != 0 && errno != EEXIST) {
        core::LogPrintf("Cannot create %s: %s\n", dvdFolder.c_str(), std::strerror(errno));
        return false;
    }

    ArgList args(kAuthoringProgramName);
    args.Add("-o");
    args.Add(dvdFolder);
    for (const std::string& vob : vobPaths) {
        args.Add("-f");
        args.Add(vob);
    }
    const int titleset = author::authoring_main(args.Count(), args.Argv(), ProgressBar(), &hStop);

    // Not reset in between: a stop during the titleset also ends the table of contents.
    args.Clear();
    args.Add("-T");
    args.Add("-o");
    args.Add(dvdFolder);
    const int contents = author::authoring_main(args.Count(), args.Argv(), ProgressBar(), &hStop);

    platform::SendProgress(ProgressBar(), 100);
    core::LogPrintf("End creating DVD files\n");
    if (titleset != 0 || contents != 0) {
        core::LogPrintf("Authoring failed (titleset %d, table of contents %d)\n", titleset,
                        contents);
        return false;
    }
    return true;
}

int64_t MainFrame::PicturesClockLength() const {
    if (jobSettings_.FrameRateNum == 0) return 0;
    return int64_t(pacing_.FramesDelivered) * kVobClockRate * jobSettings_.FrameRateDen /
           jobSettings_.FrameRateNum;
}

void MainFrame::EndJob(JobResult result) {
    lastResult_ = result;
    MarkJobCommands(false);
    view_->UpdateStartCommand();
    SetStatus("Job finished. Output folder: " + jobSettings_.OutputFolder);
}

// ---- Sample sink ------------------------------------------------------------------------

platform::com::HRESULT MainFrame::OnVideoFormat(const AM_MEDIA_TYPE* type) {
    if (type == nullptr || type->pbFormat == nullptr || type->cbFormat < sizeof(VIDEOINFOHEADER)) {
        return kOk;
    }
    VIDEOINFOHEADER info;
    std::memcpy(&info, type->pbFormat, sizeof info);
    const int width = info.bmiHeader.biWidth;
    const int height = info.bmiHeader.biHeight < 0 ? -info.bmiHeader.biHeight
                                                   : info.bmiHeader.biHeight;
    // The timeline has fitted the picture by its stretch mode already; should a picture still
    // arrive at another size, it is only scaled, never given a second set of bands.
    const bool stretch = jobSettings_.LetterBox == 1 || ReadsThroughTimeline();
    const PadBands bands = ComputePadBands(width, height, jobSettings_.OutputWidth,
                                           jobSettings_.OutputHeight, stretch);
    geometry_.SourceWidth = width;
    geometry_.SourceHeight = height;
    geometry_.PadTop = bands.Top;
    geometry_.PadBottom = bands.Bottom;
    geometry_.PadLeft = bands.Left;
    geometry_.PadRight = bands.Right;
    geometry_.NeedsScaling = bands.NeedsScaling;
    clipStartTime_ = platform::TickCountMs();
    return kOk;
}

platform::com::HRESULT MainFrame::OnAudioFormat(const AM_MEDIA_TYPE* type) {
    sourceAudioFormat_ = WAVEFORMATEX{};
    if (type == nullptr || type->pbFormat == nullptr) return kOk;
    std::memcpy(&sourceAudioFormat_, type->pbFormat,
                std::min<std::size_t>(type->cbFormat, sizeof sourceAudioFormat_));
    return kOk;
}

core::SourceAudio MainFrame::EncoderAudioInput() const {
    return core::SourceAudio{sourceAudioFormat_.nChannels, int(sourceAudioFormat_.nSamplesPerSec)};
}

platform::com::HRESULT MainFrame::OnVideoSample(IMediaSample* sample) {
    if (sample == nullptr || sample->IsPreroll() == kOk) return kOk;
    // Once the clip is over (its range passed, Stop, or a failed encoder) the graph may still
    // deliver until its runner notices; none of that belongs to the clip.
    if (hStop.IsSet() || hCanceled.IsSet()) return kOk;
    pacing_.FramesReceived += 1;

    platform::dshow::BYTE* bits = nullptr;
    sample->GetPointer(&bits);
    const long needed = BitmapBytes(geometry_.SourceWidth, geometry_.SourceHeight);
    const long held = UsableBytes(sample);
    if (bits == nullptr || needed <= 0 || held < needed) {
        if (!shortPictureLogged_) {
            core::LogPrintf("Picture %d holds %ld bytes where %ld are needed; skipped\n",
                            pacing_.FramesReceived, held, needed);
            shortPictureLogged_ = true;
        }
        return kOk;
    }

    REFERENCE_TIME start = 0, stop = 0;
    const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
    if (!timed) start = 0;
    const double seconds = double(start) * 1e-7;
    // The plain graph's stamps follow the source: the sink cuts the range's end and paces by
    // them. The timeline's pictures come cut and paced already.
    const bool sourceTimed = timed && !ReadsThroughTimeline();
    if (sourceTimed) {
        // Times count from the range start, where the graph was sought to; a picture belongs
        // to the range when its middle does, so the clip holds as many pictures as the range
        // lasts. The seek also delivers the picture that covers the start.
        const double length = PictureSeconds(start, stop);
        const double middle = seconds + length / 2;
        // A range too short to hold any picture's middle still gets the one picture that
        // spans its end, as on the timeline, rather than none.
        const bool onlyPictureOfRange = clipLength_ > 0.0 && pacing_.FramesDelivered == 0 &&
                                        seconds < clipLength_ && seconds + length >= clipLength_;
        if (!onlyPictureOfRange) {
            if (clipLength_ > 0.0 && middle >= clipLength_) {
                hStop.Set();
                return kOk;
            }
            if (middle < 0.0) return kOk;
        }
    }
    int repeat = 1;
    if (sourceTimed) {
        repeat = PacePicture(pacing_, seconds, jobSettings_.FrameRateNum, jobSettings_.FrameRateDen);
        if (repeat == 0) return kOk;
    } else {
        pacing_.FramesDelivered += 1;  // one picture per output frame already, or nothing to pace by
    }

    bool written;
    if (writer_) {
        written = writer_->WriteVideo(bits, repeat);
        DrainAudioQueue(start);
        lastPictureEnd_ = start + REFERENCE_TIME(PictureSeconds(start, stop) * 1e7 * repeat);
    } else {
        written = video_ && video_->EncodeFrame(bits, repeat) == 0;
    }
    // An encoder that failed (a full disk) fails every later call: end the clip now, the job
    // reports it when it closes the outputs.
    if (!written) hStop.Set();
    const int percent = ReadsThroughTimeline() ? ClipPercent(pacing_.FramesReceived, totalFrames_)
                                               : ClipPercent(seconds, clipLength_);
    if (!hCanceled.IsSet()) UpdateProgress(percent);
    return kOk;
}

platform::com::HRESULT MainFrame::OnAudioSample(IMediaSample* sample) {
    if (sample == nullptr || sample->IsPreroll() == kOk || hCanceled.IsSet()) return kOk;
    REFERENCE_TIME start = 0, stop = 0;
    if (FAILED(sample->GetTime(&start, &stop))) start = 0;
    // Past the range: only the plain graph runs on to the end of the file.
    if (!ReadsThroughTimeline() && clipLength_ > 0.0 && double(start) * 1e-7 > clipLength_) {
        return kOk;
    }
    platform::dshow::BYTE* data = nullptr;
    sample->GetPointer(&data);
    // Whole sample frames only, so the channels stay interleaved in step.
    const long channels = std::max<long>(1, sourceAudioFormat_.nChannels);
    long count = UsableBytes(sample) / 2;
    count -= count % channels;
    if (data == nullptr || count <= 0) return kOk;
    const auto* samples = reinterpret_cast<const int16_t*>(data);

    if (!writer_) {
        if (audio_ && clipHasAudio_ && audio_->EncodeSamples(samples, int(count)) != 0) hStop.Set();
        return kOk;
    }
    AudioPacket packet;
    packet.StartTime = start;
    packet.Samples.assign(samples, samples + count);
    platform::AutoLock lock(audioQueueLock_);
    audioQueue_.push_back(std::move(packet));
    return kOk;
}

platform::com::HRESULT MainFrame::OnEndOfStream() {
    hStop.Set();
    return kOk;
}

platform::com::HRESULT MainFrame::OnAudioEndOfStream() { return kOk; }

double MainFrame::PictureSeconds(int64_t start, int64_t stop) const {
    if (stop > start) return double(stop - start) * 1e-7;
    if (jobSettings_.FrameRateNum == 0) return 0.0;
    return double(jobSettings_.FrameRateDen) / jobSettings_.FrameRateNum;
}

void MainFrame::DrainAudioQueue(int64_t upToTime) {
    platform::AutoLock lock(audioQueueLock_);
    while (!audioQueue_.empty() && audioQueue_.front().StartTime <= upToTime) {
        const AudioPacket& packet = audioQueue_.front();
        writer_->WriteAudio(packet.Samples.data(), int(packet.Samples.size()));
        audioQueue_.pop_front();
    }
}

void MainFrame::DiscardAudioQueue() {
    platform::AutoLock lock(audioQueueLock_);
    audioQueue_.clear();
}

void MainFrame::UpdateProgress(int percent) {
    if (pacing_.FramesReceived % 10 != 0) return;
    platform::SendProgress(ProgressBar(), percent);
    SetStatus(ProgressStatusText(pacing_.FramesReceived, totalFrames_, pacing_.FramesDelivered,
                                 platform::TickCountMs() - clipStartTime_));
}

// ---- Window side ------------------------------------------------------------------------

void MainFrame::SetStatus(const std::string& text) { view_->SetStatusText(text); }

platform::ProgressTarget* MainFrame::ProgressBar() const { return view_->ProgressBar(); }

void MainFrame::MarkJobCommands(bool running) {
    view_->EnableCommand(ID_STOP, running);
    for (unsigned id : {ID_CLIP_ADD, ID_OUTPUT_FOLDER, ID_START, ID_SETTING}) {
        view_->EnableCommand(id, !running);
    }
    // When the job ends, UpdateStartCommand marks these by the list's selection.
    if (running) {
        for (unsigned id : {ID_CLIP_DELETE, ID_EDIT_RANGE, ID_CLIP_UP, ID_CLIP_DOWN}) {
            view_->EnableCommand(id, false);
        }
    }
}

std::string MainFrame::OutputPath(const std::string& name) const {
    std::string path = jobSettings_.OutputFolder;
    if (path.empty() || path.back() != '/') path += '/';
    return path + name;
}

}  // namespace driver
