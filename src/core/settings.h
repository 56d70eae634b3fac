// The block of encoding settings the whole job reads, with its defaults and its store.
#pragma once

#include <cstdint>
#include <string>

namespace core {

struct Settings {
    // User fields, stored under their own names.
    std::string OutputFolder;
    uint32_t DeleteTempFiles = 1;
    uint32_t Standard = 0;       // 0 NTSC, 1 PAL
    uint32_t BitrateType = 1;    // 0 constant, 1 variable
    uint32_t AspectRatio = 0;    // 0 4:3, 1 16:9 (stored only; the encoders always signal 4:3)
    uint32_t LetterBox = 0;      // 0 keep proportions and pad, 1 stretch
    uint32_t VideoResolutionIndex = 3;
    uint32_t GOPSizeIndex = 7;   // GOP size = index + 1
    uint32_t BFramesIndex = 2;   // consecutive B-pictures = index
    uint32_t Bitrate = 2400;     // kbit/s
    uint32_t MaxBitrate = 8000;  // kbit/s
    uint32_t MinBitrate = 1200;  // kbit/s
    uint32_t AudioFormat = 0;    // 0 MP2, 1 AC-3
    uint32_t AudioBitrateIndex = 13;
    uint32_t UseDES = 1;
    uint32_t DirectVOB = 0;

    // Derived by ApplyVideoStandard; never stored.
    int32_t OutputWidth = 0;
    int32_t OutputHeight = 0;
    uint32_t FrameRateNum = 0;
    uint32_t FrameRateDen = 0;
    uint32_t AudioKbps = 0;

    void SetDefaults();
    void Load();
    // Returns 0 on success, else the store's failure code.
    int Save() const;
    void ApplyVideoStandard();
};

// GOP sizes by GOPSizeIndex and B-picture counts by BFramesIndex.
constexpr int kGopSizeCount = 20;
constexpr int kBFramesCount = 7;
inline int GopSizeForIndex(uint32_t index) { return static_cast<int>(index) + 1; }
inline int BFramesForIndex(uint32_t index) { return static_cast<int>(index); }

}  // namespace core
