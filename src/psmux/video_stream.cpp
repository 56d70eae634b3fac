#include "psmux/video_stream.h"

#include <algorithm>

#include "platform/event.h"
#include "platform/progress.h"
#include "psmux/byte_order.h"
#include "psmux/multiplexer.h"

namespace psmux {

namespace {

constexpr size_t kVideoReaderBuffer = 4 * 1024 * 1024;  // the scanner runs 6 pictures ahead
constexpr uint64_t kStartCodeSearchLimit = 2 * 1024 * 1024;
constexpr uint64_t kPictureExtensionSearchLimit = 64;
constexpr unsigned kPictureCodingExtensionId = 8;
constexpr unsigned kFramePicture = 3;
constexpr uint32_t kFirstSliceStartCode = 0x101;
constexpr uint32_t kLastSliceStartCode = 0x1AF;
constexpr unsigned kMacroblockLines = 16;
constexpr uint32_t kBitRateUnspecified = 0x3FFFF;
constexpr double kFieldClock = kClock / 2.0;
// Far above any picture a decoder buffer can hold; a longer run without a unit boundary is not
// video, and holding it would only fill memory.
constexpr uint64_t kMaxUnitBytes = 8 * 1024 * 1024;

struct Ratio {
    int numerator;
    int denominator;
};
constexpr Ratio kFrameRates[] = {{0, 0},     {24000, 1001}, {24, 1}, {25, 1}, {30000, 1001},
                                 {30, 1},    {50, 1},       {60000, 1001}, {60, 1}};

}  // namespace

double FrameRateFromCode(unsigned code) {
    if (code == 0 || code >= std::size(kFrameRates)) return 0.0;
    return static_cast<double>(kFrameRates[code].numerator) / kFrameRates[code].denominator;
}

VideoStream::VideoStream(FileBitReader* reader, const VideoParams& params, Multiplexor* mux)
    : ElementaryStream(reader, mux, Kind::Video, 6), params_(params) {}

bool VideoStream::Detect(BitReader& reader) { return reader.ReadBits(32) == kSequenceHeaderCode; }

bool VideoStream::Open(int n) {
    const MuxParams& p = mux_->Params();
    Configure(0xE0 + n, 1, params_.decoderBufferKb * 1024u, 0, p.buffersInVideoPackets,
              p.buffersEveryVideoPacket);
    fileSize_ = reader_->FileSize();
    reader_->ResizeBuffer(kVideoReaderBuffer);
    if (reader_->ReadBits(32) != kSequenceHeaderCode) return false;
    horizontalSize_ = reader_->ReadBits(12);
    verticalSize_ = reader_->ReadBits(12);
    reader_->ReadBits(4);   // aspect ratio code
    const unsigned frameRateCode = reader_->ReadBits(4);
    bitRate_ = reader_->ReadBits(18);
    reader_->ReadBit();  // marker; a cleared one is tolerated
    vbvBufferSize_ = reader_->ReadBits(10);
    reader_->ReadBit();  // constrained parameters flag
    double rate = FrameRateFromCode(frameRateCode);
    frameRate_ = rate > 0.0 ? rate : 25.0;
    if (bitRate_ == kBitRateUnspecified) bitRate_ = 0;
    openingCode_ = kSequenceHeaderCode;
    unitStart_ = 0;
    unitOpen_ = false;
    return true;
}

void VideoStream::ComputeMaxBufferDelay(int muxRate) {
    double x = static_cast<double>(bufferSize_) / muxRate;
    double d = x > 1.0 ? kClock * x : static_cast<double>(kClock);
    delayLimit_ = frameRate_ > 10.0 ? static_cast<int64_t>(d * (frameRate_ - 1.5) / frameRate_)
                                    : static_cast<int64_t>(d / frameRate_ * 10.0);
}

uint32_t VideoStream::BitRate() const {
    if (bitRate_ != 0 || unitsScanned_ == 0) return bitRate_ * 400;
    const double bitsPerSecond = static_cast<double>(scannedEnd_) * 8.0 * frameRate_ / unitsScanned_;
    return static_cast<uint32_t>(std::min(bitsPerSecond, 4.0e9));
}

bool VideoStream::CanMuxAt(int64_t scr) const {
    return ElementaryStream::CanMuxAt(scr) && current_.dts + offset_ < scr + delayLimit_;
}

bool VideoStream::RunOutFinished() const {
    if (bytesNotSent_ == 0) return true;
    if (!mux_->RunningOut() || current_.type != kIPicture) return false;
    return current_.pts + offset_ >= mux_->RunOutPts();
}

void VideoStream::ReportProgress() {
    if (fileSize_ == 0) return;
    double done = static_cast<double>(reader_->PayloadCursor()) / static_cast<double>(fileSize_) * 100.0;
    platform::SendProgress(mux_->Progress(), static_cast<int>(done));
}

void VideoStream::ScanUnits(unsigned count) {
    if (ended_) return;
    if (platform::IsCancelled(mux_->Cancel())) {
        ended_ = true;
        return;
    }
    ReportProgress();
    const unsigned target = unitsScanned_ + count;
    const int64_t runLimit = mux_->Params().runLimit;
    while (unitsScanned_ < target) {
        if (runLimit != 0 && unitOpen_ && building_.pts >= runLimit) {
            ended_ = true;
            return;
        }
        if (reader_->BitPosition() / 8 - unitStart_ > kMaxUnitBytes) {
            ended_ = true;
            return;
        }
        if (!reader_->FindSyncWord(kStartCodePrefix, 24, kStartCodeSearchLimit)) break;
        if (reader_->Exhausted()) break;
        uint32_t code = 0x100 | reader_->ReadBits(8);
        HandleStartCode(code, reader_->BitPosition() / 8 - 4);
    }
    if (reader_->Exhausted()) {
        // An encoder that writes no sequence end code still ends its last picture at the end
        // of the file; a file cut inside a picture does not.
        if (unitOpen_ && OpenPictureHasAllSlices()) CloseUnit(reader_->BitPosition() / 8, false);
        unitOpen_ = false;
        ended_ = true;
    }
}

void VideoStream::HandleStartCode(uint32_t code, uint64_t position) {
    if (unitOpen_) {
        if (code == kPictureStartCode || code == kSequenceHeaderCode || code == kGroupStartCode) {
            CloseUnit(position, false);
            unitStart_ = position;
            openingCode_ = code;
        } else if (code == kSequenceEndCode) {
            // The end code belongs to the picture before it; whatever follows starts the next
            // unit, whether or not it is a sequence header.
            CloseUnit(position + 4, true);
            unitStart_ = position + 4;
            openingCode_ = kSequenceEndCode;
        }
    } else if (code == kSequenceHeaderCode && position == unitStart_) {
        openingCode_ = code;
    }
    if (code == kPictureStartCode) StartPicture();
    if (code >= kFirstSliceStartCode && code <= kLastSliceStartCode)
        lastSliceRow_ = std::max(lastSliceRow_, code - kPictureStartCode);
    if (code == kExtensionStartCode) mpeg2Syntax_ = true;
}

bool VideoStream::OpenPictureHasAllSlices() const {
    // An MPEG-1 slice may run over several rows.
    if (!mpeg2Syntax_) return true;
    // MPEG-2 starts a slice on every macroblock row and numbers the rows from 1; the rows of
    // an interlaced frame may be one more than this, so a picture that reaches it may still
    // lack a row, but one that does not is certainly cut.
    const unsigned lines = pictureStructure_ == kFramePicture ? verticalSize_ : (verticalSize_ + 1) / 2;
    return lastSliceRow_ >= (lines + kMacroblockLines - 1) / kMacroblockLines;
}

void VideoStream::CloseUnit(uint64_t endByte, bool sequenceEnd) {
    building_.start = unitStart_;
    building_.length = static_cast<uint32_t>(endByte - unitStart_);
    building_.sequenceEnd = sequenceEnd;
    AppendUnit(building_);
    ++unitsScanned_;
    unitOpen_ = false;
}

void VideoStream::StartPicture() {
    previousTemporalReference_ = temporalReference_;
    temporalReference_ = reader_->ReadBits(10);
    uint32_t type = reader_->ReadBits(3);

    pictureStructure_ = kFramePicture;
    repeatFirstField_ = 0;
    lastSliceRow_ = 0;
    // The picture coding extension follows the picture header directly; when the next start
    // code is anything else, go back so that it is not skipped.
    BitReaderMark mark;
    reader_->SaveMark(mark);
    if (reader_->FindSyncWord(kStartCodePrefix, 24, kPictureExtensionSearchLimit) &&
        reader_->ReadBits(8) == (kExtensionStartCode & 0xFF) &&
        reader_->ReadBits(4) == kPictureCodingExtensionId) {
        reader_->ReadBits(16);  // f-codes
        reader_->ReadBits(2);   // intra DC precision
        unsigned structure = reader_->ReadBits(2);
        pictureStructure_ = structure == 0 ? kFramePicture : structure;
        reader_->ReadBits(4);
        reader_->ReadBits(2);
        repeatFirstField_ = reader_->ReadBit();
        if (repeatFirstField_) anyRepeatFirstField_ = true;
    } else {
        reader_->RestoreMark(mark);
    }

    if (type == kIPicture) {
        fieldsAtLastI_ = fieldsDecoded_;
        lastIDecodeIndex_ = unitsScanned_;
    }
    building_ = AccessUnit{};
    building_.type = type;
    building_.decodeIndex = unitsScanned_;
    building_.presentationIndex = static_cast<uint32_t>(lastIDecodeIndex_ + temporalReference_);
    building_.sequenceHeader = openingCode_ == kSequenceHeaderCode;
    ComputeDtsPts(building_);
    unitOpen_ = true;
}

void VideoStream::ComputeDtsPts(AccessUnit& unit) {
    const double r = frameRate_;
    const int64_t t = temporalReference_;
    int64_t fields = 2;
    if (pictureStructure_ == kFramePicture && !anyRepeatFirstField_) {
        unit.dts = static_cast<int64_t>(unitsScanned_ / r * kClock);
        unit.pts = static_cast<int64_t>((lastIDecodeIndex_ + t + 1) / r * kClock);
        fieldsDecoded_ += 2;
    } else if (pictureStructure_ != kFramePicture) {
        unit.dts = static_cast<int64_t>(fieldsDecoded_ / r * kFieldClock);
        int64_t p = fieldsAtLastI_ + 2 * t + 1;
        if (temporalReference_ == previousTemporalReference_) ++p;  // second field of a frame
        unit.pts = static_cast<int64_t>(p / r * kFieldClock);
        fieldsDecoded_ += 1;
        fields = 1;
    } else {
        unit.dts = static_cast<int64_t>(fieldsDecoded_ / r * kFieldClock);
        int64_t p;
        if (repeatFirstField_) {
            p = fieldsAtLastI_ + 3 * (t / 2) + 2 * ((t + 1) / 2) + 1;
            fields = 3;
        } else {
            p = fieldsAtLastI_ + 3 * ((t + 1) / 2) + 2 * (t / 2) + 1;
        }
        unit.pts = static_cast<int64_t>(p / r * kFieldClock);
        fieldsDecoded_ += fields;
    }
    int64_t end = unit.pts + static_cast<int64_t>(fields / r * kFieldClock);
    if (end > presentationEnd_) presentationEnd_ = end;
}

size_t VideoStream::WriteUnitStart(const AccessUnit& unit, size_t limit) {
    const MuxParams& p = mux_->Params();
    TimestampKind kind = unit.type == kBPicture ? kPtsOnly : kPtsAndDts;
    if (p.timestampsOnIPicturesOnly && unit.type != kIPicture) kind = kNoTimestamps;
    bool buffers = buffersThisPacket_ && (!p.buffersOnIPicturesOnly || unit.type == kIPicture);
    return mux_->WriteStreamSector(limit, *this, buffers, unit.pts + offset_, unit.dts + offset_, kind);
}

size_t VideoStream::WriteSector() {
    const MuxParams& p = mux_->Params();
    const AccessUnit* next = PeekNextAccessUnit();
    // An I-picture (with alignment, or the first one past a run-out point) starts a sector of
    // its own, however many small pictures lie before it.
    size_t limit = BytesBeforeUnit([&](const AccessUnit& unit) {
        return unit.type == kIPicture &&
               (p.iPictureAlignment || (mux_->RunningOut() && unit.pts + offset_ >= mux_->RunOutPts()));
    });
    const size_t threshold =
        static_cast<size_t>(std::max(0, mux_->PacketPayloadFor(*this, buffersThisPacket_, true, true)));

    size_t written;
    if (newUnitStartsNextPacket_) {
        if (current_.type == kIPicture) WriteNavSector();
        if (p.timestampsEveryUnit && limit == 0) limit = bytesNotSent_;
        written = WriteUnitStart(current_, limit);
    } else if (bytesNotSent_ >= threshold || (limit != 0 && bytesNotSent_ >= limit) || next == nullptr) {
        written = mux_->WriteStreamSector(bytesNotSent_, *this, false, 0, 0, kNoTimestamps);
    } else {
        // The next picture starts inside this packet and lends it its timestamps.
        if (p.timestampsEveryUnit && limit == 0) limit = bytesNotSent_ + next->length;
        written = WriteUnitStart(*next, limit);
    }
    buffersThisPacket_ = buffersEveryPacket_;
    return written;
}

void DvdVideoStream::WriteNavSector() { mux_->WriteNavPlaceholder(); }

}  // namespace psmux
