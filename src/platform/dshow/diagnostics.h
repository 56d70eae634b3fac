// Where the DirectShow stand-ins report trouble that has no caller to return it to (a read
// error on a streaming thread). The program routes it into its log; the default is stderr.
#pragma once

#include <functional>
#include <string>

namespace platform::dshow {

using DiagnosticSink = std::function<void(const std::string& line)>;

// Installs sink (an empty one restores the default). Lines end with a line feed.
void SetDiagnosticSink(DiagnosticSink sink);
void ReportDiagnostic(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform::dshow
