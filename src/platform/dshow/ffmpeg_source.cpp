#include "platform/dshow/ffmpeg_source.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "platform/dshow/base_classes.h"
#include "platform/dshow/blocking_queue.h"
#include "platform/dshow/diagnostics.h"
#include "platform/dshow/media_file.h"
#include "platform/dshow/packet_lanes.h"
#include "platform/dshow/run_gate.h"
#include "platform/dshow/stamp_mender.h"
#include "platform/dshow/stream_decoders.h"
#include "platform/dshow/streaming_thread.h"

namespace platform::dshow {
namespace {

using com::E_POINTER;
using com::FAILED;
using com::GetInterface;
using com::S_OK;
using com::SUCCEEDED;

struct SampleItem {
    Kind kind = Kind::Data;
    ComPtr<MediaSample> sample;
};

class FfmpegSource;

class SourcePin : public COfferingOutputPin, public IMediaSeeking {
public:
    SourcePin(FfmpegSource* source, CCritSec* lock, const char* name, const CMediaType& type);
    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IMediaSeeking::kIid) {
            return GetInterface(static_cast<IMediaSeeking*>(this), object);
        }
        return COfferingOutputPin::NonDelegatingQueryInterface(riid, object);
    }

    // A video type may name another picture size than the one offered: the decoder scales to
    // the connected size, so a consumer that wants smaller pictures saves a second scaling.
    HRESULT CheckMediaType(const CMediaType* type) override {
        if (!SameKindAsOffered(type)) return com::S_FALSE;
        if (Offered().majortype != MEDIATYPE_Video) return S_OK;
        const auto* info = type->FormatAs<VIDEOINFOHEADER>();
        return info != nullptr && info->bmiHeader.biWidth > 0 && info->bmiHeader.biHeight > 0 &&
                       info->bmiHeader.biBitCount == 24
                   ? S_OK
                   : com::S_FALSE;
    }
    HRESULT Active() override;
    HRESULT Inactive() override;

    HRESULT GetDuration(LONGLONG* duration) override;
    HRESULT GetCurrentPosition(LONGLONG* position) override;
    HRESULT GetStopPosition(LONGLONG* stop) override;
    HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                         DWORD stopFlags) override;

    const CMediaType& Connected() const { return mediaType_; }

private:
    FfmpegSource* const source_;
};

// One run of the streaming threads over a segment; destroying it stops them all.
class Session {
public:
    Session(FfmpegSource& source, MediaFile& file, Segment segment, bool fresh,
            std::array<SourcePin*, kLanes> pins, RunGate& gate);
    ~Session();
    Session(const Session&) = delete;
    // Starts the demultiplexing, decoding and delivery threads; E_OUTOFMEMORY when the system
    // cannot make them all.
    HRESULT Start();
    Session& operator=(const Session&) = delete;

private:
    void Demux();
    // How a try at the segment start turned out.
    enum class RangeStart { InTime, PictureLate, SoundLate, NotPlaced };
    bool SeekToSegmentStart(std::vector<PacketItem>* held);
    RangeStart StartFrom(int stream, double from, double target, std::vector<PacketItem>* held);
    RangeStart ReadToSegmentStart(double target, std::vector<PacketItem>* held);
    bool SeekBefore(int stream, double seconds);
    double LongestKeyPictureWait() const;
    bool Forward(AVPacket* packet);
    void Mend(AVPacket* packet);
    void EndLanes(Kind kind);
    // The file cannot be read on: the lanes end in an error that carries error's reason.
    void ReportReadFailure(int error);
    void Decode(int lane);
    void Deliver(int lane);
    int LaneOf(int streamIndex) const;

    FfmpegSource& source_;
    MediaFile& file_;
    const Segment segment_;
    const bool fresh_;
    const std::array<SourcePin*, kLanes> pins_;
    RunGate& gate_;
    std::array<std::unique_ptr<StreamDecoder>, kLanes> decoders_;
    const std::unique_ptr<StampMender> mender_;  // null when the file's clock does not jump
    PacketLanes packets_;
    std::array<BlockingQueue<SampleItem>, kLanes> samples_{BlockingQueue<SampleItem>(4),
                                                          BlockingQueue<SampleItem>(32)};
    std::atomic<bool> aborted_{false};
    // What ended the stream when the lanes end in an error.
    std::atomic<HRESULT> failure_{com::E_FAIL};
    std::vector<std::thread> threads_;
};

class FfmpegSource : public CBaseFilter, public IFileSourceFilter {
public:
    FfmpegSource() : CBaseFilter(nullptr, &filterLock_, CLSID_FfmpegSource) {}
    ~FfmpegSource() override { StopStreaming(); }

    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IFileSourceFilter::kIid) {
            return GetInterface(static_cast<IFileSourceFilter*>(this), object);
        }
        return CBaseFilter::NonDelegatingQueryInterface(riid, object);
    }

    int GetPinCount() override { return int(pins_.size()); }
    CBasePin* GetPin(int n) override {
        return n >= 0 && n < int(pins_.size()) ? pins_[size_t(n)].get() : nullptr;
    }

    HRESULT Load(const char* fileName, const AM_MEDIA_TYPE*) override {
        if (fileName == nullptr) return E_POINTER;
        CAutoLock lock(filterLock_);
        if (file_) return com::E_UNEXPECTED;
        std::unique_ptr<MediaFile> file;
        const HRESULT hr = MediaFile::Open(fileName, &file);
        if (FAILED(hr)) return hr;
        if (file->VideoStream() < 0 && file->AudioStream() < 0) return VFW_E_UNKNOWN_FILE_TYPE;
        file_ = std::move(file);
        CreatePins();
        stop_ = Duration();
        return S_OK;
    }

    // State changes wait for the streaming threads, so those threads may not make them.
    HRESULT Stop() override {
        if (IsStreamingThread()) return VFW_E_WRONG_STATE;
        gate_.Hold();
        return CBaseFilter::Stop();
    }
    HRESULT Pause() override {
        if (IsStreamingThread()) return VFW_E_WRONG_STATE;
        gate_.Hold();
        return CBaseFilter::Pause();
    }
    HRESULT Run(REFERENCE_TIME start) override {
        if (IsStreamingThread()) return VFW_E_WRONG_STATE;
        CAutoLock lock(filterLock_);
        const HRESULT hr = CBaseFilter::Run(start);
        if (SUCCEEDED(hr)) gate_.Run(start, clock_);
        return hr;
    }

    // Starts the streaming threads once, whichever pin becomes active first.
    HRESULT StartStreaming() {
        CAutoLock lock(filterLock_);
        if (session_ || !file_) return S_OK;
        std::array<SourcePin*, kLanes> pins{nullptr, nullptr};
        for (const auto& pin : pins_) {
            if (!pin->IsConnected()) continue;
            pins[pin->Offered().majortype == MEDIATYPE_Video ? kVideo : kAudio] = pin.get();
        }
        gate_.Open();
        errorReported_ = false;
        auto session = std::make_unique<Session>(*this, *file_, Segment{position_.load(), stop_.load()},
                                                 fresh_, pins, gate_);
        const HRESULT hr = session->Start();
        if (FAILED(hr)) return hr;  // the session stops what it started as it goes
        session_ = std::move(session);
        fresh_ = false;
        return S_OK;
    }

    // Returns once no streaming thread of ours is running any more.
    HRESULT StopStreaming() {
        CAutoLock lock(filterLock_);
        gate_.Abort();
        session_.reset();
        return S_OK;
    }

    REFERENCE_TIME Duration() const {
        return file_ ? REFERENCE_TIME(std::llround(file_->Duration() * kUnitsPerSecond)) : 0;
    }

    HRESULT GetCurrentPosition(LONGLONG* position) {
        if (position == nullptr) return E_POINTER;
        *position = position_ + lastDelivered_.load();
        return S_OK;
    }

    // Lock-free, like GetCurrentPosition: a sink may ask from a streaming thread while Stop
    // holds the filter lock and waits for that thread.
    HRESULT GetStopPosition(LONGLONG* stop) {
        if (stop == nullptr) return E_POINTER;
        *stop = stop_.load();
        return S_OK;
    }

    // Moves the segment; while streaming, the threads restart from the new position.
    HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
        if (IsStreamingThread()) return VFW_E_WRONG_STATE;  // a restart would wait for itself
        CAutoLock lock(filterLock_);
        REFERENCE_TIME newStart = position_;
        REFERENCE_TIME newStop = stop_;
        const HRESULT hr1 = Resolve(current, currentFlags, position_ + lastDelivered_.load(), &newStart);
        const HRESULT hr2 = Resolve(stop, stopFlags, stop_.load(), &newStop);
        if (FAILED(hr1)) return hr1;
        if (FAILED(hr2)) return hr2;
        const REFERENCE_TIME duration = Duration();
        newStart = std::clamp<REFERENCE_TIME>(newStart, 0, duration);
        newStop = std::clamp<REFERENCE_TIME>(newStop, newStart, duration);
        const bool restart = session_ != nullptr;
        if (restart) StopStreaming();
        position_ = newStart;
        stop_ = newStop;
        lastDelivered_ = 0;
        return restart ? StartStreaming() : S_OK;
    }

    void NoteDelivered(REFERENCE_TIME start) { lastDelivered_ = start; }

    // The graph hears of a broken stream once, however many lanes carry the news; failure
    // tells why (the system's error when reading the file failed).
    void ReportStreamError(HRESULT failure) {
        if (!errorReported_.exchange(true)) {
            NotifyEvent(EC_ERRORABORT, LONG_PTR(failure), 0);
        }
    }

private:
    static HRESULT Resolve(const LONGLONG* value, DWORD flags, REFERENCE_TIME base,
                           REFERENCE_TIME* result) {
        switch (flags & AM_SEEKING_PositioningBitsMask) {
            case AM_SEEKING_NoPositioning:
                return S_OK;
            case AM_SEEKING_AbsolutePositioning:
                if (value == nullptr) return E_POINTER;
                *result = *value;
                return S_OK;
            case AM_SEEKING_RelativePositioning:
                if (value == nullptr) return E_POINTER;
                *result = base + *value;
                return S_OK;
            default:
                return com::E_INVALIDARG;
        }
    }

    void CreatePins() {
        if (file_->VideoStream() >= 0) {
            pins_.push_back(std::make_unique<SourcePin>(this, &filterLock_, "Video", VideoType()));
        }
        if (file_->AudioStream() >= 0) {
            pins_.push_back(std::make_unique<SourcePin>(this, &filterLock_, "Audio", AudioType()));
        }
    }

    CMediaType VideoType() const {
        // The pictures are offered as players show them, turned upright.
        const PictureSize shown = file_->ShownSize();
        const double rate = file_->FrameRate() > 0 ? file_->FrameRate() : 25.0;
        VIDEOINFOHEADER info{};
        info.AvgTimePerFrame = REFERENCE_TIME(std::llround(kUnitsPerSecond / rate));
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = shown.width;
        info.bmiHeader.biHeight = shown.height;  // positive: bottom-up rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        info.bmiHeader.biSizeImage = Rgb24Stride(shown.width) * uint32_t(shown.height);
        info.dwBitRate = uint32_t(std::min(4e9, info.bmiHeader.biSizeImage * 8.0 * rate));
        SetPixelAspect(info.bmiHeader, file_->ShownPixelAspect());
        CMediaType type;
        type.majortype = MEDIATYPE_Video;
        type.subtype = MEDIASUBTYPE_RGB24;
        type.formattype = FORMAT_VideoInfo;
        type.bFixedSizeSamples = 1;
        type.bTemporalCompression = 0;
        type.lSampleSize = info.bmiHeader.biSizeImage;
        type.SetFormat(&info, sizeof info);
        return type;
    }

    CMediaType AudioType() const {
        const AVCodecParameters* par = file_->Stream(file_->AudioStream())->codecpar;
        WAVEFORMATEX format{};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = WORD(std::min(par->ch_layout.nb_channels, 2));
        format.nSamplesPerSec = kOutputSampleRate;
        format.wBitsPerSample = 16;
        format.nBlockAlign = WORD(format.nChannels * 2);
        format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
        CMediaType type;
        type.majortype = MEDIATYPE_Audio;
        type.subtype = MEDIASUBTYPE_PCM;
        type.formattype = FORMAT_WaveFormatEx;
        type.bFixedSizeSamples = 1;
        type.bTemporalCompression = 0;
        type.lSampleSize = format.nBlockAlign;
        type.SetFormat(&format, sizeof format);
        return type;
    }

    CCritSec filterLock_;
    std::unique_ptr<MediaFile> file_;
    std::vector<std::unique_ptr<SourcePin>> pins_;
    RunGate gate_;
    std::unique_ptr<Session> session_;
    bool fresh_ = true;  // nothing read since the file was opened
    std::atomic<REFERENCE_TIME> position_{0};
    std::atomic<REFERENCE_TIME> stop_{0};
    std::atomic<REFERENCE_TIME> lastDelivered_{0};
    std::atomic<bool> errorReported_{false};
};

// ---- SourcePin ---------------------------------------------------------------------------

SourcePin::SourcePin(FfmpegSource* source, CCritSec* lock, const char* name, const CMediaType& type)
    : COfferingOutputPin(source, lock, name, type), source_(source) {}

HRESULT SourcePin::Active() { return source_->StartStreaming(); }
HRESULT SourcePin::Inactive() { return source_->StopStreaming(); }

HRESULT SourcePin::GetDuration(LONGLONG* duration) {
    if (duration == nullptr) return E_POINTER;
    *duration = source_->Duration();
    return S_OK;
}
HRESULT SourcePin::GetCurrentPosition(LONGLONG* position) {
    return source_->GetCurrentPosition(position);
}
HRESULT SourcePin::GetStopPosition(LONGLONG* stop) { return source_->GetStopPosition(stop); }
HRESULT SourcePin::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                DWORD stopFlags) {
    return source_->SetPositions(current, currentFlags, stop, stopFlags);
}

// ---- Session -----------------------------------------------------------------------------

Session::Session(FfmpegSource& source, MediaFile& file, Segment segment, bool fresh,
                 std::array<SourcePin*, kLanes> pins, RunGate& gate)
    : source_(source),
      file_(file),
      segment_(segment),
      fresh_(fresh),
      pins_(pins),
      gate_(gate),
      mender_(file.NewStampMender()) {
    if (pins_[kVideo]) {
        const auto* info = pins_[kVideo]->Connected().FormatAs<VIDEOINFOHEADER>();
        decoders_[kVideo] = CreateVideoDecoder(file_, info->bmiHeader.biWidth,
                                               info->bmiHeader.biHeight, segment_);
    }
    if (pins_[kAudio]) {
        const auto* format = pins_[kAudio]->Offered().FormatAs<WAVEFORMATEX>();
        decoders_[kAudio] = CreateAudioDecoder(file_, format->nChannels, segment_);
    }
    for (int lane = 0; lane < kLanes; ++lane) {
        if (pins_[lane] != nullptr && decoders_[lane]) packets_.OpenLane(lane);
    }
}

HRESULT Session::Start() {
    try {
        for (int lane = 0; lane < kLanes; ++lane) {
            if (pins_[lane] == nullptr) continue;
            threads_.emplace_back([this, lane] {
                StreamingThreadMark mark;
                Deliver(lane);
            });
            if (decoders_[lane]) threads_.emplace_back([this, lane] { Decode(lane); });
        }
        threads_.emplace_back([this] { Demux(); });
    } catch (const std::system_error&) {
        return com::E_OUTOFMEMORY;  // the system has no thread left for us
    }
    return S_OK;
}

Session::~Session() {
    aborted_ = true;
    packets_.Abort();
    for (auto& queue : samples_) queue.Abort();
    gate_.Abort();
    for (std::thread& thread : threads_) thread.join();
}

int Session::LaneOf(int streamIndex) const {
    if (streamIndex == file_.VideoStream() && decoders_[kVideo]) return kVideo;
    if (streamIndex == file_.AudioStream() && decoders_[kAudio]) return kAudio;
    return -1;
}

void Session::EndLanes(Kind kind) {
    for (int lane = 0; lane < kLanes; ++lane) {
        if (decoders_[lane]) packets_.Push(lane, PacketItem{kind, nullptr, std::nullopt});
    }
}

void Session::Mend(AVPacket* packet) {
    if (mender_) mender_->Mend(packet);
}

bool Session::Forward(AVPacket* packet) {
    Mend(packet);
    const int lane = LaneOf(packet->stream_index);
    if (lane < 0) return true;
    PacketPtr copy(av_packet_clone(packet));
    if (!copy) return true;
    return packets_.Push(lane, PacketItem{Kind::Data, std::move(copy), file_.PacketSeconds(packet)});
}

// Positions the reader so that decoding forward reaches the picture that contains the
// segment start, and the sound of that moment as well. A plain seek may land on a key frame
// after the target (program streams index only roughly), and a file may store its sound well
// ahead of its pictures, so that sound lies before the key frame; earlier and earlier points
// are tried until both start at or before the target. Packets read while deciding are held for
// forwarding.
bool Session::SeekToSegmentStart(std::vector<PacketItem>* held) {
    const double target = double(segment_.start) / kUnitsPerSecond;
    if (fresh_ && segment_.start == 0) return true;
    const int video = decoders_[kVideo] ? file_.VideoStream() : -1;
    const int audio = decoders_[kAudio] ? file_.AudioStream() : -1;
    const int reference = video >= 0 ? video : file_.AudioStream();
    static constexpr double kMargins[] = {0.0, 1.0, 3.0, 10.0, 60.0, 1e9};
    for (double margin : kMargins) {
        const double from = std::max(0.0, target - margin);
        const RangeStart start = StartFrom(reference, from, target, held);
        if (start == RangeStart::InTime) return true;
        // Sound stored ahead of its pictures lies before their key picture; a seek of its own
        // finds it, and the pictures follow.
        if (start == RangeStart::SoundLate && StartFrom(audio, from, target, held) == RangeStart::InTime) {
            return true;
        }
        if (from == 0.0) {
            // Nothing earlier is left to try: the pictures lead.
            if (start == RangeStart::SoundLate) StartFrom(reference, from, target, held);
            return true;
        }
    }
    return false;
}

// Seeks `stream` to `from` (seconds) and reads on to the segment start at `target`.
Session::RangeStart Session::StartFrom(int stream, double from, double target,
                                       std::vector<PacketItem>* held) {
    held->clear();
    if (!SeekBefore(stream, from) && from > 0.0) return RangeStart::NotPlaced;
    if (!decoders_[kVideo]) return RangeStart::InTime;  // sound alone starts where the seek lands
    return ReadToSegmentStart(target, held);
}

// Reads from where a seek landed to the first key picture (non-key pictures before it cannot
// be decoded) and on to the first packet of sound, holding what is to be forwarded, and tells
// whether that picture and that sound both begin at or before the target (seconds from time
// zero).
Session::RangeStart Session::ReadToSegmentStart(double target, std::vector<PacketItem>* held) {
    // However far ahead its sound is stored, a file interleaves some of it with the pictures
    // near any place; where none follows the key picture within this many seconds of pictures,
    // the file has no sound there.
    static constexpr double kSoundSearchSeconds = 10.0;
    static constexpr double kStampTolerance = 1e-4;
    PacketPtr packet(av_packet_alloc());
    if (!packet) return RangeStart::NotPlaced;
    const bool wantSound = decoders_[kAudio] != nullptr;
    std::optional<bool> keyInTime;
    std::optional<bool> soundInTime;
    while (!aborted_ && av_read_frame(file_.Format(), packet.get()) >= 0) {
        Mend(packet.get());
        const int lane = LaneOf(packet->stream_index);
        const std::optional<double> seconds = file_.PacketSeconds(packet.get());
        const bool key = lane == kVideo && (packet->flags & AV_PKT_FLAG_KEY);
        if (lane == kAudio && !soundInTime.has_value()) {
            soundInTime = !seconds || *seconds <= target + kStampTolerance;
        }
        if (key && !keyInTime.has_value()) {
            keyInTime = !seconds || *seconds + LongestKeyPictureWait() <= target + kStampTolerance;
        }
        if (lane == kAudio || (lane == kVideo && keyInTime.has_value())) {
            held->push_back(PacketItem{Kind::Data, PacketPtr(av_packet_clone(packet.get())), seconds});
        }
        const bool soundSearchOver =
            !wantSound || soundInTime.has_value() ||
            (lane == kVideo && seconds && *seconds > target + kSoundSearchSeconds);
        av_packet_unref(packet.get());
        if (keyInTime.has_value() && (!*keyInTime || soundSearchOver)) break;
    }
    if (!keyInTime.value_or(false)) return RangeStart::PictureLate;
    return soundInTime.value_or(true) ? RangeStart::InTime : RangeStart::SoundLate;
}

// Where the stamps follow the decoding order, a key picture's stamp tells when it is decoded:
// it shows only after the B-pictures decoded next, at most as many as H.264 reorders.
double Session::LongestKeyPictureWait() const {
    static constexpr int kMostReorderedPictures = 16;
    if (!file_.StampsInDecodingOrder()) return 0.0;
    return kMostReorderedPictures / (file_.FrameRate() > 0 ? file_.FrameRate() : 25.0);
}

// A seek to the file's first time stamp may land just past the first key picture (a
// transport stream's is found by its decoding time, which lies before that stamp). Program
// and transport streams can be read from any byte, so their start is found by the first one.
bool Session::SeekBefore(int stream, double seconds) {
    AVFormatContext* format = file_.Format();
    // Across clock jumps the file's own stamps lead a seek astray; the probe noted where the
    // key packets lie on the closed-up clock.
    if (const std::optional<int64_t> position = file_.KeyPositionBefore(seconds); position && mender_) {
        mender_->Restart(file_.TimeZero() + seconds);
        return av_seek_frame(format, -1, *position, AVSEEK_FLAG_BYTE) >= 0;
    }
    const bool readableFromAnyByte = (format->iformat->flags & AVFMT_TS_DISCONT) &&
                                     !(format->iformat->flags & AVFMT_NO_BYTE_SEEK);
    if (seconds <= 0.0 && readableFromAnyByte && av_seek_frame(format, -1, 0, AVSEEK_FLAG_BYTE) >= 0) {
        return true;
    }
    return av_seek_frame(format, stream, file_.Timestamp(stream, seconds), AVSEEK_FLAG_BACKWARD) >= 0;
}

void Session::Demux() {
    std::vector<PacketItem> held;
    if (!SeekToSegmentStart(&held)) {
        ReportDiagnostic("Seeking in %s failed; reading on from where it stands\n",
                         file_.Path().c_str());
    }
    for (PacketItem& item : held) {
        if (!item.packet) continue;
        const int lane = LaneOf(item.packet->stream_index);
        if (lane >= 0 && !packets_.Push(lane, std::move(item))) return;
    }
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) {
        EndLanes(Kind::Error);
        return;
    }
    int damaged = 0;
    while (!aborted_ && packets_.AnyOpen()) {
        const int read = av_read_frame(file_.Format(), packet);
        // The end-of-file flag is also raised by a failed read (a failing disk, a pulled
        // stick): only the I/O context's error tells the two apart.
        AVIOContext* io = file_.Format()->pb;
        if (read < 0 && io != nullptr && io->error < 0) {
            ReportReadFailure(io->error);
            break;
        }
        if (read == AVERROR_EOF || (read < 0 && io != nullptr && avio_feof(io))) {
            EndLanes(Kind::EndOfStream);
            break;
        }
        // Damaged data makes the demultiplexer resynchronise; only a run of it is fatal.
        if (read == AVERROR_INVALIDDATA && ++damaged < 1000) continue;
        if (read < 0) {
            ReportReadFailure(read);
            break;
        }
        damaged = 0;
        // Packets marked corrupt go on to the decoders, which conceal what is missing: a
        // transport stream joined byte-wise from pieces has its continuity counters jump at
        // the join, which marks the whole last picture before it, and a picture left out
        // takes the pictures that refer to it along.
        const bool pushed = Forward(packet);
        av_packet_unref(packet);
        if (!pushed) break;
    }
    av_packet_free(&packet);
}

void Session::ReportReadFailure(int error) {
    char reason[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, reason, sizeof reason);
    ReportDiagnostic("Reading %s failed: %s\n", file_.Path().c_str(), reason);
    // FFmpeg gives the system's errors as AVERROR(errno); its own codes are tags far below.
    constexpr int kLargestErrno = 0xFFFF;
    failure_ = error < 0 && -error <= kLargestErrno ? com::HresultFromErrno(-error) : com::E_FAIL;
    EndLanes(Kind::Error);
}

void Session::Decode(int lane) {
    StreamDecoder& decoder = *decoders_[lane];
    const SampleEmitter emit = [this, lane](ComPtr<MediaSample> sample) {
        return samples_[lane].Push(SampleItem{Kind::Data, std::move(sample)});
    };
    PacketItem item;
    Kind ending = Kind::EndOfStream;
    while (packets_.Pop(lane, &item)) {
        if (item.kind == Kind::Data) {
            if (!decoder.Decode(item.packet.get(), emit)) break;
            continue;
        }
        if (item.kind == Kind::EndOfStream) decoder.Decode(nullptr, emit);
        ending = item.kind;
        break;
    }
    packets_.CloseLane(lane);
    if (!aborted_) samples_[lane].Push(SampleItem{ending, nullptr});
}

void Session::Deliver(int lane) {
    SourcePin* pin = pins_[lane];
    IPin* peer = pin->Peer();
    IMemInputPin* input = pin->Input();
    if (peer == nullptr || input == nullptr) return;
    peer->NewSegment(segment_.start, segment_.stop, 1.0);
    if (!decoders_[lane]) {
        // The stream cannot be decoded: it ends at once rather than holding up the graph.
        if (gate_.WaitToDeliver(std::nullopt)) peer->EndOfStream();
        return;
    }
    SampleItem item;
    bool first = true;
    while (samples_[lane].Pop(&item)) {
        if (item.kind == Kind::Data) {
            item.sample->SetDiscontinuity(first);  // the first sample of a segment follows a seek
            first = false;
            REFERENCE_TIME start = 0, stop = 0;
            item.sample->GetTime(&start, &stop);
            if (!gate_.WaitToDeliver(start)) return;
            const HRESULT hr = input->Receive(item.sample.Get());
            source_.NoteDelivered(start);
            if (hr == S_OK) continue;
            if (FAILED(hr)) source_.ReportStreamError(com::E_FAIL);
            peer->EndOfStream();
            return;
        }
        if (!gate_.WaitToDeliver(std::nullopt)) return;
        peer->EndOfStream();
        if (item.kind == Kind::Error) source_.ReportStreamError(failure_);
        return;
    }
}

}  // namespace

HRESULT CreateFfmpegSource(IUnknown* outer, com::REFIID riid, void** object) {
    return com::CreateStandalone<FfmpegSource>(outer, riid, object);
}

}  // namespace platform::dshow
