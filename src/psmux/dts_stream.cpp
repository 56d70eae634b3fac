#include "psmux/dts_stream.h"

#include "psmux/byte_order.h"

namespace psmux {

namespace {

constexpr uint32_t kDtsSync = 0x7FFE8001;
constexpr size_t kDtsHeaderBytes = 10;
constexpr uint32_t kMinFrameBytes = 96;
constexpr uint32_t kMinSampleBlocks = 6;
// Sample frequencies by index; 0 marks an invalid index.
constexpr int kDtsSampleRates[16] = {0, 8000, 16000, 32000, 0, 0, 11025, 22050,
                                     44100, 0, 0, 12000, 24000, 48000, 0, 0};
// Bit rates in kbit/s by index (1411 stands for 1411.2); indexes 29 and up name none.
constexpr int kDtsBitRates[29] = {32, 56, 64, 96, 112, 128, 192, 224, 256, 320,
                                  384, 448, 512, 576, 640, 768, 960, 1024, 1152, 1280,
                                  1344, 1408, 1411, 1472, 1536, 1920, 2048, 3072, 3840};

}  // namespace

bool ParseDtsHeader(const uint8_t* bytes, DtsHeader& out) {
    if (GetBe32(bytes) != kDtsSync) return false;
    // Bits after the sync word: frame type 1, deficit samples 5, CRC flag 1, sample blocks 7,
    // frame size 14, channel arrangement 6, sample frequency 4, bit rate 5.
    uint64_t bits = 0;
    for (size_t i = 4; i < kDtsHeaderBytes; ++i) bits = bits << 8 | bytes[i];
    auto field = [&](int from, int width) {  // from: bit offset after the sync word
        return static_cast<uint32_t>((bits >> (48 - from - width)) & ((1u << width) - 1));
    };
    uint32_t blocks = field(7, 7) + 1;
    uint32_t frameSize = field(14, 14) + 1;
    uint32_t rateIndex = field(34, 4);
    uint32_t bitRateIndex = field(38, 5);
    if (blocks < kMinSampleBlocks || frameSize < kMinFrameBytes || kDtsSampleRates[rateIndex] == 0 ||
        bitRateIndex >= std::size(kDtsBitRates))
        return false;
    out.sampleRate = kDtsSampleRates[rateIndex];
    out.bitRateKbps = kDtsBitRates[bitRateIndex];
    out.frameLength = frameSize;
    out.samples = blocks * 32;
    return true;
}

const SubstreamHeaderFormat kDtsHeaderFormat{kDtsHeaderBytes, ParseDtsHeader};

DtsStream::DtsStream(FileBitReader* reader, Multiplexor* mux)
    : SubstreamAudioStream(reader, mux, 0x88, kDtsHeaderFormat) {}

}  // namespace psmux
