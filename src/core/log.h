// The program's log file: one time-stamped line per event, from any thread.
#pragma once

#include <ctime>
#include <string>

namespace core {

// Sets the log path (the executable's folder when writable, else the per-user state folder)
// and empties the file. Called once at start-up.
void InitLog(const char* fileName);
// Sets the log path as given and empties the file; an empty path drops every line.
void InitLogAtPath(const std::string& path);
// The path InitLog chose; empty before InitLog.
const std::string& LogPath();

// Appends "[" + local time ("%c") + "]: " + the formatted message. Messages carry their own
// line ends. Each call is a single append, so lines from different threads never tear.
int LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Appends the message without the time stamp.
int LogWrite(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Local time formatted with strftime in the C locale into at most 127 characters; empty when
// the time cannot be converted, the result would not fit, or format is null.
std::string FormatLogTime(const std::time_t* time, const char* format);

// Cuts the last path component in place ("/a/b/c" -> "/a/b", "/a" -> "/").
void RemoveFileSpec(std::string& path);

}  // namespace core
