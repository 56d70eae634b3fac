#include "reader/receivers.h"

#include <gtest/gtest.h>

#include "platform/dshow/media_sample.h"

namespace {

using namespace platform::dshow;
using platform::com::ComPtr;
using platform::com::E_INVALIDARG;
using platform::com::E_POINTER;
using platform::com::S_OK;
using reader::ReceiverAudio;
using reader::ReceiverVideo;

class CountingSink : public reader::NullSampleSink {
public:
    HRESULT OnVideoFormat(const AM_MEDIA_TYPE*) override { return ++videoFormats, -1; }
    HRESULT OnAudioFormat(const AM_MEDIA_TYPE*) override { return ++audioFormats, -1; }
    HRESULT OnVideoSample(IMediaSample*) override { return ++videoSamples, -1; }
    HRESULT OnAudioSample(IMediaSample*) override { return ++audioSamples, -1; }
    HRESULT OnAudioEndOfStream() override { return ++audioEnds, 0; }
    int videoFormats = 0, audioFormats = 0, videoSamples = 0, audioSamples = 0, audioEnds = 0;
};

CMediaType AudioType(WORD tag, WORD channels, DWORD rate, WORD bits, bool compressed = false) {
    WAVEFORMATEX format{tag, channels, rate, rate * channels * bits / 8, WORD(channels * bits / 8), bits, 0};
    CMediaType type;
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_PCM;
    type.formattype = FORMAT_WaveFormatEx;
    type.bTemporalCompression = compressed;
    type.SetFormat(&format, sizeof format);
    return type;
}

CMediaType VideoType(LONG width, LONG height, WORD bits, bool withFormat = true) {
    CMediaType type;
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    type.bFixedSizeSamples = 1;
    if (withFormat) {
        VIDEOINFOHEADER info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = height;
        info.bmiHeader.biBitCount = bits;
        type.formattype = FORMAT_VideoInfo;
        type.SetFormat(&info, sizeof info);
    }
    return type;
}

template <typename Filter>
ComPtr<Filter> Make() {
    HRESULT hr = S_OK;
    ComPtr<Filter> filter(new Filter(nullptr, &hr));
    EXPECT_EQ(hr, S_OK);
    return filter;
}

TEST(ReceiverAudio, TakesOnly16BitMonoOrStereoPcmAt44Or48kHz) {
    const struct {
        CMediaType type;
        HRESULT expected;
    } cases[] = {
        {AudioType(WAVE_FORMAT_EXTENSIBLE, 2, 44100, 16), S_OK},
        {AudioType(WAVE_FORMAT_PCM, 1, 48000, 16), S_OK},
        {AudioType(WAVE_FORMAT_PCM, 2, 22050, 16), E_INVALIDARG},
        {AudioType(WAVE_FORMAT_PCM, 2, 48000, 8), E_INVALIDARG},
        {AudioType(WAVE_FORMAT_PCM, 2, 48000, 24), E_INVALIDARG},
        {AudioType(WAVE_FORMAT_PCM, 6, 48000, 16), E_INVALIDARG},
        {AudioType(WAVE_FORMAT_PCM, 2, 48000, 16, true), E_INVALIDARG},
        {AudioType(0x55, 2, 48000, 16), E_INVALIDARG},
        {VideoType(320, 240, 24), E_INVALIDARG},
    };
    auto filter = Make<ReceiverAudio>();
    for (const auto& c : cases) EXPECT_EQ(filter->InputPin()->CheckMediaType(&c.type), c.expected);
    CMediaType truncated = AudioType(WAVE_FORMAT_PCM, 2, 48000, 16);
    truncated.cbFormat = 16;
    EXPECT_EQ(filter->InputPin()->CheckMediaType(&truncated), E_INVALIDARG);
}

// The sink reads the picture geometry from the format block: a type without a complete,
// positive 24-bit VIDEOINFOHEADER must never reach it.
TEST(ReceiverVideo, RefusesPictureTypesTheSinkCannotRead) {
    CountingSink sink;
    auto filter = Make<ReceiverVideo>();
    filter->SetCallback(&sink);
    CBasePin* pin = filter->InputPin();

    CMediaType variable = VideoType(320, 240, 24);
    variable.bFixedSizeSamples = 0;
    EXPECT_EQ(pin->CheckMediaType(&variable), E_INVALIDARG);
    const CMediaType bare = VideoType(0, 0, 0, false);
    EXPECT_EQ(pin->CheckMediaType(&bare), S_OK);

    CMediaType shortBlock = VideoType(320, 240, 24);
    shortBlock.cbFormat = 60;
    for (const CMediaType& refused : {bare, shortBlock, VideoType(0, 240, 24), VideoType(320, -240, 24),
                                      VideoType(320, 240, 32)}) {
        EXPECT_EQ(pin->SetMediaType(&refused), VFW_E_INVALIDMEDIATYPE);
    }
    EXPECT_EQ(sink.videoFormats, 0);
    const CMediaType good = VideoType(320, 240, 24);
    EXPECT_EQ(pin->SetMediaType(&good), S_OK);
    EXPECT_EQ(sink.videoFormats, 1);
    EXPECT_EQ(pin->SetMediaType(nullptr), E_POINTER);
}

// Samples go to the sink installed by SetCallback, to nobody before it, whatever the sink
// answers; the pin stays a renderer that does not block.
TEST(ReceiverPins, ForwardSamplesToTheInstalledSink) {
    auto video = Make<ReceiverVideo>();
    auto audio = Make<ReceiverAudio>();
    ComPtr<MediaSample> sample = MediaSample::Create(16);
    ComPtr<IMemInputPin> videoInput, audioInput;
    ASSERT_EQ(ComPtr<IPin>(video->InputPin()).As(&videoInput), S_OK);
    ASSERT_EQ(ComPtr<IPin>(audio->InputPin()).As(&audioInput), S_OK);

    EXPECT_EQ(videoInput->Receive(sample.Get()), S_OK);  // the null sink drops it
    CountingSink sink;
    video->SetCallback(&sink);
    audio->SetCallback(&sink);
    EXPECT_EQ(videoInput->Receive(sample.Get()), S_OK);
    EXPECT_EQ(audioInput->Receive(sample.Get()), S_OK);
    EXPECT_EQ(videoInput->Receive(nullptr), E_POINTER);
    EXPECT_EQ(videoInput->ReceiveCanBlock(), platform::com::S_FALSE);
    EXPECT_EQ(sink.videoSamples, 1);
    EXPECT_EQ(sink.audioSamples, 1);

    // Outside a graph nobody hears of the end, and it still succeeds.
    EXPECT_EQ(audio->InputPin()->EndOfStream(), S_OK);
    EXPECT_EQ(video->InputPin()->EndOfStream(), S_OK);
    EXPECT_EQ(sink.audioEnds, 1);

    const CMediaType pcm = AudioType(WAVE_FORMAT_PCM, 2, 48000, 16);
    EXPECT_EQ(audio->InputPin()->SetMediaType(&pcm), S_OK);
    EXPECT_EQ(sink.audioFormats, 1);
}

TEST(ReceiverFilters, InterfacesAndIdentity) {
    auto video = Make<ReceiverVideo>();
    EXPECT_EQ(video->GetPinCount(), 1);
    EXPECT_EQ(video->GetPin(1), nullptr);
    GUID clsid{};
    video->GetClassID(&clsid);
    EXPECT_EQ(clsid, reader::CLSID_ReceiverVideo);

    ComPtr<reader::IReceiverFilter> receiver;
    EXPECT_EQ(ComPtr<IBaseFilter>(video.Get()).As(&receiver), S_OK);
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(ComPtr<IBaseFilter>(video.Get()).As(&seeking), S_OK);
    LONGLONG duration = 0;
    EXPECT_EQ(seeking->GetDuration(&duration), VFW_E_NOT_CONNECTED);  // passed upstream
    EXPECT_EQ(video->NonDelegatingQueryInterface(IBaseFilter::kIid, nullptr), E_POINTER);

    CMediaType offered;
    EXPECT_EQ(video->InputPin()->GetMediaType(0, &offered), S_OK);
    EXPECT_EQ(video->InputPin()->CheckMediaType(&offered), S_OK);
    EXPECT_EQ(video->InputPin()->GetMediaType(1, &offered), VFW_S_NO_MORE_ITEMS);
}

}  // namespace
