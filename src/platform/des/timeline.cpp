// The timeline: a tree of groups, tracks and sources that only records what it is told and
// refuses what could not be rendered, so that mistakes surface when the timeline is built
// rather than as a broken picture later.
#include "platform/des/factories.h"

#include <cmath>
#include <filesystem>
#include <vector>

#include "platform/com/unknown.h"
#include "platform/dshow/media_type.h"

namespace platform::des {
namespace {

using com::ComPtr;
using com::E_INVALIDARG;
using com::E_POINTER;
using com::FAILED;
using com::SUCCEEDED;
using com::GetInterface;
using com::REFIID;
using com::S_FALSE;
using com::S_OK;
using dshow::CMediaType;

bool ValidSpan(double start, double stop, bool allowEmpty) {
    return std::isfinite(start) && std::isfinite(stop) && start >= 0.0 &&
           (allowEmpty ? stop >= start : stop > start);
}

bool ValidVideoGroupType(const AM_MEDIA_TYPE& type) {
    if (type.majortype != dshow::MEDIATYPE_Video || type.subtype != dshow::MEDIASUBTYPE_RGB24 ||
        type.formattype != dshow::FORMAT_VideoInfo || type.pbFormat == nullptr ||
        type.cbFormat < sizeof(dshow::VIDEOINFOHEADER)) {
        return false;
    }
    const auto& header = reinterpret_cast<const dshow::VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
    return header.biWidth > 0 && header.biHeight > 0 && header.biBitCount == 24;
}

// One node class for every kind: the kind decides which interfaces QueryInterface hands out.
class TimelineNode : public com::CUnknown,
                     public IAMTimelineObj,
                     public IAMTimelineGroup,
                     public IAMTimelineComp,
                     public IAMTimelineTrack,
                     public IAMTimelineSrc {
public:
    explicit TimelineNode(TIMELINE_MAJOR_TYPE kind) : CUnknown(nullptr), kind_(kind) {}
    LUMIVANE_DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IAMTimelineObj::kIid) return GetInterface(static_cast<IAMTimelineObj*>(this), object);
        if (riid == IAMTimelineGroup::kIid && kind_ == TIMELINE_MAJOR_TYPE_GROUP) {
            return GetInterface(static_cast<IAMTimelineGroup*>(this), object);
        }
        if (riid == IAMTimelineComp::kIid &&
            (kind_ == TIMELINE_MAJOR_TYPE_GROUP || kind_ == TIMELINE_MAJOR_TYPE_COMPOSITE)) {
            return GetInterface(static_cast<IAMTimelineComp*>(this), object);
        }
        if (riid == IAMTimelineTrack::kIid && kind_ == TIMELINE_MAJOR_TYPE_TRACK) {
            return GetInterface(static_cast<IAMTimelineTrack*>(this), object);
        }
        if (riid == IAMTimelineSrc::kIid && kind_ == TIMELINE_MAJOR_TYPE_SOURCE) {
            return GetInterface(static_cast<IAMTimelineSrc*>(this), object);
        }
        if (object != nullptr && riid == com::IUnknown::kIid) {
            return GetInterface(static_cast<IAMTimelineObj*>(this), object);
        }
        return CUnknown::NonDelegatingQueryInterface(riid, object);
    }

    // ---- IAMTimelineObj ----
    HRESULT GetTimelineType(TIMELINE_MAJOR_TYPE* type) override {
        if (type == nullptr) return E_POINTER;
        *type = kind_;
        return S_OK;
    }
    HRESULT SetStartStop2(double start, double stop) override {
        if (!ValidSpan(start, stop, true)) return E_INVALIDARG;
        start_ = start;
        stop_ = stop;
        return S_OK;
    }
    HRESULT GetStartStop2(double* start, double* stop) override {
        if (start == nullptr || stop == nullptr) return E_POINTER;
        *start = start_;
        *stop = stop_;
        return S_OK;
    }

    // ---- IAMTimelineGroup ----
    HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override {
        if (type == nullptr) return E_POINTER;
        const bool video = type->majortype == dshow::MEDIATYPE_Video;
        const bool audio = type->majortype == dshow::MEDIATYPE_Audio;
        if (!(audio || (video && ValidVideoGroupType(*type)))) return E_INVALIDARG;
        mediaType_ = CMediaType(*type);
        return S_OK;
    }
    HRESULT GetMediaType(AM_MEDIA_TYPE* type) override {
        if (type == nullptr) return E_POINTER;
        if (mediaType_.IsEmpty()) return dshow::VFW_E_NOT_CONNECTED;
        return dshow::CopyMediaType(type, &mediaType_);
    }

    // ---- IAMTimelineComp ----
    HRESULT VTrackInsBefore(IAMTimelineObj* track, long priority) override {
        return Insert(track, TIMELINE_MAJOR_TYPE_TRACK, priority);
    }
    HRESULT VTrackGetCount(long* count) override { return Count(count); }
    HRESULT GetVTrack(IAMTimelineObj** track, long priority) override { return Child(track, priority); }

    // ---- IAMTimelineTrack ----
    HRESULT SrcAdd(IAMTimelineObj* source) override {
        return Insert(source, TIMELINE_MAJOR_TYPE_SOURCE, -1);
    }
    HRESULT GetSourcesCount(long* count) override { return Count(count); }
    HRESULT GetSource(IAMTimelineObj** source, long index) override { return Child(source, index); }

    // ---- IAMTimelineSrc ----
    HRESULT SetMediaName(const char* path) override {
        if (path == nullptr) return E_POINTER;
        mediaName_ = path;
        return S_OK;
    }
    HRESULT GetMediaName(std::string* path) override {
        if (path == nullptr) return E_POINTER;
        *path = mediaName_;
        return S_OK;
    }
    HRESULT SetMediaTimes2(double start, double stop) override {
        if (!ValidSpan(start, stop, false)) return E_INVALIDARG;
        mediaStart_ = start;
        mediaStop_ = stop;
        return S_OK;
    }
    HRESULT GetMediaTimes2(double* start, double* stop) override {
        if (start == nullptr || stop == nullptr) return E_POINTER;
        *start = mediaStart_;
        *stop = mediaStop_;
        return S_OK;
    }
    HRESULT SetStretchMode(int mode) override {
        if (mode < RESIZEF_STRETCH || mode > RESIZEF_PRESERVEASPECTRATIO_NOLETTERBOX) return E_INVALIDARG;
        // The engine fits pictures by stretching or letterboxing only; the cropping modes
        // would come out stretched, so they are refused rather than rendered wrongly.
        if (mode != RESIZEF_STRETCH && mode != RESIZEF_PRESERVEASPECTRATIO) return com::E_NOTIMPL;
        stretchMode_ = mode;
        return S_OK;
    }
    HRESULT GetStretchMode(int* mode) override {
        if (mode == nullptr) return E_POINTER;
        *mode = stretchMode_;
        return S_OK;
    }

    // A node belongs to one parent at most: a second placement would make a cycle or render
    // one clip twice.
    bool placed = false;

private:
    HRESULT Insert(IAMTimelineObj* child, TIMELINE_MAJOR_TYPE expected, long priority) {
        if (child == nullptr) return E_POINTER;
        TIMELINE_MAJOR_TYPE type{};
        if (FAILED(child->GetTimelineType(&type)) || type != expected) return E_INVALIDARG;
        auto* node = static_cast<TimelineNode*>(child);  // every IAMTimelineObj here is ours
        if (node->placed || node == this) return E_INVALIDARG;
        if (priority < -1 || priority > long(children_.size())) return E_INVALIDARG;
        const auto at = priority < 0 ? children_.end() : children_.begin() + priority;
        children_.insert(at, ComPtr<IAMTimelineObj>(child));
        node->placed = true;
        return S_OK;
    }
    HRESULT Count(long* count) {
        if (count == nullptr) return E_POINTER;
        *count = long(children_.size());
        return S_OK;
    }
    HRESULT Child(IAMTimelineObj** child, long index) {
        if (child == nullptr) return E_POINTER;
        *child = nullptr;
        if (index < 0 || index >= long(children_.size())) return E_INVALIDARG;
        return GetInterface(children_[size_t(index)].Get(), reinterpret_cast<void**>(child));
    }

    const TIMELINE_MAJOR_TYPE kind_;
    double start_ = 0.0;
    double stop_ = 0.0;
    CMediaType mediaType_;
    std::vector<ComPtr<IAMTimelineObj>> children_;
    std::string mediaName_;
    double mediaStart_ = 0.0;
    double mediaStop_ = 0.0;
    int stretchMode_ = RESIZEF_STRETCH;
};

class Timeline : public com::CUnknown, public IAMTimeline {
public:
    Timeline() : CUnknown(nullptr) {}
    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** object) override {
        if (riid == IAMTimeline::kIid) return GetInterface(static_cast<IAMTimeline*>(this), object);
        return CUnknown::NonDelegatingQueryInterface(riid, object);
    }

    HRESULT CreateEmptyNode(IAMTimelineObj** node, TIMELINE_MAJOR_TYPE type) override {
        if (node == nullptr) return E_POINTER;
        *node = nullptr;
        switch (type) {
            case TIMELINE_MAJOR_TYPE_GROUP:
            case TIMELINE_MAJOR_TYPE_COMPOSITE:
            case TIMELINE_MAJOR_TYPE_TRACK:
            case TIMELINE_MAJOR_TYPE_SOURCE:
                break;
            default:
                return com::E_NOTIMPL;  // transitions and effects are not rendered here
        }
        auto* created = new (std::nothrow) TimelineNode(type);
        if (created == nullptr) return com::E_OUTOFMEMORY;
        return GetInterface(static_cast<IAMTimelineObj*>(created), reinterpret_cast<void**>(node));
    }

    HRESULT SetDefaultFPS(double fps) override {
        if (!std::isfinite(fps) || fps <= 0.0) return E_INVALIDARG;
        fps_ = fps;
        return S_OK;
    }
    HRESULT GetDefaultFPS(double* fps) override {
        if (fps == nullptr) return E_POINTER;
        *fps = fps_;
        return S_OK;
    }

    HRESULT AddGroup(IAMTimelineObj* group) override {
        if (group == nullptr) return E_POINTER;
        TIMELINE_MAJOR_TYPE type{};
        if (FAILED(group->GetTimelineType(&type)) || type != TIMELINE_MAJOR_TYPE_GROUP) {
            return E_INVALIDARG;
        }
        auto* node = static_cast<TimelineNode*>(group);
        CMediaType mediaType;
        if (node->placed || FAILED(node->GetMediaType(&mediaType))) return E_INVALIDARG;
        groups_.emplace_back(group);
        node->placed = true;
        return S_OK;
    }
    HRESULT GetGroupCount(long* count) override {
        if (count == nullptr) return E_POINTER;
        *count = long(groups_.size());
        return S_OK;
    }
    HRESULT GetGroup(IAMTimelineObj** group, long index) override {
        if (group == nullptr) return E_POINTER;
        *group = nullptr;
        if (index < 0 || index >= long(groups_.size())) return E_INVALIDARG;
        return GetInterface(groups_[size_t(index)].Get(), reinterpret_cast<void**>(group));
    }

    HRESULT ValidateSourceNames(long, IUnknown*, dshow::LONG_PTR) override {
        bool allFound = true;
        ForEachSource([&](IAMTimelineSrc* source) {
            std::string path;
            source->GetMediaName(&path);
            std::error_code ignored;
            if (!std::filesystem::is_regular_file(path, ignored)) allFound = false;
        });
        return allFound ? S_OK : S_FALSE;
    }

private:
    template <typename Visit>
    void ForEachSource(Visit visit) {
        for (const ComPtr<IAMTimelineObj>& group : groups_) {
            ComPtr<IAMTimelineComp> comp;
            long tracks = 0;
            if (FAILED(group.As(&comp)) || FAILED(comp->VTrackGetCount(&tracks))) continue;
            for (long t = 0; t < tracks; ++t) {
                ComPtr<IAMTimelineObj> trackObject;
                ComPtr<IAMTimelineTrack> track;
                long sources = 0;
                if (FAILED(comp->GetVTrack(trackObject.Put(), t)) ||
                    FAILED(trackObject.As(&track)) || FAILED(track->GetSourcesCount(&sources))) {
                    continue;
                }
                for (long s = 0; s < sources; ++s) {
                    ComPtr<IAMTimelineObj> sourceObject;
                    ComPtr<IAMTimelineSrc> source;
                    if (SUCCEEDED(track->GetSource(sourceObject.Put(), s)) &&
                        SUCCEEDED(sourceObject.As(&source))) {
                        visit(source.Get());
                    }
                }
            }
        }
    }

    double fps_ = 15.0;
    std::vector<ComPtr<IAMTimelineObj>> groups_;
};

}  // namespace

HRESULT CreateTimeline(IUnknown* outer, com::REFIID riid, void** object) {
    return com::CreateStandalone<Timeline>(outer, riid, object);
}

}  // namespace platform::des
