#include "ui/clip_range_dialog.h"

#include <algorithm>

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/message_box.h"
#include "ui/busy_cursor.h"
#include "ui/control_ids.h"
#include "ui/flat_button.h"
#include "ui/time_text.h"

namespace ui {

namespace {

constexpr int kSliderRange = 100;
constexpr int kTimerMs = 100;
constexpr QSize kVideoAreaSize(320, 240);

// a * b / c in 128 bits, 0 when c is not positive: positions times counts overflow 64 bits on
// long clips, and a clip the graph cannot measure has no duration to divide by.
int64_t MulDiv(int64_t a, int64_t b, int64_t c) {
    if (c <= 0) return 0;
    return static_cast<int64_t>(static_cast<__int128>(a) * b / c);
}

QString TimeText(double seconds) { return QString::fromStdString(FormatClipTime(seconds)); }

QLineEdit* ReadOnlyEdit(int id, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(ids::Name(id));
    edit->setReadOnly(true);
    edit->setAlignment(Qt::AlignCenter);
    edit->setMaximumWidth(90);
    return edit;
}

QPushButton* TextButton(int id, const char* text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(ids::Name(id));
    button->setAutoDefault(false);
    return button;
}

}  // namespace

// ---- PreviewArea -----------------------------------------------------------------------------

PreviewArea::PreviewArea(QWidget* parent) : QWidget(parent) {
    setObjectName(ids::Name(ids::kVideoArea));
    setMinimumSize(kVideoAreaSize);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PreviewArea::ShowPicture(const QImage& picture, double displayAspect) {
    picture_ = picture;
    displayAspect_ = displayAspect;
    update();
}

QRect PreviewArea::PictureRect() const {
    if (picture_.isNull()) return {};
    QSize shown = picture_.size();
    // Non-square pixels (a wide picture stored 720 across, say) are drawn at their own shape.
    if (displayAspect_ > 0.0) shown.setWidth(std::max(1, qRound(shown.height() * displayAspect_)));
    QRect target(QPoint(), shown.scaled(size(), Qt::KeepAspectRatio));
    target.moveCenter(rect().center());
    return target;
}

void PreviewArea::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!picture_.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(PictureRect(), picture_);
    }
    // A sunken edge: dark above and to the left, light below and to the right.
    const QRect edge = rect().adjusted(0, 0, -1, -1);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(edge.topLeft(), edge.topRight());
    painter.drawLine(edge.topLeft(), edge.bottomLeft());
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(edge.bottomLeft(), edge.bottomRight());
    painter.drawLine(edge.topRight(), edge.bottomRight());
}

// ---- RangeSlider -----------------------------------------------------------------------------

RangeSlider::RangeSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setObjectName(ids::Name(ids::kPositionSlider));
    setRange(0, kSliderRange);
    setTickPosition(QSlider::TicksBelow);
    setTickInterval(10);
    setPageStep(10);
}

void RangeSlider::SetSelection(int first, int last) {
    selectionStart_ = first;
    selectionEnd_ = last;
    update();
}

void RangeSlider::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const int span = groove.width();
    auto x = [&](int value) {
        return groove.left() + QStyle::sliderPositionFromValue(minimum(), maximum(), value, span);
    };
    const int first = std::clamp(std::min(selectionStart_, selectionEnd_), minimum(), maximum());
    const int last = std::clamp(std::max(selectionStart_, selectionEnd_), minimum(), maximum());
    QPainter painter(this);
    painter.fillRect(QRect(QPoint(x(first), groove.top() - 3), QPoint(x(last), groove.top() - 1)),
                     palette().color(QPalette::Highlight));
}

// ---- ClipRangeDlg ----------------------------------------------------------------------------

ClipRangeDlg::ClipRangeDlg(reader::ClipRecord& clip, QWidget* parent)
    : QDialog(parent),
      clip_(clip),
      player_([this](std::shared_ptr<const PreviewPicture> picture) {
          // From the streaming thread: the picture is shown on the dialog's thread.
          QMetaObject::invokeMethod(
              video_,
              [this, picture] {
                  QImage image(picture->bgr.data(), picture->width, picture->height,
                               picture->width * 3, QImage::Format_BGR888);
                  video_->ShowPicture(image.copy(), picture->displayAspect);
                  if (picture->onePicture) player_.EndOnePicture();
              },
              Qt::QueuedConnection);
      }) {
    setWindowTitle("Seleect source clip range");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    timer_ = new QTimer(this);
    timer_->setInterval(kTimerMs);
    connect(timer_, &QTimer::timeout, this, &ClipRangeDlg::Refresh);
    BuildControls();
    OpenClip();
}

ClipRangeDlg::~ClipRangeDlg() { TearDown(); }

FlatButton* ClipRangeDlg::AddTransportButton(int id, QStyle::StandardPixmap icon, const char* tip,
                                             void (ClipRangeDlg::*action)()) {
    auto* button = new FlatButton(this);
    button->setObjectName(ids::Name(id));
    button->SetIcon(style()->standardIcon(icon));
    button->SetFlat(false);
    button->SetTooltipText(tip, true);
    button->setFixedSize(28, 26);
    connect(button, &QPushButton::clicked, this, [this, action] { (this->*action)(); });
    return button;
}

void ClipRangeDlg::BuildControls() {
    video_ = new PreviewArea(this);
    slider_ = new RangeSlider(this);
    connect(slider_, &QSlider::sliderPressed, this, &ClipRangeDlg::OnSliderPressed);
    connect(slider_, &QSlider::sliderMoved, this, &ClipRangeDlg::OnSliderMoved);
    connect(slider_, &QSlider::sliderReleased, this, &ClipRangeDlg::OnSliderReleased);
    connect(slider_, &QSlider::actionTriggered, this, [this](int action) {
        // Keys and clicks on the groove move the slider without a drag.
        if (action != QAbstractSlider::SliderMove)
            QTimer::singleShot(0, this, [this] { OnSliderMoved(slider_->value()); });
    });

    auto* transport = new QHBoxLayout;
    transport->setSpacing(2);
    transport->addWidget(AddTransportButton(ids::kStepButton, QStyle::SP_MediaSeekForward, "Step",
                                            &ClipRangeDlg::OnStep));
    transport->addWidget(AddTransportButton(ids::kStepBackButton, QStyle::SP_MediaSeekBackward,
                                            "Step Back", &ClipRangeDlg::OnStepBack));
    transport->addWidget(AddTransportButton(ids::kPlayButton, QStyle::SP_MediaPlay, "Play",
                                            &ClipRangeDlg::OnPlay));
    transport->addWidget(AddTransportButton(ids::kPauseButton, QStyle::SP_MediaPause, "Pause",
                                            &ClipRangeDlg::OnPause));
    transport->addWidget(AddTransportButton(ids::kStopButton, QStyle::SP_MediaStop, "Stop",
                                            &ClipRangeDlg::OnStop));
    transport->addWidget(AddTransportButton(ids::kGotoBeginButton, QStyle::SP_MediaSkipBackward,
                                            "Goto Beginning", &ClipRangeDlg::OnGotoBeginning));
    transport->addWidget(AddTransportButton(ids::kGotoEndButton, QStyle::SP_MediaSkipForward,
                                            "Goto End", &ClipRangeDlg::OnGotoEnd));
    transport->addStretch();
    position_ = new QLabel("Info", this);
    position_->setObjectName(ids::Name(ids::kPositionText));
    transport->addWidget(position_);

    QPushButton* setStart = TextButton(ids::kSetStartButton, "Set Start", this);
    QPushButton* setEnd = TextButton(ids::kSetEndButton, "Set End", this);
    QPushButton* whole = TextButton(ids::kRangeDefaultButton, "Default", this);
    connect(setStart, &QPushButton::clicked, this, &ClipRangeDlg::OnSetStart);
    connect(setEnd, &QPushButton::clicked, this, &ClipRangeDlg::OnSetEnd);
    connect(whole, &QPushButton::clicked, this, &ClipRangeDlg::OnDefault);
    startEdit_ = ReadOnlyEdit(ids::kStartEdit, this);
    endEdit_ = ReadOnlyEdit(ids::kEndEdit, this);

    auto* ok = new QPushButton("OK", this);
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* marks = new QHBoxLayout;
    marks->addWidget(setStart);
    marks->addWidget(startEdit_);
    marks->addWidget(setEnd);
    marks->addWidget(endEdit_);
    marks->addWidget(whole);
    marks->addStretch();
    marks->addWidget(ok);
    marks->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(video_, 1);
    layout->addWidget(slider_);
    layout->addLayout(transport);
    layout->addLayout(marks);
}

void ClipRangeDlg::OpenClip() {
    // A clip the graph cannot play still opens the dialog; the transport then does nothing
    // and the marks keep the clip's range.
    {
        // A recording not read since it changed is read whole before it can be played.
        ScopedWaitCursor reading;
        player_.Open(clip_);
    }
    position_->setText("Position: 00m:00s");
    slider_->setValue(0);
    const bool measured = player_.Duration(duration_);
    if (!measured) duration_ = 0;
    slider_->setEnabled(measured && duration_ > 0);
    startMark_ = SecondsToMark(clip_.RangeStart);
    endMark_ = SecondsToMark(clip_.RangeEnd);
    ShowMarks();
    // Show the picture at the start rather than a black area.
    player_.ShowOnePicture();
}

double ClipRangeDlg::MarkToSeconds(int64_t mark) const {
    if (duration_ <= 0) return 0.0;
    return static_cast<double>(mark) * clip_.VideoLength / static_cast<double>(duration_);
}

int64_t ClipRangeDlg::SecondsToMark(double seconds) const {
    if (clip_.VideoLength <= 0.0) return 0;
    return reader::TruncateToInt64(seconds / clip_.VideoLength * static_cast<double>(duration_));
}

void ClipRangeDlg::ShowMarks() {
    startEdit_->setText(TimeText(MarkToSeconds(startMark_)));
    endEdit_->setText(TimeText(MarkToSeconds(endMark_)));
    slider_->SetSelection(int(MulDiv(startMark_, kSliderRange, duration_)),
                          int(MulDiv(endMark_, kSliderRange, duration_)));
}

void ClipRangeDlg::ShowPosition(int64_t position) {
    if (position == 0 && !player_.Position(position)) return;
    const int64_t seconds = position / kUnitsPerSecond;
    const int64_t frame = MulDiv(position, clip_.FrameCount, duration_);
    const QString text = QString::asprintf("Position: %02lldm:%02llds (%lld)",
                                           static_cast<long long>(seconds / 60),
                                           static_cast<long long>(seconds % 60),
                                           static_cast<long long>(frame));
    if (position_->text() != text) position_->setText(text);
}

int64_t ClipRangeDlg::FrameTime() const {
    return MulDiv(duration_, 1, std::max<int64_t>(clip_.FrameCount, 1));
}

int64_t ClipRangeDlg::LastPicture() const { return std::max<int64_t>(duration_ - FrameTime(), 0); }

// The slider's far end is the last picture: the clip's end itself has no picture to show.
int64_t ClipRangeDlg::SliderPosition(int percent) const {
    return std::min(MulDiv(duration_, percent, kSliderRange), LastPicture());
}

int ClipRangeDlg::SliderValue(int64_t position) const {
    if (duration_ > 0 && position >= LastPicture()) return kSliderRange;
    return int(MulDiv(position, kSliderRange, duration_));
}

void ClipRangeDlg::Refresh() {
    int64_t current = 0;
    if (!player_.Position(current)) return;
    if (!slider_->isSliderDown()) slider_->setValue(SliderValue(current));
    ShowPosition(current);
}

void ClipRangeDlg::StartTimer() { timer_->start(); }

void ClipRangeDlg::StopTimer() { timer_->stop(); }

void ClipRangeDlg::OnPlay() {
    if (player_.Run()) playState_ = 2;
    StartTimer();
}

void ClipRangeDlg::OnPause() {
    if (playState_ == 1) {
        OnPlay();
        return;
    }
    StopTimer();
    if (playState_ == 2 && player_.Pause()) playState_ = 1;
}

void ClipRangeDlg::OnStop() {
    if (!player_.IsOpen()) return;
    StopTimer();
    if (playState_ != 0 && player_.Stop()) playState_ = 0;
    player_.Seek(0);
    player_.ShowOnePicture();
    Refresh();
}

void ClipRangeDlg::OnStep() {
    if (!player_.IsOpen() || duration_ <= 0) return;
    if (playState_ != 1) {
        StopTimer();
        if (player_.Pause()) playState_ = 1;
    }
    int64_t current = 0;
    if (!player_.Position(current)) return;
    player_.Seek(std::min(current + FrameTime(), LastPicture()));
    player_.ShowOnePicture();
    Refresh();
}

void ClipRangeDlg::OnStepBack() {
    int64_t current = 0;
    if (!player_.Position(current)) return;
    if (!player_.Seek(current - FrameTime())) return;
    if (playState_ != 2) player_.ShowOnePicture();
    Refresh();
}

void ClipRangeDlg::OnGotoBeginning() {
    if (player_.Seek(0) && playState_ != 2) player_.ShowOnePicture();
    ShowPosition(0);
}

void ClipRangeDlg::OnGotoEnd() {
    if (player_.Seek(LastPicture()) && playState_ != 2) player_.ShowOnePicture();
    ShowPosition(0);
}

void ClipRangeDlg::OnSetStart() {
    int64_t current = 0;
    if (!player_.Position(current)) return;
    startMark_ = current;
    ShowMarks();
}

void ClipRangeDlg::OnSetEnd() {
    int64_t current = 0;
    if (!player_.Position(current)) return;
    // At the last picture the range runs to the clip's end, that picture included.
    endMark_ = current >= LastPicture() ? duration_ : current;
    ShowMarks();
}

void ClipRangeDlg::OnDefault() {
    startMark_ = 0;
    endMark_ = duration_;
    ShowMarks();
}

void ClipRangeDlg::OnSliderPressed() {
    if (!player_.IsOpen()) return;
    stateBeforeDrag_ = player_.State();
    player_.Pause();
}

void ClipRangeDlg::OnSliderMoved(int percent) {
    if (!player_.IsOpen()) return;
    const int64_t target = SliderPosition(percent);
    player_.Seek(target);
    if (playState_ != 2) player_.ShowOnePicture();
    ShowPosition(target);
}

void ClipRangeDlg::OnSliderReleased() {
    if (!player_.IsOpen()) return;
    if (stateBeforeDrag_ == 2) player_.Run();
    stateBeforeDrag_ = -1;
}

void ClipRangeDlg::accept() {
    // Without a measured clip the marks mean nothing; the range stays as it was.
    if (duration_ > 0 && clip_.VideoLength > 0.0) {
        const double start = MarkToSeconds(startMark_);
        const double end = MarkToSeconds(endMark_);
        if (end <= start) {
            platform::ShowMessageBox("The end of the range must lie after its start.",
                                     "Seleect source clip range", platform::MB_OK | platform::MB_ICONWARNING);
            return;
        }
        clip_.RangeStart = start;
        clip_.RangeEnd = end;
    }
    TearDown();
    QDialog::accept();
}

void ClipRangeDlg::reject() {
    TearDown();
    QDialog::reject();
}

void ClipRangeDlg::TearDown() {
    StopTimer();
    player_.Close();
    playState_ = 0;
}

}  // namespace ui
