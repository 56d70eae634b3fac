#include "platform/dshow/picture_request.h"

namespace platform::dshow {

HRESULT ReconnectAtPictureSize(IGraphBuilder* graph, IPin* output, IPin* input,
                               const CMediaType& connected, const BITMAPINFOHEADER& wanted) {
    if (graph == nullptr || output == nullptr || input == nullptr) return com::E_POINTER;
    const auto* native = connected.FormatAs<VIDEOINFOHEADER>();
    if (native == nullptr || wanted.biWidth <= 0 || wanted.biHeight <= 0) return com::E_INVALIDARG;
    VIDEOINFOHEADER resized = *native;
    resized.bmiHeader.biWidth = wanted.biWidth;
    resized.bmiHeader.biHeight = wanted.biHeight;
    SetPixelAspect(resized.bmiHeader, PixelAspectOf(wanted));
    resized.bmiHeader.biSizeImage = Rgb24Stride(wanted.biWidth) * uint32_t(wanted.biHeight);
    CMediaType type(connected);
    if (!type.SetFormat(&resized, sizeof resized)) return com::E_OUTOFMEMORY;
    type.lSampleSize = resized.bmiHeader.biSizeImage;
    graph->Disconnect(output);
    graph->Disconnect(input);
    if (com::SUCCEEDED(graph->ConnectDirect(output, input, &type))) return com::S_OK;
    return graph->ConnectDirect(output, input, nullptr);
}

}  // namespace platform::dshow
