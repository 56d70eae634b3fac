#include "ui/clip_list_form.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/control_ids.h"
#include "ui/path_text.h"
#include "ui/time_text.h"

namespace ui {

namespace {

struct Column {
    const char* header;
    int width;
    Qt::Alignment alignment;
};
constexpr Column kColumns[] = {
    {"File name", 180, Qt::AlignLeft},  {"Resolution", 100, Qt::AlignRight},
    {"Duration", 80, Qt::AlignRight},   {"Frames", 80, Qt::AlignRight},
    {"Start", 80, Qt::AlignRight},      {"End", 80, Qt::AlignRight},
};
constexpr int kColumnCount = int(std::size(kColumns));
constexpr int kFileNameColumn = 0;

QString Time(double seconds) { return QString::fromStdString(FormatClipTime(seconds)); }

QStringList RowTexts(const reader::ClipRecord& clip) {
    // The count shows as the list always showed it: its low 32 bits.
    const uint32_t frames = static_cast<uint32_t>(clip.FrameCount);
    return {QString::fromStdString(clip.Path),
            QStringLiteral("%1 x %2").arg(clip.Width).arg(clip.Height),
            Time(clip.VideoLength),
            frames == 0 ? QStringLiteral("NA") : QString::number(frames),
            Time(clip.RangeStart),
            Time(clip.RangeEnd)};
}

// Paints a path with the folder cut first, so the file's name stays in sight however narrow
// the column (the style's own eliding would cut the name).
class FileNameDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem shown(option);
        initStyleOption(&shown, index);
        const QWidget* widget = shown.widget;
        const QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &shown, widget);
        // The style keeps this margin on either side of an item's text.
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        shown.text = ElideFolderFirst(shown.text, shown.fontMetrics, textRect.width() - 2 * margin);
        style->drawControl(QStyle::CE_ItemViewItem, &shown, painter, widget);
    }
};

}  // namespace

ClipListForm::ClipListForm(QWidget* parent) : QWidget(parent) {
    list_ = new QTableWidget(0, kColumnCount, this);
    list_->setObjectName(ids::Name(ids::kClipList));
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setShowGrid(true);
    list_->setWordWrap(false);
    list_->verticalHeader()->hide();
    list_->horizontalHeader()->setHighlightSections(false);
    list_->horizontalHeader()->setStretchLastSection(false);
    list_->setIconSize(QSize(16, 16));
    for (int c = 0; c < kColumnCount; ++c) {
        auto* header = new QTableWidgetItem(kColumns[c].header);
        header->setTextAlignment(kColumns[c].alignment | Qt::AlignVCenter);
        list_->setHorizontalHeaderItem(c, header);
        list_->setColumnWidth(c, kColumns[c].width);
    }
    // The file's column takes what the window gives beyond the fixed columns.
    list_->horizontalHeader()->setSectionResizeMode(kFileNameColumn, QHeaderView::Stretch);
    list_->setItemDelegateForColumn(kFileNameColumn, new FileNameDelegate(list_));
    list_->viewport()->installEventFilter(this);
    connect(list_, &QTableWidget::itemSelectionChanged, this, &ClipListForm::SelectionChanged);

    status_ = new QLabel(this);
    status_->setObjectName(ids::Name(ids::kStatusText));
    status_->setTextFormat(Qt::PlainText);
    status_->setMinimumWidth(1);  // a long folder name must not widen the window
    // The end of a job names what it kept and the output folder: all of it must be readable,
    // so the text wraps (a path also after its slashes).
    status_->setWordWrap(true);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(ids::Name(ids::kProgressBar));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(list_, 1);
    layout->addWidget(status_);
    layout->addWidget(progress_);
}

bool ClipListForm::eventFilter(QObject* watched, QEvent* event) {
    // A click on the empty part of the list drops the selection, as list views do.
    if (watched == list_->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto* click = static_cast<QMouseEvent*>(event);
        if (!list_->indexAt(click->position().toPoint()).isValid()) list_->clearSelection();
    }
    return QWidget::eventFilter(watched, event);
}

void ClipListForm::InsertClipRow(const reader::ClipRecord& clip, int index) {
    if (index < 0 || index > RowCount()) index = RowCount();
    const bool blocked = list_->blockSignals(true);  // an insert is no user selection
    list_->insertRow(index);
    for (int c = 0; c < kColumnCount; ++c) {
        auto* item = new QTableWidgetItem;
        item->setTextAlignment(kColumns[c].alignment | Qt::AlignVCenter);
        list_->setItem(index, c, item);
    }
    static const QFileIconProvider icons;
    list_->item(index, kFileNameColumn)
        ->setIcon(icons.icon(QFileInfo(QString::fromStdString(clip.Path))));
    list_->blockSignals(blocked);
    SetRowTexts(index, clip);
}

void ClipListForm::SetRowTexts(int row, const reader::ClipRecord& clip) {
    if (row < 0 || row >= RowCount()) return;
    const QStringList texts = RowTexts(clip);
    for (int c = 0; c < kColumnCount; ++c) {
        list_->item(row, c)->setText(texts[c]);
        list_->item(row, c)->setToolTip(c == kFileNameColumn ? texts[c] : QString());
    }
}

void ClipListForm::RemoveRow(int row) {
    if (row >= 0 && row < RowCount()) list_->removeRow(row);
}

int ClipListForm::RowCount() const { return list_->rowCount(); }

int ClipListForm::SelectedRow() const {
    const QList<QTableWidgetSelectionRange> ranges = list_->selectedRanges();
    return ranges.isEmpty() ? -1 : ranges.first().topRow();
}

void ClipListForm::ClearSelection() { list_->clearSelection(); }

void ClipListForm::SetStatusText(const QString& text) {
    status_->setText(text);
    // For a folder name too long for a line of its own, which no wrapping breaks.
    status_->setToolTip(text);
}

QString ClipListForm::StatusText() const { return status_->text(); }

}  // namespace ui
