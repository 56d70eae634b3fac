// A media sample that owns its buffer: what our source filter hands downstream.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/unknown.h"
#include "platform/dshow/interfaces.h"

namespace platform::dshow {

// Every sample buffer has this many bytes beyond its capacity. libswscale's vector code stores
// and loads whole words past the end of a picture row; with bottom-up pictures written through
// a negative stride the first row written is the buffer's last, so without the slack those
// stores land outside the allocation.
inline constexpr size_t kSampleBufferSlack = 64;

// Buffers of one size kept for reuse: a fresh multi-megabyte picture buffer per frame costs
// more in page faults than decoding the frame.
class SampleBufferPool {
public:
    explicit SampleBufferPool(size_t keep) : keep_(keep) {}
    // A buffer of at least capacity bytes, contents undefined; null when none can be had.
    std::unique_ptr<BYTE[]> Take(size_t capacity);
    void Give(std::unique_ptr<BYTE[]> buffer, size_t capacity);

private:
    const size_t keep_;
    std::mutex mutex_;
    size_t capacity_ = 0;
    std::vector<std::unique_ptr<BYTE[]>> spare_;
};

class MediaSample : public com::CUnknown, public IMediaSample {
public:
    // A sample with room for capacity bytes (contents undefined), holding one reference for
    // the caller; null when the buffer cannot be allocated. With a pool the buffer comes from
    // it and goes back to it when the sample dies.
    static com::ComPtr<MediaSample> Create(size_t capacity,
                                           std::shared_ptr<SampleBufferPool> pool = nullptr);
    ~MediaSample() override;

    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(com::REFIID riid, void** object) override;

    HRESULT GetPointer(BYTE** buffer) override;
    long GetSize() override;
    HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
    HRESULT SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* stop) override;
    HRESULT IsSyncPoint() override;
    HRESULT IsPreroll() override;
    HRESULT IsDiscontinuity() override;
    long GetActualDataLength() override;
    HRESULT SetActualDataLength(long length) override;

    BYTE* Data() { return buffer_.get(); }
    void SetDiscontinuity(bool discontinuity) { discontinuity_ = discontinuity; }

private:
    MediaSample() : CUnknown(nullptr) {}

    std::unique_ptr<BYTE[]> buffer_;
    size_t capacity_ = 0;
    std::shared_ptr<SampleBufferPool> pool_;
    long length_ = 0;
    bool hasTimes_ = false;
    REFERENCE_TIME start_ = 0;
    REFERENCE_TIME stop_ = 0;
    bool discontinuity_ = false;
};

}  // namespace platform::dshow
