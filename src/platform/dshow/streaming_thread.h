// Which threads are streaming threads. A sink runs on them while the graph's owner may be
// waiting for them to leave (in Stop, or in a seek that restarts them), so they may read
// positions but must not change the state of the graph: such calls answer
// VFW_E_WRONG_STATE instead of deadlocking.
#pragma once

namespace platform::dshow {

bool IsStreamingThread();

// Marks the current thread as a streaming thread for its lifetime.
class StreamingThreadMark {
public:
    StreamingThreadMark();
    ~StreamingThreadMark();
    StreamingThreadMark(const StreamingThreadMark&) = delete;
    StreamingThreadMark& operator=(const StreamingThreadMark&) = delete;
};

}  // namespace platform::dshow
