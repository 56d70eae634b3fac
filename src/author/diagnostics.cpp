#include "author/diagnostics.h"

#include <cstdarg>
#include <cstdio>

namespace author {

void emit(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

void emit_time(int32_t ticks) { emit("%d.%03d", ticks / 90000, (ticks / 90) % 1000); }

void fatal(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
    throw FatalError{};
}

}  // namespace author
