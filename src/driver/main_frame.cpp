#include "driver/main_frame.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/codec_library.h"
#include "core/crash_report.h"
#include "core/encoder_dvd_video.h"
#include "core/file_utils.h"
#include "core/log.h"
#include "core/program_stream_fields.h"
#include "driver/authored_files.h"
#include "driver/clip_graph.h"
#include "driver/start_checks.h"
#include "platform/com/class_table.h"
#include "platform/message_box.h"
#include "platform/progress.h"
#include "reader/clip_diagnosis.h"

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
constexpr const char* kNoPictureError = "No picture could be read from the clip.";
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

}  // namespace

MainFrame::MainFrame(FrameView* view)
    : view_(view != nullptr ? view : &SilentView()), outputs_(this) {
    settings_.SetDefaults();
    jobSettings_ = settings_;
}

MainFrame::~MainFrame() {
    OnStopEncoding();
    WaitForJob();
    outputs_.Release();
    sound_.DiscardQueue();
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
    std::vector<reader::ClipRecord> clips = ClipsSnapshot();
    const bool prepared = PrepareJobOutput(clips, jobSettings_.OutputFolder, outputLock_);
    KeepCheckedClips(clips);  // the clips read again since their files changed
    if (!prepared) return false;

    hStop.Reset();
    hCanceled.Reset();
    lastResult_ = JobResult::None;
    MarkJobCommands(true);
    worker_.Join();  // the previous job's thread has left the job already
    jobRunning_ = true;
    if (!worker_.Start([this] { return EncodeThreadProc(); })) {
        jobRunning_ = false;
        outputLock_.Release();
        MarkJobCommands(false);
        view_->UpdateStartCommand();
        return false;
    }
    return true;
}

std::vector<reader::ClipRecord> MainFrame::ClipsSnapshot() const {
    std::lock_guard<std::mutex> lock(clipsMutex_);
    return clips_;
}

void MainFrame::KeepCheckedClips(const std::vector<reader::ClipRecord>& checked) {
    std::lock_guard<std::mutex> lock(clipsMutex_);
    // Only the add-clips thread changes the list meanwhile, and it only appends.
    for (std::size_t row = 0; row < checked.size() && row < clips_.size(); ++row) {
        if (clips_[row].Path == checked[row].Path) clips_[row] = checked[row];
    }
}

bool MainFrame::OnStopEncoding() {
    // A job past its end has told its result already; a Stop then would only leave the
    // events set for nothing.
    if (!IsJobRunning() || lastResult_.load() != JobResult::None) return false;
    hCanceled.Set();
    hStop.Set();
    return true;
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
        // The last progress text would tell of a job still under way.
        const std::string status = "Job failed: an exception ended it. The crash report is in " +
                                   core::LogPath() + ".";
        core::LogPrintf("%s\n", status.c_str());
        core::RunGuarded([&] { SetStatus(status); });  // the view itself may be what failed
        platform::ShowMessageBox(std::string("An exception happened while encoding DVD, please "
                                             "send the Lumivane.log file to ") +
                                     kSupportAddress + ".",
                                 "Exception", platform::MB_ICONERROR);
    }
    // Before the job counts as ended, so a Start right after it finds the folder free.
    outputLock_.Release();
    jobRunning_ = false;
    view_->JobEnded();
    return 0;
}

// ---- The job ----------------------------------------------------------------------------

void MainFrame::EncodeJob() {
    SetStatus("Start encoding...");
    clipWarnings_.Clear();
    core::InitCodecLibrary();
    sound_.DiscardQueue();
    TempFiles files(jobSettings_.DeleteTempFiles != 0);
    bool lastClipCut = false;
    titleClock_.Reset();
    for (std::size_t index = 0; index < kMaxClipsPerDisc; ++index) {
        // Read per clip: the add-clips thread may still be appending rows.
        const std::optional<reader::ClipRecord> clip = ClipAt(index);
        if (!clip) break;
        const ClipOutcome outcome = EncodeClip(index, *clip);
        // Only what the clip's outputs created is the job's to keep or remove: a name they
        // could not create (a link, a folder of the user's) stays as it is.
        const ClipOutputs::Files& created = outputs_.Created();
        files.BeginClip(created.vob, created.video, created.audio);
        if (outcome == ClipOutcome::Failed || outcome == ClipOutcome::Skipped) {
            files.DiscardClip();
        } else {
            files.ClipMade();
            lastClipCut = outcome == ClipOutcome::Cut;
        }
        if (outcome == ClipOutcome::Failed) {
            JobOutcome failure;
            failure.failed = true;
            failure.clipCount = ClipCount();
            failure.kept = files.Kept();
            EndJob(failure);
            return;
        }
        if (hCanceled.IsSet()) break;
    }
    AuthorDisc(files, lastClipCut);
}

void MainFrame::AuthorDisc(TempFiles& files, bool lastClipCut) {
    hStop.Reset();
    const AuthoringResult authoring = CreateDvdStructure(files.Vobs());
    JobOutcome outcome;
    outcome.clipCount = ClipCount();
    if (authoring.authored && !authoring.stopped) {
        files.DiscAuthored();
        outcome.clipsOnDisc = files.Vobs().size();
        outcome.lastClipCut = lastClipCut;
        outcome.clipsReadShort = !clipWarnings_.Empty();
        outcome.kept = files.Kept();
        ShowClipWarnings();
        EndJob(outcome);
        return;
    }
    // What the runs wrote would still read as a disc, one that lacks clips or ends in a cut
    // VOB. Only that goes: whatever else appeared in the folder meanwhile is not the job's.
    std::string leftover;
    const std::vector<std::string> notRemovedFiles =
        RemoveAuthoredFiles(authoring.writtenFiles, authoring.createdFolders, leftover);
    if (!leftover.empty()) {
        core::LogPrintf("Cannot remove what authoring wrote: %s\n", leftover.c_str());
    }
    const std::string notRemoved =
        leftover.empty() ? "" : "\n\nWhat it wrote could not all be removed: " + leftover;
    if (authoring.stopped) {
        platform::ShowMessageBox("Creating the DVD structure was stopped; the clips' VOB files are "
                                 "kept in the output folder." + notRemoved,
                                 "Stopped", platform::MB_ICONINFORMATION);
    } else {
        platform::ShowMessageBox("Creating the DVD structure failed:\n\n" +
                                     core::ListForMessage(authoring.errors) +
                                     "\n\nThe clips' VOB files are kept in the output folder." +
                                     notRemoved,
                                 "Error", platform::MB_ICONERROR);
    }
    outcome.failed = !authoring.stopped;
    outcome.kept = files.Kept();
    outcome.kept.insert(outcome.kept.end(), notRemovedFiles.begin(), notRemovedFiles.end());
    EndJob(outcome);
}

void MainFrame::BeginClip(const reader::ClipRecord& clip) {
    clipLength_ = clip.RangeSeconds();
    titleClock_.BeginClip(clipLength_);
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
    pictureFit_ = PictureFitRequest{};
    sourceAudioFormat_ = WAVEFORMATEX{};
    shortPictureLogged_ = false;
    clipHasAudio_ = false;
    lastPictureEnd_ = 0;
    sinkDelivery_ = reader::SourceDelivery{};
    // hCanceled is left alone: a Stop between two clips must still end the job. Such a Stop
    // also keeps hStop set, so the reader returns at once (the timeline looks at hStop
    // alone and would otherwise decode the whole range for nothing). Stop sets hCanceled
    // before hStop, so testing after the reset misses none.
    hStop.Reset();
    if (hCanceled.IsSet()) hStop.Set();
}

MainFrame::ClipOutcome MainFrame::EncodeClip(std::size_t index, const reader::ClipRecord& clip) {
    BeginClip(clip);
    core::LogPrintf("Begin encoding file: %s, total frames: %d\n", clip.Path.c_str(),
                    totalFrames_);
    ClipOutputs::CreateFailure notCreated;
    if (!outputs_.Create(int(index), notCreated)) {
        core::LogPrintf("Cannot create %s: %s\n", notCreated.path.c_str(),
                        notCreated.reason.c_str());
        platform::ShowMessageBox(notCreated.reason, notCreated.path, platform::MB_ICONERROR);
        return ClipOutcome::Failed;
    }
    const std::string& vobPath = outputs_.Names().vob;

    reader::ClipRecord graphClip = clip;  // the graph keeps a pointer to it while it lives
    const std::unique_ptr<ClipGraph> graph = MakeClipGraph(ReadsThroughTimeline(), this);
    const HRESULT built = graph->Build(&graphClip);
    if (FAILED(built)) {
        graph->Release();
        outputs_.Release();
        ShowClipFailure(clip, reader::ExplainUnreadableClip(clip, built));
        return ClipOutcome::Failed;
    }
    std::string error;
    if (!OpenClipOutputs(error)) {
        graph->Release();
        outputs_.Release();
        ShowClipFailure(clip, error);
        return ClipOutcome::Failed;
    }
    const HRESULT ran = graph->Run();
    const bool cut = hCanceled.IsSet();
    const reader::SourceDelivery delivered = graph->SourceDelivered().value_or(SinkDelivery());
    graph->Release();

    bool made = FinishClipOutputs(error);
    core::LogPrintf("End encoding file, received frames: %d\n", pacing_.FramesReceived);
    sound_.DiscardQueue();
    // The timeline shows black or a held picture for what the file did not give, so its
    // frames alone do not tell whether the file gave any picture.
    if (pacing_.FramesDelivered == 0 || delivered.Pictures == 0) {
        if (hCanceled.IsSet()) {
            core::LogPrintf("Stopped before the first picture; %s is left out\n", vobPath.c_str());
            return ClipOutcome::Skipped;
        }
        made = false;
        error = kNoPictureError;
    }
    // A file the system could not read on is not merely short: the clip fails with the
    // system's reason, which also explains any other failure that followed from it.
    const std::string readFailure = ReadFailureText(clip.Path, ran);
    if (!readFailure.empty()) {
        made = false;
        error = readFailure;
    }
    if (!made) {
        ShowClipFailure(clip, error);
        return ClipOutcome::Failed;
    }
    // A stopped clip is short by the user's wish.
    if (!cut) clipWarnings_.Review(clip, delivered);
    titleClock_.ClipMade();
    return cut ? ClipOutcome::Cut : ClipOutcome::Made;
}

void MainFrame::ShowClipFailure(const reader::ClipRecord& clip, const std::string& error) const {
    core::LogPrintf("Encoding %s failed: %s\n", clip.Path.c_str(), error.c_str());
    platform::ShowMessageBox("Encoding " + clip.Path + " failed:\n" + error, "Error",
                             platform::MB_ICONERROR);
}

bool MainFrame::OpenClipOutputs(std::string& error) {
    if (geometry_.SourceWidth <= 0 || geometry_.SourceHeight <= 0) {
        error = kNoPictureError;  // the graph found no picture stream to connect
        return false;
    }
    clipHasAudio_ = sourceAudioFormat_.nChannels > 0 && sourceAudioFormat_.nSamplesPerSec > 0;
    sound_.BeginClip(EncoderAudioInput().SampleRate, [this](const int16_t* samples, int count) {
        return outputs_.WriteSound(samples, count);
    });
    return outputs_.Open(titleClock_.ClipStart(), error);
}

bool MainFrame::FinishClipOutputs(std::string& error) {
    // Every chapter is handed sound as long as its pictures (the writer or the multiplexer then
    // ends it within them): sound that cannot be written leaves the chapter short of it, which
    // is as damaged as a picture that cannot.
    const bool soundEnded = sound_.EndWithPictures(PicturesSeconds(), lastPictureEnd_);
    if (!outputs_.Close(error)) return false;
    if (!soundEnded) {
        error = "The sound of the clip could not all be written";
        return false;
    }
    if (outputs_.Direct()) {
        // The writer ends the sound within the pictures.
        titleClock_.SetClipLength(outputs_.DirectClockLength());
        return true;
    }
    SetStatus("Multiplexing audio and video...");
    if (!outputs_.Multiplex(ProgressBar(), titleClock_.ClipStart() * core::kSystemClockTicksPerTick,
                            error)) {
        return false;
    }
    // The multiplexer ends the sound within the pictures.
    titleClock_.SetClipLength(PicturesClockLength(pacing_.FramesDelivered, jobSettings_.FrameRateNum,
                                                  jobSettings_.FrameRateDen));
    return true;
}

AuthoringResult MainFrame::CreateDvdStructure(const std::vector<std::string>& vobPaths) {
    core::LogPrintf("Begin creatinge DVD files\n");
    SetStatus("Creating DVD structure...");
    if (vobPaths.empty()) {
        core::LogPrintf("No clip was encoded; nothing to author\n");
        AuthoringResult nothing;
        nothing.authored = true;
        return nothing;
    }
    const AuthoringResult result =
        RunAuthoring(OutputPath(kDvdFolderName), vobPaths, ProgressBar(), &hStop);
    platform::SendProgress(ProgressBar(), 100);
    core::LogPrintf("End creating DVD files\n");
    return result;
}

reader::SourceDelivery MainFrame::SinkDelivery() const {
    reader::SourceDelivery delivered = sinkDelivery_;
    if (sourceAudioFormat_.nSamplesPerSec > 0) {
        delivered.SoundSeconds = double(sound_.FramesReceived()) / sourceAudioFormat_.nSamplesPerSec;
    }
    return delivered;
}

void MainFrame::EndJob(const JobOutcome& outcome) {
    // Before the status, so a Stop that comes while it is shown changes nothing.
    lastResult_ = outcome.Result();
    MarkJobCommands(false);
    view_->UpdateStartCommand();
    const std::string status = JobEndStatus(outcome, jobSettings_.OutputFolder);
    core::LogPrintf("%s\n", status.c_str());
    SetStatus(status);
}

void MainFrame::ShowClipWarnings() const {
    if (clipWarnings_.Empty()) return;
    const std::string message = clipWarnings_.Message();
    core::LogPrintf("%s\n", message.c_str());
    platform::ShowMessageBox(message, "Warning", platform::MB_ICONWARNING);
}

// ---- Sample sink ------------------------------------------------------------------------

platform::com::HRESULT MainFrame::OnVideoFormat(const AM_MEDIA_TYPE* type) {
    if (type == nullptr || type->pbFormat == nullptr || type->cbFormat < sizeof(VIDEOINFOHEADER)) {
        return kOk;
    }
    VIDEOINFOHEADER info;
    std::memcpy(&info, type->pbFormat, sizeof info);
    geometry_ = pictureFit_.Settle(info.bmiHeader, JobOutputFrame());
    clipStartTime_ = platform::TickCountMs();
    return kOk;
}

platform::dshow::BITMAPINFOHEADER MainFrame::WantedPicture(
    const platform::dshow::BITMAPINFOHEADER& offered) {
    return pictureFit_.Ask(offered, JobOutputFrame());
}

OutputFrame MainFrame::JobOutputFrame() const {
    // The timeline has fitted the picture by its stretch mode already; should a picture still
    // arrive at another size, it is only scaled, never given a second set of bands.
    const bool stretch = jobSettings_.LetterBox == 1 || ReadsThroughTimeline();
    // The disc shows the frame at 4:3 whatever its pixel count.
    const AVRational outputPixel =
        core::SampleAspectFor4x3(jobSettings_.OutputWidth, jobSettings_.OutputHeight);
    return OutputFrame{jobSettings_.OutputWidth, jobSettings_.OutputHeight,
                       {outputPixel.num, outputPixel.den}, stretch};
}

platform::com::HRESULT MainFrame::OnAudioFormat(const AM_MEDIA_TYPE* type) {
    sourceAudioFormat_ = WAVEFORMATEX{};
    if (type == nullptr || type->pbFormat == nullptr) return kOk;
    std::memcpy(&sourceAudioFormat_, type->pbFormat,
                std::min<std::size_t>(type->cbFormat, sizeof sourceAudioFormat_));
    return kOk;
}

// The title announces one sound format for all its chapters: two channels, and the reader's
// rate (silence for a clip without sound is made at the DVD's 48 kHz).
core::SourceAudio MainFrame::EncoderAudioInput() const {
    const uint32_t rate = sourceAudioFormat_.nSamplesPerSec;
    return core::SourceAudio{kTitleChannels, rate > 0 ? int(rate) : kSilenceSampleRate};
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
    const double length = PictureSeconds(start, stop);
    // The plain graph's stamps follow the source: the sink cuts the range's end and paces by
    // them. The timeline's pictures come cut and paced already.
    const bool sourceTimed = timed && !ReadsThroughTimeline();
    if (sourceTimed) {
        // Times count from the range start, where the graph was sought to; a picture belongs
        // to the range when its middle does, so the clip holds as many pictures as the range
        // lasts. The seek also delivers the picture that covers the start.
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
    if (!ReadsThroughTimeline()) {
        sinkDelivery_.Pictures += 1;
        sinkDelivery_.PictureSeconds =
            std::max(sinkDelivery_.PictureSeconds, seconds + length);
    }
    int repeat = 1;
    if (sourceTimed) {
        const double paced = PacingTime(seconds, length, clipLength_,
                                        jobSettings_.FrameRateNum, jobSettings_.FrameRateDen);
        repeat = PacePicture(pacing_, paced, jobSettings_.FrameRateNum, jobSettings_.FrameRateDen,
                             clipLength_);
        const std::string hold = LongHoldNote(pacing_.FramesReceived, seconds, repeat,
                                              jobSettings_.FrameRateNum, jobSettings_.FrameRateDen);
        if (!hold.empty()) core::LogPrintf("%s", hold.c_str());
        if (repeat == 0) return kOk;
    } else {
        pacing_.FramesDelivered += 1;  // one picture per output frame already, or nothing to pace by
    }

    bool written = outputs_.WriteVideo(bits, repeat);
    if (outputs_.Direct()) {
        sound_.Drain(start);
        lastPictureEnd_ = start + REFERENCE_TIME(length * 1e7 * repeat);
    }
    // Without a sound of its own the clip gets silence as its pictures go, so the writer can
    // interleave it with them.
    if (written && !clipHasAudio_) written = sound_.FillTo(sound_.Frames(PicturesSeconds()));
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
    platform::dshow::BYTE* data = nullptr;
    sample->GetPointer(&data);
    // Whole sample frames only, so the channels stay interleaved in step.
    const long channels = std::max<long>(1, sourceAudioFormat_.nChannels);
    if (data == nullptr) return kOk;
    // Only the plain graph runs on past the range, to the end of the file.
    const int64_t frames =
        sound_.Receive(UsableBytes(sample) / 2 / channels, ReadsThroughTimeline() ? 0.0 : clipLength_);
    if (frames == 0) return kOk;
    std::vector<int16_t> title =
        ToTitleChannels(reinterpret_cast<const int16_t*>(data), frames, channels);

    if (!outputs_.Direct()) {
        if (outputs_.EncodesStreams() && !sound_.Write(title.data(), frames)) hStop.Set();
        return kOk;
    }
    sound_.Queue(AudioPacket{start, std::move(title)});
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

double MainFrame::PicturesSeconds() const {
    if (jobSettings_.FrameRateNum == 0) return 0.0;
    return double(pacing_.FramesDelivered) * jobSettings_.FrameRateDen / jobSettings_.FrameRateNum;
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
    return core::PathInFolder(jobSettings_.OutputFolder, name);
}

}  // namespace driver
