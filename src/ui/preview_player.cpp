#include "ui/preview_player.h"

#include <cstring>

#include "platform/com/class_table.h"
#include "platform/dshow/renderers.h"

namespace ui {

using namespace platform::dshow;
using platform::com::CoCreateInstance;
using platform::com::CLSCTX_ALL;
using platform::com::FAILED;
using platform::com::SUCCEEDED;

namespace {

constexpr int kBytesPerPixel = 3;
constexpr int kWaitingForPicture = 1;
constexpr int kHoldingPictures = 2;

// Rows of a 24-bit bitmap are padded to four bytes.
int64_t StrideOf(int width) { return (int64_t(width) * kBytesPerPixel + 3) & ~int64_t(3); }

}  // namespace

PreviewPlayer::PreviewPlayer(PictureReady pictureReady) : pictureReady_(std::move(pictureReady)) {}

PreviewPlayer::~PreviewPlayer() { Close(); }

bool PreviewPlayer::Open(const reader::ClipRecord& clip) {
    Close();
    clip_ = clip;
    graph_.Init(this);
    if (FAILED(graph_.Build(&clip_))) {
        Close();
        return false;
    }
    IGraphBuilder* graph = graph_.Graph();
    ComPtr<IMediaFilter> filter;
    if (FAILED(graph->QueryInterface(IMediaControl::kIid, control_.PutVoid())) ||
        FAILED(graph->QueryInterface(IMediaSeeking::kIid, seeking_.PutVoid())) ||
        FAILED(graph->QueryInterface(IMediaFilter::kIid, filter.PutVoid()))) {
        Close();
        return false;
    }
    // The job's graph runs unpaced; the preview plays at the clip's own speed.
    if (SUCCEEDED(CreateSystemClock(nullptr, IReferenceClock::kIid, clock_.PutVoid())))
        filter->SetSyncSource(clock_.Get());
    hasVideo_ = clip_.HasVideo != 0;
    return true;
}

void PreviewPlayer::Close() {
    if (control_) control_->Stop();
    control_ = nullptr;
    seeking_ = nullptr;
    clock_ = nullptr;
    graph_.Release();
    hasVideo_ = false;
}

bool PreviewPlayer::Run() {
    if (!control_) return false;
    onePicture_ = 0;
    return SUCCEEDED(control_->Run());
}

bool PreviewPlayer::Pause() { return control_ && SUCCEEDED(control_->Pause()); }

bool PreviewPlayer::Stop() { return control_ && SUCCEEDED(control_->Stop()); }

long PreviewPlayer::State() const {
    long state = State_Stopped;
    if (control_) control_->GetState(0, &state);
    return state;
}

bool PreviewPlayer::Duration(int64_t& duration) const {
    LONGLONG value = 0;
    if (!seeking_ || FAILED(seeking_->GetDuration(&value))) return false;
    duration = value;
    return true;
}

bool PreviewPlayer::Position(int64_t& position) const {
    LONGLONG value = 0;
    if (!seeking_ || FAILED(seeking_->GetCurrentPosition(&value))) return false;
    position = value;
    return true;
}

bool PreviewPlayer::Seek(int64_t position) {
    if (!seeking_) return false;
    LONGLONG target = position < 0 ? 0 : position;
    return SUCCEEDED(seeking_->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr,
                                            AM_SEEKING_NoPositioning));
}

bool PreviewPlayer::ShowOnePicture() {
    if (!control_ || !hasVideo_) return false;
    onePicture_ = kWaitingForPicture;
    if (FAILED(control_->Run())) {
        onePicture_ = 0;
        return false;
    }
    return true;
}

void PreviewPlayer::EndOnePicture() {
    if (control_ && onePicture_ == kHoldingPictures) control_->Pause();
}

reader::HRESULT PreviewPlayer::OnVideoFormat(const AM_MEDIA_TYPE* type) {
    width_ = height_ = 0;
    if (type == nullptr || type->pbFormat == nullptr || type->cbFormat < sizeof(VIDEOINFOHEADER))
        return 0;
    VIDEOINFOHEADER info;
    std::memcpy(&info, type->pbFormat, sizeof info);
    if (info.bmiHeader.biBitCount != 24 || info.bmiHeader.biWidth <= 0 || info.bmiHeader.biHeight == 0)
        return 0;
    width_ = info.bmiHeader.biWidth;
    bottomUp_ = info.bmiHeader.biHeight > 0;
    height_ = bottomUp_ ? info.bmiHeader.biHeight : -info.bmiHeader.biHeight;
    pixelAspect_ = PixelAspectOf(info.bmiHeader);
    return 0;
}

reader::HRESULT PreviewPlayer::OnVideoSample(IMediaSample* sample) {
    if (onePicture_ == kHoldingPictures) return 0;
    BYTE* data = nullptr;
    if (sample == nullptr || width_ == 0 || FAILED(sample->GetPointer(&data)) || data == nullptr)
        return 0;
    const int64_t stride = StrideOf(width_);
    // A sample shorter than its format says is skipped rather than read past its end.
    if (sample->GetActualDataLength() < stride * height_) return 0;

    auto picture = std::make_shared<PreviewPicture>();
    picture->width = width_;
    picture->height = height_;
    picture->displayAspect = DisplayAspect(width_, height_, pixelAspect_);
    const size_t rowBytes = size_t(width_) * kBytesPerPixel;
    picture->bgr.resize(rowBytes * size_t(height_));
    for (int row = 0; row < height_; ++row) {
        const int sourceRow = bottomUp_ ? height_ - 1 - row : row;
        std::memcpy(picture->bgr.data() + rowBytes * row, data + stride * sourceRow, rowBytes);
    }
    int waiting = kWaitingForPicture;
    picture->onePicture = onePicture_.compare_exchange_strong(waiting, kHoldingPictures);
    if (pictureReady_) pictureReady_(std::move(picture));
    return 0;
}

}  // namespace ui
