#include "core/log.h"

#include <fcntl.h>
#include <locale.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "core/file_utils.h"
#include "platform/settings_store.h"

namespace core {

namespace {

std::string g_logPath;

std::string ExecutableDirectory() {
    std::error_code ec;
    std::string exe = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    if (ec) return {};
    RemoveFileSpec(exe);
    return exe;
}

// $XDG_STATE_HOME/Lumivane (by default ~/.local/state/Lumivane), created; empty when there is
// no home to put it in.
std::string StateDirectory() {
    std::string base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/') {
        base = state;
    } else {
        const std::string home = platform::UserHomeDirectory();
        if (home.empty()) return {};
        base = home + "/.local/state";
    }
    std::string dir = base + "/Lumivane";
    return CreateDirectoryTree(dir.c_str()) ? dir : std::string();
}

// One write on an append-mode descriptor: the kernel keeps each line whole.
int AppendToLog(const std::string& text) {
    if (g_logPath.empty()) return 0;
    const int fd = ::open(g_logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return 0;
    const ssize_t written = ::write(fd, text.data(), text.size());
    ::close(fd);
    return written < 0 ? 0 : static_cast<int>(written);
}

}  // namespace

void InitLog(const char* fileName) {
    std::string dir = ExecutableDirectory();
    if (dir.empty() || ::access(dir.c_str(), W_OK) != 0) dir = StateDirectory();
    // Without a folder to write to, lines are dropped rather than written to a relative path.
    InitLogAtPath(dir.empty() ? std::string() : dir + "/" + fileName);
}

void InitLogAtPath(const std::string& path) {
    g_logPath = path;
    if (g_logPath.empty()) return;
    const int fd = ::open(g_logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
}

const std::string& LogPath() { return g_logPath; }

int LogPrintf(const char* format, ...) {
    const std::time_t now = std::time(nullptr);
    va_list args;
    va_start(args, format);
    const std::string message = FormatStringV(format, args);
    va_end(args);
    return AppendToLog("[" + FormatLogTime(&now, "%c") + "]: " + message);
}

int LogWrite(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string message = FormatStringV(format, args);
    va_end(args);
    return AppendToLog(message);
}

std::string FormatLogTime(const std::time_t* time, const char* format) {
    if (!time || !format) return {};
    std::tm local{};
    if (!localtime_r(time, &local)) return {};
    // The C locale's names, whatever locale the user interface switches the process to, so that
    // every stamp in one log reads alike.
    static const locale_t kCLocale = ::newlocale(LC_ALL_MASK, "C", locale_t{});
    char buffer[128];
    const size_t length = kCLocale ? ::strftime_l(buffer, sizeof buffer, format, &local, kCLocale)
                                   : std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, length);
}

void RemoveFileSpec(std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        path.clear();
    } else {
        path.erase(slash == 0 ? 1 : slash);
    }
}

}  // namespace core
