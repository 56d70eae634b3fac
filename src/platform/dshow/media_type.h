// Media types that own their format block.
#pragma once

#include "platform/dshow/types.h"

namespace platform::dshow {

// Frees the format block and the held unknown of type and empties them; type stays valid.
void FreeMediaType(AM_MEDIA_TYPE& type);
// Deep copy of source into target (which must hold nothing); E_OUTOFMEMORY when the format
// block cannot be copied, target then empty.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);

class CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType();
    explicit CMediaType(const AM_MEDIA_TYPE& other);
    CMediaType(const CMediaType& other);
    CMediaType& operator=(const AM_MEDIA_TYPE& other);
    CMediaType& operator=(const CMediaType& other);
    ~CMediaType();

    // Copies length bytes into a new format block; false when it cannot be allocated.
    bool SetFormat(const void* format, uint32_t length);
    // The format block as T when it holds at least sizeof(T) bytes, else null.
    template <typename T>
    const T* FormatAs() const {
        return pbFormat != nullptr && cbFormat >= sizeof(T) ? reinterpret_cast<const T*>(pbFormat)
                                                            : nullptr;
    }
    bool IsEmpty() const;
    void Clear();

private:
    void Assign(const AM_MEDIA_TYPE& other);
};

}  // namespace platform::dshow
