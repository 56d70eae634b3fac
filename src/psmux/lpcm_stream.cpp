#include "psmux/lpcm_stream.h"

#include <algorithm>
#include <cstring>

#include "psmux/byte_order.h"
#include "psmux/multiplexer.h"

namespace psmux {

namespace {

constexpr uint32_t kRiffTag = 0x52494646;  // "RIFF"
constexpr uint32_t kWaveTag = 0x57415645;  // "WAVE"
constexpr uint32_t kFmtTag = 0x666D7420;   // "fmt "
constexpr uint32_t kDataTag = 0x64617461;  // "data"
constexpr uint32_t kWavePcm = 1;
constexpr uint32_t kWaveExtensible = 0xFFFE;
constexpr uint32_t kFmtMinimumSize = 16;
constexpr int kUnitsPerSecond = 600;   // an LPCM unit is 1/600 s
constexpr int kFramesPerGroup = 2;     // 20- and 24-bit samples pack in pairs of sample frames
constexpr int kMostChannelsInPairedGroups = 2;
constexpr unsigned kFrameIndexModulus = 20;
constexpr uint8_t kNoDynamicRange = 0x80;

uint32_t ReadLe32(BitReader& reader) {
    uint8_t b[4];
    for (uint8_t& x : b) x = static_cast<uint8_t>(reader.ReadBits(8));
    return GetLe32(b);
}

}  // namespace

bool ReadWavHeader(BitReader& reader, uint64_t fileSize, WavFormat& out) {
    if (reader.ReadBits(32) != kRiffTag) return false;
    ReadLe32(reader);
    if (reader.ReadBits(32) != kWaveTag) return false;
    bool haveFormat = false;
    while (!reader.Exhausted()) {
        uint32_t tag = reader.ReadBits(32);
        uint64_t size = ReadLe32(reader);
        uint64_t bodyStart = reader.BitPosition() / 8;
        if (tag == kDataTag) {
            if (!haveFormat) return false;
            out.dataOffset = bodyStart;
            out.dataSize = std::min<uint64_t>(size, fileSize > bodyStart ? fileSize - bodyStart : 0);
            return true;
        }
        if (tag == kFmtTag) {
            if (size < kFmtMinimumSize) return false;
            uint8_t fmt[kFmtMinimumSize];
            for (uint8_t& x : fmt) x = static_cast<uint8_t>(reader.ReadBits(8));
            uint32_t formatTag = GetLe16(fmt);
            if (formatTag != kWavePcm && formatTag != kWaveExtensible) return false;
            out.channels = static_cast<int>(GetLe16(fmt + 2));
            out.sampleRate = static_cast<int>(GetLe32(fmt + 4));
            out.bitsPerSample = static_cast<int>(GetLe16(fmt + 14));
            out.containerBytes = (out.bitsPerSample + 7) / 8;
            uint32_t blockAlign = GetLe16(fmt + 12);
            if (out.channels <= 0 || blockAlign != static_cast<uint32_t>(out.channels * out.containerBytes))
                return false;
            haveFormat = true;
            reader.SkipBytes(size - kFmtMinimumSize + (size & 1));
        } else {
            reader.SkipBytes(size + (size & 1));  // chunks are padded to even sizes
        }
    }
    return false;
}

LpcmStream::LpcmStream(FileBitReader* reader, Multiplexor* mux, const LpcmParams* requested)
    : AudioStream(reader, mux), requested_(requested) {}

bool LpcmStream::Detect(const std::string& fileName) {
    size_t dot = fileName.rfind('.');
    return dot != std::string::npos && fileName.compare(dot + 1, std::string::npos, "wav") == 0;
}

bool LpcmStream::Open(int n) {
    const MuxParams& p = mux_->Params();
    audioNumber_ = n;
    Configure(kPrivateStream1, 1, 59392, p.zeroStuffing, p.buffersInAudioPackets, p.buffersEveryAudioPacket);
    if (!ReadWavHeader(*reader_, reader_->FileSize(), wav_)) return false;
    LpcmParams checked;
    if (!LpcmParams::Make(wav_.sampleRate, wav_.channels, wav_.bitsPerSample, checked)) return false;
    if (requested_ != nullptr &&
        (requested_->samplesPerSecond != wav_.sampleRate || requested_->channels != wav_.channels ||
         requested_->bitsPerSample != wav_.bitsPerSample)) {
        requestMismatch_ = true;
        return false;
    }
    if (wav_.bitsPerSample > 16 && wav_.channels > kMostChannelsInPairedGroups) {
        layoutUnsupported_ = true;
        return false;
    }
    sampleRate_ = static_cast<uint32_t>(wav_.sampleRate);
    bytesPerFrame_ = static_cast<size_t>(wav_.channels * wav_.containerBytes);
    reader_->ReadBytes(nullptr, static_cast<size_t>(wav_.dataOffset));
    return ScanFirstFrame();
}

uint32_t LpcmStream::BitRate() const {
    return static_cast<uint32_t>(wav_.sampleRate * wav_.channels * wav_.bitsPerSample);
}

size_t LpcmStream::GroupBytes() const { return bytesPerFrame_ * kFramesPerGroup; }

size_t LpcmStream::PackedGroupBytes() const {
    return static_cast<size_t>(wav_.channels * kFramesPerGroup * wav_.bitsPerSample / 8);
}

bool LpcmStream::ReadFrameHeader(AudioFrame& frame) {
    const uint64_t position = reader_->BitPosition() / 8;
    const uint64_t dataEnd = wav_.dataOffset + wav_.dataSize;
    if (position >= dataEnd) return false;
    const uint64_t unitBytes = static_cast<uint64_t>(wav_.sampleRate / kUnitsPerSecond) * bytesPerFrame_;
    uint64_t length = std::min(unitBytes, dataEnd - position);
    length -= length % GroupBytes();  // a trailing part of a group is dropped
    if (length == 0) return false;
    frame.length = static_cast<uint32_t>(length);
    frame.samples = static_cast<uint32_t>(length / bytesPerFrame_);
    return true;
}

size_t LpcmStream::UsableAudioBytes(size_t space) const { return space / PackedGroupBytes() * GroupBytes(); }

size_t LpcmStream::PacketBytesOf(size_t fileBytes) const { return fileBytes / GroupBytes() * PackedGroupBytes(); }

size_t LpcmStream::PackSamples(const uint8_t* in, size_t length, uint8_t* out) const {
    if (wav_.containerBytes == 2) {
        for (size_t i = 0; i + 1 < length; i += 2) {
            out[i] = in[i + 1];
            out[i + 1] = in[i];
        }
        return length;
    }
    // Per group of two sample frames: the upper 16 bits of every sample, big-endian, then the
    // rest of each sample: its low byte (24 bits) or, two to a byte, its low nibble (20 bits,
    // which the file holds left-justified in 3 bytes).
    const size_t group = GroupBytes();
    const size_t samples = group / 3;
    const bool twentyBits = wav_.bitsPerSample == 20;
    size_t packed = 0;
    for (size_t at = 0; at + group <= length; at += group) {
        const uint8_t* from = in + at;
        uint8_t* to = out + packed;
        for (size_t s = 0; s < samples; ++s) {
            to[2 * s] = from[3 * s + 2];
            to[2 * s + 1] = from[3 * s + 1];
        }
        uint8_t* rest = to + 2 * samples;
        if (twentyBits) {
            for (size_t s = 0; s < samples; s += 2)
                rest[s / 2] = static_cast<uint8_t>((from[3 * s] & 0xF0) | from[3 * (s + 1)] >> 4);
        } else {
            for (size_t s = 0; s < samples; ++s) rest[s] = from[3 * s];
        }
        packed += PackedGroupBytes();
    }
    return packed;
}

size_t LpcmStream::ReadPayload(uint8_t* buffer, size_t maximum) {
    constexpr size_t kHeader = 7;
    if (maximum <= kHeader) return 0;
    const uint64_t from = reader_->PayloadCursor();
    const bool startsWithUnit = newUnitStartsNextPacket_;
    const uint32_t restOfCurrent = bytesNotSent_;
    const uint32_t firstIndex = startsWithUnit ? current_.decodeIndex : current_.decodeIndex + 1;
    const size_t ahead = ScannedBytesAhead();
    size_t want = std::min(UsableAudioBytes(maximum - kHeader), ahead - ahead % GroupBytes());
    // 20-bit samples take less room packed than in the file, so they are read aside first.
    if (fileBytes_.size() < want) fileBytes_.resize(want);
    size_t n = reader_->ReadBytes(fileBytes_.data(), want);
    reader_->DiscardBefore(from);
    if (n == 0) return 0;
    const size_t packed = PackSamples(fileBytes_.data(), n, buffer + kHeader);
    const unsigned started = RecordMuxed(n);
    const uint32_t firstOffset =
        (started > 0 && !startsWithUnit) ? static_cast<uint32_t>(PacketBytesOf(restOfCurrent)) : 0;
    const int bitsCode = wav_.bitsPerSample == 16 ? 0 : wav_.bitsPerSample == 20 ? 1 : 2;
    buffer[0] = static_cast<uint8_t>(0xA0 + audioNumber_);
    buffer[1] = static_cast<uint8_t>(std::min(started, 255u));
    PutBe16(buffer + 2, firstOffset + 1);
    buffer[4] = static_cast<uint8_t>(firstIndex % kFrameIndexModulus);
    buffer[5] = static_cast<uint8_t>(bitsCode << 6 | (wav_.sampleRate != 48000 ? 1 : 0) << 4 | (wav_.channels - 1));
    buffer[6] = kNoDynamicRange;
    return packed + kHeader;
}

}  // namespace psmux
