// The settings dialog: what it shows, what OK writes, and that Cancel writes nothing.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include "core/settings.h"
#include "ui/control_ids.h"
#include "ui/settings_choices.h"
#include "ui/settings_dialog.h"

namespace {

using ui::ids::Name;

class SettingsDialogTest : public ::testing::Test {
protected:
    SettingsDialogTest() {
        live.SetDefaults();
        live.OutputFolder = "/srv/dvd";
    }
    template <typename Control>
    Control* Find(ui::SettingsDlg& dialog, int id) {
        auto* control = dialog.findChild<Control*>(Name(id));
        EXPECT_NE(control, nullptr) << id;
        return control;
    }
    // Chooses row as the user does, so the dialog's change handlers run.
    static void Choose(QComboBox* list, int row) {
        list->setCurrentIndex(row);
        emit list->activated(row);
    }
    QStringList Rows(QComboBox* list) {
        QStringList rows;
        for (int i = 0; i < list->count(); ++i) rows << list->itemText(i);
        return rows;
    }

    core::Settings live;
};

TEST_F(SettingsDialogTest, ShowsThePagesAndTheLiveValues) {
    live.Standard = 1;
    live.VideoResolutionIndex = 2;
    live.BitrateType = 0;
    live.Bitrate = 5000;
    live.GOPSizeIndex = 11;
    live.AudioFormat = 1;
    live.AudioBitrateIndex = 16;
    live.DirectVOB = 1;
    ui::SettingsDlg dialog(live, nullptr);

    auto* tabs = Find<QTabWidget>(dialog, ui::ids::kSettingsTabs);
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "  Video  ");
    EXPECT_EQ(tabs->tabText(1), "  Audio  ");
    EXPECT_EQ(tabs->tabText(2), "  Misc  ");
    EXPECT_EQ(tabs->currentIndex(), 0);

    EXPECT_EQ(Find<QComboBox>(dialog, ui::ids::kStandardList)->currentText(), "DVD PAL - 25 FPS");
    EXPECT_EQ(Find<QComboBox>(dialog, ui::ids::kResolutionList)->currentText(), "704 x 576");
    EXPECT_EQ(Find<QComboBox>(dialog, ui::ids::kGopList)->currentText(), "12");
    EXPECT_EQ(Find<QComboBox>(dialog, ui::ids::kBFramesList)->count(), 7);
    EXPECT_EQ(Find<QLineEdit>(dialog, ui::ids::kBitrateEdit)->text(), "5000");
    // Constant bit-rate: no maximum or minimum to type.
    EXPECT_FALSE(Find<QLineEdit>(dialog, ui::ids::kMaxBitrateEdit)->isEnabled());
    EXPECT_FALSE(Find<QLineEdit>(dialog, ui::ids::kMinBitrateEdit)->isEnabled());
    EXPECT_EQ(Find<QComboBox>(dialog, ui::ids::kAudioBitrateList)->currentText(), "512");
    EXPECT_TRUE(Find<QCheckBox>(dialog, ui::ids::kDirectVobCheck)->isChecked());
    EXPECT_TRUE(Find<QComboBox>(dialog, ui::ids::kAspectList)->isHidden());
}

TEST_F(SettingsDialogTest, TextsAreTheDialogsOwn) {
    ui::SettingsDlg dialog(live, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Setting");
    EXPECT_EQ(Find<QPushButton>(dialog, ui::ids::kDefaultButton)->text(), "Default");
    auto* tabs = Find<QTabWidget>(dialog, ui::ids::kSettingsTabs);
    const QStringList labels[] = {
        {"Standard:", "Resolution:", "Aspect ratio:", "GOP size:", "B frames:", "Bitrate type:",
         "Maximum bitrate:", "Average bitrate:", "Minimum bitrate:"},
        {"Format:", "Bitrate:"},
        {},
    };
    for (int page = 0; page < 3; ++page) {
        QStringList shown;
        for (const QLabel* label : tabs->widget(page)->findChildren<QLabel*>()) shown << label->text();
        EXPECT_EQ(shown, labels[page]) << page;
    }
    QStringList checks;
    for (const QCheckBox* box : tabs->widget(2)->findChildren<QCheckBox*>()) checks << box->text();
    EXPECT_EQ(checks, (QStringList{"Use DirectShow Editing Service", "Create VOB directly",
                                   "Delete temp files after encoding"}));
    const struct {
        int id;
        QStringList rows;
    } lists[] = {
        {ui::ids::kStandardList, {"DVD NTSC - 29.97 FPS", "DVD PAL - 25 FPS"}},
        {ui::ids::kLetterBoxList, {"Keep origin frame ratio", "Scale to full screen"}},
        {ui::ids::kAspectList, {"4:3", "16:9"}},
        {ui::ids::kBitrateTypeList, {"CBR", "VBR"}},
        {ui::ids::kAudioFormatList, {"MPEG Layer 2", "AC3"}},
    };
    for (const auto& list : lists) EXPECT_EQ(Rows(Find<QComboBox>(dialog, list.id)), list.rows) << list.id;
}

TEST_F(SettingsDialogTest, ChangingTheStandardOrFormatKeepsTheStoredRowWhereItExists) {
    live.Standard = 1;
    live.VideoResolutionIndex = 3;
    live.AudioFormat = 1;
    live.AudioBitrateIndex = 18;
    ui::SettingsDlg dialog(live, nullptr);
    auto* standard = Find<QComboBox>(dialog, ui::ids::kStandardList);
    auto* resolution = Find<QComboBox>(dialog, ui::ids::kResolutionList);
    auto* format = Find<QComboBox>(dialog, ui::ids::kAudioFormatList);
    auto* rate = Find<QComboBox>(dialog, ui::ids::kAudioBitrateList);

    Choose(standard, 0);
    EXPECT_EQ(Rows(resolution), (QStringList{"352 x 240", "352 x 480", "704 x 480", "720 x 480"}));
    EXPECT_EQ(resolution->currentText(), "720 x 480");

    Choose(format, 0);  // 18 is past the MPEG rows: the last one is chosen
    EXPECT_EQ(rate->count(), 14);
    EXPECT_EQ(rate->currentText(), "384");
    Choose(format, 1);
    EXPECT_EQ(rate->currentText(), "640");
}

// Only what the job applies is offered: GOPs up to the standard's limit, and no minimum
// bit-rate to type (the encoder does not use it). A stored GOP past the limit still loads and
// shows as the limit the job encodes.
TEST_F(SettingsDialogTest, OffersOnlyWhatTheJobApplies) {
    live.Standard = 0;
    live.GOPSizeIndex = 19;  // GOP 20, as a stored file may hold
    live.BitrateType = 1;
    ui::SettingsDlg dialog(live, nullptr);
    auto* gop = Find<QComboBox>(dialog, ui::ids::kGopList);
    EXPECT_EQ(Rows(gop).size(), 18);
    EXPECT_EQ(Rows(gop).front(), "1");
    EXPECT_EQ(gop->currentText(), "18");
    EXPECT_FALSE(gop->toolTip().isEmpty());

    Choose(Find<QComboBox>(dialog, ui::ids::kStandardList), 1);
    EXPECT_EQ(Rows(gop).size(), 15);
    EXPECT_EQ(gop->currentText(), "15");

    auto* minimum = Find<QLineEdit>(dialog, ui::ids::kMinBitrateEdit);
    EXPECT_TRUE(Find<QLineEdit>(dialog, ui::ids::kMaxBitrateEdit)->isEnabled());
    EXPECT_FALSE(minimum->isEnabled());
    EXPECT_TRUE(minimum->toolTip().startsWith("Not applied")) << minimum->toolTip().toStdString();
    EXPECT_EQ(minimum->text(), "1200");

    dialog.accept();
    EXPECT_EQ(core::GopSizeForIndex(live.GOPSizeIndex), 15);
    EXPECT_EQ(live.MinBitrate, 1200u);  // kept as stored
}

// Changing the standard keeps the GOP the user chose while the new standard allows it, and
// takes the limit only for one it does not.
TEST_F(SettingsDialogTest, ChangingTheStandardKeepsTheChosenGopWhereItIsAllowed) {
    live.Standard = 0;
    ui::SettingsDlg dialog(live, nullptr);
    auto* standard = Find<QComboBox>(dialog, ui::ids::kStandardList);
    auto* gop = Find<QComboBox>(dialog, ui::ids::kGopList);
    const struct {
        int chosenStandard;
        int chosenGop;
        int newStandard;
        QString shown;
    } cases[] = {
        {0, 12, 1, "12"},  // allowed on both
        {1, 12, 0, "12"},
        {0, 15, 1, "15"},  // PAL's limit itself
        {0, 18, 1, "15"},  // past PAL's limit
        {1, 1, 0, "1"},
    };
    for (const auto& c : cases) {
        Choose(standard, c.chosenStandard);
        Choose(gop, c.chosenGop - 1);
        ASSERT_EQ(gop->currentText(), QString::number(c.chosenGop));
        Choose(standard, c.newStandard);
        EXPECT_EQ(gop->currentText(), c.shown) << c.chosenGop << " to standard " << c.newStandard;
    }
    dialog.accept();
    EXPECT_EQ(core::GopSizeForIndex(live.GOPSizeIndex), 1);
}

TEST_F(SettingsDialogTest, OkWritesEveryControlWithoutJudgingTheValues) {
    ui::SettingsDlg dialog(live, nullptr);
    Choose(Find<QComboBox>(dialog, ui::ids::kStandardList), 1);
    Choose(Find<QComboBox>(dialog, ui::ids::kResolutionList), 0);
    Choose(Find<QComboBox>(dialog, ui::ids::kLetterBoxList), 1);
    Choose(Find<QComboBox>(dialog, ui::ids::kGopList), 0);
    Choose(Find<QComboBox>(dialog, ui::ids::kBFramesList), 6);
    Choose(Find<QComboBox>(dialog, ui::ids::kBitrateTypeList), 0);
    Find<QLineEdit>(dialog, ui::ids::kBitrateEdit)->setText("");
    Find<QLineEdit>(dialog, ui::ids::kMaxBitrateEdit)->setText("900");
    Find<QLineEdit>(dialog, ui::ids::kMinBitrateEdit)->setText("4000");  // greyed, still written
    Choose(Find<QComboBox>(dialog, ui::ids::kAudioFormatList), 1);
    Choose(Find<QComboBox>(dialog, ui::ids::kAudioBitrateList), 0);
    Find<QCheckBox>(dialog, ui::ids::kUseDesCheck)->setChecked(false);
    Find<QCheckBox>(dialog, ui::ids::kDirectVobCheck)->setChecked(true);
    Find<QCheckBox>(dialog, ui::ids::kDeleteTempCheck)->setChecked(false);
    // Digits only: what the validator refuses never reaches the edit.
    Find<QLineEdit>(dialog, ui::ids::kMinBitrateEdit)->insert("-x");

    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(live.Standard, 1u);
    EXPECT_EQ(live.VideoResolutionIndex, 0u);
    EXPECT_EQ(live.LetterBox, 1u);
    EXPECT_EQ(live.GOPSizeIndex, 0u);
    EXPECT_EQ(live.BFramesIndex, 6u);
    EXPECT_EQ(live.BitrateType, 0u);
    EXPECT_EQ(live.Bitrate, 0u);  // empty edit
    EXPECT_EQ(live.MaxBitrate, 900u);  // greyed under CBR, still written
    EXPECT_EQ(live.MinBitrate, 4000u);
    EXPECT_EQ(live.AudioFormat, 1u);
    EXPECT_EQ(live.AudioBitrateIndex, 0u);
    EXPECT_EQ(live.UseDES, 0u);
    EXPECT_EQ(live.DirectVOB, 1u);
    EXPECT_EQ(live.DeleteTempFiles, 0u);
    EXPECT_EQ(live.OutputFolder, "/srv/dvd");
}

TEST_F(SettingsDialogTest, DefaultThenOkStoresTheDefaultsAndCancelUndoesDefault) {
    live.Standard = 1;
    live.GOPSizeIndex = 0;
    live.BitrateType = 0;
    live.AudioFormat = 1;
    live.AudioBitrateIndex = 2;
    live.UseDES = 0;
    live.DirectVOB = 1;
    const core::Settings before = live;

    {
        ui::SettingsDlg dialog(live, nullptr);
        Find<QPushButton>(dialog, ui::ids::kDefaultButton)->click();
        EXPECT_TRUE(Find<QLineEdit>(dialog, ui::ids::kMaxBitrateEdit)->isEnabled());
        dialog.reject();
        EXPECT_EQ(live.Standard, before.Standard);
        EXPECT_EQ(live.GOPSizeIndex, before.GOPSizeIndex);
        EXPECT_EQ(live.DirectVOB, before.DirectVOB);
    }
    ui::SettingsDlg dialog(live, nullptr);
    Find<QPushButton>(dialog, ui::ids::kDefaultButton)->click();
    dialog.accept();
    core::Settings defaults;
    defaults.SetDefaults();
    EXPECT_EQ(live.Standard, defaults.Standard);
    EXPECT_EQ(ui::FrameSizeChoices(0)[live.VideoResolutionIndex], "720 x 480");
    EXPECT_EQ(live.GOPSizeIndex + 1, 8u);
    EXPECT_EQ(live.BFramesIndex, 2u);
    EXPECT_EQ(live.BitrateType, 1u);
    EXPECT_EQ(live.Bitrate, 2400u);
    EXPECT_EQ(live.MaxBitrate, 8000u);
    EXPECT_EQ(live.MinBitrate, 1200u);
    EXPECT_EQ(live.AudioFormat, 0u);
    EXPECT_EQ(ui::AudioBitrateChoices(0)[live.AudioBitrateIndex], 384u);
    EXPECT_EQ(live.UseDES, 1u);
    EXPECT_EQ(live.DirectVOB, 0u);
    EXPECT_EQ(live.OutputFolder, "/srv/dvd");
}

}  // namespace
