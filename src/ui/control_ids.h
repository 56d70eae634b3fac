// Control ids of the dialogs and the form. Each control carries its id as its object name
// ("id1041"), so code and tests find a control by the id it has always had.
#pragma once

#include <QString>

namespace ui::ids {

// Clip list form.
constexpr int kClipList = 1000;
constexpr int kProgressBar = 1001;
constexpr int kStatusText = 1004;

// Settings dialog and its pages.
constexpr int kSettingsTabs = 1042;
constexpr int kDefaultButton = 1067;
constexpr int kStandardList = 1041;
constexpr int kResolutionList = 1068;
constexpr int kLetterBoxList = 1078;
constexpr int kAspectList = 1039;
constexpr int kGopList = 1055;
constexpr int kBFramesList = 1057;
constexpr int kBitrateTypeList = 1053;
constexpr int kMaxBitrateEdit = 1074;
constexpr int kBitrateEdit = 1071;
constexpr int kMinBitrateEdit = 1075;
constexpr int kAudioFormatList = 1045;
constexpr int kAudioBitrateList = 1048;
constexpr int kUseDesCheck = 1062;
constexpr int kDirectVobCheck = 1063;
constexpr int kDeleteTempCheck = 1064;

// Clip range dialog.
constexpr int kVideoArea = 1018;
constexpr int kPositionSlider = 1007;
constexpr int kSetStartButton = 1005;
constexpr int kSetEndButton = 1010;
constexpr int kStartEdit = 1008;
constexpr int kEndEdit = 1009;
constexpr int kPositionText = 1017;
constexpr int kRangeDefaultButton = 1015;
constexpr int kStepButton = 1011;
constexpr int kStepBackButton = 1012;
constexpr int kPlayButton = 1019;
constexpr int kPauseButton = 1021;
constexpr int kStopButton = 1020;
constexpr int kGotoBeginButton = 1013;
constexpr int kGotoEndButton = 1016;

// About box.
constexpr int kVersionText = 1035;
constexpr int kWebLink = 1036;

inline QString Name(int id) { return QStringLiteral("id%1").arg(id); }

}  // namespace ui::ids
