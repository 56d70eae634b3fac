// Message boxes for everything that calls platform::ShowMessageBox: shown on the
// user-interface thread whichever thread asks. A caller on another thread waits for the
// answer; the user-interface thread never waits for such a caller, so this cannot deadlock.
#pragma once

#include "platform/message_box.h"

namespace ui {

class QtMessageBoxService : public platform::MessageBoxService {
public:
    int Show(const std::string& text, const std::string& caption, unsigned style) override;
};

}  // namespace ui
