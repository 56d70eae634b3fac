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
    // The sequence header's rate, or for a header that leaves it open (VBR) the rate of the
    // pictures scanned so far, which the opening I-picture only raises.
    uint32_t BitRate() const override;
    bool RunOutFinished() const override;
    void ScanUnits(unsigned count) override;
    size_t WriteSector() override;

    void ComputeMaxBufferDelay(int muxRate);
    // End of the last picture's display, without the stream's offset.
    int64_t PresentationEnd() const { return presentationEnd_; }

protected:
    // Called before the sector that starts an I-picture.
    virtual void WriteNavSector() {}
    virtual void ComputeDtsPts(AccessUnit& unit);
    size_t WriteUnitStart(const AccessUnit& unit, size_t limit);
    void HandleStartCode(uint32_t code, uint64_t position);
    void CloseUnit(uint64_t endByte, bool sequenceEnd);
    void StartPicture();
    // False for an MPEG-2 picture whose slices stop short of its last macroblock row.
    bool OpenPictureHasAllSlices() const;
    void ReportProgress();

    VideoParams params_;
    unsigned horizontalSize_ = 0;
    unsigned verticalSize_ = 0;
    uint32_t bitRate_ = 0;  // units of 400 bit/s; 0 when the header leaves it open
    unsigned vbvBufferSize_ = 0;
    double frameRate_ = 25.0;

    // Scanner state.
    uint64_t unitStart_ = 0;  // file offset of the unit being built
    uint32_t openingCode_ = 0;
    bool unitOpen_ = false;
    AccessUnit building_;

    // Picture state.
    // Before the first picture no temporal reference (10 bits) can match the previous one, so
    // a stream's first field is not taken for the second field of a frame.
    static constexpr unsigned kNoTemporalReference = 0xFFFF;
    unsigned temporalReference_ = kNoTemporalReference;
    unsigned previousTemporalReference_ = kNoTemporalReference;
    unsigned pictureStructure_ = 3;
    unsigned repeatFirstField_ = 0;
    uint32_t lastSliceRow_ = 0;  // of the open picture
    bool mpeg2Syntax_ = false;   // an extension start code was seen
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
