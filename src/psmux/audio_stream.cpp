#include "psmux/audio_stream.h"

#include <algorithm>

#include "psmux/byte_order.h"
#include "psmux/multiplexer.h"

namespace psmux {

namespace {

constexpr unsigned kAudioRefillCount = 24;
constexpr int kMpegAudioSync = 0x7FF;

// Bit rates in kbit/s by [MPEG-1 or not][layer - 1][index]; index 0 (free format) and 15 are
// not usable.
constexpr int kMpegBitRates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};
constexpr int kMpeg1SampleRates[3] = {44100, 48000, 32000};

}  // namespace

bool ParseMpegAudioHeader(uint32_t header, MpegAudioHeader& out) {
    if ((header >> 21) != kMpegAudioSync) return false;
    int version = (header >> 19) & 3;
    int layerBits = (header >> 17) & 3;
    int bitRateIndex = (header >> 12) & 15;
    int rateIndex = (header >> 10) & 3;
    if (version == 1 || layerBits == 0 || bitRateIndex == 0 || bitRateIndex == 15 || rateIndex == 3)
        return false;
    out.version = version;
    out.layer = 4 - layerBits;
    out.padding = (header >> 9) & 1;
    const bool mpeg1 = version == 3;
    out.bitRateKbps = kMpegBitRates[mpeg1 ? 0 : 1][out.layer - 1][bitRateIndex];
    int divisor = version == 3 ? 1 : version == 2 ? 2 : 4;
    out.sampleRate = kMpeg1SampleRates[rateIndex] / divisor;
    const uint32_t bitsPerSecond = static_cast<uint32_t>(out.bitRateKbps) * 1000u;
    const uint32_t rate = static_cast<uint32_t>(out.sampleRate);
    switch (out.layer) {
    case 1:
        out.frameLength = (12 * bitsPerSecond / rate + out.padding) * 4;
        out.samples = 384;
        break;
    case 2:
        out.frameLength = 144 * bitsPerSecond / rate + out.padding;
        out.samples = 1152;
        break;
    default:
        out.frameLength = (mpeg1 ? 144 : 72) * bitsPerSecond / rate + out.padding;
        out.samples = mpeg1 ? 1152 : 576;
        break;
    }
    return true;
}

AudioStream::AudioStream(FileBitReader* reader, Multiplexor* mux)
    : ElementaryStream(reader, mux, Kind::Audio, kAudioRefillCount) {}

bool AudioStream::RunOutFinished() const {
    if (bytesNotSent_ == 0) return true;
    if (!mux_->RunningOut()) return false;
    // A frame already begun is finished first: leaving its rest behind would end the stream
    // on a cut frame.
    const bool frameBegun = bytesNotSent_ < current_.length;
    return !frameBegun && LeftOutOfRunOut(current_);
}

bool AudioStream::LeftOutOfRunOut(const AccessUnit& unit) const {
    const int64_t start = unit.pts + offset_;
    if (!mux_->FinalRunOut()) return start >= mux_->RunOutPts();
    const int64_t length = static_cast<int64_t>(uint64_t(frameSamples_) * static_cast<uint64_t>(kClock) / SampleRateOrOne());
    return start + length > mux_->RunOutPts();
}

bool AudioStream::ScanFirstFrame() { return ScanFrame() && ring_.Waiting() == 1; }

bool AudioStream::ScanFrame() {
    if (reader_->Exhausted()) {
        ended_ = true;
        return false;
    }
    const int64_t pts = static_cast<int64_t>(samplesBefore_ * static_cast<uint64_t>(kClock) / SampleRateOrOne());
    const int64_t runLimit = mux_->Params().runLimit;
    if (runLimit != 0 && frameNumber_ > 0 && pts >= runLimit) {
        ended_ = true;
        return false;
    }
    const uint64_t start = reader_->BitPosition() / 8;
    AudioFrame frame;
    if (!ReadFrameHeader(frame)) return EndAtBadHeader(start);
    reader_->AlignToByte();
    const uint64_t consumed = reader_->BitPosition() / 8 - start;
    if (frame.length < consumed || frame.samples == 0) return EndAtBadHeader(start);
    reader_->SkipBytes(frame.length - consumed);
    if (reader_->BitPosition() / 8 != start + frame.length) {
        // The file ends inside this frame: it is dropped.
        ended_ = true;
        return false;
    }
    AccessUnit unit;
    unit.start = start;
    unit.length = frame.length;
    unit.pts = unit.dts = static_cast<int64_t>(samplesBefore_ * static_cast<uint64_t>(kClock) / SampleRateOrOne());
    unit.decodeIndex = frameNumber_;
    AppendUnit(unit);
    ++frameNumber_;
    ++unitsScanned_;
    samplesBefore_ += frame.samples;
    frameSamples_ = frame.samples;
    return true;
}

bool AudioStream::EndAtBadHeader(uint64_t frameStart) {
    ended_ = true;
    if (FrameHeaderBytes() > 0 && frameNumber_ > 0 && !reader_->Exhausted()) {
        lostSync_ = true;
        lostSyncAt_ = frameStart;
    }
    return false;
}

void AudioStream::ScanUnits(unsigned count) {
    const unsigned target = unitsScanned_ + count;
    while (!ended_ && unitsScanned_ < target && ScanFrame()) {
    }
}

size_t AudioStream::KeepFrameHeadersWhole(size_t take) const {
    const size_t header = FrameHeaderBytes();
    size_t start = bytesNotSent_;  // where the next frame starts, counted from the cursor
    for (size_t i = 0; start < take; ++i) {
        if (start + header > take) return start;
        const AccessUnit* unit = ring_.Peek(i);
        if (unit == nullptr) break;
        start += unit->length;
    }
    return take;
}

size_t AudioStream::WriteSector() {
    const AccessUnit* next = PeekNextAccessUnit();
    size_t limit = 0;  // file bytes this packet may carry at most; 0 = no bound
    if (next == nullptr) {
        limit = bytesNotSent_;
    } else if (mux_->RunningOut()) {
        limit = BytesBeforeUnit([&](const AccessUnit& unit) { return LeftOutOfRunOut(unit); });
    }
    // The file bytes a packet with or without a timestamp carries.
    auto take = [&](bool pts) {
        const int space = mux_->PacketPayloadFor(*this, buffersThisPacket_, pts, false);
        size_t bytes = space > 0 ? UsableAudioBytes(static_cast<size_t>(space)) : 0;
        if (limit != 0) bytes = std::min(bytes, limit);
        return KeepFrameHeadersWhole(bytes);
    };
    const size_t header = static_cast<size_t>(SubstreamHeaderSize());
    auto write = [&](size_t bytes, int64_t pts, TimestampKind kind) {
        return mux_->WriteStreamSector(header + PacketBytesOf(bytes), *this, buffersThisPacket_, pts, 0, kind);
    };

    size_t written;
    const size_t withPts = take(true);
    if (newUnitStartsNextPacket_) {
        written = write(withPts, current_.dts + offset_, kPtsOnly);
    } else if (next != nullptr && bytesNotSent_ < withPts) {
        // The next frame starts inside this packet and lends it its timestamp.
        written = write(withPts, next->dts + offset_, kPtsOnly);
    } else {
        written = write(take(false), 0, kNoTimestamps);
    }
    buffersThisPacket_ = buffersEveryPacket_;
    return written;
}

SubstreamAudioStream::SubstreamAudioStream(FileBitReader* reader, Multiplexor* mux, uint8_t substreamBase,
                                           SubstreamHeaderFormat format)
    : AudioStream(reader, mux), substreamBase_(substreamBase), format_(format) {}

namespace {

// Reads the header bytes of a sub-stream frame; the longest header of the formats is 10 bytes.
bool ReadSubstreamHeader(BitReader& reader, SubstreamHeaderFormat format, SubstreamFrameHeader& header) {
    uint8_t bytes[16];
    if (format.headerBytes > sizeof bytes) return false;
    for (size_t i = 0; i < format.headerBytes; ++i) bytes[i] = static_cast<uint8_t>(reader.ReadBits(8));
    return format.parse(bytes, header);
}

}  // namespace

bool SubstreamAudioStream::Detect(BitReader& reader, SubstreamHeaderFormat format) {
    SubstreamFrameHeader header;
    return ReadSubstreamHeader(reader, format, header);
}

bool SubstreamAudioStream::ReadFrameHeader(AudioFrame& frame) {
    SubstreamFrameHeader header;
    if (!ReadSubstreamHeader(*reader_, format_, header)) return false;
    if (sampleRate_ == 0) {
        sampleRate_ = static_cast<uint32_t>(header.sampleRate);
        bitRateKbps_ = static_cast<uint32_t>(header.bitRateKbps);
    } else if (static_cast<uint32_t>(header.sampleRate) != sampleRate_) {
        return false;
    }
    frame.length = header.frameLength;
    frame.samples = header.samples;
    return true;
}

bool SubstreamAudioStream::Open(int n) {
    const MuxParams& p = mux_->Params();
    audioNumber_ = n;
    Configure(kPrivateStream1, 1, 16384, p.zeroStuffing, p.buffersInAudioPackets, p.buffersEveryAudioPacket);
    return ScanFirstFrame();
}

size_t SubstreamAudioStream::ReadPayload(uint8_t* buffer, size_t maximum) {
    constexpr size_t kHeader = 4;
    if (maximum <= kHeader) return 0;
    const uint64_t from = reader_->PayloadCursor();
    const bool startsWithUnit = newUnitStartsNextPacket_;
    const uint32_t restOfCurrent = bytesNotSent_;
    size_t n = reader_->ReadBytes(buffer + kHeader, std::min(maximum - kHeader, ScannedBytesAhead()));
    reader_->DiscardBefore(from);
    if (n == 0) return 0;
    const unsigned started = RecordMuxed(n);
    // Offset of the first frame that starts here, counted from the pointer's last byte.
    const uint32_t firstOffset = (started > 0 && !startsWithUnit) ? restOfCurrent : 0;
    buffer[0] = static_cast<uint8_t>(substreamBase_ + audioNumber_);
    buffer[1] = static_cast<uint8_t>(std::min(started, 255u));
    PutBe16(buffer + 2, firstOffset + 1);
    return n + kHeader;
}

size_t MpegAudioStream::FrameHeaderBytes() const { return 4; }

bool MpegAudioStream::Detect(BitReader& reader) {
    MpegAudioHeader header;
    return ParseMpegAudioHeader(reader.ReadBits(32), header);
}

bool MpegAudioStream::Open(int n) {
    const MuxParams& p = mux_->Params();
    audioNumber_ = n;
    Configure(0xC0 + n, 0, p.mpegAudioBufferSize, p.zeroStuffing, p.buffersInAudioPackets,
              p.buffersEveryAudioPacket);
    return ScanFirstFrame();
}

bool MpegAudioStream::ReadFrameHeader(AudioFrame& frame) {
    MpegAudioHeader header;
    if (!ParseMpegAudioHeader(reader_->ReadBits(32), header)) return false;
    if (!haveFirst_) {
        first_ = header;
        haveFirst_ = true;
        sampleRate_ = static_cast<uint32_t>(header.sampleRate);
        bitRateKbps_ = static_cast<uint32_t>(header.bitRateKbps);
    } else if (header.version != first_.version || header.layer != first_.layer ||
               header.sampleRate != first_.sampleRate) {
        return false;
    }
    frame.length = header.frameLength;
    frame.samples = header.samples;
    return true;
}

}  // namespace psmux
