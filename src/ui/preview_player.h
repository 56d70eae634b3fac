// The clip range dialog's player: the reader's source graph with a reference clock put back,
// so the source delivers at playing speed, and a sink that keeps the latest picture. The
// picture goes to whoever shows it through a callback on the streaming thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/dshow/types.h"
#include "platform/event.h"
#include "reader/clip_record.h"
#include "reader/sample_sink.h"
#include "reader/source_graph.h"

namespace ui {

// Positions and durations are in 100-ns units, as the graph counts.
constexpr int64_t kUnitsPerSecond = 10'000'000;

// One decoded picture: 24-bit BGR rows, top row first, no padding.
struct PreviewPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgr;
    // Width over height as the picture is shown: its pixels need not be square.
    double displayAspect = 0.0;
    // The picture a ShowOnePicture asked for: its receiver calls EndOnePicture.
    bool onePicture = false;
};

class PreviewPlayer : private reader::GraphOwner, private reader::SampleSink {
public:
    using PictureReady = std::function<void(std::shared_ptr<const PreviewPicture>)>;

    explicit PreviewPlayer(PictureReady pictureReady);
    ~PreviewPlayer() override;
    PreviewPlayer(const PreviewPlayer&) = delete;
    PreviewPlayer& operator=(const PreviewPlayer&) = delete;

    // Builds the graph for clip; false when it cannot be played (the player then does nothing).
    bool Open(const reader::ClipRecord& clip);
    bool IsOpen() const { return bool(control_) && bool(seeking_); }
    bool HasVideo() const { return hasVideo_; }

    bool Run();
    bool Pause();
    bool Stop();
    // Stopped, paused or running (platform::dshow::FILTER_STATE); stopped when not open.
    long State() const;
    // Duration and position; false when the graph cannot tell.
    bool Duration(int64_t& duration) const;
    bool Position(int64_t& position) const;
    bool Seek(int64_t position);
    // Runs until one picture has arrived, then holds further pictures back until the next Run:
    // how a paused or stopped player shows the picture at its position.
    bool ShowOnePicture();
    // Pauses the graph after the picture of ShowOnePicture, unless a Run came in between.
    // On the thread that owns the player.
    void EndOnePicture();

    void Close();

private:
    reader::SampleSink* Sink() override { return this; }
    const platform::ManualResetEvent* StopEvent() override { return &never_; }
    const platform::ManualResetEvent* CancelEvent() override { return &never_; }

    reader::HRESULT OnVideoFormat(const platform::dshow::AM_MEDIA_TYPE* type) override;
    reader::HRESULT OnAudioFormat(const platform::dshow::AM_MEDIA_TYPE*) override { return 0; }
    reader::HRESULT OnVideoSample(platform::dshow::IMediaSample* sample) override;
    reader::HRESULT OnAudioSample(platform::dshow::IMediaSample*) override { return 0; }
    reader::HRESULT OnEndOfStream() override { return 0; }
    reader::HRESULT OnAudioEndOfStream() override { return 0; }

    PictureReady pictureReady_;
    reader::ClipRecord clip_;  // the graph keeps a pointer to it
    reader::SourceGraph graph_;
    platform::ManualResetEvent never_;
    platform::com::ComPtr<platform::dshow::IMediaControl> control_;
    platform::com::ComPtr<platform::dshow::IMediaSeeking> seeking_;
    platform::com::ComPtr<platform::dshow::IReferenceClock> clock_;
    bool hasVideo_ = false;
    // Set by the streaming thread, read by it only: the format in force.
    int width_ = 0;
    int height_ = 0;
    bool bottomUp_ = true;
    platform::dshow::PixelAspect pixelAspect_;
    // One-picture mode: 1 waiting for the picture, 2 holding back the rest.
    std::atomic<int> onePicture_{0};
};

}  // namespace ui
