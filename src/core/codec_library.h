// One-time set-up of libavcodec and libavformat for the job, and the error texts they leave.
#pragma once

#include <string>

namespace core {

// Silences the libraries' own log output (once per process; later calls return at once).
// The encoders and muxers of FFmpeg 5.1 are registered by the library itself. Returns 1.
int InitCodecLibrary();

// The last error-level message the libraries logged on this thread, then forgets it; empty
// when there was none. The log is silenced, so this is the only way their reason reaches us.
std::string TakeCodecLibraryMessage();

// Drops what the libraries logged so far on this thread: called before a call whose failure
// we describe, so that earlier chatter (rate-control warnings logged as errors) is not taken
// for its reason.
void ForgetCodecLibraryMessage();

// "what: <error code text>" plus the library's own last message, for our log and callers.
std::string CodecFailure(const std::string& what, int errorCode);
// "what" plus the library's own last message when there is one.
std::string CodecFailure(const std::string& what);

}  // namespace core
