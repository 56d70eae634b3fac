// The application object's job side: the settings, the clip list, the encode job on its
// worker thread and the sample sink that receives a clip's pictures and sound.
//
// The window owns one MainFrame and talks to the job through the public calls below; the job
// talks back only through the FrameView it was given and platform::ShowMessageBox (which the
// worker may call: the user-interface thread never waits for the worker). Nothing here uses
// a user-interface library, so a whole job runs headless with a NullFrameView.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/encoder_host.h"
#include "core/settings.h"
#include "driver/authoring_run.h"
#include "driver/clip_outputs.h"
#include "driver/clip_warnings.h"
#include "driver/frame_view.h"
#include "driver/job_outcome.h"
#include "driver/output_lock.h"
#include "driver/pacing.h"
#include "driver/picture_fit.h"
#include "driver/temp_files.h"
#include "driver/title_clock.h"
#include "driver/title_sound.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "reader/clip_record.h"
#include "reader/des_graph.h"
#include "reader/sample_sink.h"
#include "reader/source_delivery.h"
#include "reader/source_graph.h"

namespace driver {

using platform::com::HRESULT;

class MainFrame : public reader::SampleSink, public reader::DesGraphOwner, public core::EncoderHost {
public:
    // view receives status, progress and command states; null shows nothing.
    explicit MainFrame(FrameView* view = nullptr);
    // Stops a running job and waits for its worker.
    ~MainFrame() override;
    MainFrame(const MainFrame&) = delete;
    MainFrame& operator=(const MainFrame&) = delete;

    // ---- Settings (user-interface thread, while no job runs) ------------------------------
    // The job works on a copy taken at Start, so edits never reach a running job.
    core::Settings& Settings() { return settings_; }
    const core::Settings& Settings() const { return settings_; }

    // ---- Clip list (any thread; the rows of the window's list mirror it) -----------------
    // Appends a clip; returns its row.
    std::size_t AddClip(const reader::ClipRecord& clip);
    // False when row does not exist.
    bool RemoveClip(std::size_t row);
    // Swaps two rows (Up, Down); false when either does not exist.
    bool SwapClips(std::size_t rowA, std::size_t rowB);
    // Sets the range to encode, in seconds from the file's start; false for a missing row.
    bool SetClipRange(std::size_t row, double rangeStart, double rangeEnd);
    std::size_t ClipCount() const;
    std::optional<reader::ClipRecord> ClipAt(std::size_t row) const;

    // ---- Job control (user-interface thread) ----------------------------------------------
    // Start: refuses a list or an output folder the job cannot serve and a folder another job
    // is using, asks before the user's files are overwritten or an existing non-empty "DVD"
    // folder is emptied, creates the output folder, marks the commands and starts the worker.
    // A clip whose file changed since it was added is read again, and its row then holds the
    // fresh record, whether the job starts or not. True when the worker was started.
    bool OnStartEncoding();
    // Stop: the running clip is finished from what was encoded, no further clip starts, and
    // the clips made so far are authored. False, changing nothing, when no job runs or the
    // running one has already reached its end.
    bool OnStopEncoding();
    // A job's worker is attached (the window refuses to close meanwhile).
    bool IsJobRunning() const { return jobRunning_.load(); }
    // Waits for the worker to end (tests and shutdown).
    void WaitForJob();

    // What the last job ended with, as its end status tells it; None while a job runs.
    using JobResult = driver::JobResult;
    JobResult LastJobResult() const { return lastResult_.load(); }
    // The clips of the last job that became chapters without being read in full; valid once
    // the job has ended (IsJobRunning false).
    const ClipWarnings& LastClipWarnings() const { return clipWarnings_; }

    // ---- SampleSink (graph threads; the format calls while the graph is built) -----------
    HRESULT OnVideoFormat(const platform::dshow::AM_MEDIA_TYPE* type) override;
    HRESULT OnAudioFormat(const platform::dshow::AM_MEDIA_TYPE* type) override;
    HRESULT OnVideoSample(platform::dshow::IMediaSample* sample) override;
    HRESULT OnAudioSample(platform::dshow::IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;
    HRESULT OnAudioEndOfStream() override;

    // ---- GraphOwner and DesGraphOwner ------------------------------------------------------
    reader::SampleSink* Sink() override { return this; }
    const platform::ManualResetEvent* StopEvent() override { return &hStop; }
    const platform::ManualResetEvent* CancelEvent() override { return &hCanceled; }
    const core::Settings& JobSettings() override { return jobSettings_; }
    // The plain graph's source delivers the pictures fitted to the disc's frame.
    platform::dshow::BITMAPINFOHEADER WantedPicture(
        const platform::dshow::BITMAPINFOHEADER& offered) override;

    // ---- EncoderHost (read by the encoders and the writer when they open) ----------------
    const core::Settings& EncoderSettings() const override { return jobSettings_; }
    core::PictureGeometry EncoderPicture() const override { return geometry_; }
    core::SourceAudio EncoderAudioInput() const override;

    // Copies the settings for a job and derives its output size and rates (Start does it; a
    // test that drives the sink by hand does it first).
    void PrepareJobSettings();

private:
    // Cut: made from what was encoded before a Stop.
    enum class ClipOutcome { Made, Cut, Skipped, Failed };

    // The clip list as Start checks it, and back into the list once checked.
    std::vector<reader::ClipRecord> ClipsSnapshot() const;
    void KeepCheckedClips(const std::vector<reader::ClipRecord>& checked);

    uint32_t EncodeThreadProc();
    // The job itself, on the worker thread, over the settings copy taken at Start.
    void EncodeJob();
    // The clip at `index`, from creating its outputs to its VOB; what its outputs created is
    // in outputs_.Created() afterwards.
    ClipOutcome EncodeClip(std::size_t index, const reader::ClipRecord& clip);
    void BeginClip(const reader::ClipRecord& clip);
    void ShowClipFailure(const reader::ClipRecord& clip, const std::string& error) const;
    // Opens the clip's encoders or writer once the graph has told the formats; false (with
    // the reason in `error`) when they cannot open.
    bool OpenClipOutputs(std::string& error);
    // Ends the clip's sound with its pictures, closes what OpenClipOutputs opened, then
    // multiplexes the elementary streams; false (with the reason) when the clip's VOB is not
    // sound.
    bool FinishClipOutputs(std::string& error);
    // Authors the clips made, or after a failed or stopped authoring removes what the engine
    // reports its runs wrote into the "DVD" folder, and nothing else; then ends the job.
    void AuthorDisc(TempFiles& files, bool lastClipCut);
    AuthoringResult CreateDvdStructure(const std::vector<std::string>& vobPaths);
    void EndJob(const JobOutcome& outcome);
    void ShowClipWarnings() const;
    // What the plain graph's file gave, once its graph has stopped.
    reader::SourceDelivery SinkDelivery() const;

    // The clip is read through the editing-services timeline, which cuts the range and
    // delivers pictures at the output size and rate: the sink then neither paces, nor fits,
    // nor looks for the range's end.
    bool ReadsThroughTimeline() const { return jobSettings_.UseDES != 0; }
    OutputFrame JobOutputFrame() const;
    // How long a picture lasts: its own stamps, else the output frame time.
    double PictureSeconds(int64_t start, int64_t stop) const;
    void UpdateProgress(int percent);
    // Seconds of picture handed to the encoder or the writer so far.
    double PicturesSeconds() const;
    void SetStatus(const std::string& text);
    void MarkJobCommands(bool running);
    platform::ProgressTarget* ProgressBar() const;
    std::string OutputPath(const std::string& name) const;

    FrameView* view_;
    core::Settings settings_;
    core::Settings jobSettings_;

    mutable std::mutex clipsMutex_;
    std::vector<reader::ClipRecord> clips_;

    platform::ManualResetEvent hStop;
    platform::ManualResetEvent hCanceled;
    platform::WorkerThread worker_;
    std::atomic<bool> jobRunning_{false};
    std::atomic<JobResult> lastResult_{JobResult::None};
    // Held from Start until the worker leaves the job.
    OutputLock outputLock_;
    ClipWarnings clipWarnings_;  // the worker's while a job runs

    // Per-clip state: written by the worker before the graph runs and by the format calls,
    // then owned by the video streaming thread until the graph stops.
    core::PictureGeometry geometry_;
    PictureFitRequest pictureFit_;
    platform::dshow::WAVEFORMATEX sourceAudioFormat_{};
    PacingState pacing_;
    double clipLength_ = 0.0;  // seconds; 0 runs the clip to the end of its file
    int32_t totalFrames_ = 0;
    uint32_t clipStartTime_ = 0;  // ms, for the frames-per-second display
    bool shortPictureLogged_ = false;
    bool clipHasAudio_ = false;  // the reader delivers sound
    TitleSound sound_;
    int64_t lastPictureEnd_ = 0;  // 100-ns units: where the pictures written so far end
    // The pictures the plain graph's file gave (its samples are the file's own); the sound
    // comes from the sound's count (SinkDelivery).
    reader::SourceDelivery sinkDelivery_;
    TitleClock titleClock_;

    // The clip's outputs: the two encoders and their files, or the direct writer.
    ClipOutputs outputs_;
};

// The process's one MainFrame, set by the window that owns it.
extern MainFrame* TheMainFrame;

}  // namespace driver
