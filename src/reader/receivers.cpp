#include "reader/receivers.h"

#include <new>

#include "core/log.h"

namespace reader {

using platform::com::E_INVALIDARG;
using platform::com::E_NOTIMPL;
using platform::com::E_OUTOFMEMORY;
using platform::com::E_POINTER;
using platform::com::FAILED;
using platform::com::S_OK;
using platform::dshow::BITMAPINFOHEADER;
using platform::dshow::CAutoLock;
using platform::dshow::FORMAT_VideoInfo;
using platform::dshow::FORMAT_WaveFormatEx;
using platform::dshow::IMediaSeeking;
using platform::dshow::LONG_PTR;
using platform::dshow::MEDIASUBTYPE_PCM;
using platform::dshow::MEDIASUBTYPE_RGB24;
using platform::dshow::MEDIATYPE_Audio;
using platform::dshow::MEDIATYPE_Video;
using platform::dshow::REFERENCE_TIME;
using platform::dshow::VFW_E_INVALIDMEDIATYPE;
using platform::dshow::VFW_S_NO_MORE_ITEMS;
using platform::dshow::VIDEOINFOHEADER;
using platform::dshow::WAVE_FORMAT_EXTENSIBLE;
using platform::dshow::WAVE_FORMAT_PCM;
using platform::dshow::WAVEFORMATEX;

NullSampleSink& NullSampleSink::ForVideo() {
    static NullSampleSink sink;
    return sink;
}

NullSampleSink& NullSampleSink::ForAudio() {
    static NullSampleSink sink;
    return sink;
}

// ---- ReceiverPin -------------------------------------------------------------------------

ReceiverPin::ReceiverPin(ReceiverFilter* filter, CCritSec* filterLock, CCritSec* receiveLock,
                         HRESULT* hr, const char* name, SampleSink& nullSink)
    : CBaseInputPin(filter, filterLock, hr, name),
      owner_(filter),
      receiveLock_(receiveLock),
      nullSink_(nullSink),
      sink_(&nullSink) {}

HRESULT ReceiverPin::QueryInternalConnections(platform::dshow::IPin**, uint32_t*) {
    return E_NOTIMPL;
}

HRESULT ReceiverPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

HRESULT ReceiverPin::ReceiveCanBlock() { return platform::com::S_FALSE; }

HRESULT ReceiverPin::Receive(IMediaSample* sample) {
    CAutoLock lock(*receiveLock_);
    if (sample == nullptr) return E_POINTER;
    Forward(sample);
    return S_OK;
}

void ReceiverPin::NotifyComplete() {
    // Without a graph there is nobody to tell; the end of stream still succeeds.
    owner_->NotifyEvent(platform::dshow::EC_COMPLETE, S_OK,
                        LONG_PTR(static_cast<platform::dshow::IBaseFilter*>(owner_)));
}

// ---- ReceiverVideoPin --------------------------------------------------------------------

ReceiverVideoPin::ReceiverVideoPin(ReceiverFilter* filter, CCritSec* filterLock,
                                   CCritSec* receiveLock, HRESULT* hr)
    : ReceiverPin(filter, filterLock, receiveLock, hr, "Video", NullSampleSink::ForVideo()) {}

HRESULT ReceiverVideoPin::CheckMediaType(const CMediaType* type) {
    if (type == nullptr) return E_POINTER;
    if (!(type->majortype == MEDIATYPE_Video)) return E_INVALIDARG;
    if (!type->bFixedSizeSamples) return E_INVALIDARG;
    if (!(type->subtype == MEDIASUBTYPE_RGB24)) return E_INVALIDARG;
    return S_OK;
}

// The sink reads the picture geometry from the format block, so a type without a complete
// VIDEOINFOHEADER is refused here rather than handed on to be misread.
HRESULT ReceiverVideoPin::SetMediaType(const CMediaType* type) {
    if (type == nullptr) return E_POINTER;
    const auto* info = type->formattype == FORMAT_VideoInfo ? type->FormatAs<VIDEOINFOHEADER>() : nullptr;
    // Positive height only: the sink takes every picture as bottom-up rows.
    if (info == nullptr || info->bmiHeader.biWidth <= 0 || info->bmiHeader.biHeight <= 0 ||
        info->bmiHeader.biBitCount != 24) {
        return VFW_E_INVALIDMEDIATYPE;
    }
    Sink()->OnVideoFormat(type);
    return CBaseInputPin::SetMediaType(type);
}

// Offers RGB24 with fixed-size samples; the upstream pin supplies the format block.
HRESULT ReceiverVideoPin::GetMediaType(int position, CMediaType* type) {
    if (position != 0) return VFW_S_NO_MORE_ITEMS;
    if (type == nullptr) return E_POINTER;
    type->Clear();
    type->majortype = MEDIATYPE_Video;
    type->subtype = MEDIASUBTYPE_RGB24;
    type->bFixedSizeSamples = 1;
    return S_OK;
}

HRESULT ReceiverVideoPin::EndOfStream() {
    core::LogPrintf("  ReceiverVideoPin - EndOfStream\n");
    CAutoLock lock(*receiveLock_);
    NotifyComplete();
    return S_OK;
}

HRESULT ReceiverVideoPin::Forward(IMediaSample* sample) { return Sink()->OnVideoSample(sample); }

// ---- ReceiverAudioPin --------------------------------------------------------------------

ReceiverAudioPin::ReceiverAudioPin(ReceiverFilter* filter, CCritSec* filterLock,
                                   CCritSec* receiveLock, HRESULT* hr)
    : ReceiverPin(filter, filterLock, receiveLock, hr, "Audio", NullSampleSink::ForAudio()) {}

HRESULT ReceiverAudioPin::CheckMediaType(const CMediaType* type) {
    if (type == nullptr) return E_POINTER;
    if (!(type->majortype == MEDIATYPE_Audio)) return E_INVALIDARG;
    const WAVEFORMATEX* format =
        type->formattype == FORMAT_WaveFormatEx ? type->FormatAs<WAVEFORMATEX>() : nullptr;
    if (format == nullptr) return E_INVALIDARG;
    if (type->bTemporalCompression) return E_INVALIDARG;
    if (format->wFormatTag != WAVE_FORMAT_PCM && format->wFormatTag != WAVE_FORMAT_EXTENSIBLE) {
        return E_INVALIDARG;
    }
    if (format->nChannels != 1 && format->nChannels != 2) return E_INVALIDARG;
    if (format->nSamplesPerSec != 48000 && format->nSamplesPerSec != 44100) return E_INVALIDARG;
    if (format->wBitsPerSample != 16) return E_INVALIDARG;
    return S_OK;
}

HRESULT ReceiverAudioPin::SetMediaType(const CMediaType* type) {
    if (type == nullptr) return E_POINTER;
    if (!(type->formattype == FORMAT_WaveFormatEx) || type->FormatAs<WAVEFORMATEX>() == nullptr) {
        return VFW_E_INVALIDMEDIATYPE;
    }
    Sink()->OnAudioFormat(type);
    return CBaseInputPin::SetMediaType(type);
}

HRESULT ReceiverAudioPin::GetMediaType(int position, CMediaType* type) {
    if (position != 0) return VFW_S_NO_MORE_ITEMS;
    if (type == nullptr) return E_POINTER;
    type->Clear();
    type->majortype = MEDIATYPE_Audio;
    type->subtype = MEDIASUBTYPE_PCM;
    return S_OK;
}

HRESULT ReceiverAudioPin::EndOfStream() {
    CAutoLock lock(*receiveLock_);
    NotifyComplete();
    Sink()->OnAudioEndOfStream();
    return S_OK;
}

HRESULT ReceiverAudioPin::Forward(IMediaSample* sample) { return Sink()->OnAudioSample(sample); }

// ---- ReceiverFilter ----------------------------------------------------------------------

ReceiverFilter::ReceiverFilter(IUnknown* outer, const GUID& clsid)
    : CBaseFilter(outer, &filterLock_, clsid) {}

ReceiverFilter::~ReceiverFilter() {
    delete inputPin_;
    delete positionPassThru_;
}

void ReceiverFilter::AdoptPin(ReceiverPin* pin, HRESULT* hr) {
    inputPin_ = pin;
    if (pin == nullptr && hr != nullptr) *hr = E_OUTOFMEMORY;
}

HRESULT ReceiverFilter::NonDelegatingQueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    CAutoLock lock(filterLock_);
    if (riid == IReceiverFilter::kIid) {
        return platform::com::GetInterface(static_cast<IReceiverFilter*>(this), object);
    }
    if (riid == IMediaSeeking::kIid) {
        if (positionPassThru_ == nullptr) {
            HRESULT hr = S_OK;
            auto* passThru = new (std::nothrow) CPosPassThru(GetOwner(), &hr, inputPin_);
            if (passThru == nullptr) return E_OUTOFMEMORY;
            if (FAILED(hr)) {
                delete passThru;
                return hr;
            }
            positionPassThru_ = passThru;
        }
        return positionPassThru_->NonDelegatingQueryInterface(riid, object);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, object);
}

HRESULT ReceiverFilter::SetCallback(SampleSink* sink) {
    if (inputPin_ != nullptr) inputPin_->SetSink(sink);
    return S_OK;
}

CBasePin* ReceiverFilter::GetPin(int n) { return n == 0 ? inputPin_ : nullptr; }

HRESULT ReceiverFilter::Stop() {
    CAutoLock lock(filterLock_);
    return CBaseFilter::Stop();
}

HRESULT ReceiverFilter::Pause() {
    CAutoLock lock(filterLock_);
    return CBaseFilter::Pause();
}

HRESULT ReceiverFilter::Run(REFERENCE_TIME start) {
    CAutoLock lock(filterLock_);
    return CBaseFilter::Run(start);
}

ReceiverVideo::ReceiverVideo(IUnknown* outer, HRESULT* hr) : ReceiverFilter(outer, CLSID_ReceiverVideo) {
    AdoptPin(new (std::nothrow) ReceiverVideoPin(this, &filterLock_, &receiveLock_, hr), hr);
}

ReceiverAudio::ReceiverAudio(IUnknown* outer, HRESULT* hr) : ReceiverFilter(outer, CLSID_ReceiverAudio) {
    AdoptPin(new (std::nothrow) ReceiverAudioPin(this, &filterLock_, &receiveLock_, hr), hr);
}

}  // namespace reader
