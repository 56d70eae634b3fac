#include "ui/time_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "reader/clip_record.h"

namespace ui {

std::string FormatClipTime(double seconds) {
    // Negative, NaN and huge values still give a readable text: never a negative part, and
    // hours saturate instead of wrapping.
    const int64_t total = std::max<int64_t>(0, reader::TruncateToInt64(seconds));
    const int64_t hours = total / 3600;
    const int64_t minutes = (total - hours * 3600) / 60;
    const int64_t secs = total - hours * 3600 - minutes * 60;
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(hours),
                  static_cast<long long>(minutes), static_cast<long long>(secs));
    return text;
}

}  // namespace ui
