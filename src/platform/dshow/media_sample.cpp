#include "platform/dshow/media_sample.h"

#include <new>

namespace platform::dshow {

namespace {

std::unique_ptr<BYTE[]> AllocateSampleBuffer(size_t capacity) {
    return std::unique_ptr<BYTE[]>(new (std::nothrow) BYTE[capacity + kSampleBufferSlack]());
}

}  // namespace

using com::E_POINTER;
using com::S_FALSE;
using com::S_OK;

std::unique_ptr<BYTE[]> SampleBufferPool::Take(size_t capacity) {
    {
        std::lock_guard lock(mutex_);
        if (capacity != capacity_) {
            spare_.clear();
            capacity_ = capacity;
        }
        if (!spare_.empty()) {
            std::unique_ptr<BYTE[]> buffer = std::move(spare_.back());
            spare_.pop_back();
            return buffer;
        }
    }
    return AllocateSampleBuffer(capacity);
}

void SampleBufferPool::Give(std::unique_ptr<BYTE[]> buffer, size_t capacity) {
    std::lock_guard lock(mutex_);
    if (capacity == capacity_ && spare_.size() < keep_) spare_.push_back(std::move(buffer));
}

com::ComPtr<MediaSample> MediaSample::Create(size_t capacity, std::shared_ptr<SampleBufferPool> pool) {
    com::ComPtr<MediaSample> sample;
    auto* created = new (std::nothrow) MediaSample();
    if (created == nullptr) return sample;
    sample = com::ComPtr<MediaSample>(created);
    created->buffer_ = pool ? pool->Take(capacity) : AllocateSampleBuffer(capacity);
    if (!created->buffer_) return nullptr;
    created->capacity_ = capacity;
    created->pool_ = std::move(pool);
    return sample;
}

MediaSample::~MediaSample() {
    if (pool_ && buffer_) pool_->Give(std::move(buffer_), capacity_);
}

HRESULT MediaSample::NonDelegatingQueryInterface(com::REFIID riid, void** object) {
    if (riid == IMediaSample::kIid) {
        return com::GetInterface(static_cast<IMediaSample*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, object);
}

HRESULT MediaSample::GetPointer(BYTE** buffer) {
    if (buffer == nullptr) return E_POINTER;
    *buffer = buffer_.get();
    return S_OK;
}

long MediaSample::GetSize() { return static_cast<long>(capacity_); }

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
    if (length < 0 || size_t(length) > capacity_) return com::E_INVALIDARG;
    length_ = length;
    return S_OK;
}

}  // namespace platform::dshow
