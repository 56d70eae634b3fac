#include "psmux/pes_stream.h"

#include <algorithm>
#include <cstring>

#include "psmux/multiplexer.h"

namespace psmux {

void PesStream::Configure(int id, int bufferScale, uint32_t bufferSize, int zeroStuffing,
                          bool buffersInFirstPacket, bool buffersInEveryPacket) {
    id_ = id;
    bufferScale_ = bufferScale;
    bufferSize_ = bufferSize;
    zeroStuffing_ = zeroStuffing;
    buffersThisPacket_ = buffersInFirstPacket;
    buffersEveryPacket_ = buffersInEveryPacket;
    buffer_.Init(bufferSize);
    newUnitStartsNextPacket_ = true;
}

PaddingStream::PaddingStream(int id, uint8_t fillByte, int zeroStuffing) : fillByte_(fillByte) {
    Configure(id, 0, 0, zeroStuffing, false, false);
}

size_t PaddingStream::ReadPayload(uint8_t* buffer, size_t maximum) {
    std::memset(buffer, fillByte_, maximum);
    return maximum;
}

PlaceholderStream::PlaceholderStream(int id, int bufferScale, uint32_t bufferSize) {
    Configure(id, bufferScale, bufferSize, 0, false, false);
}

void StdBufferModel::Add(uint32_t bytes, int64_t removalTime) {
    nodes_.push_back({bytes, removalTime});
    used_ += bytes;
}

void StdBufferModel::RemoveUpTo(int64_t scr) {
    while (!nodes_.empty() && nodes_.front().removalTime < scr) {
        used_ -= nodes_.front().bytes;
        nodes_.pop_front();
    }
}

namespace {
constexpr size_t kInitialRingSlots = 128;
}

AccessUnitRing::AccessUnitRing() : slots_(kInitialRingSlots) {}

void AccessUnitRing::Append(const AccessUnit& unit) {
    if (waiting_ == slots_.size()) {
        // Unwrap into a ring twice the size.
        std::vector<AccessUnit> grown(slots_.size() * 2);
        for (size_t i = 0; i < waiting_; ++i) grown[i] = slots_[(read_ + i) % slots_.size()];
        slots_.swap(grown);
        read_ = 0;
    }
    slots_[(read_ + waiting_) % slots_.size()] = unit;
    ++waiting_;
}

const AccessUnit* AccessUnitRing::Peek(size_t index) const {
    if (index >= waiting_) return nullptr;
    return &slots_[(read_ + index) % slots_.size()];
}

bool AccessUnitRing::Take(AccessUnit& unit) {
    if (waiting_ == 0) return false;
    unit = slots_[read_];
    read_ = (read_ + 1) % slots_.size();
    --waiting_;
    return true;
}

ElementaryStream::ElementaryStream(FileBitReader* reader, Multiplexor* mux, Kind kind,
                                   unsigned refillCount)
    : reader_(reader), mux_(mux), kind_(kind), refillCount_(refillCount) {}

void ElementaryStream::AppendUnit(const AccessUnit& unit) {
    // An empty unit would read as a completed stream.
    if (unit.length == 0) return;
    ring_.Append(unit);
    scannedEnd_ = unit.start + unit.length;
}

size_t ElementaryStream::ScannedBytesAhead() const {
    uint64_t cursor = reader_->PayloadCursor();
    return scannedEnd_ > cursor ? static_cast<size_t>(std::min<uint64_t>(scannedEnd_ - cursor, SIZE_MAX)) : 0;
}

size_t ElementaryStream::ReadPayload(uint8_t* buffer, size_t maximum) {
    uint64_t from = reader_->PayloadCursor();
    size_t n = reader_->ReadBytes(buffer, std::min(maximum, ScannedBytesAhead()));
    reader_->DiscardBefore(from);
    RecordMuxed(n);
    return n;
}

unsigned ElementaryStream::RecordMuxed(size_t n) {
    if (n == 0 || bytesNotSent_ == 0) return 0;
    unsigned unitsStarted = newUnitStartsNextPacket_ ? 1 : 0;
    int64_t removal = current_.dts + offset_;
    while (bytesNotSent_ < n) {
        buffer_.Add(bytesNotSent_, removal);
        mux_->NoteUnitDelivered(removal);
        n -= bytesNotSent_;
        if (!AdvanceAccessUnit()) return unitsStarted;
        ++unitsStarted;
        removal = current_.dts + offset_;
    }
    buffer_.Add(static_cast<uint32_t>(n), removal);
    if (n == bytesNotSent_) {
        mux_->NoteUnitDelivered(removal);
        newUnitStartsNextPacket_ = AdvanceAccessUnit();
    } else {
        bytesNotSent_ -= static_cast<uint32_t>(n);
        newUnitStartsNextPacket_ = false;
    }
    return unitsStarted;
}

bool ElementaryStream::CanMuxAt(int64_t) const {
    return !RunOutFinished() && buffer_.FreeSpace() > maxPacketPayload_;
}

bool ElementaryStream::TakeAccessUnit(AccessUnit& unit) {
    while (NeedsRefill()) ScanUnits(refillCount_);
    return ring_.Take(unit);
}

bool ElementaryStream::AdvanceAccessUnit() {
    if (!TakeAccessUnit(current_)) {
        bytesNotSent_ = 0;
        return false;
    }
    bytesNotSent_ = current_.length;
    return true;
}

int ElementaryStream::SectorSizeOfMux() const { return mux_->SectorSize(); }

bool ElementaryStream::NeedsRefill() const {
    if (ended_) return false;
    return ring_.Waiting() < refillCount_ ||
           ScannedBytesAhead() < static_cast<size_t>(SectorSizeOfMux());
}

size_t ElementaryStream::RefillAndWriteSector() {
    while (NeedsRefill()) ScanUnits(refillCount_);
    return WriteSector();
}

}  // namespace psmux
