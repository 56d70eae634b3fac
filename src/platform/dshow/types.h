// The plain data of the DirectShow stand-in: result codes, media types and their format blocks.
//
// The structures keep the platform's field names and byte sizes, because the media-type
// format blocks are handed around as raw bytes and their readers check the sizes.
#pragma once

#include <cstdint>

#include "platform/com/com.h"

namespace platform::dshow {

using com::GUID;
using com::HRESULT;
using com::IUnknown;

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using BOOL = int32_t;
using LONGLONG = int64_t;
using LONG_PTR = intptr_t;
// Media times and positions, in units of 100 ns.
using REFERENCE_TIME = int64_t;

constexpr REFERENCE_TIME kUnitsPerSecond = 10'000'000;

constexpr HRESULT VFW_S_NO_MORE_ITEMS = 0x00040103;
constexpr HRESULT VFW_E_INVALIDMEDIATYPE = com::MakeHresult(0x80040200);
constexpr HRESULT VFW_E_ALREADY_CONNECTED = com::MakeHresult(0x80040204);
constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = com::MakeHresult(0x80040207);
constexpr HRESULT VFW_E_INVALID_DIRECTION = com::MakeHresult(0x80040208);
constexpr HRESULT VFW_E_NOT_CONNECTED = com::MakeHresult(0x80040209);
constexpr HRESULT VFW_E_CANNOT_RENDER = com::MakeHresult(0x80040218);
constexpr HRESULT VFW_E_NOT_STOPPED = com::MakeHresult(0x80040224);
constexpr HRESULT VFW_E_WRONG_STATE = com::MakeHresult(0x80040227);
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = com::MakeHresult(0x8004022A);
constexpr HRESULT VFW_E_UNKNOWN_FILE_TYPE = com::MakeHresult(0x80040240);
constexpr HRESULT VFW_E_NOT_IN_GRAPH = com::MakeHresult(0x8004025F);

// Graph events.
constexpr long EC_COMPLETE = 0x01;
constexpr long EC_USERABORT = 0x02;
constexpr long EC_ERRORABORT = 0x03;

// IMediaSeeking::SetPositions flags.
constexpr DWORD AM_SEEKING_NoPositioning = 0x0;
constexpr DWORD AM_SEEKING_AbsolutePositioning = 0x1;
constexpr DWORD AM_SEEKING_RelativePositioning = 0x2;
constexpr DWORD AM_SEEKING_PositioningBitsMask = 0x3;

// Wait without a time limit.
constexpr long INFINITE_WAIT = -1;

enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

struct RECT {
    LONG left, top, right, bottom;
};

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    uint32_t lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    uint32_t cbFormat;
    BYTE* pbFormat;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // positive: rows stored bottom-up
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)

static_assert(sizeof(AM_MEDIA_TYPE) == 88 || sizeof(void*) != 8);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(VIDEOINFOHEADER) == 88);
static_assert(sizeof(WAVEFORMATEX) == 18);

constexpr WORD WAVE_FORMAT_PCM = 0x0001;
constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
constexpr DWORD BI_RGB = 0;

// Media types, subtypes and format types.
constexpr GUID MEDIATYPE_Video = com::MakeGuid("73646976-0000-0010-8000-00aa00389b71");
constexpr GUID MEDIATYPE_Audio = com::MakeGuid("73647561-0000-0010-8000-00aa00389b71");
constexpr GUID MEDIASUBTYPE_RGB24 = com::MakeGuid("e436eb7d-524f-11ce-9f53-0020af0ba770");
constexpr GUID MEDIASUBTYPE_RGB32 = com::MakeGuid("e436eb7e-524f-11ce-9f53-0020af0ba770");
constexpr GUID MEDIASUBTYPE_PCM = com::MakeGuid("00000001-0000-0010-8000-00aa00389b71");
constexpr GUID FORMAT_VideoInfo = com::MakeGuid("05589f80-c356-11ce-bf01-00aa0055595a");
constexpr GUID FORMAT_WaveFormatEx = com::MakeGuid("05589f81-c356-11ce-bf01-00aa0055595a");

// The subtype that stands for a four-character code: {fourcc-0000-0010-8000-00aa00389b71}.
constexpr GUID SubtypeFromFourCC(uint32_t fourcc) {
    GUID guid = MEDIASUBTYPE_PCM;
    guid.Data1 = fourcc;
    return guid;
}

// Bytes in one bottom-up RGB24 row: rows start on 4-byte boundaries.
constexpr uint32_t Rgb24Stride(int width) { return (uint32_t(width) * 3 + 3) & ~3u; }

// The shape of one pixel, width to height (32:27 for a wide picture stored 720 pixels across).
struct PixelAspect {
    LONG width = 1;
    LONG height = 1;
};

// A picture whose pixels are not square says so in its bitmap header's pixels per metre: a
// pixel wider than tall has fewer of them per metre across than down. Zero in either (what
// most headers carry) means square pixels.
constexpr PixelAspect PixelAspectOf(const BITMAPINFOHEADER& header) {
    if (header.biXPelsPerMeter <= 0 || header.biYPelsPerMeter <= 0) return {};
    return {header.biYPelsPerMeter, header.biXPelsPerMeter};
}
constexpr void SetPixelAspect(BITMAPINFOHEADER& header, PixelAspect aspect) {
    const bool known = aspect.width > 0 && aspect.height > 0;
    header.biXPelsPerMeter = known ? aspect.height : 0;
    header.biYPelsPerMeter = known ? aspect.width : 0;
}

// Width over height of the picture as it is shown (an unknown pixel shape counts as square);
// 0 for a picture without a size.
constexpr double DisplayAspect(int width, int height, PixelAspect aspect) {
    if (width <= 0 || height <= 0) return 0.0;
    if (aspect.width <= 0 || aspect.height <= 0) aspect = {};
    return double(width) * aspect.width / (double(height) * aspect.height);
}

}  // namespace platform::dshow
