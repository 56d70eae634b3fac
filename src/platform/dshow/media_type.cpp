#include "platform/dshow/media_type.h"

#include <cstdlib>
#include <cstring>

namespace platform::dshow {

void FreeMediaType(AM_MEDIA_TYPE& type) {
    std::free(type.pbFormat);
    type.pbFormat = nullptr;
    type.cbFormat = 0;
    if (type.pUnk != nullptr) {
        type.pUnk->Release();
        type.pUnk = nullptr;
    }
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
    if (target == nullptr || source == nullptr) return com::E_POINTER;
    *target = *source;
    target->pbFormat = nullptr;
    target->cbFormat = 0;
    if (source->cbFormat != 0 && source->pbFormat != nullptr) {
        target->pbFormat = static_cast<BYTE*>(std::malloc(source->cbFormat));
        if (target->pbFormat == nullptr) {
            target->pUnk = nullptr;
            return com::E_OUTOFMEMORY;
        }
        std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
        target->cbFormat = source->cbFormat;
    }
    if (target->pUnk != nullptr) target->pUnk->AddRef();
    return com::S_OK;
}

CMediaType::CMediaType() : AM_MEDIA_TYPE{} { bFixedSizeSamples = 1; }

CMediaType::CMediaType(const AM_MEDIA_TYPE& other) : AM_MEDIA_TYPE{} { Assign(other); }

CMediaType::CMediaType(const CMediaType& other) : AM_MEDIA_TYPE{} { Assign(other); }

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other) {
    if (&other != this) Assign(other);
    return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& other) {
    return *this = static_cast<const AM_MEDIA_TYPE&>(other);
}

CMediaType::~CMediaType() { FreeMediaType(*this); }

void CMediaType::Assign(const AM_MEDIA_TYPE& other) {
    FreeMediaType(*this);
    if (com::FAILED(CopyMediaType(this, &other))) {
        // Keep the identifiers; a type without its block is refused by every format check.
        pbFormat = nullptr;
        cbFormat = 0;
    }
}

bool CMediaType::SetFormat(const void* format, uint32_t length) {
    BYTE* block = nullptr;
    if (length != 0) {
        block = static_cast<BYTE*>(std::malloc(length));
        if (block == nullptr) return false;
        std::memcpy(block, format, length);
    }
    std::free(pbFormat);
    pbFormat = block;
    cbFormat = length;
    return true;
}

bool CMediaType::IsEmpty() const {
    return majortype == com::GUID_NULL && subtype == com::GUID_NULL && cbFormat == 0;
}

void CMediaType::Clear() {
    FreeMediaType(*this);
    static_cast<AM_MEDIA_TYPE&>(*this) = AM_MEDIA_TYPE{};
}

}  // namespace platform::dshow
