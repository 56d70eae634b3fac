#include "core/settings.h"

#include <cerrno>
#include <iterator>
#include <optional>

#include "platform/settings_store.h"

namespace core {

namespace {

// The store's folder-name limit counts UTF-16 units, terminator included, as the wide-character
// buffer the value was first read into did: a folder of 260 or more units is refused.
constexpr size_t kOutputFolderLimit = 260;

constexpr uint32_t kStandardNtsc = 0;
constexpr uint32_t kAudioFormatMp2 = 0;
constexpr uint32_t kAudioFormatAc3 = 1;

struct FrameSize {
    int32_t width;
    int32_t height;
};
constexpr FrameSize kNtscFrameSizes[] = {{352, 240}, {352, 480}, {704, 480}, {720, 480}};
constexpr FrameSize kPalFrameSizes[] = {{352, 288}, {352, 576}, {704, 576}, {720, 576}};
constexpr uint32_t kResolutionCount = std::size(kNtscFrameSizes);
constexpr uint32_t kDefaultResolutionIndex = 3;

constexpr uint32_t kMp2Kbps[] = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
constexpr uint32_t kAc3Kbps[] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                 192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr uint32_t kDefaultAudioBitrateIndex = 13;

// Length of text in UTF-16 units (a character beyond the basic plane takes two), or nothing
// when text is not valid UTF-8.
std::optional<size_t> CountUtf16Units(const std::string& text) {
    size_t count = 0;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t length;
        if (lead < 0x80) length = 1;
        else if ((lead & 0xE0) == 0xC0 && lead >= 0xC2) length = 2;
        else if ((lead & 0xF0) == 0xE0) length = 3;
        else if ((lead & 0xF8) == 0xF0 && lead <= 0xF4) length = 4;
        else return std::nullopt;
        if (i + length > text.size()) return std::nullopt;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return std::nullopt;
        i += length;
        count += length == 4 ? 2 : 1;
    }
    return count;
}

// A usable folder: a non-empty UTF-8 string short enough for the limit.
bool IsAcceptableFolder(const std::string& folder) {
    const std::optional<size_t> units = CountUtf16Units(folder);
    return units && *units > 0 && *units < kOutputFolderLimit;
}

std::optional<uint32_t> QueryNumber(const platform::SettingsStore& store, const char* name) {
    const std::optional<platform::StoredValue> value = store.Query(name);
    if (!value || value->type != platform::REG_DWORD) return std::nullopt;
    return value->number;
}

std::optional<std::string> QueryFolder(const platform::SettingsStore& store, const char* name) {
    const std::optional<platform::StoredValue> value = store.Query(name);
    if (!value) return std::nullopt;
    if (value->type != platform::REG_SZ && value->type != platform::REG_EXPAND_SZ)
        return std::nullopt;
    if (!IsAcceptableFolder(value->text)) return std::nullopt;
    return value->text;
}

// Loads name into field when stored as a number that passes accept.
template <typename Accept>
void LoadNumber(const platform::SettingsStore& store, const char* name, uint32_t& field,
                Accept accept) {
    if (const std::optional<uint32_t> value = QueryNumber(store, name); value && accept(*value))
        field = *value;
}

void LoadFlag(const platform::SettingsStore& store, const char* name, uint32_t& field) {
    if (const std::optional<uint32_t> value = QueryNumber(store, name)) field = *value ? 1 : 0;
}

auto Below(uint32_t limit) {
    return [limit](uint32_t value) { return value < limit; };
}
constexpr auto kAny = [](uint32_t) { return true; };

}  // namespace

void Settings::SetDefaults() {
    DeleteTempFiles = 1;
    Standard = kStandardNtsc;
    BitrateType = 1;
    AspectRatio = 0;
    LetterBox = 0;
    VideoResolutionIndex = kDefaultResolutionIndex;
    GOPSizeIndex = 7;
    BFramesIndex = 2;
    Bitrate = 2400;
    MaxBitrate = 8000;
    MinBitrate = 1200;
    AudioFormat = kAudioFormatMp2;
    AudioBitrateIndex = kDefaultAudioBitrateIndex;
    UseDES = 1;
    DirectVOB = 0;
}

void Settings::Load() {
    platform::SettingsStore store(platform::DefaultSettingsPath());
    if (store.Open() != 0) return;

    if (std::optional<std::string> folder = QueryFolder(store, "OutputFolder"))
        OutputFolder = std::move(*folder);

    // The order matters: the resolution is checked against the standard, and the audio
    // bit-rate index against the format, as loaded just before.
    LoadNumber(store, "Standard", Standard, Below(2));
    LoadFlag(store, "UseDES", UseDES);
    LoadFlag(store, "DirectVOB", DirectVOB);
    LoadNumber(store, "DeleteTempFiles", DeleteTempFiles, kAny);
    LoadNumber(store, "BitrateType", BitrateType, Below(2));
    LoadNumber(store, "Bitrate", Bitrate, kAny);
    LoadNumber(store, "MaxBitrate", MaxBitrate, kAny);
    LoadNumber(store, "MinBitrate", MinBitrate, kAny);
    LoadNumber(store, "AspectRatio", AspectRatio, Below(2));
    LoadNumber(store, "LetterBox", LetterBox, Below(2));
    LoadNumber(store, "GOPSizeIndex", GOPSizeIndex, Below(kGopSizeCount));
    LoadNumber(store, "BFramesIndex", BFramesIndex, Below(kBFramesCount));
    LoadNumber(store, "VideoResolutionIndex", VideoResolutionIndex, [this](uint32_t value) {
        return value < kResolutionCount && Standard < 2;
    });
    LoadNumber(store, "AudioFormat", AudioFormat, Below(2));
    LoadNumber(store, "AudioBitrateIndex", AudioBitrateIndex, [this](uint32_t value) {
        return (AudioFormat == kAudioFormatMp2 && value < std::size(kMp2Kbps)) ||
               (AudioFormat == kAudioFormatAc3 && value < std::size(kAc3Kbps));
    });
}

int Settings::Save() const {
    platform::SettingsStore store(platform::DefaultSettingsPath());
    // Values of other names in the file are kept; a file that exists but cannot be read is
    // left alone rather than replaced by one that would lose them.
    if (const int error = store.Open(); error != 0 && error != ENOENT) return error;

    store.SetString("OutputFolder", OutputFolder);
    store.SetNumber("Standard", Standard);
    store.SetNumber("UseDES", UseDES);
    store.SetNumber("DirectVOB", DirectVOB);
    store.SetNumber("DeleteTempFiles", DeleteTempFiles);
    store.SetNumber("BitrateType", BitrateType);
    store.SetNumber("Bitrate", Bitrate);
    store.SetNumber("MaxBitrate", MaxBitrate);
    store.SetNumber("MinBitrate", MinBitrate);
    store.SetNumber("AspectRatio", AspectRatio);
    store.SetNumber("LetterBox", LetterBox);
    store.SetNumber("VideoResolutionIndex", VideoResolutionIndex);
    store.SetNumber("AudioFormat", AudioFormat);
    store.SetNumber("AudioBitrateIndex", AudioBitrateIndex);
    store.SetNumber("GOPSizeIndex", GOPSizeIndex);
    store.SetNumber("BFramesIndex", BFramesIndex);
    return store.Commit();
}

void Settings::ApplyVideoStandard() {
    // Load and the dialog keep the indices in range; a block filled some other way must still
    // not read past a table, so an out-of-range index takes its default row.
    const uint32_t resolution =
        VideoResolutionIndex < kResolutionCount ? VideoResolutionIndex : kDefaultResolutionIndex;
    const FrameSize& size = Standard == kStandardNtsc ? kNtscFrameSizes[resolution]
                                                      : kPalFrameSizes[resolution];
    OutputWidth = size.width;
    OutputHeight = size.height;

    if (Standard == kStandardNtsc) {
        FrameRateNum = 30000;
        FrameRateDen = 1001;
    } else {
        FrameRateNum = 25;
        FrameRateDen = 1;
    }

    const bool mp2 = AudioFormat == kAudioFormatMp2;
    const uint32_t rows = mp2 ? std::size(kMp2Kbps) : std::size(kAc3Kbps);
    const uint32_t row = AudioBitrateIndex < rows ? AudioBitrateIndex : kDefaultAudioBitrateIndex;
    AudioKbps = mp2 ? kMp2Kbps[row] : kAc3Kbps[row];
}

}  // namespace core
