// The file dialog of File > Add Clip: several existing files at once, offered by the types the
// reader takes, in the folder the user last took clips from.
#pragma once

#include <QString>

class QFileDialog;

namespace ui {

// Sets the title, the filters, the selection mode and the folder it opens in on dialog.
void ConfigureAddClipsDialog(QFileDialog& dialog, const QString& folder);

// Where the first Add dialog of a session opens: the user's Videos folder, else the home folder.
QString DefaultClipsFolder();

}  // namespace ui
