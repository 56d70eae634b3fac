#include "ui/settings_choices.h"

#include <algorithm>
#include <cstdio>

#include "core/encoder_dvd_video.h"
#include "core/settings.h"

namespace ui {

namespace {

// Past the end of a table the settings fall back to one of its rows, so the first value that
// repeats an earlier row marks the end. The bound only guards against a table that never ends.
template <typename Value, typename Read>
std::vector<Value> ReadTable(Read read) {
    constexpr uint32_t kLongestTable = 64;
    std::vector<Value> rows;
    for (uint32_t index = 0; index < kLongestTable; ++index) {
        Value value = read(index);
        if (std::find(rows.begin(), rows.end(), value) != rows.end()) break;
        rows.push_back(std::move(value));
    }
    return rows;
}

}  // namespace

std::vector<std::string> FrameSizeChoices(uint32_t standard) {
    return ReadTable<std::string>([standard](uint32_t index) {
        core::Settings probe;
        probe.Standard = standard == 0 ? 0 : 1;
        probe.VideoResolutionIndex = index;
        probe.ApplyVideoStandard();
        char text[32];
        std::snprintf(text, sizeof text, "%d x %d", probe.OutputWidth, probe.OutputHeight);
        return std::string(text);
    });
}

std::vector<int> GopSizeChoices(uint32_t standard) {
    core::Settings probe;
    probe.Standard = standard == 0 ? 0 : 1;
    const int longest =
        std::min(core::DvdGopLimit(probe), core::GopSizeForIndex(core::kGopSizeCount - 1));
    std::vector<int> rows;
    for (uint32_t index = 0; core::GopSizeForIndex(index) <= longest; ++index) {
        rows.push_back(core::GopSizeForIndex(index));
    }
    return rows;
}

std::vector<uint32_t> AudioBitrateChoices(uint32_t audioFormat) {
    return ReadTable<uint32_t>([audioFormat](uint32_t index) {
        core::Settings probe;
        probe.AudioFormat = audioFormat == 0 ? 0 : 1;
        probe.AudioBitrateIndex = index;
        probe.ApplyVideoStandard();
        return probe.AudioKbps;
    });
}

}  // namespace ui
