#include "ui/commands.h"

namespace ui {

namespace {

using driver::ID_CLIP_ADD;
using driver::ID_CLIP_DELETE;
using driver::ID_CLIP_DOWN;
using driver::ID_CLIP_UP;
using driver::ID_EDIT_RANGE;
using driver::ID_OUTPUT_FOLDER;
using driver::ID_SETTING;
using driver::ID_START;
using driver::ID_STOP;

const CommandSpec kCommands[] = {
    {ID_CLIP_ADD, Menu::File, "&Add Clip...\tCtrl+A", QKeySequence("Ctrl+A"),
     "Add a new clip source\nAdd", false},
    {ID_CLIP_DELETE, Menu::File, "&Delete Clip\tCtrl+D", QKeySequence("Ctrl+D"),
     "Delete the source clip from list\nDelete", true},
    {ID_OUTPUT_FOLDER, Menu::File, "&Output folder\tCtrl+O", QKeySequence("Ctrl+O"),
     "Choose a folder for encoded DVD\nOutput folder", true},
    // No key quits: a slip onto one (Ctrl+X, which once did) must not close the window and
    // lose the clip list with its ranges. So the label shows no shortcut either.
    {ID_APP_EXIT, Menu::File, "E&xit", QKeySequence(),
     "Quit the application\nExit", false},
    {ID_EDIT_RANGE, Menu::Edit, "Clip &Range\tCtrl+R", QKeySequence("Ctrl+R"),
     "Select range of the source clip\nEdit", false},
    {ID_CLIP_UP, Menu::Edit, "Move up\tCtrl+Up", QKeySequence("Ctrl+Up"),
     "Move the source clip up\nUp", false},
    {ID_CLIP_DOWN, Menu::Edit, "Move down\tCtrl+Down", QKeySequence("Ctrl+Down"),
     "Move the source clip down\nDown", false},
    {ID_VIEW_TOOLBAR, Menu::View, "&Toolbar", QKeySequence(),
     "Show or hide the toolbar\nToggle ToolBar", false},
    {ID_VIEW_STATUS_BAR, Menu::View, "&Status Bar", QKeySequence(),
     "Show or hide the status bar\nToggle StatusBar", false},
    {ID_START, Menu::Encode, "&Start\tCtrl+S", QKeySequence("Ctrl+S"),
     "Start encoding\nStart Encoding", false},
    {ID_STOP, Menu::Encode, "Stop\tCtrl+C", QKeySequence("Ctrl+C"),
     "Stop encoding\nStop Encoding", true},
    {ID_SETTING, Menu::Encode, "Se&tting...\tCtrl+T", QKeySequence("Ctrl+T"),
     "Change encoder setting\nSetting", false},
    {ID_HELP_CONTENTS, Menu::Help, "Contents...\tF1", QKeySequence("F1"),
     "Display program help\nContents", false},
    {ID_APP_ABOUT, Menu::Help, "About...", QKeySequence(),
     "Display program information, version number and copyright\nAbout", false},
};

constexpr unsigned kToolbar[] = {ID_CLIP_ADD, ID_CLIP_DELETE, ID_EDIT_RANGE, ID_CLIP_UP,
                                 ID_CLIP_DOWN, 0, ID_OUTPUT_FOLDER, ID_SETTING, 0,
                                 ID_START, ID_STOP};

}  // namespace

std::span<const CommandSpec> Commands() { return kCommands; }

std::span<const unsigned> ToolbarLayout() { return kToolbar; }

}  // namespace ui
