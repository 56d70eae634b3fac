// Audio streams: one access unit per coded frame (or per fixed block for LPCM), timed from the
// samples before it, and the audio sectors.
#pragma once

#include "psmux/pes_stream.h"
#include "psmux/program_stream_writer.h"

namespace psmux {

struct AudioFrame {
    uint32_t length = 0;   // bytes, header included
    uint32_t samples = 0;  // per channel
};

class AudioStream : public ElementaryStream {
public:
    AudioStream(FileBitReader* reader, Multiplexor* mux);

    // Configures the stream as audio number n and scans its first frame; false when the file
    // holds no complete frame.
    virtual bool Open(int n) = 0;

    bool RunOutFinished() const override;
    void ScanUnits(unsigned count) override;
    size_t WriteSector() override;
    uint32_t BitRate() const override { return bitRateKbps_ * 1024; }
    uint32_t SampleRate() const { return sampleRate_; }
    // True when the scanner met bytes that are no frame header before the end of the file.
    bool LostFrameSync() const { return lostSync_; }
    uint64_t LostSyncAt() const { return lostSyncAt_; }
    uint32_t FramesScanned() const { return frameNumber_; }

protected:
    // Reads the frame header at the cursor (a frame start); false when it is not a valid
    // header of this stream (lost sync, reserved values, a change of sample rate).
    virtual bool ReadFrameHeader(AudioFrame& frame) = 0;
    // Bytes of the file a packet may carry when `space` bytes are left after its sub-stream
    // header, and the packet bytes that whole units of `fileBytes` take: the two differ only
    // for samples that are repacked on the way.
    virtual size_t UsableAudioBytes(size_t space) const { return space; }
    virtual size_t PacketBytesOf(size_t fileBytes) const { return fileBytes; }
    // Bytes at a frame's start by which stream parsers recognise it; 0 for streams without
    // frame headers.
    virtual size_t FrameHeaderBytes() const { return 0; }
    // Cuts a packet of `take` file bytes before a frame whose header it would split: parsers
    // find a frame by its header and give it the timestamp of the packet in which they found
    // it, which would then be the next frame's.
    size_t KeepFrameHeadersWhole(size_t take) const;
    // Scans the first frame after Configure; false when there is none.
    bool ScanFirstFrame();
    bool ScanFrame();
    // Ends the stream at a frame start whose header is not valid; streams with frame headers
    // have lost their sync there unless the file ends inside the header.
    bool EndAtBadHeader(uint64_t frameStart);
    uint64_t SampleRateOrOne() const { return sampleRate_ != 0 ? sampleRate_ : 1; }
    // A frame the run-out leaves out: at the video's end, one that would still be heard after
    // the last picture (the next title's pictures follow there); elsewhere one due at or after
    // the run-out point.
    bool LeftOutOfRunOut(const AccessUnit& unit) const;

    int audioNumber_ = 0;
    uint32_t sampleRate_ = 0;
    uint32_t bitRateKbps_ = 0;
    uint64_t samplesBefore_ = 0;  // samples of the frames already scanned
    uint32_t frameSamples_ = 0;   // per channel, of the last frame scanned
    uint32_t frameNumber_ = 0;
    bool lostSync_ = false;
    uint64_t lostSyncAt_ = 0;  // file offset
};

// What an AC-3 or DTS frame header says of its frame.
struct SubstreamFrameHeader {
    int sampleRate = 0;
    int bitRateKbps = 0;
    uint32_t frameLength = 0;  // bytes
    uint32_t samples = 0;      // per channel
};

// A sub-stream format's frame-header parser and the bytes it reads.
struct SubstreamHeaderFormat {
    size_t headerBytes;
    bool (*parse)(const uint8_t* bytes, SubstreamFrameHeader& out);
};

// AC-3 and DTS in private stream 1: a 4-byte sub-stream header with the count of frames that
// start in the packet and the offset of the first of them.
class SubstreamAudioStream : public AudioStream {
public:
    SubstreamAudioStream(FileBitReader* reader, Multiplexor* mux, uint8_t substreamBase,
                         SubstreamHeaderFormat format);
    bool Open(int n) override;
    size_t ReadPayload(uint8_t* buffer, size_t maximum) override;
    int SubstreamHeaderSize() const override { return 4; }

    // True when the reader's next bytes are a valid frame header of the format.
    static bool Detect(BitReader& reader, SubstreamHeaderFormat format);

protected:
    bool ReadFrameHeader(AudioFrame& frame) override;
    size_t FrameHeaderBytes() const override { return format_.headerBytes; }

private:
    uint8_t substreamBase_;
    SubstreamHeaderFormat format_;
};

struct MpegAudioHeader {
    int version = 0;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int layer = 0;    // 1..3
    int bitRateKbps = 0;
    int sampleRate = 0;
    int padding = 0;
    uint32_t frameLength = 0;
    uint32_t samples = 0;
};

// Parses a 32-bit MPEG audio frame header; false for a missing sync, reserved values or the
// free-format bit rate.
bool ParseMpegAudioHeader(uint32_t header, MpegAudioHeader& out);

class MpegAudioStream : public AudioStream {
public:
    using AudioStream::AudioStream;
    static bool Detect(BitReader& reader);
    bool Open(int n) override;

protected:
    bool ReadFrameHeader(AudioFrame& frame) override;
    size_t FrameHeaderBytes() const override;

private:
    MpegAudioHeader first_;
    bool haveFirst_ = false;
};

}  // namespace psmux
