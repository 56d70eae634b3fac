// Where the receiver filters hand every decoded picture and every block of sound.
#pragma once

#include "platform/dshow/interfaces.h"

namespace reader {

using platform::com::HRESULT;
using platform::dshow::AM_MEDIA_TYPE;
using platform::dshow::IMediaSample;

// Called synchronously on the thread that delivers, under the receiver's receive lock.
// Media types and samples are borrowed for the call only. Results are ignored by the callers.
class SampleSink {
public:
    virtual ~SampleSink() = default;
    // The connected picture type; its format block is a VIDEOINFOHEADER for RGB24.
    virtual HRESULT OnVideoFormat(const AM_MEDIA_TYPE* type) = 0;
    // The connected sound type; its format block is a WAVEFORMATEX of at least 18 bytes.
    virtual HRESULT OnAudioFormat(const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT OnVideoSample(IMediaSample* sample) = 0;
    virtual HRESULT OnAudioSample(IMediaSample* sample) = 0;
    virtual HRESULT OnEndOfStream() = 0;
    virtual HRESULT OnAudioEndOfStream() = 0;
};

// Takes everything and does nothing: what a pin calls before the real sink is installed.
class NullSampleSink : public SampleSink {
public:
    HRESULT OnVideoFormat(const AM_MEDIA_TYPE*) override { return 0; }
    HRESULT OnAudioFormat(const AM_MEDIA_TYPE*) override { return 0; }
    HRESULT OnVideoSample(IMediaSample*) override { return 0; }
    HRESULT OnAudioSample(IMediaSample*) override { return 0; }
    HRESULT OnEndOfStream() override { return 0; }
    HRESULT OnAudioEndOfStream() override { return 0; }

    // One shared instance per kind of pin.
    static NullSampleSink& ForVideo();
    static NullSampleSink& ForAudio();
};

}  // namespace reader
