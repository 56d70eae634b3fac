// The authoring engine's messages and fatal errors.
//
// Messages go to standard error with their prefix ("ERR:  ", "WARN: ", "INFO: ", "STAT: ")
// written by the caller as part of the text. A fatal error prints its message and then unwinds
// to the engine's entry, which closes what the run opened and returns 1: the engine runs inside
// the application, so it never ends the process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace author {

struct FatalError {};

// Writes the formatted text to the engine's message stream.
void emit(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes 90 kHz ticks as seconds with milliseconds ("%d.%03d"), as every message shows times.
void emit_time(int32_t ticks);
// Writes the formatted text, then unwinds to the entry with FatalError.
[[noreturn]] void fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While one lives, the error lines ("ERR:" and what follows it, up to the line's end) of the
// messages are also collected, without their prefix, so that the caller can show the user what
// went wrong and not only standard error. One capture at a time, on the engine's thread.
class ErrorLineCapture {
public:
    explicit ErrorLineCapture(std::vector<std::string>* lines);
    ~ErrorLineCapture();
    ErrorLineCapture(const ErrorLineCapture&) = delete;
    ErrorLineCapture& operator=(const ErrorLineCapture&) = delete;
};

}  // namespace author
