// The options of one multiplex run, the classification of its input files and the entry's
// command-line parser.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "psmux/bit_reader.h"

namespace platform {
class ProgressTarget;
class ManualResetEvent;
}  // namespace platform

namespace psmux {

enum class StreamFormat { MpegAudio = 0, Ac3Audio = 1, LpcmAudio = 2, DtsAudio = 3, MpegVideo = 4 };

// "MPEG audio", "AC-3 audio" and so on, for messages.
const char* StreamFormatName(StreamFormat format);

struct JobStream {
    std::unique_ptr<FileBitReader> reader;
    StreamFormat format;
};

struct VideoParams {
    unsigned decoderBufferKb = 0;

    static VideoParams DefaultForFormat(int muxFormat);
    // Formats with a fixed decoder buffer override the given size; answers whether it did.
    bool ForceForFormat(int muxFormat);
};

struct LpcmParams {
    int samplesPerSecond = 48000;
    int channels = 2;
    int bitsPerSample = 16;
    bool fromCommandLine = false;  // given with -L rather than defaulted

    static LpcmParams DefaultForFormat(int muxFormat);
    // Accepts 48,000 or 96,000 Hz, 1 to 7 channels and 16, 20 or 24 bits.
    static bool Make(int rate, int channels, int bits, LpcmParams& out);
};

// How a run ended, for the entry's result.
enum class MuxStatus {
    Ok = 0,
    Cancelled,          // stopped by the cancel event; the output is complete up to there
    InputUnreadable,    // an input could not be opened or read
    InputUnrecognised,  // an input is not empty but matches no stream kind
    NoVideo,            // the job needs a video stream and none was found
    OutputFailed,       // the output could not be created or written
    BadConfiguration,   // the parameters can never produce a multiplex
    InputWithoutUnits,  // an input holds no complete picture or audio frame
    SeveralVideos,      // the DVD format takes one video stream and was given more
    LpcmLayoutUnsupported,  // 20- or 24-bit LPCM with more than two channels
    SoundNotCarried,    // a stills format was given sound other than MPEG audio
    SecondStillsVideo,  // the super video CD stills format takes one video stream
    StillsSizeTaken,    // the video CD stills format takes one stills stream of each size
};

const char* MuxStatusText(MuxStatus status);

class MuxJob {
public:
    MuxJob();
    virtual ~MuxJob() = default;

    // Parses the options "o:b:r:O:T:v:f:l:s:S:p:L:VMh" and the input names after them. False
    // with a one-line reason in `error` when an option is out of range, unknown or its list
    // does not parse, or when no output name or no input is given.
    bool ParseCommandLine(int argc, char** argv, std::string& error);
    // The road's set-up: format 8, a literal output name, the two inputs.
    void SetUp(const std::string& outputName, const std::string& fileA, const std::string& fileB);
    // Classifies one file by its first bytes and appends it; false when it is left out: it
    // cannot be opened or read, matches no stream kind, or is empty (an error unless empty
    // inputs are allowed).
    bool AddInputFile(const std::string& name);
    // Classifies every name; false at the first that is left out.
    bool AddInputFiles(const std::vector<std::string>& names);
    std::vector<JobStream*> StreamsOfFormat(StreamFormat format) const;
    // The status in words, with the input or output at fault.
    std::string FailureText(MuxStatus status) const;

    // Run options (defaults as the constructor sets them).
    int dataRate = 0;             // bytes per second; 0 = computed from the streams
    int packetsPerPack = 1;
    int64_t videoOffset = 0;      // ticks
    int64_t audioOffset = 0;      // ticks
    // The clock at the output's first byte (ticks): every SCR, PTS and DTS is that much later,
    // so that a VOB continues the clock of the one played before it.
    int64_t clockStart = 0;
    int sectorSize = 2048;
    bool variableBitRate = false;
    int mpegVersion = 1;
    int muxFormat = 0;
    bool multipleFiles = false;   // false: a sequence end in the video starts a new segment
    bool systemHeaderEveryPack = false;
    int runLimitSeconds = 0;
    int verbosity = 1;
    std::string outputName;
    bool outputNameIsPattern = false;
    int segmentLimitMb = 0;
    bool requireVideo = false;
    // The encode job hands over an empty sound file for a clip without sound.
    bool emptyInputsAllowed = false;
    // The encode job's outputs are created anew and never written through a link; the command
    // line writes where the name leads, a device or a link's target included.
    bool outputsCreatedAnew = false;
    std::vector<JobStream> inputStreams;
    std::vector<LpcmParams> lpcmParams;
    std::vector<VideoParams> videoParams;
    unsigned audioCount = 0;
    unsigned videoCount = 0;
    unsigned lpcmCount = 0;
    // The first input that could not be used, and why, for the run's result.
    MuxStatus inputStatus = MuxStatus::Ok;
    std::string failedInput;
    // What the run could do only in part, one sentence each, for the caller to pass on.
    std::vector<std::string> warnings;

    platform::ProgressTarget* progress = nullptr;
    const platform::ManualResetEvent* cancel = nullptr;

private:
    bool ParseVideoBuffers(const char* list);
    bool ParseLpcmParams(const char* list);
    void AddDefaultParams();
    std::vector<VideoParams> givenVideoParams_;
    std::vector<LpcmParams> givenLpcmParams_;
};

}  // namespace psmux
