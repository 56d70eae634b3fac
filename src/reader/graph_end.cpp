#include "reader/graph_end.h"

namespace reader {

using namespace platform::dshow;

GraphEnd WaitForGraphEnd(IMediaEventEx* events, long timeoutMs) {
    GraphEnd end;
    long code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    while (platform::com::SUCCEEDED(events->GetEvent(&code, &param1, &param2, timeoutMs))) {
        events->FreeEventParams(code, param1, param2);
        if (code != EC_COMPLETE && code != EC_ERRORABORT && code != EC_USERABORT) continue;
        end.code = code;
        if (code == EC_ERRORABORT) end.failure = platform::com::HRESULT(param1);
        break;
    }
    return end;
}

}  // namespace reader
