#include "core/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

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

std::string StateDirectory() {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base;
    if (state && *state) {
        base = state;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home ? home : "") + "/.local/state";
    }
    std::string dir = base + "/Lumivane";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return dir;
}

std::string FormatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
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
    g_logPath = dir + "/" + fileName;
    if (std::FILE* file = std::fopen(g_logPath.c_str(), "w")) std::fclose(file);
}

const std::string& LogPath() { return g_logPath; }

int LogPrintf(const char* format, ...) {
    const std::time_t now = std::time(nullptr);
    va_list args;
    va_start(args, format);
    const std::string message = FormatV(format, args);
    va_end(args);
    return AppendToLog("[" + FormatLogTime(&now, "%c") + "]: " + message);
}

int LogWrite(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string message = FormatV(format, args);
    va_end(args);
    return AppendToLog(message);
}

std::string FormatLogTime(const std::time_t* time, const char* format) {
    if (!time || !format) return {};
    std::tm local{};
    if (!localtime_r(time, &local)) return {};
    char buffer[128];
    const size_t length = std::strftime(buffer, sizeof buffer, format, &local);
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
