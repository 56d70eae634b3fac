#include "psmux/stills_stream.h"

#include "psmux/byte_order.h"
#include "psmux/multiplexer.h"

namespace psmux {

namespace {
constexpr uint32_t kVcdStillsBuffer = 46 * 1024;
constexpr uint32_t kSvcdStillsBuffer = 230 * 1024;
constexpr uint32_t kVbvUnitBytes = 2048;
constexpr unsigned kVcdStandardWidth = 352;
constexpr int kStandardStillsId = 0xE1;
constexpr int kHighResolutionStillsId = 0xE2;
}  // namespace

bool StillsStream::Open(int n) {
    if (!VideoStream::Open(n)) return false;
    ConfigureStills();
    return true;
}

void StillsStream::ComputeDtsPts(AccessUnit& unit) {
    const int muxRate = mux_->Params().dataRate;
    const int64_t delivery = static_cast<int64_t>(bufferSize_) * kClock / (muxRate > 0 ? muxRate : 1);
    const int64_t frame = static_cast<int64_t>(kClock / frameRate_);
    // The run's start-up delay already lets the first still's buffer fill.
    unit.dts = unitsScanned_ == 0 ? 0 : lastPts_ + delivery;
    unit.pts = unit.dts + frame;
    lastPts_ = unit.pts;
    fieldsDecoded_ += 2;
    presentationEnd_ = unit.pts + frame;
}

bool VcdStillsStream::IsStandardSize() const { return horizontalSize_ <= kVcdStandardWidth; }

const char* VcdStillsStream::SizeName() const { return IsStandardSize() ? "standard" : "high-resolution"; }

void VcdStillsStream::ConfigureStills() {
    const MuxParams& p = mux_->Params();
    const bool standard = IsStandardSize();
    Configure(standard ? kStandardStillsId : kHighResolutionStillsId, 1,
              standard ? kVcdStillsBuffer : vbvBufferSize_ * kVbvUnitBytes, 0, p.buffersInVideoPackets,
              p.buffersEveryVideoPacket);
}

bool VcdStillsStream::CanMuxAt(int64_t scr) const {
    if (!StillsStream::CanMuxAt(scr)) return false;
    return sibling_ == nullptr || sibling_->IsComplete() ||
           CurrentUnit().decodeIndex <= sibling_->CurrentUnit().decodeIndex;
}

void SvcdStillsStream::ConfigureStills() {
    const MuxParams& p = mux_->Params();
    Configure(kStandardStillsId, 1, kSvcdStillsBuffer, 0, p.buffersInVideoPackets, p.buffersEveryVideoPacket);
}

}  // namespace psmux
