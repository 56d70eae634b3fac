#include "psmux/ac3_stream.h"

#include "psmux/byte_order.h"

namespace psmux {

namespace {

constexpr uint32_t kAc3Sync = 0x0B77;
constexpr size_t kAc3HeaderBytes = 6;  // sync, CRC, rate and size codes, bsid and bsmod
constexpr int kAc3SamplesPerFrame = 1536;
constexpr int kMaxAc3Bsid = 10;
constexpr int kAc3SampleRates[3] = {48000, 44100, 32000};
constexpr int kAc3BitRates[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160,
                                  192, 224, 256, 320, 384, 448, 512, 576, 640};
// Frame sizes in 16-bit words by [sample-rate code][frame-size code / 2].
constexpr int kAc3FrameWords[3][19] = {
    {64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 640, 768, 896, 1024, 1152, 1280},
    {69, 87, 104, 121, 139, 174, 208, 243, 278, 348, 417, 487, 557, 696, 835, 975, 1114, 1253, 1393},
    {96, 120, 144, 168, 192, 240, 288, 336, 384, 480, 576, 672, 768, 960, 1152, 1344, 1536, 1728, 1920},
};

}  // namespace

bool ParseAc3Header(const uint8_t* bytes, Ac3Header& out) {
    if (GetBe16(bytes) != kAc3Sync) return false;
    int rateCode = bytes[4] >> 6;
    int sizeCode = bytes[4] & 0x3F;
    int bsid = bytes[5] >> 3;
    if (rateCode == 3 || sizeCode >= 38 || bsid > kMaxAc3Bsid) return false;
    out.sampleRate = kAc3SampleRates[rateCode];
    out.bitRateKbps = kAc3BitRates[sizeCode / 2];
    out.frameLength = 2u * static_cast<uint32_t>(kAc3FrameWords[rateCode][sizeCode / 2]);
    if (rateCode == 1 && (sizeCode & 1)) out.frameLength += 2;
    out.samples = kAc3SamplesPerFrame;
    return true;
}

const SubstreamHeaderFormat kAc3HeaderFormat{kAc3HeaderBytes, ParseAc3Header};

Ac3Stream::Ac3Stream(FileBitReader* reader, Multiplexor* mux)
    : SubstreamAudioStream(reader, mux, 0x80, kAc3HeaderFormat) {}

}  // namespace psmux
