#include "platform/dshow/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace platform::dshow {
namespace {
std::mutex sinkMutex;
DiagnosticSink currentSink;
}  // namespace

void SetDiagnosticSink(DiagnosticSink sink) {
    std::lock_guard lock(sinkMutex);
    currentSink = std::move(sink);
}

void ReportDiagnostic(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string line(length > 0 ? size_t(length) : 0, '\0');
    if (length > 0) std::vsnprintf(line.data(), line.size() + 1, format, args);
    va_end(args);
    std::lock_guard lock(sinkMutex);
    if (currentSink) {
        currentSink(line);
    } else {
        std::fputs(line.c_str(), stderr);
    }
}

}  // namespace platform::dshow
