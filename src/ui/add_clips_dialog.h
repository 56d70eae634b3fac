// The file dialog of File > Add Clip: several existing files at once, offered by the types the
// list has always named.
#pragma once

class QFileDialog;

namespace ui {

// Sets the title, the filters and the selection mode on dialog.
void ConfigureAddClipsDialog(QFileDialog& dialog);

}  // namespace ui
