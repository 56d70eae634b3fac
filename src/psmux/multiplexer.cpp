#include "psmux/multiplexer.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "core/file_utils.h"
#include "core/log.h"
#include "platform/event.h"
#include "psmux/ac3_stream.h"
#include "psmux/audio_stream.h"
#include "psmux/byte_order.h"
#include "psmux/dts_stream.h"
#include "psmux/lpcm_stream.h"
#include "psmux/stills_stream.h"
#include "psmux/video_stream.h"

namespace psmux {

namespace {

constexpr int kDvdMuxRate = 1260000;            // bytes per second
constexpr int kVcdMuxRate = 176400;
constexpr int kSvcdMuxRate = 348600;
constexpr int kDvdSectorSize = 2048;
constexpr int kCdSectorTransportSize = 2352;
constexpr int kCdSectorSize = 2324;
constexpr int kCdPrefixSectors = 30;
constexpr int kCdZeroStuffing = 20;
constexpr int kMaxRateBound = (1 << 22) - 1;   // 22-bit field of pack and system headers

// The buffers the DVD system header announces.
constexpr uint32_t kDvdVideoBuffer = 237568;
constexpr uint32_t kDvdMpegAudioBuffer = 4096;
constexpr uint32_t kDvdPrivate1Buffer = 59392;
constexpr uint32_t kDvdPrivate2Buffer = 2048;

// Navigation placeholder: two private-stream-2 packets that the authoring engine fills in.
constexpr size_t kNavPackHeaderSize = 14;
constexpr size_t kNavSystemHeaderSize = 24;
constexpr size_t kNavFirstPacket = kNavPackHeaderSize + kNavSystemHeaderSize;  // 38
constexpr size_t kNavSecondPacket = 1024;
constexpr uint8_t kNavPacketFlags[3] = {0x81, 0x00, 0x00};

// Smallest payload that leaves room for real data after any sub-stream header (a group of
// the widest LPCM samples is 42 bytes).
constexpr int kMinimumUsefulPayload = 48;

// Stream numbers from these on would leave their kind's range of stream or sub-stream ids:
// video 0xE0-0xEF, MPEG audio 0xC0-0xDF, and eight sub-streams each of AC-3, DTS and LPCM.
int StreamNumberLimit(StreamFormat format) {
    switch (format) {
    case StreamFormat::MpegVideo: return 16;
    case StreamFormat::MpegAudio: return 32;
    default: return 8;
    }
}

}  // namespace

MuxParams MuxParams::ForJob(const MuxJob& job) {
    MuxParams p;
    p.muxFormat = job.muxFormat;
    p.dataRate = job.dataRate;
    p.mpegVersion = job.mpegVersion;
    p.packetsPerPack = job.packetsPerPack;
    p.sectorSize = p.sectorTransportSize = job.sectorSize;
    p.variableBitRate = job.variableBitRate;
    p.segmentLimit = static_cast<uint64_t>(job.segmentLimitMb) << 20;
    p.runLimit = static_cast<int64_t>(job.runLimitSeconds) * kClock;
    p.videoOffset = job.videoOffset;
    p.audioOffset = job.audioOffset;
    p.clockStart = job.clockStart;
    p.splitAtSequenceEnd = !job.multipleFiles;
    p.systemHeaderEveryPack = job.systemHeaderEveryPack;

    auto cdSectors = [&](int prefix) {
        p.sectorTransportSize = kCdSectorTransportSize;
        p.sectorSize = kCdSectorSize;
        p.transportPrefixSectors = prefix;
        p.zeroStuffing = kCdZeroStuffing;
    };
    auto sectors = [&](int size) {
        p.sectorSize = p.sectorTransportSize = size;
        p.transportPrefixSectors = 0;
        p.zeroStuffing = 0;
    };
    switch (p.muxFormat) {
    case 1:
    case 2:
        if (p.muxFormat == 1) {
            p.dataRate = kVcdMuxRate;
            p.variableBitRate = false;
        }
        p.mpegVersion = 1;
        cdSectors(kCdPrefixSectors);
        p.buffersInVideoPackets = p.buffersInAudioPackets = p.buffersEveryAudioPacket = true;
        p.segmentStartsWithVideo = true;
        break;
    case 3:
        p.mpegVersion = 2;
        sectors(kDvdSectorSize);
        p.systemHeaderFirstPack = true;
        p.buffersInVideoPackets = p.buffersInAudioPackets = p.buffersEveryAudioPacket = true;
        break;
    case 4:
    case 5:
        if (p.muxFormat == 4) p.dataRate = kSvcdMuxRate;
        p.mpegVersion = 2;
        sectors(kCdSectorSize);
        p.variableBitRate = true;
        p.buffersInVideoPackets = p.buffersInAudioPackets = true;
        p.iPictureAlignment = p.segmentStartsWithVideo = true;
        break;
    case 6:
        p.dataRate = kVcdMuxRate;
        p.mpegVersion = 1;
        cdSectors(0);
        p.variableBitRate = false;
        p.timestampsEveryUnit = true;
        p.buffersInVideoPackets = p.buffersInAudioPackets = true;
        p.iPictureAlignment = true;
        p.splitAtSequenceEnd = false;
        p.soundOutlastsVideo = true;
        break;
    case 7:
        if (p.dataRate == 0) p.dataRate = kSvcdMuxRate;
        p.mpegVersion = 2;
        sectors(kCdSectorSize);
        p.variableBitRate = true;
        p.buffersInVideoPackets = p.buffersInAudioPackets = true;
        p.iPictureAlignment = true;
        p.soundOutlastsVideo = true;
        break;
    case 8:
    case 9:
        if (p.dataRate == 0) p.dataRate = kDvdMuxRate;
        p.mpegVersion = 2;
        sectors(kDvdSectorSize);
        p.variableBitRate = true;
        p.buffersInVideoPackets = p.buffersInAudioPackets = true;
        p.iPictureAlignment = true;
        p.timestampsOnIPicturesOnly = p.buffersOnIPicturesOnly = true;
        p.segmentStartsWithVideo = p.dvdVideo = p.muxFormat == 8;
        break;
    default:
        p.transportPrefixSectors = 0;
        p.zeroStuffing = 0;
        p.systemHeaderFirstPack = true;
        p.buffersEveryVideoPacket = p.buffersEveryAudioPacket = p.buffersInVideoPackets = true;
        break;
    }
    if (p.muxFormat >= 1 && p.muxFormat <= 9) {
        p.packetsPerPack = 1;
        p.systemHeaderEveryPack = false;
    }
    return p;
}

Multiplexor::Multiplexor(MuxJob& job)
    : job_(job),
      params_(MuxParams::ForJob(job)),
      padding_(kPaddingStreamId, 0x00, 0),
      fillPadding_(kPaddingStreamId, 0xFF, kCdZeroStuffing),
      private2Padding_(kPrivateStream2, 0x00, 0) {
    audioDelay_ = params_.audioOffset;
    videoDelay_ = params_.videoOffset;
    if (params_.StillsFormat())
        CreateStillsStreams();
    else
        CreateStreams();
    writer_ = std::make_unique<ProgramStreamWriter>(
        params_.mpegVersion, params_.sectorSize,
        SegmentNamer(job.outputName, job.outputNameIsPattern), params_.segmentLimit);
    std::vector<FileIdentity> inputs;
    for (const JobStream& input : job.inputStreams) {
        FileIdentity identity;
        if (input.reader->Identity(identity)) inputs.push_back(identity);
    }
    writer_->KeepIntact(std::move(inputs));
    writer_->CreateFilesAnew(job.outputsCreatedAnew);
}

Multiplexor::~Multiplexor() = default;

void Multiplexor::CreateStreams() {
    int audioNumber = 0;
    int videoNumber = 0;
    size_t lpcmIndex = 0;
    size_t videoIndex = 0;
    for (JobStream& input : job_.inputStreams) {
        FileBitReader* reader = input.reader.get();
        const int number = input.format == StreamFormat::MpegVideo ? videoNumber : audioNumber;
        if (number >= StreamNumberLimit(input.format)) {
            configurationRefused_ = true;
            continue;
        }
        std::unique_ptr<AudioStream> audio;
        switch (input.format) {
        case StreamFormat::MpegAudio:
            audio = std::make_unique<MpegAudioStream>(reader, this);
            break;
        case StreamFormat::Ac3Audio:
            audio = std::make_unique<Ac3Stream>(reader, this);
            break;
        case StreamFormat::DtsAudio:
            audio = std::make_unique<DtsStream>(reader, this);
            break;
        case StreamFormat::LpcmAudio: {
            const LpcmParams& params = job_.lpcmParams.at(lpcmIndex++);
            audio = std::make_unique<LpcmStream>(reader, this, params.fromCommandLine ? &params : nullptr);
            break;
        }
        case StreamFormat::MpegVideo: {
            const VideoParams& params = job_.videoParams.at(videoIndex++);
            std::unique_ptr<VideoStream> video;
            if (params_.dvdVideo && video_.empty())
                video = std::make_unique<DvdVideoStream>(reader, params, this);
            else
                video = std::make_unique<VideoStream>(reader, params, this);
            if (!video->Open(videoNumber)) {
                NoteInputWithoutUnits(input.reader->FileName());
                continue;
            }
            ++videoNumber;
            video_.push_back(video.get());
            all_.push_back(video.get());
            owned_.push_back(std::move(video));
            continue;
        }
        }
        if (!audio->Open(audioNumber)) {
            auto* lpcm = dynamic_cast<LpcmStream*>(audio.get());
            if (lpcm != nullptr && lpcm->RequestMismatch())
                configurationRefused_ = true;
            else if (lpcm != nullptr && lpcm->LayoutUnsupported())
                unsupportedLpcm_ = input.reader->FileName();
            else
                NoteInputWithoutUnits(input.reader->FileName());
            continue;
        }
        ++audioNumber;
        audio_.push_back(audio.get());
        all_.push_back(audio.get());
        owned_.push_back(std::move(audio));
    }
}

void Multiplexor::CreateStillsStreams() {
    int audioNumber = 0;
    size_t videoIndex = 0;
    std::vector<VcdStillsStream*> vcdStills;
    for (JobStream& input : job_.inputStreams) {
        FileBitReader* reader = input.reader.get();
        if (input.format == StreamFormat::MpegVideo) {
            AddStillsVideo(input, videoIndex++, vcdStills);
        } else if (input.format == StreamFormat::MpegAudio) {
            if (audioNumber >= StreamNumberLimit(input.format)) {
                configurationRefused_ = true;
                continue;
            }
            auto audio = std::make_unique<MpegAudioStream>(reader, this);
            if (!audio->Open(audioNumber)) {
                NoteInputWithoutUnits(input.reader->FileName());
                continue;
            }
            ++audioNumber;
            audio_.push_back(audio.get());
            all_.push_back(audio.get());
            owned_.push_back(std::move(audio));
        } else {
            // Dropping the sound would leave a run that looks complete and is silent.
            RefuseStillsInput(MuxStatus::SoundNotCarried,
                              input.reader->FileName() + " is " + StreamFormatName(input.format));
        }
    }
    if (vcdStills.size() == 2) {
        vcdStills[0]->PairWith(vcdStills[1]);
        vcdStills[1]->PairWith(vcdStills[0]);
    }
}

void Multiplexor::AddStillsVideo(JobStream& input, size_t videoIndex,
                                 std::vector<VcdStillsStream*>& vcdStills) {
    const VideoParams& params = job_.videoParams.at(videoIndex);
    // The super video CD holds one stills stream; the video CD a standard and a
    // high-resolution one.
    if (params_.muxFormat == 7 && videoIndex > 0) {
        RefuseStillsInput(MuxStatus::SecondStillsVideo, input.reader->FileName());
        return;
    }
    FileBitReader* reader = input.reader.get();
    std::unique_ptr<StillsStream> stills;
    if (params_.muxFormat == 6)
        stills = std::make_unique<VcdStillsStream>(reader, params, this);
    else
        stills = std::make_unique<SvcdStillsStream>(reader, params, this);
    if (!stills->Open(static_cast<int>(video_.size()))) {
        NoteInputWithoutUnits(input.reader->FileName());
        return;
    }
    if (params_.muxFormat == 6) {
        auto* vcd = static_cast<VcdStillsStream*>(stills.get());
        // Two stills of one size would share a stream id: one stream mixing both files.
        const bool sizeTaken = std::any_of(vcdStills.begin(), vcdStills.end(), [&](const VcdStillsStream* s) {
            return s->IsStandardSize() == vcd->IsStandardSize();
        });
        if (sizeTaken) {
            RefuseStillsInput(MuxStatus::StillsSizeTaken,
                              input.reader->FileName() + " is a second " + vcd->SizeName() + " one");
            return;
        }
        vcdStills.push_back(vcd);
    }
    video_.push_back(stills.get());
    all_.push_back(stills.get());
    owned_.push_back(std::move(stills));
}

std::vector<const PesStream*> Multiplexor::AsPes(const std::vector<ElementaryStream*>& streams) const {
    return {streams.begin(), streams.end()};
}

int Multiplexor::PacketPayloadFor(const PesStream& stream, bool buffers, bool pts, bool dts) const {
    return writer_->PayloadSpace(stream, currentSystem_, currentPack_, buffers, pts, dts) -
           stream.SubstreamHeaderSize();
}

int64_t Multiplexor::ScrOfBytePosition(uint64_t position) const {
    return params_.clockStart + static_cast<int64_t>(position) * kClock / muxRate_;
}

void Multiplexor::RefreshHeaders() {
    if (includePackHeader_) {
        writer_->BuildPackHeader(packHeader_, scr_, rateBound_);
        currentPack_ = &packHeader_;
    } else {
        currentPack_ = nullptr;
    }
    // A system header may only follow a pack header directly.
    currentSystem_ = includeSystemHeader_ && includePackHeader_ ? &systemHeader_ : nullptr;
}

void Multiplexor::SetPositionAndScr(uint64_t position) {
    position_ = position;
    scr_ = ScrOfBytePosition(position);
    RefreshHeaders();
}

void Multiplexor::AdvanceSector() {
    // A system header goes out once; later sectors carry it only when every pack does.
    includeSystemHeader_ = params_.systemHeaderEveryPack;
    SetPositionAndScr(position_ + static_cast<uint64_t>(params_.sectorTransportSize));
}

size_t Multiplexor::WriteStreamSector(size_t maximumPayload, PesStream& stream, bool buffers,
                                      int64_t pts, int64_t dts, TimestampKind kind) {
    size_t n = writer_->WriteSector(currentPack_, currentSystem_, maximumPayload, stream, buffers,
                                    false, pts, dts, kind);
    AdvanceSector();
    return n;
}

void Multiplexor::WritePaddingSector(const HeaderBuffer* system, PesStream& stream) {
    writer_->WriteSector(currentPack_, system, 0, stream, false, false, 0, 0, kNoTimestamps);
    AdvanceSector();
}

void Multiplexor::NoteUnitDelivered(int64_t decodeTime) {
    const int64_t lateness = scr_ + ticksPerSector_ - decodeTime;
    if (lateness <= 0) return;
    ++lateUnits_;
    worstLateness_ = std::max(worstLateness_, lateness);
}

void Multiplexor::ReportLateUnits() {
    if (lateUnits_ == 0) return;
    job_.warnings.push_back(core::FormatString(
        "%u access units reach the decoder after their decode time, the latest by %.1f ms "
        "(the streams need more than the mux rate or the decoder buffers hold)",
        lateUnits_, static_cast<double>(worstLateness_) * 1000.0 / kClock));
}

void Multiplexor::ReportEarlySoundEnds() {
    for (const ElementaryStream* s : audio_) {
        const auto* audio = static_cast<const AudioStream*>(s);
        if (!audio->LostFrameSync()) continue;
        job_.warnings.push_back(core::FormatString(
            "the sound of %s ends early: no frame header at byte %llu, after %u frames; the rest is left out",
            audio->FileName().c_str(), static_cast<unsigned long long>(audio->LostSyncAt()), audio->FramesScanned()));
    }
}

void Multiplexor::WriteNavPlaceholder() {
    assert(params_.sectorSize == kDvdSectorSize && params_.packetsPerPack == 1);
    uint8_t sector[kDvdSectorSize] = {};
    writer_->BuildPackHeader(packHeader_, scr_, rateBound_);
    std::memcpy(sector, packHeader_.bytes.data(), kNavPackHeaderSize);
    std::memcpy(sector + kNavPackHeaderSize, dvdSystemHeader_.bytes.data(), kNavSystemHeaderSize);
    auto putPacket = [&](size_t at, size_t end) {
        PutBe32(sector + at, 0x100u | kPrivateStream2);
        PutBe16(sector + at + 4, static_cast<uint32_t>(end - at - 6));
        std::memcpy(sector + at + 6, kNavPacketFlags, sizeof kNavPacketFlags);
    };
    putPacket(kNavFirstPacket, kNavSecondPacket);
    putPacket(kNavSecondPacket, kDvdSectorSize);
    writer_->WriteRaw(sector, sizeof sector);
    AdvanceSector();
}

void Multiplexor::WriteEndSector() {
    writer_->BuildPackHeader(packHeader_, scr_, rateBound_);
    writer_->WriteSector(&packHeader_, nullptr, 0, padding_, false, true, 0, 0, kNoTimestamps);
}

void Multiplexor::WriteSegmentPrefix() {
    SetPositionAndScr(position_ + static_cast<uint64_t>(params_.transportPrefixSectors) *
                                      static_cast<uint64_t>(params_.sectorTransportSize));
    const bool fixed = !params_.variableBitRate;
    HeaderBuffer prefixHeader;
    switch (params_.muxFormat) {
    case 8: {
        uint32_t private1 = kDvdPrivate1Buffer;
        for (const ElementaryStream* s : audio_)
            if (s->Id() == kPrivateStream1) private1 = std::max(private1, s->BufferSize());
        const PlaceholderStream video(0xB9, 1, kDvdVideoBuffer), mpegAudio(0xB8, 0, kDvdMpegAudioBuffer),
            private1Stream(kPrivateStream1, 1, private1), private2(kPrivateStream2, 1, kDvdPrivate2Buffer);
        writer_->BuildSystemHeader(dvdSystemHeader_, rateBound_, fixed, false, true, true,
                                   {&video, &mpegAudio, &private1Stream, &private2});
        systemHeader_ = dvdSystemHeader_;
        // The segment's first sector (the first navigation placeholder) carries it.
        includeSystemHeader_ = true;
        RefreshHeaders();
        break;
    }
    case 1:
    case 2:
        writer_->BuildSystemHeader(prefixHeader, rateBound_, false, true, true, true, AsPes(video_));
        WritePaddingSector(&prefixHeader, padding_);
        {
            std::vector<const PesStream*> listed = AsPes(audio_);
            writer_->BuildSystemHeader(prefixHeader, rateBound_, false, true, true, true, listed);
        }
        WritePaddingSector(&prefixHeader, fillPadding_);
        break;
    case 4:
    case 5:
        writer_->BuildSystemHeader(prefixHeader, rateBound_, fixed, true, true, true, AsPes(all_));
        WritePaddingSector(&prefixHeader, padding_);
        break;
    case 6:
        writer_->BuildSystemHeader(prefixHeader, rateBound_, false, false, true, true, AsPes(all_));
        WritePaddingSector(&prefixHeader, padding_);
        break;
    case 7:
        writer_->BuildSystemHeader(prefixHeader, rateBound_, false, true, true, true, AsPes(video_));
        WritePaddingSector(&prefixHeader, padding_);
        break;
    default:
        writer_->BuildSystemHeader(systemHeader_, rateBound_, fixed, false, true, true, AsPes(all_));
        RefreshHeaders();
        break;
    }
}

void Multiplexor::StartSegment() {
    for (ElementaryStream* s : all_) s->ClearBufferModel();
    packetsLeft_ = params_.packetsPerPack;
    includePackHeader_ = true;
    includeSystemHeader_ = params_.systemHeaderFirstPack;
    videoFirst_ = params_.segmentStartsWithVideo && !video_.empty();
    SetPositionAndScr(0);
    WriteSegmentPrefix();
    const ElementaryStream* reference = video_.empty() ? all_.front() : video_.front();
    const int64_t referenceDts = reference->CurrentUnit().dts;
    for (ElementaryStream* s : video_) s->SetTimestampOffset(videoDelay_ - referenceDts + scr_);
    for (ElementaryStream* s : audio_) s->SetTimestampOffset(audioDelay_ - referenceDts + scr_);
}

void Multiplexor::ComputeMuxRate() {
    uint64_t sum = 0;
    for (const ElementaryStream* s : all_) sum += s->BitRate();
    // 1.5 % above the streams' nominal rates plus a margin, in multiples of 50 bytes/s.
    const int64_t scaled = static_cast<int64_t>(static_cast<double>(sum) * 1.015);
    const int64_t bits = 1250 + scaled / 50 * 50;
    muxRate_ = params_.dataRate != 0 ? params_.dataRate : static_cast<int>(std::min<int64_t>(bits / 8, INT32_MAX));
    // Headers count the rate in units of 50 bytes/s; declaring less than the SCRs advance by
    // would make every pack end after the next one begins.
    rateBound_ = static_cast<uint32_t>((static_cast<int64_t>(muxRate_) + 49) / 50);
}

void Multiplexor::ComputeStartupDelay() {
    int64_t sectors = 1;
    for (const ElementaryStream* s : video_) {
        const int64_t buffer = s->BufferSize();
        const int64_t size = params_.sectorSize;
        if (params_.StillsFormat())
            sectors += static_cast<int64_t>(1.02 * static_cast<double>(buffer)) / size + 2;
        else if (params_.variableBitRate)
            sectors += buffer * 3 / (size * 4);
        else
            sectors += buffer * 5 / (size * 6);
    }
    sectors += static_cast<int64_t>(audio_.size());
    const int64_t delay = sectors * params_.sectorTransportSize * kClock / muxRate_;
    videoDelay_ += delay;
    audioDelay_ += delay;
    if (!video_.empty()) {
        const AccessUnit& first = video_.front()->CurrentUnit();
        audioDelay_ += first.pts - first.dts;
    }
}

bool Multiplexor::ConfigurationIsMuxable() const {
    if (muxRate_ < 50 || rateBound_ > static_cast<uint32_t>(kMaxRateBound)) return false;
    for (const ElementaryStream* s : all_) {
        if (static_cast<int64_t>(s->BufferSize()) <= s->MaxPacketPayload()) return false;
        if (s->MinPacketPayload() - s->SubstreamHeaderSize() < kMinimumUsefulPayload) return false;
    }
    return true;
}

MuxStatus Multiplexor::Prepare() {
    // A stream that yields no complete unit takes no part.
    auto withoutUnit = [](ElementaryStream* s) { return !s->AdvanceAccessUnit(); };
    for (ElementaryStream* s : all_)
        if (withoutUnit(s)) {
            NoteInputWithoutUnits(s->FileName());
            video_.erase(std::remove(video_.begin(), video_.end(), s), video_.end());
            audio_.erase(std::remove(audio_.begin(), audio_.end(), s), audio_.end());
        }
    all_.clear();
    for (ElementaryStream* s : video_) all_.push_back(s);
    for (ElementaryStream* s : audio_) all_.push_back(s);
    std::stable_sort(all_.begin(), all_.end(), [&](ElementaryStream* a, ElementaryStream* b) {
        return IndexOf(a) < IndexOf(b);
    });
    // A run cancelled before its first picture still leaves a (minimal) program stream.
    if (configurationRefused_) return MuxStatus::BadConfiguration;
    if (InputFailed()) return MuxStatus::InputUnreadable;
    if (!unsupportedLpcm_.empty()) {
        job_.failedInput = unsupportedLpcm_;
        return MuxStatus::LpcmLayoutUnsupported;
    }
    if (stillsRefusal_ != MuxStatus::Ok) {
        job_.failedInput = stillsRefusedInput_;
        return stillsRefusal_;
    }
    // A scanner stopped by the cancel event yields no unit either; that run is no failure.
    if (!platform::IsCancelled(job_.cancel)) {
        if (!inputWithoutUnits_.empty()) {
            job_.failedInput = inputWithoutUnits_;
            return MuxStatus::InputWithoutUnits;
        }
        // A stills run without a picture would have nothing to show.
        if ((job_.requireVideo || params_.dvdVideo || params_.StillsFormat()) && video_.empty())
            return MuxStatus::NoVideo;
        if (params_.dvdVideo && video_.size() > 1) return MuxStatus::SeveralVideos;
    }

    HeaderBuffer scratchPack;
    HeaderBuffer scratchSystem;
    writer_->BuildPackHeader(scratchPack, 0, 0);
    if (params_.systemHeaderEveryPack)
        writer_->BuildSystemHeader(scratchSystem, 0, false, true, true, true, AsPes(all_));
    for (ElementaryStream* s : all_) {
        const bool buffersAlways = s->IsVideo() ? params_.buffersEveryVideoPacket : params_.buffersEveryAudioPacket;
        s->SetPacketPayloadBounds(
            writer_->PayloadSpace(*s, nullptr, nullptr, false, !s->IsVideo(), false),
            writer_->PayloadSpace(*s, params_.systemHeaderEveryPack ? &scratchSystem : nullptr, &scratchPack,
                                  buffersAlways, true, s->IsVideo()));
    }
    ComputeMuxRate();
    if (!ConfigurationIsMuxable()) return MuxStatus::BadConfiguration;
    for (ElementaryStream* s : video_) static_cast<VideoStream*>(s)->ComputeMaxBufferDelay(muxRate_);
    ComputeStartupDelay();
    ticksPerSector_ = static_cast<int64_t>(params_.sectorTransportSize) * kClock / muxRate_;
    if (!writer_->OpenFile()) return OutputFailure();
    return MuxStatus::Ok;
}

// The output is named in the result with the reason, as a failed input is.
MuxStatus Multiplexor::OutputFailure() {
    job_.failedInput = writer_->CurrentName() +
                       (writer_->RefusedAnInput() ? " is one of the inputs" : ": " + writer_->FailureReason());
    return MuxStatus::OutputFailed;
}

size_t Multiplexor::IndexOf(const ElementaryStream* s) const {
    for (size_t i = 0; i < owned_.size(); ++i)
        if (owned_[i].get() == s) return i;
    return owned_.size();
}

void Multiplexor::NoteInputWithoutUnits(const std::string& name) {
    if (inputWithoutUnits_.empty()) inputWithoutUnits_ = name;
}

void Multiplexor::RefuseStillsInput(MuxStatus why, const std::string& what) {
    if (stillsRefusal_ != MuxStatus::Ok) return;
    stillsRefusal_ = why;
    stillsRefusedInput_ = what;
}

bool Multiplexor::InputFailed() const {
    return std::any_of(all_.begin(), all_.end(), [](const ElementaryStream* s) { return s->ReadFailed(); });
}

int64_t Multiplexor::VideoPresentationEnd() const {
    int64_t end = 0;
    for (const ElementaryStream* s : video_)
        end = std::max(end, static_cast<const VideoStream*>(s)->PresentationEnd() + s->TimestampOffset());
    return end;
}

ElementaryStream* Multiplexor::ChooseStream() {
    ElementaryStream* best = nullptr;
    int64_t bestDts = 0;
    for (ElementaryStream* s : all_) {
        if (videoFirst_ && !s->IsVideo()) continue;
        if (!s->CanMuxAt(scr_)) continue;
        const int64_t dts = s->CurrentUnit().dts + s->TimestampOffset();
        if (best == nullptr || dts < bestDts) {
            best = s;
            bestDts = dts;
        }
    }
    return best;
}

void Multiplexor::LetTimePass() {
    AdvanceSector();
    int64_t next = 0;
    for (const ElementaryStream* s : all_) {
        const int64_t due = s->NextBufferRemovalTime();
        if (next == 0 || due < next) next = due;
    }
    for (int i = 0; i < 5 && next > scr_ + ticksPerSector_; ++i) AdvanceSector();
}

bool Multiplexor::AnyVideoComplete() const {
    return std::any_of(video_.begin(), video_.end(), [](const ElementaryStream* s) { return s->IsComplete(); });
}

bool Multiplexor::AllComplete() const {
    return std::all_of(all_.begin(), all_.end(), [](const ElementaryStream* s) { return s->IsComplete(); });
}

bool Multiplexor::AllRunOutsFinished() const {
    return std::all_of(all_.begin(), all_.end(), [](const ElementaryStream* s) { return s->RunOutFinished(); });
}

bool Multiplexor::AdvanceState(State& state) {
    switch (state) {
    case State::SegmentStart:
        StartSegment();
        state = State::Muxing;
        return true;
    case State::Muxing: {
        const ElementaryStream* video = video_.empty() ? nullptr : video_.front();
        const AccessUnit* next = video ? video->PeekNextAccessUnit() : nullptr;
        if (writer_->SegmentFull()) {
            writer_->StartNextSegment();
        } else if (params_.splitAtSequenceEnd && video && video->CurrentUnit().sequenceEnd &&
                   !video->IsComplete() && next != nullptr) {
            runOutPts_ = next->pts + video->TimestampOffset();
            runningOut_ = true;
            state = State::RunningOut;
        }
        return true;
    }
    case State::RunningOut:
        if (!AllRunOutsFinished()) return true;
        if (finalRunOut_) return false;
        WriteEndSector();
        if (!writer_->StartNextSegment()) return false;
        runningOut_ = false;
        StartSegment();
        state = State::Muxing;
        return true;
    }
    return false;
}

bool Multiplexor::MuxOneSector() {
    includePackHeader_ = packetsLeft_ == params_.packetsPerPack;
    RefreshHeaders();
    for (ElementaryStream* s : all_) s->DrainBufferTo(scr_);
    ElementaryStream* chosen = ChooseStream();
    if (chosen != nullptr) {
        videoFirst_ = false;
        // No byte for a unit that is not complete: the input changed or cannot be read.
        if (chosen->RefillAndWriteSector() == 0) return false;
    } else if (params_.variableBitRate) {
        LetTimePass();
        // The skipped time lies between packs: a pack's packets follow each other at its rate.
        packetsLeft_ = params_.packetsPerPack;
    } else {
        WritePaddingSector(currentSystem_, padding_);
    }
    if (chosen != nullptr || !params_.variableBitRate) {
        if (--packetsLeft_ == 0) packetsLeft_ = params_.packetsPerPack;
    }
    includeSystemHeader_ = params_.systemHeaderEveryPack;
    return true;
}

MuxStatus Multiplexor::Run() {
    MuxStatus status = Prepare();
    if (status != MuxStatus::Ok) {
        writer_->CloseFile();
        return status;
    }
    State state = State::SegmentStart;
    bool stalled = false;
    while (!all_.empty()) {
        // The video's end does not cut the audio that is to be heard before it.
        if (!finalRunOut_ && !params_.soundOutlastsVideo && AnyVideoComplete()) {
            finalRunOut_ = runningOut_ = true;
            runOutPts_ = VideoPresentationEnd();
            state = State::RunningOut;
        }
        if (AllComplete() || platform::IsCancelled(job_.cancel) || writer_->Failed() || InputFailed()) break;
        if (!AdvanceState(state)) break;
        if (!MuxOneSector()) {
            stalled = true;
            break;
        }
    }

    WriteEndSector();
    const bool closed = writer_->CloseFile();
    for (ElementaryStream* s : all_) s->Finish();
    ReportLateUnits();
    ReportEarlySoundEnds();
    MuxStatus result = platform::IsCancelled(job_.cancel) ? MuxStatus::Cancelled : MuxStatus::Ok;
    if (stalled || InputFailed()) result = MuxStatus::InputUnreadable;
    if (!closed || writer_->Failed()) result = OutputFailure();
    // A failed run's output is cut short where it failed; nobody should take it for whole.
    if (result != MuxStatus::Ok && result != MuxStatus::Cancelled) writer_->RemoveWrittenFiles();
    return result;
}

MuxStatus RunMuxJob(MuxJob& job) {
    if (job.inputStatus != MuxStatus::Ok) return job.inputStatus;
    Multiplexor mux(job);
    return mux.Run();
}

int RunMultiplexer(const char* outputName, const char* fileA, const char* fileB,
                   platform::ProgressTarget* progress, const platform::ManualResetEvent* cancel,
                   int64_t clockStart, std::string* failure) {
    if (outputName == nullptr || *outputName == '\0' || fileA == nullptr || fileB == nullptr)
        return static_cast<int>(MuxStatus::BadConfiguration);
    MuxJob job;
    job.progress = progress;
    job.cancel = cancel;
    job.SetUp(outputName, fileA, fileB);
    job.clockStart = clockStart;
    MuxStatus status = RunMuxJob(job);
    for (const std::string& warning : job.warnings) core::LogPrintf("Multiplexing into %s: %s\n", outputName, warning.c_str());
    if (status == MuxStatus::Ok || status == MuxStatus::Cancelled) return 0;
    const std::string reason = job.FailureText(status);
    core::LogPrintf("Multiplexing into %s failed: %s\n", outputName, reason.c_str());
    if (failure != nullptr) *failure = reason;
    return static_cast<int>(status);
}

}  // namespace psmux
