// The render engine: turns a timeline into a filter graph that ends in one output pin per
// group. Each group gets its own FFmpeg source for its clip (seeked to the clip's media times)
// and a group filter that fits, re-times and pads what the source decodes.
//
// What this engine renders: per group at most one track with at most one source, played at
// its own speed (media length equal to its timeline length). Anything richer is refused with
// E_NOTIMPL at ConnectFrontEnd rather than rendered wrongly.
#include <cmath>
#include <optional>
#include <string>

#include "platform/com/class_table.h"
#include "platform/com/unknown.h"
#include "platform/des/factories.h"
#include "platform/des/group_filters.h"
#include "platform/dshow/base_classes.h"
#include "platform/dshow/media_type.h"
#include "platform/dshow/picture_request.h"

namespace platform::des {
namespace {

using com::ComPtr;
using com::E_INVALIDARG;
using com::E_NOTIMPL;
using com::E_POINTER;
using com::E_UNEXPECTED;
using com::FAILED;
using com::GetInterface;
using com::REFIID;
using com::S_OK;
using com::SUCCEEDED;
using namespace platform::dshow;

// A timeline and media length may differ by rounding, not by a change of speed.
constexpr double kSpeedTolerance = 1e-3;

REFERENCE_TIME ToUnits(double seconds) {
    return REFERENCE_TIME(std::llround(seconds * double(kUnitsPerSecond)));
}

struct ClipPlacement {
    std::string path;
    double start = 0.0, stop = 0.0;            // on the timeline
    double mediaStart = 0.0, mediaStop = 0.0;  // in the file
    int stretchMode = RESIZEF_STRETCH;
};

struct GroupPlan {
    CMediaType type;
    std::optional<ClipPlacement> clip;
};

// Reads a group's type and its one clip, if any.
HRESULT ReadGroup(IAMTimelineObj* groupObject, GroupPlan* plan) {
    ComPtr<IAMTimelineGroup> group;
    ComPtr<IAMTimelineComp> comp;
    HRESULT hr = ComPtr<IAMTimelineObj>(groupObject).As(&group);
    if (SUCCEEDED(hr)) hr = ComPtr<IAMTimelineObj>(groupObject).As(&comp);
    if (SUCCEEDED(hr)) hr = group->GetMediaType(&plan->type);
    long tracks = 0;
    if (SUCCEEDED(hr)) hr = comp->VTrackGetCount(&tracks);
    if (FAILED(hr)) return hr;
    if (tracks > 1) return E_NOTIMPL;
    if (tracks == 0) return S_OK;

    ComPtr<IAMTimelineObj> trackObject;
    ComPtr<IAMTimelineTrack> track;
    long sources = 0;
    hr = comp->GetVTrack(trackObject.Put(), 0);
    if (SUCCEEDED(hr)) hr = trackObject.As(&track);
    if (SUCCEEDED(hr)) hr = track->GetSourcesCount(&sources);
    if (FAILED(hr)) return hr;
    if (sources > 1) return E_NOTIMPL;
    if (sources == 0) return S_OK;

    ComPtr<IAMTimelineObj> sourceObject;
    ComPtr<IAMTimelineSrc> source;
    ClipPlacement clip;
    hr = track->GetSource(sourceObject.Put(), 0);
    if (SUCCEEDED(hr)) hr = sourceObject.As(&source);
    if (SUCCEEDED(hr)) hr = sourceObject->GetStartStop2(&clip.start, &clip.stop);
    if (SUCCEEDED(hr)) hr = source->GetMediaName(&clip.path);
    if (SUCCEEDED(hr)) hr = source->GetMediaTimes2(&clip.mediaStart, &clip.mediaStop);
    if (SUCCEEDED(hr)) hr = source->GetStretchMode(&clip.stretchMode);
    if (FAILED(hr)) return hr;
    if (clip.mediaStop <= clip.mediaStart || clip.stop <= clip.start) return E_INVALIDARG;
    if (std::fabs((clip.mediaStop - clip.mediaStart) - (clip.stop - clip.start)) > kSpeedTolerance) {
        return E_NOTIMPL;
    }
    plan->clip = std::move(clip);
    return S_OK;
}

// Pin index of one of our group filters (kGroupInputPin or kGroupOutputPin).
HRESULT PinOf(IBaseFilter* filter, int index, ComPtr<IPin>* pin) {
    auto* base = dynamic_cast<CBaseFilter*>(filter);
    CBasePin* found = base != nullptr ? base->GetPin(index) : nullptr;
    if (found == nullptr) return E_UNEXPECTED;
    *pin = ComPtr<IPin>(static_cast<IPin*>(found));
    return S_OK;
}

struct FrameFit {
    const CMediaType* frameType;  // the group's
    int stretchMode;
};

// Reconnects a video source so that it decodes straight to the size its pictures take in the
// group's frame. When the source cannot do that, the connection at the file's size stays and
// the group scales.
HRESULT AskForFittedPictures(IGraphBuilder* graph, IPin* output, IPin* input, const FrameFit& fit) {
    CMediaType native;
    HRESULT hr = output->ConnectionMediaType(&native);
    if (FAILED(hr)) return hr;
    const auto* source = native.FormatAs<VIDEOINFOHEADER>();
    const auto* frame = fit.frameType->FormatAs<VIDEOINFOHEADER>();
    if (source == nullptr || frame == nullptr) return S_OK;
    const FitRect rect = FitPicture(source->bmiHeader, frame->bmiHeader, fit.stretchMode);
    if (rect.width == source->bmiHeader.biWidth && rect.height == source->bmiHeader.biHeight) return S_OK;

    // Scaled to its place in the frame, the picture has the frame's pixels.
    BITMAPINFOHEADER fitted = source->bmiHeader;
    fitted.biWidth = rect.width;
    fitted.biHeight = rect.height;
    SetPixelAspect(fitted, PixelAspectOf(frame->bmiHeader));
    return ReconnectAtPictureSize(graph, output, input, native, fitted);
}

class RenderEngine : public com::CUnknown, public IRenderEngine {
public:
    RenderEngine() : CUnknown(nullptr) {}
    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IRenderEngine::kIid) return GetInterface(static_cast<IRenderEngine*>(this), object);
        return CUnknown::NonDelegatingQueryInterface(riid, object);
    }

    HRESULT SetRenderRange2(double start, double stop) override {
        if (!std::isfinite(start) || !std::isfinite(stop) || start < 0.0 || stop <= start) {
            return E_INVALIDARG;
        }
        range_ = {start, stop};
        return S_OK;
    }

    HRESULT SetTimelineObject(IAMTimeline* timeline) override {
        if (timeline == nullptr) return E_POINTER;
        if (graph_) return E_UNEXPECTED;  // the graph already built belongs to the old one
        timeline_ = ComPtr<IAMTimeline>(timeline);
        return S_OK;
    }

    HRESULT ConnectFrontEnd() override {
        if (!timeline_) return E_UNEXPECTED;
        if (graph_) return S_OK;
        std::vector<GroupPlan> plans;
        HRESULT hr = ReadTimeline(&plans);
        if (FAILED(hr)) return hr;
        double fps = 0.0;
        timeline_->GetDefaultFPS(&fps);
        const auto [rangeStart, rangeStop] = range_ ? *range_ : WholeTimeline(plans);
        if (!(rangeStop > rangeStart)) return E_INVALIDARG;  // nothing to render

        ComPtr<IGraphBuilder> graph;
        hr = com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, &graph);
        if (FAILED(hr)) return hr;
        std::vector<ComPtr<IPin>> outputs;
        sources_.clear();
        for (size_t g = 0; g < plans.size() && SUCCEEDED(hr); ++g) {
            ComPtr<IPin> output;
            hr = BuildGroup(graph.Get(), int(g), plans[g], fps, rangeStart, rangeStop, &output);
            outputs.push_back(std::move(output));
        }
        if (SUCCEEDED(hr)) hr = DropUnusedSources(graph.Get());
        sources_.clear();
        if (FAILED(hr)) return hr;  // the graph and everything in it go with graph
        graph_ = std::move(graph);
        outputs_ = std::move(outputs);
        return S_OK;
    }

    HRESULT GetFilterGraph(IGraphBuilder** graph) override {
        if (graph == nullptr) return E_POINTER;
        *graph = nullptr;
        if (!graph_) return E_UNEXPECTED;
        return GetInterface(graph_.Get(), reinterpret_cast<void**>(graph));
    }

    HRESULT GetGroupOutputPin(long group, IPin** pin) override {
        if (pin == nullptr) return E_POINTER;
        *pin = nullptr;
        if (!graph_) return E_UNEXPECTED;
        if (group < 0 || group >= long(outputs_.size())) return E_INVALIDARG;
        return GetInterface(outputs_[size_t(group)].Get(), reinterpret_cast<void**>(pin));
    }

private:
    HRESULT ReadTimeline(std::vector<GroupPlan>* plans) {
        long count = 0;
        HRESULT hr = timeline_->GetGroupCount(&count);
        if (FAILED(hr)) return hr;
        if (count == 0) return E_INVALIDARG;
        for (long g = 0; g < count; ++g) {
            ComPtr<IAMTimelineObj> group;
            GroupPlan plan;
            hr = timeline_->GetGroup(group.Put(), g);
            if (SUCCEEDED(hr)) hr = ReadGroup(group.Get(), &plan);
            if (FAILED(hr)) return hr;
            plans->push_back(std::move(plan));
        }
        return S_OK;
    }

    static std::pair<double, double> WholeTimeline(const std::vector<GroupPlan>& plans) {
        double stop = 0.0;
        for (const GroupPlan& plan : plans) {
            if (plan.clip) stop = std::max(stop, plan.clip->stop);
        }
        return {0.0, stop};
    }

    // Adds the group's filter, and the clip's source connected to it when the clip shows in
    // the range and its file has a stream of the group's kind; the filter's output pin comes
    // back in output.
    HRESULT BuildGroup(IGraphBuilder* graph, int index, const GroupPlan& plan, double fps,
                       double rangeStart, double rangeStop, ComPtr<IPin>* output) {
        const bool video = plan.type.majortype == MEDIATYPE_Video;
        GroupSpan span;
        span.length = ToUnits(rangeStop - rangeStart);
        const ClipPlacement* clip = plan.clip ? &*plan.clip : nullptr;
        const double shownStart = clip ? std::max(clip->start, rangeStart) : 0.0;
        const double shownStop = clip ? std::min(clip->stop, rangeStop) : 0.0;
        if (clip != nullptr && shownStop > shownStart) {
            span.clipStart = ToUnits(shownStart - rangeStart);
            span.clipStop = ToUnits(shownStop - rangeStart);
        } else {
            clip = nullptr;
        }

        ComPtr<IBaseFilter> groupFilter;
        HRESULT hr = video ? CreateVideoGroupFilter(plan.type, fps, clip ? clip->stretchMode : RESIZEF_STRETCH,
                                                    span, &groupFilter)
                           : CreateAudioGroupFilter(span, &groupFilter);
        if (FAILED(hr)) return hr;

        if (clip != nullptr) {
            // The source goes in first: the graph stops filters in the reverse order of
            // adding, and the group must hear of a stop before its source is joined.
            const double mediaFrom = clip->mediaStart + (shownStart - clip->start);
            const double mediaTo = clip->mediaStart + (shownStop - clip->start);
            const FrameFit fit{&plan.type, clip->stretchMode};
            hr = AddSource(graph, clip->path, index, ToUnits(mediaFrom), ToUnits(mediaTo),
                           groupFilter.Get(), video ? &fit : nullptr);
            if (FAILED(hr)) return hr;
        } else {
            hr = graph->AddFilter(groupFilter.Get(), GroupName(index).c_str());
            if (FAILED(hr)) return hr;
        }
        return PinOf(groupFilter.Get(), kGroupOutputPin, output);
    }

    static std::string GroupName(int index) { return "Group " + std::to_string(index); }

    // One source filter per file and part of it: groups that play the same part of the same
    // file share it, so the file is opened and read once.
    HRESULT SourceFor(IGraphBuilder* graph, const std::string& path, REFERENCE_TIME from,
                      REFERENCE_TIME to, ComPtr<IBaseFilter>* source) {
        for (const SourceUse& use : sources_) {
            if (use.path == path && use.from == from && use.to == to) {
                *source = use.filter;
                return S_OK;
            }
        }
        ComPtr<IFileSourceFilter> loader;
        HRESULT hr = com::CoCreateInstance(CLSID_FfmpegSource, nullptr, com::CLSCTX_INPROC_SERVER, source);
        if (SUCCEEDED(hr)) hr = source->As(&loader);
        if (SUCCEEDED(hr)) hr = loader->Load(path.c_str(), nullptr);
        if (SUCCEEDED(hr)) {
            hr = graph->AddFilter(source->Get(), ("Source " + std::to_string(sources_.size())).c_str());
        }
        if (FAILED(hr)) return hr;
        sources_.push_back({path, from, to, *source});
        return S_OK;
    }

    // fit: for a video group, how its pictures are fitted to the frame.
    HRESULT AddSource(IGraphBuilder* graph, const std::string& path, int index, REFERENCE_TIME from,
                      REFERENCE_TIME to, IBaseFilter* groupFilter, const FrameFit* fit) {
        ComPtr<IBaseFilter> source;
        HRESULT hr = SourceFor(graph, path, from, to, &source);
        if (SUCCEEDED(hr)) hr = graph->AddFilter(groupFilter, GroupName(index).c_str());
        if (FAILED(hr)) return hr;

        ComPtr<IPin> input;
        hr = PinOf(groupFilter, kGroupInputPin, &input);
        if (FAILED(hr)) return hr;
        ComPtr<IEnumPins> pins;
        hr = source->EnumPins(pins.Put());
        if (FAILED(hr)) return hr;
        ComPtr<IPin> pin;
        uint32_t fetched = 0;
        while (pins->Next(1, pin.Put(), &fetched) == S_OK && fetched == 1) {
            if (FAILED(graph->ConnectDirect(pin.Get(), input.Get(), nullptr))) continue;
            // The file has a stream of this kind: play only the clip's part of it.
            hr = fit != nullptr ? AskForFittedPictures(graph, pin.Get(), input.Get(), *fit) : S_OK;
            ComPtr<IMediaSeeking> seeking;
            if (SUCCEEDED(hr)) hr = pin.As(&seeking);
            if (SUCCEEDED(hr)) {
                hr = seeking->SetPositions(&from, AM_SEEKING_AbsolutePositioning, &to,
                                           AM_SEEKING_AbsolutePositioning);
            }
            return hr;
        }
        // No stream of the group's kind: the group runs on black or silence alone.
        return S_OK;
    }

    // Sources that feed no group (the file lacks the kinds of stream the groups want) leave
    // the graph, so that nothing runs for nobody.
    HRESULT DropUnusedSources(IGraphBuilder* graph) {
        for (const SourceUse& use : sources_) {
            if (!FeedsAnything(use.filter.Get())) {
                const HRESULT hr = graph->RemoveFilter(use.filter.Get());
                if (FAILED(hr)) return hr;
            }
        }
        sources_.clear();
        return S_OK;
    }

    static bool FeedsAnything(IBaseFilter* filter) {
        ComPtr<IEnumPins> pins;
        if (FAILED(filter->EnumPins(pins.Put()))) return false;
        ComPtr<IPin> pin;
        uint32_t fetched = 0;
        while (pins->Next(1, pin.Put(), &fetched) == S_OK && fetched == 1) {
            ComPtr<IPin> peer;
            if (SUCCEEDED(pin->ConnectedTo(peer.Put()))) return true;
        }
        return false;
    }

    struct SourceUse {
        std::string path;
        REFERENCE_TIME from = 0, to = 0;
        ComPtr<IBaseFilter> filter;
    };

    ComPtr<IAMTimeline> timeline_;
    std::optional<std::pair<double, double>> range_;
    ComPtr<IGraphBuilder> graph_;
    std::vector<ComPtr<IPin>> outputs_;
    std::vector<SourceUse> sources_;  // while ConnectFrontEnd builds the graph
};

// Joins an output pin (or a filter's first free output pin) to a filter's first free input.
class CaptureGraphBuilder : public com::CUnknown, public ICaptureGraphBuilder2 {
public:
    CaptureGraphBuilder() : CUnknown(nullptr) {}
    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == ICaptureGraphBuilder2::kIid) {
            return GetInterface(static_cast<ICaptureGraphBuilder2*>(this), object);
        }
        return CUnknown::NonDelegatingQueryInterface(riid, object);
    }

    HRESULT SetFiltergraph(IGraphBuilder* graph) override {
        if (graph == nullptr) return E_POINTER;
        if (graph_) return E_UNEXPECTED;
        graph_ = ComPtr<IGraphBuilder>(graph);
        return S_OK;
    }

    HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                         IBaseFilter* intermediate, IBaseFilter* sink) override {
        if (source == nullptr || sink == nullptr) return E_POINTER;
        if (!graph_) return E_UNEXPECTED;
        if (category != nullptr || type != nullptr || intermediate != nullptr) return E_NOTIMPL;
        ComPtr<IPin> output;
        HRESULT hr = FreePin(source, PINDIR_OUTPUT, &output);
        if (FAILED(hr)) return hr;
        ComPtr<IPin> input;
        hr = FreePin(sink, PINDIR_INPUT, &input);
        if (FAILED(hr)) return hr;
        return graph_->Connect(output.Get(), input.Get());
    }

private:
    // source may be the pin itself or a filter to take the first free pin of.
    static HRESULT FreePin(IUnknown* object, PIN_DIRECTION direction, ComPtr<IPin>* pin) {
        ComPtr<IUnknown> unknown(object);
        if (SUCCEEDED(unknown.As(pin))) return S_OK;
        ComPtr<IBaseFilter> filter;
        ComPtr<IEnumPins> pins;
        HRESULT hr = unknown.As(&filter);
        if (SUCCEEDED(hr)) hr = filter->EnumPins(pins.Put());
        if (FAILED(hr)) return hr;
        ComPtr<IPin> candidate;
        uint32_t fetched = 0;
        while (pins->Next(1, candidate.Put(), &fetched) == S_OK && fetched == 1) {
            PIN_DIRECTION found = PINDIR_INPUT;
            ComPtr<IPin> peer;
            if (SUCCEEDED(candidate->QueryDirection(&found)) && found == direction &&
                candidate->ConnectedTo(peer.Put()) == VFW_E_NOT_CONNECTED) {
                *pin = candidate;
                return S_OK;
            }
        }
        return VFW_E_NOT_CONNECTED;
    }

    ComPtr<IGraphBuilder> graph_;
};

// Exists so that creating it succeeds; nothing is asked of it.
class XmlConverter : public com::CUnknown, public IXml2Dex {
public:
    XmlConverter() : CUnknown(nullptr) {}
    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IXml2Dex::kIid) return GetInterface(static_cast<IXml2Dex*>(this), object);
        return CUnknown::NonDelegatingQueryInterface(riid, object);
    }
};

}  // namespace

HRESULT CreateRenderEngine(IUnknown* outer, REFIID riid, void** object) {
    return com::CreateStandalone<RenderEngine>(outer, riid, object);
}

HRESULT CreateCaptureGraphBuilder(IUnknown* outer, REFIID riid, void** object) {
    return com::CreateStandalone<CaptureGraphBuilder>(outer, riid, object);
}

HRESULT CreateXmlConverter(IUnknown* outer, REFIID riid, void** object) {
    return com::CreateStandalone<XmlConverter>(outer, riid, object);
}

}  // namespace platform::des
