// The window tests' entry: a private settings folder and a QApplication for the whole run.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/log.h"
#include "platform/com/class_table.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Each test runs in a process of its own under ctest; the settings it stores and the
    // documents folder the window defaults to must reach neither the user's own nor another
    // test's.
    std::string config = (std::filesystem::temp_directory_path() / "lumivane-ui-config-XXXXXX").string();
    if (mkdtemp(config.data()) == nullptr) return 1;
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("XDG_DOCUMENTS_DIR", (config + "/Documents").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    core::InitLogAtPath("");
    platform::com::ScopedComInit com;  // the preview builds its graph on this thread
    QApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(config, ignored);
    return result;
}
