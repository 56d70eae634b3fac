// How the window writes times: "%d:%02d:%02d", each part truncated, hours without a limit.
#pragma once

#include <string>

namespace ui {

std::string FormatClipTime(double seconds);

}  // namespace ui
