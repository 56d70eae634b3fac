#include "author/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace author {

namespace {

constexpr const char* kErrorPrefix = "ERR:";
constexpr const char* kLineEnds = "\r\n";

// The lines of the running capture and the part of a message line not yet ended.
std::vector<std::string>* capturedLines = nullptr;
std::string pendingLine;

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

void CollectErrorLine(const std::string& line) {
    if (line.rfind(kErrorPrefix, 0) != 0) return;
    const std::string reason = Trimmed(line.substr(std::strlen(kErrorPrefix)));
    if (!reason.empty()) capturedLines->push_back(reason);
}

// Messages come in pieces (a time, then the rest of its line), so lines are put together
// before they are looked at. A progress line ends in a carriage return alone, so that the next
// one overwrites it on a terminal; whatever follows it is a line of its own.
void Capture(const std::string& text) {
    if (capturedLines == nullptr) return;
    pendingLine += text;
    size_t end;
    while ((end = pendingLine.find_first_of(kLineEnds)) != std::string::npos) {
        CollectErrorLine(pendingLine.substr(0, end));
        pendingLine.erase(0, end + 1);
    }
}

void Write(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) return;
    std::string text(size_t(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    std::fputs(text.c_str(), stderr);
    Capture(text);
}

}  // namespace

ErrorLineCapture::ErrorLineCapture(std::vector<std::string>* lines) {
    capturedLines = lines;
    pendingLine.clear();
}

ErrorLineCapture::~ErrorLineCapture() {
    // A last message without its line end still tells what went wrong.
    if (capturedLines != nullptr && !pendingLine.empty()) CollectErrorLine(pendingLine);
    capturedLines = nullptr;
    pendingLine.clear();
}

void emit(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Write(format, args);
    va_end(args);
}

void emit_time(int32_t ticks) { emit("%d.%03d", ticks / 90000, (ticks / 90) % 1000); }

void fatal(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Write(format, args);
    va_end(args);
    std::fflush(stderr);
    throw FatalError{};
}

}  // namespace author
