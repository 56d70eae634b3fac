// Lumivane's entry: start-up log lines, then the main window, all under the crash guard.
#include <sys/utsname.h>

#include <QApplication>

#include "core/crash_report.h"
#include "core/log.h"
#include "platform/com/class_table.h"
#include "platform/message_box.h"
#include "reader/directx_version.h"
#include "ui/main_frame_window.h"
#include "ui/message_boxes.h"
#include "ui/version.h"

namespace {

void LogStartupInfo() {
    core::InitLog("Lumivane.log");
    core::LogPrintf("Lumivane version %s start\n", ui::kVersion);
    utsname system{};
    if (uname(&system) == 0) core::LogPrintf("%s %s %s\n", system.sysname, system.release,
                                             system.version);
    uint32_t major = 0;
    uint32_t minor = 0;
    char letter = ' ';
    if (reader::GetDirectXVersion(&major, &minor, &letter) < 0)
        core::LogPrintf("Can not get DirectX version.\n");
    else if (letter == ' ')
        core::LogPrintf("DirectX version %u.%u\n", major, minor);
    else
        core::LogPrintf("DirectX version %u.%u%c\n", major, minor, letter);
}

// Shows the main window and runs the event loop until the window has closed.
int Run(int& argc, char** argv) {
    // The preview graph of the clip range dialog is built on this thread.
    platform::com::ScopedComInit com;
    QApplication app(argc, argv);
    ui::QtMessageBoxService messageBoxes;
    platform::SetMessageBoxService(&messageBoxes);
    int exitCode = 0;
    {
        ui::MainFrameWindow window;
        window.show();
        exitCode = app.exec();
    }
    platform::SetMessageBoxService(nullptr);
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 1;  // stays 1 when the guard catches a crash
    core::RunGuarded([&] {
        LogStartupInfo();
        exitCode = Run(argc, argv);
    });
    core::LogPrintf("Lumivane end\n\n");
    return exitCode;
}
