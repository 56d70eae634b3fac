// How a running graph ended, with the reason a filter gave when it ended in an error, so that
// the job can tell the user why a clip could not be read.
#pragma once

#include "platform/dshow/interfaces.h"

namespace reader {

struct GraphEnd {
    long code = 0;  // EC_COMPLETE, EC_ERRORABORT or EC_USERABORT; 0 while the graph runs on
    // What the filter that aborted reported (a system error carried by HresultFromErrno when
    // the file could not be read); S_OK for any other end.
    platform::com::HRESULT failure = 0;
};

// Takes the graph's events for up to timeoutMs and returns at its end; code 0 when it has not
// ended by then.
GraphEnd WaitForGraphEnd(platform::dshow::IMediaEventEx* events, long timeoutMs);

}  // namespace reader
