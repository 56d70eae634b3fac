#include "platform/dshow/media_det.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "platform/com/unknown.h"
#include "platform/dshow/interfaces.h"
#include "platform/dshow/media_file.h"
#include "platform/dshow/media_type.h"

namespace platform::dshow {
namespace {

using com::E_INVALIDARG;
using com::E_POINTER;
using com::FAILED;
using com::S_OK;

// The four-character code a stream's subtype is named by: the file's own, else the one AVI
// files use for the codec.
uint32_t VideoFourCC(const AVCodecParameters* par) {
    if (par->codec_tag != 0) return par->codec_tag;
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    return av_codec_get_tag(tables, par->codec_id);
}

// The WAVE format tag of the codec, whatever tag the container stores (an MP4 stores a
// four-character code that does not fit one).
WORD WaveFormatTag(const AVCodecParameters* par) {
    const AVCodecTag* const tables[] = {avformat_get_riff_audio_tags(), nullptr};
    return WORD(av_codec_get_tag(tables, par->codec_id));
}

uint32_t ClampToU32(double value) {
    if (!(value > 0.0)) return 0;
    return value >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(value);
}

// Streams are listed as the source filter offers its pins: video first, then audio.
class MediaDet : public com::CUnknown, public IMediaDet {
public:
    MediaDet() : CUnknown(nullptr) {}
    LUMIVANE_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(com::REFIID riid, void** object) override {
        if (riid == IMediaDet::kIid) return com::GetInterface(static_cast<IMediaDet*>(this), object);
        return CUnknown::NonDelegatingQueryInterface(riid, object);
    }

    HRESULT put_Filename(const char* fileName) override {
        if (fileName == nullptr) return E_POINTER;
        file_.reset();
        streams_.clear();
        current_ = 0;
        std::unique_ptr<MediaFile> file;
        const HRESULT hr = MediaFile::Open(fileName, &file);
        if (FAILED(hr)) return hr;
        file_ = std::move(file);
        if (file_->VideoStream() >= 0) streams_.push_back(file_->VideoStream());
        if (file_->AudioStream() >= 0) streams_.push_back(file_->AudioStream());
        return S_OK;
    }

    HRESULT get_OutputStreams(long* count) override {
        if (count == nullptr) return E_POINTER;
        if (!file_) return com::E_UNEXPECTED;
        *count = long(streams_.size());
        return S_OK;
    }

    HRESULT get_CurrentStream(long* index) override {
        if (index == nullptr) return E_POINTER;
        *index = current_;
        return S_OK;
    }

    HRESULT put_CurrentStream(long index) override {
        if (index < 0 || size_t(index) >= streams_.size()) return E_INVALIDARG;
        current_ = index;
        return S_OK;
    }

    HRESULT get_StreamType(GUID* majorType) override {
        if (majorType == nullptr) return E_POINTER;
        const AVStream* stream = Current();
        if (stream == nullptr) return E_INVALIDARG;
        *majorType = IsVideo(stream) ? MEDIATYPE_Video : MEDIATYPE_Audio;
        return S_OK;
    }

    HRESULT get_StreamMediaType(AM_MEDIA_TYPE* type) override {
        if (type == nullptr) return E_POINTER;
        const AVStream* stream = Current();
        if (stream == nullptr) return E_INVALIDARG;
        CMediaType stored = IsVideo(stream) ? StoredVideoType(stream) : StoredAudioType(stream);
        return CopyMediaType(type, &stored);
    }

    HRESULT get_StreamLength(double* seconds) override {
        if (seconds == nullptr) return E_POINTER;
        const AVStream* stream = Current();
        if (stream == nullptr) return E_INVALIDARG;
        *seconds = IsVideo(stream) ? file_->VideoLength() : file_->AudioLength();
        return S_OK;
    }

    HRESULT get_FrameRate(double* framesPerSecond) override {
        if (framesPerSecond == nullptr) return E_POINTER;
        const AVStream* stream = Current();
        if (stream == nullptr) return E_INVALIDARG;
        *framesPerSecond = IsVideo(stream) ? file_->FrameRate() : 0.0;
        return S_OK;
    }

private:
    const AVStream* Current() const {
        if (!file_ || current_ < 0 || size_t(current_) >= streams_.size()) return nullptr;
        return file_->Stream(streams_[size_t(current_)]);
    }

    static bool IsVideo(const AVStream* stream) {
        return stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    }

    CMediaType StoredVideoType(const AVStream* stream) const {
        const AVCodecParameters* par = stream->codecpar;
        VIDEOINFOHEADER info{};
        const double rate = file_->FrameRate();
        info.AvgTimePerFrame = rate > 0 ? REFERENCE_TIME(std::llround(kUnitsPerSecond / rate)) : 0;
        info.dwBitRate = ClampToU32(double(par->bit_rate));
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        // The size players show, the pictures turned by the display matrix.
        const PictureSize shown = file_->ShownSize();
        info.bmiHeader.biWidth = shown.width;
        info.bmiHeader.biHeight = shown.height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = WORD(std::max(par->bits_per_coded_sample, 0));
        info.bmiHeader.biCompression = VideoFourCC(par);
        CMediaType type;
        type.majortype = MEDIATYPE_Video;
        type.subtype = SubtypeFromFourCC(info.bmiHeader.biCompression);
        type.formattype = FORMAT_VideoInfo;
        type.bFixedSizeSamples = 0;
        type.bTemporalCompression = 1;
        type.SetFormat(&info, sizeof info);
        return type;
    }

    static CMediaType StoredAudioType(const AVStream* stream) {
        const AVCodecParameters* par = stream->codecpar;
        WAVEFORMATEX format{};
        format.wFormatTag = WaveFormatTag(par);
        format.nChannels = WORD(par->ch_layout.nb_channels);
        format.nSamplesPerSec = uint32_t(par->sample_rate);
        format.nAvgBytesPerSec = ClampToU32(double(par->bit_rate) / 8.0);
        format.nBlockAlign = WORD(std::max(par->block_align, 0));
        format.wBitsPerSample = WORD(std::max(par->bits_per_coded_sample, 0));
        CMediaType type;
        type.majortype = MEDIATYPE_Audio;
        type.subtype = SubtypeFromFourCC(format.wFormatTag);
        type.formattype = FORMAT_WaveFormatEx;
        type.SetFormat(&format, sizeof format);
        return type;
    }

    std::unique_ptr<MediaFile> file_;
    std::vector<int> streams_;
    long current_ = 0;
};

}  // namespace

HRESULT CreateMediaDet(IUnknown* outer, com::REFIID riid, void** object) {
    return com::CreateStandalone<MediaDet>(outer, riid, object);
}

}  // namespace platform::dshow
