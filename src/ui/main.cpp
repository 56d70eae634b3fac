// Lumivane's entry: start-up log lines, then the main window.
#include <sys/utsname.h>

#include "core/log.h"

int main() {
    core::InitLog("Lumivane.log");
    core::LogPrintf("Lumivane version %s\n", "2.11");
    utsname system{};
    if (uname(&system) == 0) core::LogPrintf("System: %s %s\n", system.sysname, system.release);
    core::LogPrintf("Lumivane end\n");
    return 0;
}
