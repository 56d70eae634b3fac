#include "platform/des/group_filters.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

extern "C" {
#include <libswscale/swscale.h>
}

#include "platform/des/group_intake.h"
#include "platform/des/interfaces.h"
#include "platform/dshow/base_classes.h"
#include "platform/dshow/media_sample.h"

namespace platform::des {
namespace {

using com::ComPtr;
using com::E_POINTER;
using com::FAILED;
using com::GetInterface;
using com::S_FALSE;
using com::S_OK;
using com::SUCCEEDED;
using namespace platform::dshow;

constexpr GUID CLSID_VideoGroupFilter = com::MakeGuid("7de878fb-9f93-4a50-9758-13d7f95801c8");
constexpr GUID CLSID_AudioGroupFilter = com::MakeGuid("98874352-0ba7-483d-9d49-c0f945c04175");

constexpr int kGroupSampleRate = 48000;
constexpr int kGroupChannels = 2;
constexpr int64_t kSilenceChunk = kGroupSampleRate / 10;

class GroupFilter;

class GroupInputPin : public CBaseInputPin {
public:
    GroupInputPin(GroupFilter* filter, CCritSec* lock);
    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    const CMediaType& Type() const { return mediaType_; }

private:
    GroupFilter* const group_;
};

class GroupOutputPin : public COfferingOutputPin {
public:
    GroupOutputPin(CBaseFilter* filter, CCritSec* lock, const CMediaType& type)
        : COfferingOutputPin(filter, lock, "Output", type) {}

    HRESULT CheckMediaType(const CMediaType* type) override {
        return SameKindAsOffered(type) ? S_OK : S_FALSE;
    }
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IGroupIntake::kIid) return filter_->NonDelegatingQueryInterface(riid, object);
        return COfferingOutputPin::NonDelegatingQueryInterface(riid, object);
    }
};

// What both groups share: the pins, the run and stop bookkeeping, and the generator that
// stands in for a missing input, so a clip without sound still gets its silence (and one
// without pictures its black) and the graph still completes.
class GroupFilter : public CBaseFilter, public IGroupIntake {
public:
    GroupFilter(const GUID& clsid, const CMediaType& outputType, GroupSpan span)
        : CBaseFilter(nullptr, &lock_, clsid), span_(span), input_(this, &lock_),
          output_(this, &lock_, outputType) {}
    ~GroupFilter() override { Halt(); }

    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IGroupIntake::kIid) return GetInterface(static_cast<IGroupIntake*>(this), object);
        return CBaseFilter::NonDelegatingQueryInterface(riid, object);
    }

    HRESULT GetIntake(GroupIntake* intake) override {
        if (intake == nullptr) return E_POINTER;
        std::lock_guard stream(streamMutex_);
        *intake = intake_;
        return S_OK;
    }

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override {
        if (n == kGroupInputPin) return &input_;
        if (n == kGroupOutputPin) return &output_;
        return nullptr;
    }

    // The stream state is reset without the filter lock held: the streaming side takes the
    // stream lock first and reaches the graph (and through it our pins' lock) from there.
    // Only the graph's thread changes state or connections, so nothing moves in between.
    HRESULT Pause() override {
        if (IsStopped()) {
            const bool connected = input_.IsConnected();
            const CMediaType inputType = connected ? input_.Type() : CMediaType();
            std::lock_guard stream(streamMutex_);
            aborted_ = false;
            finished_ = false;
            refused_ = false;
            intake_ = GroupIntake{};
            Begin(connected ? &inputType : nullptr);
        }
        return CBaseFilter::Pause();
    }

    HRESULT Run(REFERENCE_TIME start) override {
        CAutoLock lock(lock_);
        const HRESULT hr = CBaseFilter::Run(start);
        if (SUCCEEDED(hr) && !input_.IsConnected() && !generator_.joinable()) {
            generator_ = std::thread([this] { EndOfInput(); });
        }
        return hr;
    }

    // The graph stops us before our upstream source (we were added after it), so a long
    // padding run on the source's thread sees the abort and the source's join is short.
    HRESULT Stop() override {
        CAutoLock lock(lock_);
        Halt();
        return CBaseFilter::Stop();
    }

    virtual HRESULT CheckInput(const CMediaType& type) = 0;

    HRESULT OnSample(IMediaSample* sample) {
        std::lock_guard stream(streamMutex_);
        if (finished_ || aborted_ || refused_) return S_FALSE;
        return Take(sample) ? S_OK : S_FALSE;
    }

    HRESULT EndOfInput() {
        std::lock_guard stream(streamMutex_);
        if (finished_) return S_OK;
        finished_ = true;
        if (aborted_) return S_OK;
        if (!refused_) Finish();
        if (!aborted_ && output_.Peer() != nullptr) output_.Peer()->EndOfStream();
        return S_OK;
    }

protected:
    // Called with the stream lock held. inputType: the connected type, null without input.
    virtual void Begin(const CMediaType* inputType) = 0;
    // False when nothing more is wanted.
    virtual bool Take(IMediaSample* sample) = 0;
    // Delivers what is left of the range after the input ended.
    virtual void Finish() = 0;

    // False when stopped or the downstream pin refused the sample.
    bool Send(MediaSample* sample, REFERENCE_TIME start, REFERENCE_TIME stop) {
        if (aborted_ || refused_ || output_.Input() == nullptr) return false;
        sample->SetTime(&start, &stop);
        if (output_.Input()->Receive(sample) == S_OK) return true;
        refused_ = true;
        return false;
    }
    bool Aborted() const { return aborted_ || refused_; }
    // Called with the stream lock held, for what the input brought that the group shows.
    void NoteIntake(int64_t units, REFERENCE_TIME until) {
        intake_.units += units;
        intake_.until = std::max(intake_.until, until);
    }
    // Ends the generator before the object that it calls into goes; the concrete filters call
    // it first thing in their destructors, in case a filter dies without being stopped.
    void Halt() {
        aborted_ = true;
        StopGenerator();
    }

    const GroupSpan span_;

private:
    void StopGenerator() {
        if (generator_.joinable()) generator_.join();
    }

    CCritSec lock_;
    GroupInputPin input_;
    GroupOutputPin output_;
    std::mutex streamMutex_;
    std::atomic<bool> aborted_{false};
    bool finished_ = false;
    bool refused_ = false;
    GroupIntake intake_;
    std::thread generator_;
};

GroupInputPin::GroupInputPin(GroupFilter* filter, CCritSec* lock)
    : CBaseInputPin(filter, lock, nullptr, "Input"), group_(filter) {}

HRESULT GroupInputPin::CheckMediaType(const CMediaType* type) {
    return type == nullptr ? E_POINTER : group_->CheckInput(*type);
}

HRESULT GroupInputPin::Receive(IMediaSample* sample) {
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return group_->OnSample(sample);
}

HRESULT GroupInputPin::EndOfStream() { return group_->EndOfInput(); }

// ---- Video ---------------------------------------------------------------------------------

class VideoGroupFilter : public GroupFilter {
public:
    VideoGroupFilter(const CMediaType& outputType, double fps, int stretchMode, GroupSpan span)
        : GroupFilter(CLSID_VideoGroupFilter, outputType, span),
          fps_(fps),
          stretchMode_(stretchMode),
          frame_(outputType.FormatAs<VIDEOINFOHEADER>()->bmiHeader),
          width_(frame_.biWidth),
          height_(frame_.biHeight),
          frameBytes_(size_t(Rgb24Stride(width_)) * size_t(height_)),
          total_(OutputFrameCount(span.length, fps)) {}

    ~VideoGroupFilter() override {
        Halt();
        sws_freeContext(scaler_);
    }

    HRESULT CheckInput(const CMediaType& type) override {
        const auto* info = type.FormatAs<VIDEOINFOHEADER>();
        const bool fits = type.majortype == MEDIATYPE_Video && type.subtype == MEDIASUBTYPE_RGB24 &&
                          type.formattype == FORMAT_VideoInfo && info != nullptr &&
                          info->bmiHeader.biWidth > 0 && info->bmiHeader.biHeight > 0 &&
                          info->bmiHeader.biBitCount == 24;
        return fits ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

protected:
    void Begin(const CMediaType* inputType) override {
        next_ = 0;
        held_ = nullptr;
        heldSent_ = false;
        source_ = inputType != nullptr ? inputType->FormatAs<VIDEOINFOHEADER>()->bmiHeader
                                       : BITMAPINFOHEADER{};
    }

    // A source picture is shown from its own time until the next one's, each output frame
    // showing the picture nearest its start: every output frame that starts half a frame or
    // more before this picture still shows the previous one (or this one, when it is the
    // first), so pictures are repeated or skipped to hold the output rate. Nearest rather than
    // latest, because a file's pictures often start a little after its time zero (a transport
    // stream's 10 ms after its sound), which would otherwise show the first picture twice and
    // every later one a frame late.
    bool Take(IMediaSample* sample) override {
        REFERENCE_TIME start = 0, stop = 0;
        if (FAILED(sample->GetTime(&start, &stop))) return true;
        const REFERENCE_TIME at = span_.clipStart + start;
        ComPtr<MediaSample> incoming = at < span_.clipStop ? Compose(sample) : nullptr;
        if (incoming) NoteIntake(1, stop);
        if (incoming && !held_) Hold(incoming);
        while (next_ < total_ && FrameStart(next_) + HalfFrame() <= at) {
            if (!EmitFrame(next_)) return false;
            ++next_;
        }
        if (incoming) Hold(std::move(incoming));
        return next_ < total_;
    }

    void Finish() override {
        while (next_ < total_ && EmitFrame(next_)) ++next_;
    }

private:
    REFERENCE_TIME FrameStart(int64_t n) const {
        return REFERENCE_TIME(std::llround(double(n) * double(kUnitsPerSecond) / fps_));
    }
    REFERENCE_TIME HalfFrame() const { return REFERENCE_TIME(std::llround(0.5 * kUnitsPerSecond / fps_)); }

    // Each picture goes out as it was composed the first time it is shown; a picture shown
    // again (the output rate is above the clip's) goes out as a copy, since the one sent may
    // still be in downstream hands.
    bool EmitFrame(int64_t n) {
        if (Aborted()) return false;
        const REFERENCE_TIME start = FrameStart(n);
        const bool inClip = start >= span_.clipStart && start < span_.clipStop;
        if (inClip && held_ && !heldSent_) {
            heldSent_ = true;
            return Send(held_.Get(), start, FrameStart(n + 1));
        }
        ComPtr<MediaSample> sample = NewFrame();
        if (!sample) return false;
        if (inClip && held_) {
            std::memcpy(sample->Data(), held_->Data(), frameBytes_);
        } else {
            std::memset(sample->Data(), 0, frameBytes_);  // black in RGB
        }
        return Send(sample.Get(), start, FrameStart(n + 1));
    }

    ComPtr<MediaSample> NewFrame() {
        ComPtr<MediaSample> frame = MediaSample::Create(frameBytes_, pool_);
        if (frame) frame->SetActualDataLength(long(frameBytes_));
        return frame;
    }

    void Hold(ComPtr<MediaSample> picture) {
        if (picture.Get() == held_.Get()) return;
        held_ = std::move(picture);
        heldSent_ = false;
    }

    // The source picture fitted into a frame of its own. Both pictures are bottom-up with the
    // same row order, so scaling the rows as they lie in memory keeps the picture upright.
    ComPtr<MediaSample> Compose(IMediaSample* sample) {
        BYTE* source = nullptr;
        const int sourceWidth = source_.biWidth, sourceHeight = source_.biHeight;
        const size_t sourceStride = Rgb24Stride(sourceWidth);
        if (sourceWidth <= 0 || FAILED(sample->GetPointer(&source)) || source == nullptr ||
            size_t(sample->GetActualDataLength()) < sourceStride * size_t(sourceHeight)) {
            return nullptr;
        }
        const FitRect fit = FitPicture(source_, frame_, stretchMode_);
        if (fit.width <= 0 || fit.height <= 0) return nullptr;
        scaler_ = sws_getCachedContext(scaler_, sourceWidth, sourceHeight, AV_PIX_FMT_BGR24,
                                       fit.width, fit.height, AV_PIX_FMT_BGR24, SWS_BICUBIC,
                                       nullptr, nullptr, nullptr);
        ComPtr<MediaSample> frame = scaler_ != nullptr ? NewFrame() : nullptr;
        if (!frame) return nullptr;
        const int targetStride = int(Rgb24Stride(width_));
        // The scaler writes the picture's pixels only: bands and row padding start black.
        const bool fills = fit.width == width_ && fit.height == height_ && targetStride == width_ * 3;
        if (!fills) std::memset(frame->Data(), 0, frameBytes_);
        uint8_t* target[4] = {frame->Data() + size_t(fit.y) * targetStride + size_t(fit.x) * 3,
                              nullptr, nullptr, nullptr};
        int targetStrides[4] = {targetStride, 0, 0, 0};
        const uint8_t* input[4] = {source, nullptr, nullptr, nullptr};
        int inputStrides[4] = {int(sourceStride), 0, 0, 0};
        if (sws_scale(scaler_, input, inputStrides, 0, sourceHeight, target, targetStrides) !=
            fit.height) {
            return nullptr;
        }
        return frame;
    }

    const double fps_;
    const int stretchMode_;
    const BITMAPINFOHEADER frame_;
    const int width_;
    const int height_;
    const size_t frameBytes_;
    const int64_t total_;
    const std::shared_ptr<SampleBufferPool> pool_ = std::make_shared<SampleBufferPool>(4);
    SwsContext* scaler_ = nullptr;
    BITMAPINFOHEADER source_{};
    int64_t next_ = 0;
    ComPtr<MediaSample> held_;  // the picture current at the next output frame, fitted
    bool heldSent_ = false;     // held_ itself has gone downstream
};

// ---- Audio ---------------------------------------------------------------------------------

CMediaType GroupAudioType() {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = kGroupChannels;
    format.nSamplesPerSec = kGroupSampleRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = WORD(kGroupChannels * sizeof(int16_t));
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    CMediaType type;
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_PCM;
    type.formattype = FORMAT_WaveFormatEx;
    type.bFixedSizeSamples = 1;
    type.lSampleSize = format.nBlockAlign;
    type.SetFormat(&format, sizeof format);
    return type;
}

int64_t ToSampleFrames(REFERENCE_TIME units) {
    return int64_t(std::llround(double(units) * kGroupSampleRate / double(kUnitsPerSecond)));
}

// The source delivers its sound without gaps from the clip's start, so sample frames are
// counted rather than stamps read: the clip's sound starts at its place in the range and is
// cut at its end, and silence fills the rest.
class AudioGroupFilter : public GroupFilter {
public:
    explicit AudioGroupFilter(GroupSpan span)
        : GroupFilter(CLSID_AudioGroupFilter, GroupAudioType(), span),
          clipStart_(ToSampleFrames(span.clipStart)),
          clipStop_(ToSampleFrames(span.clipStop)),
          total_(ToSampleFrames(span.length)) {}
    ~AudioGroupFilter() override { Halt(); }

    HRESULT CheckInput(const CMediaType& type) override {
        const auto* format = type.FormatAs<WAVEFORMATEX>();
        const bool fits = type.majortype == MEDIATYPE_Audio && type.formattype == FORMAT_WaveFormatEx &&
                          format != nullptr && format->wFormatTag == WAVE_FORMAT_PCM &&
                          format->wBitsPerSample == 16 && format->nSamplesPerSec == kGroupSampleRate &&
                          (format->nChannels == 1 || format->nChannels == 2);
        return fits ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

protected:
    void Begin(const CMediaType* inputType) override {
        emitted_ = 0;
        inputChannels_ = inputType != nullptr ? inputType->FormatAs<WAVEFORMATEX>()->nChannels : 0;
    }

    bool Take(IMediaSample* sample) override {
        BYTE* data = nullptr;
        if (inputChannels_ == 0 || FAILED(sample->GetPointer(&data)) || data == nullptr) return true;
        if (!SilenceUntil(clipStart_)) return false;
        const int64_t frames = sample->GetActualDataLength() / (inputChannels_ * int64_t(sizeof(int16_t)));
        REFERENCE_TIME start = 0, stop = 0;
        if (SUCCEEDED(sample->GetTime(&start, &stop))) NoteIntake(frames, stop);
        const int64_t count = std::min(frames, clipStop_ - emitted_);
        if (count <= 0) return false;
        const auto* values = reinterpret_cast<const int16_t*>(data);
        return Emit(count, [&](int16_t* out) {
            for (int64_t i = 0; i < count; ++i) {
                const int16_t left = values[i * inputChannels_];
                const int16_t right = values[i * inputChannels_ + inputChannels_ - 1];
                out[2 * i] = left;
                out[2 * i + 1] = right;
            }
        }) && emitted_ < clipStop_;
    }

    void Finish() override { SilenceUntil(total_); }

private:
    bool SilenceUntil(int64_t end) {
        while (emitted_ < end) {
            const int64_t count = std::min(end - emitted_, kSilenceChunk);
            if (!Emit(count, [&](int16_t* out) { std::fill_n(out, count * kGroupChannels, 0); })) {
                return false;
            }
        }
        return true;
    }

    template <typename Fill>
    bool Emit(int64_t count, Fill fill) {
        count = std::min(count, total_ - emitted_);
        if (count <= 0) return false;
        const size_t bytes = size_t(count) * kGroupChannels * sizeof(int16_t);
        ComPtr<MediaSample> sample = MediaSample::Create(bytes);
        if (!sample) return false;
        fill(reinterpret_cast<int16_t*>(sample->Data()));
        sample->SetActualDataLength(long(bytes));
        const REFERENCE_TIME start = emitted_ * kUnitsPerSecond / kGroupSampleRate;
        emitted_ += count;
        const REFERENCE_TIME stop = emitted_ * kUnitsPerSecond / kGroupSampleRate;
        return Send(sample.Get(), start, stop);
    }

    const int64_t clipStart_;
    const int64_t clipStop_;
    const int64_t total_;
    int inputChannels_ = 0;
    int64_t emitted_ = 0;
};

template <typename Filter, typename... Args>
HRESULT Create(com::ComPtr<IBaseFilter>* filter, Args&&... args) {
    if (filter == nullptr) return E_POINTER;
    auto* created = new (std::nothrow) Filter(std::forward<Args>(args)...);
    if (created == nullptr) return com::E_OUTOFMEMORY;
    created->NonDelegatingAddRef();
    const HRESULT hr = created->NonDelegatingQueryInterface(IBaseFilter::kIid, filter->PutVoid());
    created->NonDelegatingRelease();
    return hr;
}

}  // namespace

int64_t OutputFrameCount(REFERENCE_TIME length, double fps) {
    if (length <= 0 || !std::isfinite(fps) || fps <= 0.0) return 0;
    // A frame whose start rounds to the range's end belongs to what follows.
    return int64_t(std::ceil(double(length) * fps / double(kUnitsPerSecond) - 1e-6));
}

FitRect FitPicture(const BITMAPINFOHEADER& source, const BITMAPINFOHEADER& frame, int stretchMode) {
    const int frameWidth = frame.biWidth, frameHeight = frame.biHeight;
    const double sourceAspect = DisplayAspect(source.biWidth, source.biHeight, PixelAspectOf(source));
    const double frameAspect = DisplayAspect(frameWidth, frameHeight, PixelAspectOf(frame));
    if (stretchMode != RESIZEF_PRESERVEASPECTRATIO || sourceAspect <= 0.0 || frameAspect <= 0.0) {
        return {0, 0, frameWidth, frameHeight};
    }
    FitRect fit;
    if (sourceAspect >= frameAspect) {
        fit.width = frameWidth;
        fit.height = int(std::llround(frameHeight * frameAspect / sourceAspect));
    } else {
        fit.height = frameHeight;
        fit.width = int(std::llround(frameWidth * sourceAspect / frameAspect));
    }
    fit.width = std::clamp(fit.width, 1, frameWidth);
    fit.height = std::clamp(fit.height, 1, frameHeight);
    fit.x = (frameWidth - fit.width) / 2;
    fit.y = (frameHeight - fit.height) / 2;
    return fit;
}

HRESULT CreateVideoGroupFilter(const CMediaType& outputType, double fps, int stretchMode,
                               GroupSpan span, ComPtr<IBaseFilter>* filter) {
    const auto* info = outputType.FormatAs<VIDEOINFOHEADER>();
    if (info == nullptr || info->bmiHeader.biWidth <= 0 || info->bmiHeader.biHeight <= 0 ||
        !std::isfinite(fps) || fps <= 0.0) {
        return com::E_INVALIDARG;
    }
    return Create<VideoGroupFilter>(filter, outputType, fps, stretchMode, span);
}

HRESULT CreateAudioGroupFilter(GroupSpan span, ComPtr<IBaseFilter>* filter) {
    return Create<AudioGroupFilter>(filter, span);
}

}  // namespace platform::des
