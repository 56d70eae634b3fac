#include "ui/settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/encoder_dvd_video.h"
#include "ui/app_icon.h"
#include "ui/control_ids.h"
#include "ui/settings_choices.h"

namespace ui {

namespace {

constexpr int kVbr = 1;

constexpr const char* kMinBitrateNotApplied =
    "Not applied: a variable bitrate keeps to the average and the maximum, with no minimum";

template <typename Control>
Control* Make(int id, QWidget* parent) {
    auto* control = new Control(parent);
    control->setObjectName(ids::Name(id));
    return control;
}

// Wide enough for the longest row any list of the dialog shows.
constexpr int kListCharacters = 24;

QComboBox* MakeList(int id, QWidget* parent) {
    auto* list = Make<QComboBox>(id, parent);
    list->setMinimumContentsLength(kListCharacters);
    list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    return list;
}

// Bit-rates are typed as digits only; nine of them always fit the stored 32-bit number.
QLineEdit* MakeNumberEdit(int id, QWidget* parent) {
    auto* edit = Make<QLineEdit>(id, parent);
    edit->setAlignment(Qt::AlignRight);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,9}"), edit));
    return edit;
}

// Refills list and selects row when it exists, else the last row.
void Refill(QComboBox* list, const QStringList& rows, uint32_t row) {
    list->clear();
    list->addItems(rows);
    list->setCurrentIndex(row < uint32_t(rows.size()) ? int(row) : int(rows.size()) - 1);
}

QStringList Numbers(int first, int last) {
    QStringList rows;
    for (int n = first; n <= last; ++n) rows << QString::number(n);
    return rows;
}

uint32_t Selection(const QComboBox* list) {
    return list->currentIndex() < 0 ? 0 : uint32_t(list->currentIndex());
}

// An empty edit reads as 0.
uint32_t Number(const QLineEdit* edit) { return edit->text().toUInt(); }

}  // namespace

SettingsDlg::SettingsDlg(core::Settings& live, QWidget* parent)
    : QDialog(parent), live_(live), shown_(live) {
    setWindowTitle("Setting");
    setWindowIcon(AppIcon());
    setSizeGripEnabled(true);

    tabs_ = Make<QTabWidget>(ids::kSettingsTabs, this);
    tabs_->addTab(BuildVideoPage(), "  Video  ");
    tabs_->addTab(BuildAudioPage(), "  Audio  ");
    tabs_->addTab(BuildMiscPage(), "  Misc  ");

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* restore = buttons->addButton("Default", QDialogButtonBox::ResetRole);
    restore->setObjectName(ids::Name(ids::kDefaultButton));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(restore, &QPushButton::clicked, this, &SettingsDlg::RestoreDefaults);

    // Only the pages follow the dialog's size; the buttons keep their row.
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_, 1);
    layout->addWidget(buttons);

    connect(standard_, &QComboBox::activated, this, &SettingsDlg::FillResolutions);
    // A GOP the new standard allows stays chosen; a longer one becomes the standard's limit.
    connect(standard_, &QComboBox::activated, this, [this] { FillGopSizes(Selection(gopSize_)); });
    connect(bitrateType_, &QComboBox::activated, this, &SettingsDlg::EnableVbrEdit);
    connect(audioFormat_, &QComboBox::activated, this, &SettingsDlg::FillAudioBitrates);

    tabs_->setCurrentIndex(0);
    LoadControls(live_);
    setMinimumSize(sizeHint());
}

QWidget* SettingsDlg::BuildVideoPage() {
    auto* page = new QWidget(this);
    standard_ = MakeList(ids::kStandardList, page);
    resolution_ = MakeList(ids::kResolutionList, page);
    letterBox_ = MakeList(ids::kLetterBoxList, page);
    aspect_ = MakeList(ids::kAspectList, page);
    aspect_->hide();  // stored, but the encoders always signal 4:3
    gopSize_ = MakeList(ids::kGopList, page);
    gopSize_->setToolTip(QString("Pictures per GOP, up to what the DVD standard allows (%1 for "
                                 "NTSC, %2 for PAL)")
                             .arg(core::kDvdMaxGopNtsc)
                             .arg(core::kDvdMaxGopPal));
    bFrames_ = MakeList(ids::kBFramesList, page);
    bitrateType_ = MakeList(ids::kBitrateTypeList, page);
    maxBitrate_ = MakeNumberEdit(ids::kMaxBitrateEdit, page);
    bitrate_ = MakeNumberEdit(ids::kBitrateEdit, page);
    minBitrate_ = MakeNumberEdit(ids::kMinBitrateEdit, page);
    // Kept with the settings, but the encoder holds only the average and the maximum.
    minBitrate_->setEnabled(false);
    minBitrate_->setToolTip(kMinBitrateNotApplied);

    auto* form = new QFormLayout(page);
    form->addRow("Standard:", standard_);
    form->addRow("Resolution:", resolution_);
    auto* aspectRow = new QHBoxLayout;
    aspectRow->addWidget(letterBox_);
    aspectRow->addWidget(aspect_);
    aspectRow->addStretch();
    form->addRow("Aspect ratio:", aspectRow);
    form->addRow("GOP size:", gopSize_);
    form->addRow("B frames:", bFrames_);
    form->addRow("Bitrate type:", bitrateType_);
    form->addRow("Maximum bitrate:", maxBitrate_);
    form->addRow("Average bitrate:", bitrate_);
    form->addRow("Minimum bitrate:", minBitrate_);
    form->labelForField(minBitrate_)->setToolTip(kMinBitrateNotApplied);
    return page;
}

QWidget* SettingsDlg::BuildAudioPage() {
    auto* page = new QWidget(this);
    audioFormat_ = MakeList(ids::kAudioFormatList, page);
    audioBitrate_ = MakeList(ids::kAudioBitrateList, page);
    auto* form = new QFormLayout(page);
    form->addRow("Format:", audioFormat_);
    form->addRow("Bitrate:", audioBitrate_);
    return page;
}

QWidget* SettingsDlg::BuildMiscPage() {
    auto* page = new QWidget(this);
    useDes_ = Make<QCheckBox>(ids::kUseDesCheck, page);
    useDes_->setText("Use DirectShow Editing Service");
    directVob_ = Make<QCheckBox>(ids::kDirectVobCheck, page);
    directVob_->setText("Create VOB directly");
    deleteTemp_ = Make<QCheckBox>(ids::kDeleteTempCheck, page);
    deleteTemp_->setText("Delete temp files after encoding");
    auto* column = new QVBoxLayout(page);
    column->addWidget(useDes_);
    column->addWidget(directVob_);
    column->addWidget(deleteTemp_);
    column->addStretch();
    return page;
}

void SettingsDlg::LoadControls(const core::Settings& shown) {
    shown_ = shown;
    Refill(standard_, {"DVD NTSC - 29.97 FPS", "DVD PAL - 25 FPS"}, shown.Standard);
    Refill(aspect_, {"4:3", "16:9"}, shown.AspectRatio);
    Refill(letterBox_, {"Keep origin frame ratio", "Scale to full screen"}, shown.LetterBox);
    FillResolutions();
    FillGopSizes(shown.GOPSizeIndex);
    Refill(bitrateType_, {"CBR", "VBR"}, shown.BitrateType);
    EnableVbrEdit();
    bitrate_->setText(QString::number(shown.Bitrate));
    maxBitrate_->setText(QString::number(shown.MaxBitrate));
    minBitrate_->setText(QString::number(shown.MinBitrate));
    Refill(bFrames_, Numbers(core::BFramesForIndex(0), core::BFramesForIndex(core::kBFramesCount - 1)),
           shown.BFramesIndex);
    Refill(audioFormat_, {"MPEG Layer 2", "AC3"}, shown.AudioFormat);
    FillAudioBitrates();
    useDes_->setChecked(shown.UseDES != 0);
    directVob_->setChecked(shown.DirectVOB != 0);
    deleteTemp_->setChecked(shown.DeleteTempFiles != 0);
}

void SettingsDlg::FillResolutions() {
    QStringList rows;
    for (const std::string& size : FrameSizeChoices(Selection(standard_)))
        rows << QString::fromStdString(size);
    Refill(resolution_, rows, shown_.VideoResolutionIndex);
}

void SettingsDlg::FillGopSizes(uint32_t row) {
    QStringList rows;
    for (int pictures : GopSizeChoices(Selection(standard_))) rows << QString::number(pictures);
    // A GOP past the standard's limit shows as the limit, which is what the job encodes.
    Refill(gopSize_, rows, row);
}

void SettingsDlg::FillAudioBitrates() {
    QStringList rows;
    for (uint32_t kbps : AudioBitrateChoices(Selection(audioFormat_))) rows << QString::number(kbps);
    Refill(audioBitrate_, rows, shown_.AudioBitrateIndex);
}

void SettingsDlg::EnableVbrEdit() {
    const bool vbr = bitrateType_->currentIndex() == kVbr;
    maxBitrate_->setEnabled(vbr);
}

void SettingsDlg::RestoreDefaults() {
    core::Settings defaults = live_;  // keeps the output folder
    defaults.SetDefaults();
    LoadControls(defaults);
}

void SettingsDlg::accept() {
    live_.Standard = Selection(standard_);
    live_.AspectRatio = Selection(aspect_);
    live_.LetterBox = Selection(letterBox_);
    live_.VideoResolutionIndex = Selection(resolution_);
    live_.GOPSizeIndex = Selection(gopSize_);
    live_.BFramesIndex = Selection(bFrames_);
    live_.BitrateType = Selection(bitrateType_);
    live_.Bitrate = Number(bitrate_);
    live_.MaxBitrate = Number(maxBitrate_);
    live_.MinBitrate = Number(minBitrate_);
    live_.AudioFormat = Selection(audioFormat_);
    live_.AudioBitrateIndex = Selection(audioBitrate_);
    live_.UseDES = useDes_->isChecked() ? 1 : 0;
    live_.DirectVOB = directVob_->isChecked() ? 1 : 0;
    live_.DeleteTempFiles = deleteTemp_->isChecked() ? 1 : 0;
    QDialog::accept();
}

}  // namespace ui
