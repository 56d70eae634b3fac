#include "core/codec_library.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace core {

namespace {

// Messages come from the thread that called into the library, so each thread keeps its own.
thread_local std::string t_lastLibraryError;

void KeepErrorsOnly(void* avClass, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) return;
    char line[1024];
    int printPrefix = 0;  // no "[codec @ address]": the caller names what failed
    av_log_format_line2(avClass, level, format, args, line, sizeof line, &printPrefix);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (!text.empty()) t_lastLibraryError = text;
}

}  // namespace

int InitCodecLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(KeepErrorsOnly); });
    return 1;
}

std::string TakeCodecLibraryMessage() {
    std::string message;
    message.swap(t_lastLibraryError);
    return message;
}

void ForgetCodecLibraryMessage() { t_lastLibraryError.clear(); }

std::string CodecFailure(const std::string& what, int errorCode) {
    char code[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(errorCode, code, sizeof code);
    return CodecFailure(what + ": " + code);
}

std::string CodecFailure(const std::string& what) {
    const std::string library = TakeCodecLibraryMessage();
    return library.empty() ? what : what + " (" + library + ")";
}

}  // namespace core
