// Asking a source for its pictures at another size than it offers: a source that decodes
// scales once, while converting from the decoder's format, which costs far less than
// converting at the file's size and scaling the RGB pictures again downstream.
#pragma once

#include "platform/dshow/interfaces.h"
#include "platform/dshow/media_type.h"

namespace platform::dshow {

// Reconnects output to input with connected (their video type) changed to wanted's width,
// height and pixel shape. When the pins refuse that size they are connected again as a plain
// connect would, and only a failure of that is returned.
HRESULT ReconnectAtPictureSize(IGraphBuilder* graph, IPin* output, IPin* input,
                               const CMediaType& connected, const BITMAPINFOHEADER& wanted);

}  // namespace platform::dshow
