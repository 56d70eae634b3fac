#include "ui/ui_test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace ui_test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumivane-ui-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ScriptedMessageBoxes::ScriptedMessageBoxes() { platform::SetMessageBoxService(this); }

ScriptedMessageBoxes::~ScriptedMessageBoxes() { platform::SetMessageBoxService(nullptr); }

void ScriptedMessageBoxes::Answer(int answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
}

int ScriptedMessageBoxes::Show(const std::string& text, const std::string& caption,
                               unsigned style) {
    std::lock_guard lock(mutex_);
    boxes_.push_back({text, caption, style});
    if (answers_.empty()) return platform::IDOK;
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

std::vector<ScriptedMessageBoxes::Box> ScriptedMessageBoxes::Boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
}

bool MakeClip(const std::string& path, double seconds, const std::string& size, int rate,
              bool withAudio, const std::string& picture, const std::string& pictureFilters) {
    std::string command = "ffmpeg -nostdin -loglevel error -y -f lavfi -i " + picture +
                          (picture.find('=') == std::string::npos ? "=" : ":") + "size=" + size + ":rate=" + std::to_string(rate) + ":duration=" +
                          std::to_string(seconds) + pictureFilters;
    if (withAudio)
        command += " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=" +
                   std::to_string(seconds) + " -c:a mp2";
    command += " -c:v mpeg4 -q:v 5 -g 10 '" + path + "'";
    return std::system(command.c_str()) == 0;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return done();
}

}  // namespace ui_test
