#include "platform/dshow/streaming_thread.h"

namespace platform::dshow {
namespace {
thread_local bool streaming = false;
}  // namespace

bool IsStreamingThread() { return streaming; }
StreamingThreadMark::StreamingThreadMark() { streaming = true; }
StreamingThreadMark::~StreamingThreadMark() { streaming = false; }

}  // namespace platform::dshow
