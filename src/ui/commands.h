// The window's commands: ids, menu texts, keys, toolbar places and prompts, in one table that
// builds the menu, the toolbar and the shortcuts alike.
#pragma once

#include <QKeySequence>
#include <span>

#include "driver/frame_view.h"

namespace ui {

// Commands the job never switches; they keep their resource ids too.
constexpr unsigned ID_HELP_CONTENTS = 32807;
constexpr unsigned ID_APP_ABOUT = 57664;
constexpr unsigned ID_APP_EXIT = 57665;
constexpr unsigned ID_VIEW_TOOLBAR = 59392;
constexpr unsigned ID_VIEW_STATUS_BAR = 59393;

enum class Menu { File, Edit, View, Encode, Help };

struct CommandSpec {
    unsigned id;
    Menu menu;
    const char* text;  // the part after a tab is the key shown in the menu
    QKeySequence key;
    const char* prompt;  // status-bar text, a line break, the tooltip
    bool separatorAfter;
};

std::span<const CommandSpec> Commands();

// Toolbar buttons in order; 0 is a separator.
std::span<const unsigned> ToolbarLayout();

// The commands whose state follows the clip list's selection.
constexpr unsigned kSelectionCommands[] = {driver::ID_CLIP_DELETE, driver::ID_EDIT_RANGE,
                                           driver::ID_CLIP_UP, driver::ID_CLIP_DOWN,
                                           driver::ID_START};

}  // namespace ui
