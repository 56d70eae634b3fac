#include "ui/add_clips_dialog.h"

#include <QFileDialog>

namespace ui {

void ConfigureAddClipsDialog(QFileDialog& dialog) {
    dialog.setWindowTitle("Choose Source Video Files");
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Each filter shows its own text; the patterns the dialog matches by follow in a second
    // pair of parentheses, which it hides (it reads only blank-separated patterns, and "*.*"
    // would leave out files without an extension).
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters({"Video files (*.avi;*.asf;*.mpg;*.vob;*.wmv) (*.avi *.asf *.mpg *.vob *.wmv)",
                           "All Files (*.*) (*)"});
}

}  // namespace ui
