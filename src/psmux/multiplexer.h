// The engine of one multiplex run and the entry the encode job calls.
//
// Everything is timed on the 27 MHz clock; each sector's SCR is its byte position at the mux
// rate. Each scheduler round writes one sector of the stream whose next unit must be decoded
// first, or lets time pass when no stream's decoder buffer has room.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "psmux/mux_job.h"
#include "psmux/pes_stream.h"
#include "psmux/program_stream_writer.h"

namespace platform {
class ProgressTarget;
class ManualResetEvent;
}  // namespace platform

namespace psmux {

class VcdStillsStream;

// Joins a video and an audio elementary stream (in either order) into a DVD program stream
// with a navigation placeholder sector before each I-picture. Sends PBM_SETPOS with the
// percentage of the video written and stops early, still closing the file, when `cancel` is
// set. Answers 0 on success or cancel, non-zero (a MuxStatus) when an input cannot be opened
// or read, no video stream is found, or the output cannot be written; `failure`, when given,
// then receives the reason in one line. The clock starts at clockStart ticks
// (MuxJob::clockStart).
int RunMultiplexer(const char* outputName, const char* fileA, const char* fileB,
                   platform::ProgressTarget* progress, const platform::ManualResetEvent* cancel,
                   int64_t clockStart = 0, std::string* failure = nullptr);

// Runs a prepared job.
MuxStatus RunMuxJob(MuxJob& job);

// The stream-syntax parameters a mux format selects.
struct MuxParams {
    int muxFormat = 0;
    int dataRate = 0;
    int mpegVersion = 1;
    int packetsPerPack = 1;
    int sectorSize = 2048;
    int sectorTransportSize = 2048;
    int transportPrefixSectors = 0;
    int zeroStuffing = 0;
    bool variableBitRate = false;
    uint32_t mpegAudioBufferSize = 4096;
    uint64_t segmentLimit = 0;  // bytes
    int64_t runLimit = 0;       // ticks
    int64_t videoOffset = 0;
    int64_t audioOffset = 0;
    int64_t clockStart = 0;  // ticks
    bool splitAtSequenceEnd = false;
    bool systemHeaderEveryPack = false;
    bool timestampsEveryUnit = false;
    bool systemHeaderFirstPack = false;
    bool buffersInVideoPackets = false;
    bool buffersEveryVideoPacket = false;
    bool buffersInAudioPackets = false;
    bool buffersEveryAudioPacket = false;
    bool iPictureAlignment = false;
    bool segmentStartsWithVideo = false;
    bool timestampsOnIPicturesOnly = false;
    bool buffersOnIPicturesOnly = false;
    bool dvdVideo = false;  // the first video stream writes navigation placeholders
    bool soundOutlastsVideo = false;  // stills: the last one stays up while the sound plays on

    // Copies the job and applies the row of its mux format.
    static MuxParams ForJob(const MuxJob& job);
    // Formats 6 and 7, which carry still pictures and MPEG audio.
    bool StillsFormat() const { return muxFormat == 6 || muxFormat == 7; }
};

class Multiplexor {
public:
    explicit Multiplexor(MuxJob& job);
    ~Multiplexor();
    Multiplexor(const Multiplexor&) = delete;
    Multiplexor& operator=(const Multiplexor&) = delete;

    MuxStatus Run();

    // For the streams.
    const MuxParams& Params() const { return params_; }
    int SectorSize() const { return params_.sectorSize; }
    bool RunningOut() const { return runningOut_; }
    int64_t RunOutPts() const { return runOutPts_; }
    // The run-out at the video's end, after which no stream goes on.
    bool FinalRunOut() const { return finalRunOut_; }
    platform::ProgressTarget* Progress() const { return job_.progress; }
    const platform::ManualResetEvent* Cancel() const { return job_.cancel; }
    int PacketPayloadFor(const PesStream& stream, bool buffers, bool pts, bool dts) const;
    size_t WriteStreamSector(size_t maximumPayload, PesStream& stream, bool buffers, int64_t pts,
                             int64_t dts, TimestampKind kind);
    void WriteNavPlaceholder();
    int64_t ScrOfBytePosition(uint64_t position) const;
    // A unit's last byte goes into the sector being written; counts it late when that sector
    // ends after the unit's decode time.
    void NoteUnitDelivered(int64_t decodeTime);

private:
    enum class State { SegmentStart, Muxing, RunningOut };

    void CreateStreams();
    void CreateStillsStreams();
    // The stills stream of the video input that is the `videoIndex`-th of the job (from 0), or
    // its refusal; a video CD's stills streams are gathered in vcdStills to be paired.
    void AddStillsVideo(JobStream& input, size_t videoIndex, std::vector<VcdStillsStream*>& vcdStills);
    MuxStatus Prepare();
    MuxStatus OutputFailure();
    bool ConfigurationIsMuxable() const;
    void ComputeMuxRate();
    void ComputeStartupDelay();
    void StartSegment();
    void WriteSegmentPrefix();
    void WritePaddingSector(const HeaderBuffer* system, PesStream& stream);
    void WriteEndSector();
    void SetPositionAndScr(uint64_t position);
    void AdvanceSector();
    void RefreshHeaders();
    // One step of the state machine; false when the run ends.
    bool AdvanceState(State& state);
    // One scheduler round: a sector of the chosen stream, padding, or time passing; false
    // when the chosen stream could supply no byte.
    bool MuxOneSector();
    bool AnyVideoComplete() const;
    bool AllComplete() const;
    bool AllRunOutsFinished() const;
    ElementaryStream* ChooseStream();
    void LetTimePass();
    int64_t VideoPresentationEnd() const;
    std::vector<const PesStream*> AsPes(const std::vector<ElementaryStream*>& streams) const;
    bool InputFailed() const;
    void NoteInputWithoutUnits(const std::string& name);
    // Keeps the first input a stills format cannot carry, and why, for the run's result.
    void RefuseStillsInput(MuxStatus why, const std::string& what);
    void ReportLateUnits();
    void ReportEarlySoundEnds();
    size_t IndexOf(const ElementaryStream* s) const;  // position in job order

    MuxJob& job_;
    MuxParams params_;
    int muxRate_ = 0;
    uint32_t rateBound_ = 0;  // mux rate / 50, as pack and system headers carry it

    HeaderBuffer systemHeader_;
    HeaderBuffer dvdSystemHeader_;  // the navigation placeholders copy it
    HeaderBuffer packHeader_;
    bool includePackHeader_ = true;
    bool includeSystemHeader_ = false;
    const HeaderBuffer* currentPack_ = nullptr;
    const HeaderBuffer* currentSystem_ = nullptr;

    bool runningOut_ = false;
    bool finalRunOut_ = false;  // the video is complete; audio due before its end still goes out
    int64_t runOutPts_ = 0;

    std::unique_ptr<ProgramStreamWriter> writer_;
    uint64_t position_ = 0;
    int64_t ticksPerSector_ = 0;
    int64_t scr_ = 0;
    int64_t audioDelay_ = 0;
    int64_t videoDelay_ = 0;
    int packetsLeft_ = 1;
    bool videoFirst_ = false;
    bool configurationRefused_ = false;  // an input stream cannot take the requested parameters
    std::string inputWithoutUnits_;  // the first input that yields no unit
    std::string unsupportedLpcm_;    // an LPCM input whose sample layout cannot be written
    MuxStatus stillsRefusal_ = MuxStatus::Ok;
    std::string stillsRefusedInput_;
    unsigned lateUnits_ = 0;
    int64_t worstLateness_ = 0;  // ticks

    std::vector<std::unique_ptr<ElementaryStream>> owned_;
    std::vector<ElementaryStream*> all_;
    std::vector<ElementaryStream*> video_;
    std::vector<ElementaryStream*> audio_;

    PaddingStream padding_;
    PaddingStream fillPadding_;
    PaddingStream private2Padding_;
};

}  // namespace psmux
