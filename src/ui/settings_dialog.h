// The encoding settings on three pages (Video, Audio, Misc). The dialog edits a copy of the
// live settings and writes every control back only on OK, so Cancel always leaves the live
// block as it was, also after Default.
#pragma once

#include <QDialog>

#include "core/settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QTabWidget;

namespace ui {

class SettingsDlg : public QDialog {
    Q_OBJECT

public:
    SettingsDlg(core::Settings& live, QWidget* parent);

    // Fills every list and sets every control from shown.
    void LoadControls(const core::Settings& shown);

public slots:
    void accept() override;

private:
    QWidget* BuildVideoPage();
    QWidget* BuildAudioPage();
    QWidget* BuildMiscPage();
    void FillResolutions();
    // Fills the GOP list for the chosen standard, selecting row or, past the list, its limit.
    void FillGopSizes(uint32_t row);
    void FillAudioBitrates();
    void EnableVbrEdit();
    void RestoreDefaults();

    core::Settings& live_;
    // What the controls were last loaded from: the rows a refilled list tries to keep.
    core::Settings shown_;
    QTabWidget* tabs_ = nullptr;
    QComboBox* standard_ = nullptr;
    QComboBox* resolution_ = nullptr;
    QComboBox* letterBox_ = nullptr;
    QComboBox* aspect_ = nullptr;
    QComboBox* gopSize_ = nullptr;
    QComboBox* bFrames_ = nullptr;
    QComboBox* bitrateType_ = nullptr;
    QLineEdit* maxBitrate_ = nullptr;
    QLineEdit* bitrate_ = nullptr;
    QLineEdit* minBitrate_ = nullptr;
    QComboBox* audioFormat_ = nullptr;
    QComboBox* audioBitrate_ = nullptr;
    QCheckBox* useDes_ = nullptr;
    QCheckBox* directVob_ = nullptr;
    QCheckBox* deleteTemp_ = nullptr;
};

}  // namespace ui
