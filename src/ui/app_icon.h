// The program's icon, drawn rather than loaded so the binary needs no resource files.
#pragma once

#include <QIcon>

namespace ui {

const QIcon& AppIcon();

}  // namespace ui
