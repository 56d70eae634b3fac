// A media sample that owns its buffer: what our source filter hands downstream.
#pragma once

#include <vector>

#include "platform/com/unknown.h"
#include "platform/dshow/interfaces.h"

namespace platform::dshow {

class MediaSample : public com::CUnknown, public IMediaSample {
public:
    // A sample with room for capacity bytes, holding one reference for the caller; null when
    // the buffer cannot be allocated.
    static com::ComPtr<MediaSample> Create(size_t capacity);

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

    BYTE* Data() { return buffer_.data(); }
    void SetDiscontinuity(bool discontinuity) { discontinuity_ = discontinuity; }

private:
    MediaSample() : CUnknown(nullptr) {}

    std::vector<BYTE> buffer_;
    long length_ = 0;
    bool hasTimes_ = false;
    REFERENCE_TIME start_ = 0;
    REFERENCE_TIME stop_ = 0;
    bool discontinuity_ = false;
};

}  // namespace platform::dshow
