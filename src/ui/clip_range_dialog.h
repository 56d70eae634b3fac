// Edit > Clip Range: plays the clip in a small preview, lets the user move through it and mark
// a start and an end, and on OK turns the marks into the clip's range in seconds.
#pragma once

#include <QDialog>
#include <QImage>
#include <QSlider>
#include <QStyle>
#include <memory>

#include "reader/clip_record.h"
#include "ui/preview_player.h"

class QLabel;
class QLineEdit;
class QTimer;

namespace ui {

class FlatButton;

// Where the preview's pictures show: black, the picture scaled into it with its proportions.
class PreviewArea : public QWidget {
    Q_OBJECT

public:
    explicit PreviewArea(QWidget* parent);
    // displayAspect: width over height as the picture is shown (0: as its pixels count).
    void ShowPicture(const QImage& picture, double displayAspect = 0.0);
    const QImage& Picture() const { return picture_; }
    // Where the picture is drawn: as large as fits, at its shown proportions, centred.
    QRect PictureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
    double displayAspect_ = 0.0;
};

// A position slider that also shows the marked range under its groove.
class RangeSlider : public QSlider {
    Q_OBJECT

public:
    explicit RangeSlider(QWidget* parent);
    void SetSelection(int first, int last);
    int SelectionStart() const { return selectionStart_; }
    int SelectionEnd() const { return selectionEnd_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int selectionStart_ = 0;
    int selectionEnd_ = 0;
};

class ClipRangeDlg : public QDialog {
    Q_OBJECT

public:
    // clip's range changes on OK only.
    ClipRangeDlg(reader::ClipRecord& clip, QWidget* parent);
    ~ClipRangeDlg() override;

    int64_t StartMark() const { return startMark_; }
    int64_t EndMark() const { return endMark_; }
    int64_t Duration() const { return duration_; }

    // The transport and mark commands, as the buttons run them.
    void OnPlay();
    void OnPause();
    void OnStop();
    void OnStep();
    void OnStepBack();
    void OnGotoBeginning();
    void OnGotoEnd();
    void OnSetStart();
    void OnSetEnd();
    void OnDefault();

public slots:
    void accept() override;
    void reject() override;

private:
    void BuildControls();
    FlatButton* AddTransportButton(int id, QStyle::StandardPixmap icon, const char* tip,
                                   void (ClipRangeDlg::*action)());
    void OpenClip();
    void ShowMarks();
    void ShowPosition(int64_t position);
    void Refresh();
    void StartTimer();
    void StopTimer();
    void OnSliderPressed();
    void OnSliderMoved(int percent);
    void OnSliderReleased();
    void TearDown();
    // One picture's time, and where the last picture starts, on the graph's clock.
    int64_t FrameTime() const;
    int64_t LastPicture() const;
    // The slider in percent of the duration and the graph's positions, both ways.
    int64_t SliderPosition(int percent) const;
    int SliderValue(int64_t position) const;
    // Marks and seconds, mapped through the graph's duration and the clip's length.
    double MarkToSeconds(int64_t mark) const;
    int64_t SecondsToMark(double seconds) const;

    reader::ClipRecord& clip_;
    PreviewPlayer player_;
    int64_t duration_ = 0;
    int64_t startMark_ = 0;
    int64_t endMark_ = 0;
    long playState_ = 0;  // 0 stopped, 1 paused, 2 running, as the user sees it
    long stateBeforeDrag_ = -1;
    QTimer* timer_ = nullptr;
    PreviewArea* video_ = nullptr;
    RangeSlider* slider_ = nullptr;
    QLineEdit* startEdit_ = nullptr;
    QLineEdit* endEdit_ = nullptr;
    QLabel* position_ = nullptr;
};

}  // namespace ui
