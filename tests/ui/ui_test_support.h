// What the window tests share: a private settings folder, scripted message boxes, media
// fixtures made by ffmpeg, and waiting on the event loop.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/message_box.h"

namespace ui_test {

// A folder of its own for one test, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Records every box and answers from a script (IDOK once the script is used up).
class ScriptedMessageBoxes : public platform::MessageBoxService {
public:
    struct Box {
        std::string text;
        std::string caption;
        unsigned style;
    };
    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes() override;
    void Answer(int answer);
    int Show(const std::string& text, const std::string& caption, unsigned style) override;
    std::vector<Box> Boxes() const;

private:
    mutable std::mutex mutex_;
    std::deque<int> answers_;
    std::vector<Box> boxes_;
};

// Makes a clip with ffmpeg's test sources; false when ffmpeg fails. size as "WxH"; the
// pictures come from the lavfi source `picture` followed by `pictureFilters` (",drawbox=...").
bool MakeClip(const std::string& path, double seconds, const std::string& size, int rate,
              bool withAudio, const std::string& picture = "testsrc",
              const std::string& pictureFilters = "");

// Runs the event loop until done() or the time-out; returns done().
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

}  // namespace ui_test
