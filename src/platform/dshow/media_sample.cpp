#include "platform/dshow/media_sample.h"

#include <new>

namespace platform::dshow {

using com::E_POINTER;
using com::S_FALSE;
using com::S_OK;

com::ComPtr<MediaSample> MediaSample::Create(size_t capacity) {
    com::ComPtr<MediaSample> sample;
    auto* created = new (std::nothrow) MediaSample();
    if (created == nullptr) return sample;
    sample = com::ComPtr<MediaSample>(created);
    try {
        created->buffer_.resize(capacity);
    } catch (const std::bad_alloc&) {
        sample = nullptr;
    }
    return sample;
}

HRESULT MediaSample::NonDelegatingQueryInterface(com::REFIID riid, void** object) {
    if (riid == IMediaSample::kIid) {
        return com::GetInterface(static_cast<IMediaSample*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

HRESULT MediaSample::GetPointer(BYTE** buffer) {
    if (buffer == nullptr) return E_POINTER;
    *buffer = buffer_.data();
    return S_OK;
}

long MediaSample::GetSize() { return static_cast<long>(buffer_.size()); }

HRESULT MediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
    if (start == nullptr || stop == nullptr) return E_POINTER;
    if (!hasTimes_) return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = start_;
    *stop = stop_;
    return S_OK;
}

HRESULT MediaSample::SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* stop) {
    hasTimes_ = start != nullptr;
    start_ = start ? *start : 0;
    stop_ = stop ? *stop : start_;
    return S_OK;
}

HRESULT MediaSample::IsSyncPoint() { return S_OK; }
HRESULT MediaSample::IsPreroll() { return S_FALSE; }
HRESULT MediaSample::IsDiscontinuity() { return discontinuity_ ? S_OK : S_FALSE; }
long MediaSample::GetActualDataLength() { return length_; }

HRESULT MediaSample::SetActualDataLength(long length) {
    if (length < 0 || size_t(length) > buffer_.size()) return com::E_INVALIDARG;
    length_ = length;
    return S_OK;
}

}  // namespace platform::dshow
