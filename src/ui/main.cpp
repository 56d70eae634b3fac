// Lumivane's entry: start-up log lines, then the main window, all under the crash guard.
#include <sys/utsname.h>

#include "core/crash_report.h"
#include "core/log.h"

namespace {

constexpr const char* kVersion = "2.11";

void LogStartupInfo() {
    core::InitLog("Lumivane.log");
    core::LogPrintf("Lumivane version %s start\n", kVersion);
    utsname system{};
    if (uname(&system) == 0) core::LogPrintf("%s %s %s\n", system.sysname, system.release,
                                             system.version);
}

// The main window and its message loop come here; until then there is nothing to run.
int Run() { return 0; }

}  // namespace

int main() {
    int exitCode = 1;  // stays 1 when the guard catches a crash
    core::RunGuarded([&] {
        LogStartupInfo();
        exitCode = Run();
    });
    core::LogPrintf("Lumivane end\n\n");
    return exitCode;
}
