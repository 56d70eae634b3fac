// The main window's client: the clips as rows of a list, the status text and the progress bar
// under it. The rows only show the job's clip list; the window keeps the two in step.
#pragma once

#include <QWidget>

#include "reader/clip_record.h"

class QLabel;
class QProgressBar;
class QTableWidget;

namespace ui {

class ClipListForm : public QWidget {
    Q_OBJECT

public:
    explicit ClipListForm(QWidget* parent);

    // Inserts an unselected row for clip at index; a negative index appends.
    void InsertClipRow(const reader::ClipRecord& clip, int index);
    // Writes the six texts of row from clip.
    void SetRowTexts(int row, const reader::ClipRecord& clip);
    void RemoveRow(int row);
    int RowCount() const;
    // The selected row, or -1.
    int SelectedRow() const;
    void ClearSelection();

    void SetStatusText(const QString& text);
    QString StatusText() const;
    QProgressBar* ProgressBar() const { return progress_; }
    QTableWidget* List() const { return list_; }

signals:
    // The user changed the selection (mouse or keyboard).
    void SelectionChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTableWidget* list_;
    QLabel* status_;
    QProgressBar* progress_;
};

}  // namespace ui
