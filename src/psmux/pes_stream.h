// Streams as the sector writer sees them, and the input-stream base that feeds them.
//
// A PesStream is a stream id with its decoder-buffer description. An ElementaryStream reads
// its file, keeps the access units its scanner found in a ring, hands out payload in file
// order and models the receiver's decoder buffer so the scheduler never overfills it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "psmux/bit_reader.h"

namespace psmux {

class Multiplexor;

// The receiver's decoder buffer: bytes enter with the time their unit is decoded and leave
// when the clock passes it.
class StdBufferModel {
public:
    void Init(uint32_t size) { size_ = size; Clear(); }
    void Add(uint32_t bytes, int64_t removalTime);
    // Frees the nodes due strictly before scr.
    void RemoveUpTo(int64_t scr);
    int64_t NextRemovalTime() const { return nodes_.empty() ? 0 : nodes_.front().removalTime; }
    int64_t FreeSpace() const { return static_cast<int64_t>(size_) - static_cast<int64_t>(used_); }
    void Clear() { nodes_.clear(); used_ = 0; }

private:
    struct Node {
        uint32_t bytes;
        int64_t removalTime;
    };
    uint32_t size_ = 0;
    uint64_t used_ = 0;
    std::deque<Node> nodes_;
};

class PesStream {
public:
    virtual ~PesStream() = default;
    // Writes at most `maximum` payload bytes; answers how many.
    virtual size_t ReadPayload(uint8_t* buffer, size_t maximum) = 0;
    // Bytes of a sub-stream header that the payload carries ahead of the stream's own bytes.
    virtual int SubstreamHeaderSize() const { return 0; }

    void Configure(int id, int bufferScale, uint32_t bufferSize, int zeroStuffing,
                   bool buffersInFirstPacket, bool buffersInEveryPacket);
    // The 13-bit STD buffer size field for the stream's scale.
    int StdBufferSizeField() const { return static_cast<int>(bufferScale_ == 0 ? bufferSize_ >> 7 : bufferSize_ >> 10); }

    int Id() const { return id_; }
    int BufferScale() const { return bufferScale_; }
    uint32_t BufferSize() const { return bufferSize_; }
    int ZeroStuffing() const { return zeroStuffing_; }
    int MaxPacketPayload() const { return maxPacketPayload_; }
    int MinPacketPayload() const { return minPacketPayload_; }
    void SetPacketPayloadBounds(int maximum, int minimum) {
        maxPacketPayload_ = maximum;
        minPacketPayload_ = minimum;
    }

protected:
    int id_ = 0;
    int bufferScale_ = 0;
    uint32_t bufferSize_ = 0;
    int zeroStuffing_ = 0;
    int maxPacketPayload_ = 0;
    int minPacketPayload_ = 0;
    bool buffersThisPacket_ = false;
    bool buffersEveryPacket_ = false;
    bool newUnitStartsNextPacket_ = true;
    StdBufferModel buffer_;
};

// Fills padding packets: zeros for padding sectors and the end sector, 0xFF for the filler of
// the two-sector prefix of the video-CD formats.
class PaddingStream : public PesStream {
public:
    PaddingStream(int id, uint8_t fillByte, int zeroStuffing);
    size_t ReadPayload(uint8_t* buffer, size_t maximum) override;

private:
    uint8_t fillByte_;
};

// Names an id and a buffer in the DVD system header; it never carries payload.
class PlaceholderStream : public PesStream {
public:
    PlaceholderStream(int id, int bufferScale, uint32_t bufferSize);
    size_t ReadPayload(uint8_t*, size_t) override { return 0; }
};

// Picture types of video units; audio units keep kNoPicture.
enum PictureType : uint32_t { kIPicture = 1, kPPicture = 2, kBPicture = 3, kDPicture = 4, kNoPicture = 5 };

struct AccessUnit {
    uint64_t start = 0;    // file offset of the first byte
    uint32_t length = 0;   // bytes
    int64_t pts = 0;       // ticks, without the stream's offset
    uint32_t decodeIndex = 0;
    int64_t dts = 0;
    uint32_t presentationIndex = 0;
    uint32_t type = kNoPicture;
    bool sequenceHeader = false;
    bool sequenceEnd = false;
};

// FIFO of scanned units. It grows instead of overwriting, so a scanner that finds more units
// in one call than expected cannot overrun it.
class AccessUnitRing {
public:
    AccessUnitRing();
    void Append(const AccessUnit& unit);
    size_t Waiting() const { return waiting_; }
    const AccessUnit* Peek(size_t index = 0) const;
    bool Take(AccessUnit& unit);

private:
    std::vector<AccessUnit> slots_;
    size_t read_ = 0;
    size_t waiting_ = 0;
};

class ElementaryStream : public PesStream {
public:
    enum class Kind { Audio, Video };

    ElementaryStream(FileBitReader* reader, Multiplexor* mux, Kind kind, unsigned refillCount);

    size_t ReadPayload(uint8_t* buffer, size_t maximum) override;

    virtual void Finish() {}
    virtual bool CanMuxAt(int64_t scr) const;
    virtual uint32_t BitRate() const = 0;
    virtual bool RunOutFinished() const = 0;
    virtual void ScanUnits(unsigned count) = 0;
    // Writes one sector (a navigation placeholder may precede it); answers the payload bytes.
    virtual size_t WriteSector() = 0;

    bool IsVideo() const { return kind_ == Kind::Video; }
    void DrainBufferTo(int64_t scr) { buffer_.RemoveUpTo(scr); }
    void ClearBufferModel() { buffer_.Clear(); }
    int64_t NextBufferRemovalTime() const { return buffer_.NextRemovalTime(); }
    bool IsComplete() const { return bytesNotSent_ == 0; }
    void SetTimestampOffset(int64_t ticks) { offset_ = ticks; }
    int64_t TimestampOffset() const { return offset_; }
    const AccessUnit& CurrentUnit() const { return current_; }
    const AccessUnit* PeekNextAccessUnit() const { return ring_.Peek(); }
    bool AdvanceAccessUnit();
    size_t RefillAndWriteSector();
    bool NeedsRefill() const;
    bool ReadFailed() const { return reader_->ReadFailed(); }
    const std::string& FileName() const { return reader_->FileName(); }

protected:
    void AppendUnit(const AccessUnit& unit);
    // Enters n payload bytes into the buffer model with the decode times of their units and
    // moves through the units they complete; answers the units whose first byte was among them.
    unsigned RecordMuxed(size_t n);
    // Payload bytes that may be taken now: never past the end of the last scanned unit.
    size_t ScannedBytesAhead() const;
    bool TakeAccessUnit(AccessUnit& unit);
    // Bytes from the payload cursor to the first waiting unit that matches, when it starts
    // within one sector; 0 otherwise.
    template <typename Predicate>
    size_t BytesBeforeUnit(Predicate matches) const {
        size_t bytes = bytesNotSent_;
        for (size_t i = 0; bytes <= static_cast<size_t>(SectorSizeOfMux()); ++i) {
            const AccessUnit* unit = ring_.Peek(i);
            if (unit == nullptr) return 0;
            if (matches(*unit)) return bytes;
            bytes += unit->length;
        }
        return 0;
    }
    int SectorSizeOfMux() const;

    FileBitReader* reader_;
    Multiplexor* mux_;
    Kind kind_;
    unsigned refillCount_;
    unsigned unitsScanned_ = 0;
    bool ended_ = false;
    AccessUnitRing ring_;
    AccessUnit current_;
    int64_t offset_ = 0;
    uint32_t bytesNotSent_ = 0;
    uint64_t scannedEnd_ = 0;  // file offset after the last scanned unit
};

}  // namespace psmux
