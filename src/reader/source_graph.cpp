#include "reader/source_graph.h"

#include <cctype>
#include <cmath>

#include "core/log.h"
#include "platform/com/class_table.h"
#include "platform/dshow/diagnostics.h"
#include "platform/dshow/picture_request.h"
#include "reader/clip_record.h"
#include "reader/graph_end.h"

namespace reader {

using namespace platform::com;
using namespace platform::dshow;

namespace {

// How often the run loop looks at the cancel event and the graph's end: short enough that a
// cancelled clip stops delivering promptly instead of running on for up to a second. A stop
// is seen at once.
constexpr long kWaitSliceMs = 50;

// Waits up to a slice for the graph to end, but returns as soon as the clip is stopped: the
// sink stops the clip at its range's end and from then on takes nothing, so the source
// decodes and reads on as fast as it can until the graph is stopped.
GraphEnd WaitForGraphEndOrStop(IMediaEventEx* events, const platform::ManualResetEvent* stop) {
    if (stop == nullptr) return WaitForGraphEnd(events, kWaitSliceMs);
    stop->Wait(unsigned(kWaitSliceMs));
    return WaitForGraphEnd(events, 0);
}

// Streaming trouble reported inside the platform layer goes into our log.
void RouteDiagnosticsToLog() {
    SetDiagnosticSink([](const std::string& line) { core::LogPrintf("%s", line.c_str()); });
}

}  // namespace

void SourceGraph::Init(GraphOwner* owner) {
    Release();
    Owner = owner;
}

HRESULT SourceGraph::Build(ClipRecord* clip) {
    RouteDiagnosticsToLog();
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, &GraphBuilder);
    if (FAILED(hr)) return hr;

    ComPtr<IBaseFilter> converter;  // released on every road out; the graph keeps its own
    CoCreateInstance(CLSID_ACMWrapper, nullptr, CLSCTX_ALL, &converter);
    if (!converter) return E_POINTER;
    hr = GraphBuilder->AddFilter(converter.Get(), "ACM Filter1");
    if (FAILED(hr)) return hr;

    hr = AddReceiver(GraphBuilder.Get(), &AudioReceiver, "ReceiverAudio");
    if (FAILED(hr)) return hr;
    hr = AddReceiver(GraphBuilder.Get(), &VideoReceiver, "ReceiverVideo");
    if (FAILED(hr)) return hr;

    // The video sink is installed once the picture size is settled, so it hears of one
    // format, the one its pictures come in.
    SampleSink* sink = Owner != nullptr ? Owner->Sink() : nullptr;
    AudioReceiver->SetCallback(sink);

    if (clip == nullptr) return E_POINTER;
    Clip = clip;
    hr = RenderFile(clip->Path);
    if (FAILED(hr)) return hr;
    hr = AskForWantedPicture();
    if (FAILED(hr)) return hr;
    VideoReceiver->SetCallback(sink);
    AnnounceVideoFormat(sink);

    GraphBuilder.As(&MediaControl);
    GraphBuilder.As(&MediaEvent);
    GraphBuilder.As(&MediaSeeking);
    GraphBuilder.As(&MediaFilter);
    if (MediaFilter) MediaFilter->SetSyncSource(nullptr);
    return S_OK;
}

HRESULT SourceGraph::RenderFile(const std::string& path) {
    const HRESULT hr = IsWindowsMediaFile(path) ? AddAsfReader(path)
                                                : GraphBuilder->RenderFile(path.c_str(), nullptr);
    return FAILED(hr) ? hr : S_OK;
}

bool SourceGraph::IsWindowsMediaFile(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot == 0) return false;
    std::string extension = path.substr(dot);
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".asf" || extension == ".wma" || extension == ".wmv";
}

HRESULT SourceGraph::AddAsfReader(const std::string& path) {
    ComPtr<IBaseFilter> asfReader;
    HRESULT hr = CoCreateInstance(CLSID_WMAsfReader, nullptr, CLSCTX_INPROC_SERVER, &asfReader);
    if (FAILED(hr)) return hr;
    hr = GraphBuilder->AddFilter(asfReader.Get(), nullptr);
    if (FAILED(hr)) return hr;
    ComPtr<IFileSourceFilter> loader;
    hr = asfReader.As(&loader);
    if (SUCCEEDED(hr)) hr = loader->Load(path.c_str(), nullptr);
    if (FAILED(hr)) return hr;
    return RenderOutputPins(GraphBuilder.Get(), asfReader.Get());
}

HRESULT SourceGraph::AskForWantedPicture() {
    ReceiverPin* input = VideoReceiver ? VideoReceiver->InputPin() : nullptr;
    if (input == nullptr || Owner == nullptr) return S_OK;
    CMediaType connected;
    ComPtr<IPin> output;
    if (FAILED(input->ConnectionMediaType(&connected)) || FAILED(input->ConnectedTo(output.Put()))) {
        return S_OK;  // a clip without pictures
    }
    const auto* info = connected.FormatAs<VIDEOINFOHEADER>();
    if (info == nullptr) return S_OK;
    const BITMAPINFOHEADER wanted = Owner->WantedPicture(info->bmiHeader);
    const bool asOffered =
        wanted.biWidth == info->bmiHeader.biWidth && wanted.biHeight == info->bmiHeader.biHeight;
    // A size that is no picture leaves the clip readable as it is offered.
    if (asOffered || wanted.biWidth <= 0 || wanted.biHeight <= 0) return S_OK;
    return ReconnectAtPictureSize(GraphBuilder.Get(), output.Get(), input, connected, wanted);
}

void SourceGraph::AnnounceVideoFormat(SampleSink* sink) {
    ReceiverPin* input = VideoReceiver ? VideoReceiver->InputPin() : nullptr;
    CMediaType connected;
    if (sink == nullptr || input == nullptr || FAILED(input->ConnectionMediaType(&connected))) return;
    sink->OnVideoFormat(&connected);
}

LONGLONG RangeStartPosition(double rangeStart, double videoLength, LONGLONG duration) {
    // Without a positive length or duration there is nothing to scale the start by; dividing
    // anyway would hand a NaN or an infinity to the integer conversion.
    if (!(rangeStart > 0.0) || !(videoLength > 0.0) || duration <= 0) return -1;
    const double position = rangeStart / videoLength * double(duration);
    if (!std::isfinite(position)) return -1;
    return TruncateToInt64(position);
}

HRESULT SourceGraph::RenderGraph() {
    if (!MediaControl || !MediaEvent || !MediaSeeking || Clip == nullptr) return E_POINTER;
    LONGLONG duration = 0;
    MediaSeeking->GetDuration(&duration);
    core::LogPrintf("Movie length = %fs\n", double(duration) * 1e-7);

    LONGLONG position = RangeStartPosition(Clip->RangeStart, Clip->VideoLength, duration);
    if (position >= 0) {
        MediaSeeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                   AM_SEEKING_NoPositioning);
    }

    HRESULT hr = MediaControl->Run();
    if (FAILED(hr)) return hr;
    core::LogPrintf("RenderGraph Running\n");

    const platform::ManualResetEvent* stop = Owner ? Owner->StopEvent() : nullptr;
    const platform::ManualResetEvent* cancel = Owner ? Owner->CancelEvent() : nullptr;
    GraphEnd end;
    while (true) {
        end = WaitForGraphEndOrStop(MediaEvent.Get(), stop);
        if (end.code != 0) {
            core::LogPrintf("RenderGraph end code = %03lX\n", end.code);
            break;
        }
        if (platform::IsCancelled(stop)) {
            core::LogPrintf("RenderGraph hStop Set\n");
            break;
        }
        if (platform::IsCancelled(cancel)) {
            core::LogPrintf("RenderGraph hCanceled Set\n");
            break;
        }
    }
    core::LogPrintf("RenderGraph End\n");
    hr = MediaControl->Stop();
    if (FAILED(end.failure)) return end.failure;
    return FAILED(hr) ? hr : S_OK;
}

void SourceGraph::Release() {
    MediaFilter = nullptr;
    MediaControl = nullptr;
    MediaEvent = nullptr;
    MediaSeeking = nullptr;
    GraphBuilder = nullptr;
    AudioReceiver = nullptr;
    VideoReceiver = nullptr;
}

HRESULT RenderOutputPins(IGraphBuilder* graph, IBaseFilter* filter) {
    if (graph == nullptr || filter == nullptr) return E_POINTER;
    ComPtr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(pins.Put());
    if (FAILED(hr)) return hr;
    ComPtr<IPin> pin;
    while ((hr = pins->Next(1, pin.Put(), nullptr)) == S_OK) {
        ComPtr<IPin> peer;
        const HRESULT connected = pin->ConnectedTo(peer.Put());
        if (connected == VFW_E_NOT_CONNECTED) {
            PIN_DIRECTION direction;
            const HRESULT asked = pin->QueryDirection(&direction);
            if (FAILED(asked)) return asked;
            if (direction == PINDIR_OUTPUT) {
                const HRESULT rendered = graph->Render(pin.Get());
                if (FAILED(rendered)) return rendered;
            }
        } else if (FAILED(connected)) {
            return connected;
        }
    }
    return hr;
}

HRESULT RemoveReferenceClock(IUnknown* graph) {
    if (graph == nullptr) return E_POINTER;
    ComPtr<IMediaFilter> filter;
    HRESULT hr = graph->QueryInterface(IMediaFilter::kIid, filter.PutVoid());
    if (FAILED(hr)) return hr;
    return filter->SetSyncSource(nullptr);
}

}  // namespace reader
