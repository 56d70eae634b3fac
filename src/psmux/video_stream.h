// MPEG-1 and MPEG-2 video: access units (one per picture, with the sequence and GOP headers
// before it), their decode and presentation times, and the video sectors.
#pragma once

#include "psmux/mux_job.h"
#include "psmux/pes_stream.h"
#include "psmux/program_stream_writer.h"

namespace psmux {

// Frames per second of an MPEG frame_rate_code, 0 for the codes that name no rate.
double FrameRateFromCode(unsigned code);

class VideoStream : public ElementaryStream {
public:
    VideoStream(FileBitReader* reader, const VideoParams& params, Multiplexor* mux);

    // True when the file starts with a sequence header.
    static bool Detect(BitReader& reader);
    // Configures stream id 0xE0 + n and parses the sequence header; false when there is none.
    bool Open(int n);

    bool CanMuxAt(int64_t scr) const override;
    uint32_t BitRate() const override { return bitRate_ * 400; }
    bool RunOutFinished() const override;
    void ScanUnits(unsigned count) override;
    size_t WriteSector() override;

    void ComputeMaxBufferDelay(int muxRate);
    double FrameRate() const { return frameRate_; }
    // End of the last picture's display, without the stream's offset.
    int64_t PresentationEnd() const { return presentationEnd_; }
    unsigned HorizontalSize() const { return horizontalSize_; }
    unsigned VbvBufferSize() const { return vbvBufferSize_; }

protected:
    // Called before the sector that starts an I-picture.
    virtual void WriteNavSector() {}
    virtual void ComputeDtsPts(AccessUnit& unit);
    size_t WriteUnitStart(const AccessUnit& unit, size_t limit);
    void HandleStartCode(uint32_t code, uint64_t position);
    void CloseUnit(uint64_t endByte, bool sequenceEnd);
    void StartPicture();
    void ReportProgress();

    VideoParams params_;
    unsigned horizontalSize_ = 0;
    unsigned verticalSize_ = 0;
    unsigned aspectCode_ = 0;
    unsigned frameRateCode_ = 0;
    uint32_t bitRate_ = 0;  // units of 400 bit/s; 0 when the header leaves it open
    unsigned vbvBufferSize_ = 0;
    double frameRate_ = 25.0;

    // Scanner state.
    uint64_t unitStart_ = 0;  // file offset of the unit being built
    uint32_t openingCode_ = 0;
    bool unitOpen_ = false;
    AccessUnit building_;

    // Picture state.
    unsigned temporalReference_ = 0;
    unsigned previousTemporalReference_ = 0;
    unsigned pictureStructure_ = 3;
    unsigned repeatFirstField_ = 0;
    bool anyRepeatFirstField_ = false;

    // Timing counters: fields decoded, fields at the last I-picture, its decode index.
    int64_t fieldsDecoded_ = 0;
    int64_t fieldsAtLastI_ = 0;
    int64_t lastIDecodeIndex_ = 0;
    int64_t delayLimit_ = 0;
    int64_t presentationEnd_ = 0;
    uint64_t fileSize_ = 0;
};

// The DVD variant: a navigation placeholder sector before every I-picture.
class DvdVideoStream : public VideoStream {
public:
    using VideoStream::VideoStream;

protected:
    void WriteNavSector() override;
};

}  // namespace psmux
