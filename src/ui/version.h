// The program's version as every window and the log show it.
#pragma once

namespace ui {

constexpr const char* kVersion = "2.11";

}  // namespace ui
