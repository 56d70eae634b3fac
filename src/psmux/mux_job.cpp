#include "psmux/mux_job.h"

#include <getopt.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/getopt_reset.h"
#include "psmux/ac3_stream.h"
#include "psmux/audio_stream.h"
#include "psmux/byte_order.h"
#include "psmux/dts_stream.h"
#include "psmux/lpcm_stream.h"
#include "psmux/program_stream_writer.h"
#include "psmux/video_stream.h"

namespace psmux {

namespace {

constexpr size_t kClassifyBufferSize = 65536;
constexpr const char* kOptions = "o:b:r:O:T:v:f:l:s:S:p:L:VMh";
constexpr int64_t kTicksPerMillisecond = kClock / 1000;
// A day, which leaves hours of running time before the 33-bit timestamps wrap.
constexpr double kMaxClockStartMs = 24.0 * 3600 * 1000;

// Parses a whole decimal integer within [low, high].
bool ParseInt(const char* text, long low, long high, long& out) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    out = value;
    return true;
}

// Parses a whole decimal number, fractions allowed, within [low, high].
bool ParseDecimal(const char* text, double low, double high, double& out) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !(value >= low && value <= high)) return false;
    out = value;
    return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        size_t at = text.find(separator, from);
        parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return parts;
        from = at + 1;
    }
}

}  // namespace

const char* MuxStatusText(MuxStatus status) {
    switch (status) {
    case MuxStatus::Ok: return "finished";
    case MuxStatus::Cancelled: return "cancelled";
    case MuxStatus::InputUnreadable: return "cannot open or read input";
    case MuxStatus::InputUnrecognised: return "input is no MPEG video, MPEG audio, AC-3, DTS or WAV stream";
    case MuxStatus::NoVideo: return "no video stream with a complete picture";
    case MuxStatus::OutputFailed: return "cannot create or write output";
    case MuxStatus::BadConfiguration: return "these parameters cannot produce a multiplex";
    case MuxStatus::InputWithoutUnits: return "input holds no complete picture or audio frame";
    case MuxStatus::SeveralVideos: return "the DVD format takes one video stream, and more were given";
    case MuxStatus::LpcmLayoutUnsupported:
        return "20- and 24-bit LPCM is written with one or two channels only (16 bits take up to seven)";
    case MuxStatus::SoundNotCarried: return "the stills formats (-f 6, -f 7) carry MPEG audio only";
    case MuxStatus::SecondStillsVideo:
        return "the super video CD stills format (-f 7) takes one video stream, and this is a second";
    case MuxStatus::StillsSizeTaken:
        return "the video CD stills format (-f 6) takes one standard (up to 352 wide) and one high-resolution "
               "video stream";
    }
    return "unknown";
}

const char* StreamFormatName(StreamFormat format) {
    switch (format) {
    case StreamFormat::MpegAudio: return "MPEG audio";
    case StreamFormat::Ac3Audio: return "AC-3 audio";
    case StreamFormat::LpcmAudio: return "LPCM audio";
    case StreamFormat::DtsAudio: return "DTS audio";
    case StreamFormat::MpegVideo: return "MPEG video";
    }
    return "unknown";
}

VideoParams VideoParams::DefaultForFormat(int muxFormat) {
    switch (muxFormat) {
    case 3: case 4: case 5: case 7: return {230};
    case 8: case 9: return {232};
    default: return {46};
    }
}

bool VideoParams::ForceForFormat(int muxFormat) {
    switch (muxFormat) {
    case 1: decoderBufferKb = 46; return true;
    case 4: decoderBufferKb = 230; return true;
    case 8: case 9: decoderBufferKb = 232; return true;
    default: return false;
    }
}

LpcmParams LpcmParams::DefaultForFormat(int) { return {}; }

bool LpcmParams::Make(int rate, int channels, int bits, LpcmParams& out) {
    if ((rate != 48000 && rate != 96000) || channels < 1 || channels > 7 ||
        (bits != 16 && bits != 20 && bits != 24))
        return false;
    out = {rate, channels, bits, false};
    return true;
}

MuxJob::MuxJob() = default;

void MuxJob::SetUp(const std::string& output, const std::string& fileA, const std::string& fileB) {
    muxFormat = 8;
    outputName = output;
    outputNameIsPattern = false;
    requireVideo = true;
    emptyInputsAllowed = true;
    outputsCreatedAnew = true;
    AddInputFile(fileA);
    AddInputFile(fileB);
    AddDefaultParams();
}

bool MuxJob::AddInputFile(const std::string& name) {
    auto reader = std::make_unique<FileBitReader>(name, kClassifyBufferSize);
    auto leaveOut = [&](MuxStatus why) {
        if (inputStatus == MuxStatus::Ok) {
            inputStatus = why;
            failedInput = name;
        }
        return false;
    };
    if (!reader->IsOpen() || reader->ReadFailed()) return leaveOut(MuxStatus::InputUnreadable);
    if (reader->Exhausted()) return emptyInputsAllowed ? false : leaveOut(MuxStatus::InputWithoutUnits);

    BitReaderMark start;
    reader->SaveMark(start);
    auto probe = [&](auto detect) {
        bool found = detect();
        reader->RestoreMark(start);
        return found;
    };
    StreamFormat format;
    if (probe([&] { return MpegAudioStream::Detect(*reader); })) {
        format = StreamFormat::MpegAudio;
    } else if (probe([&] { return Ac3Stream::Detect(*reader); })) {
        format = StreamFormat::Ac3Audio;
    } else if (probe([&] { return DtsStream::Detect(*reader); })) {
        format = StreamFormat::DtsAudio;
    } else if (LpcmStream::Detect(name)) {
        format = StreamFormat::LpcmAudio;
    } else if (probe([&] { return VideoStream::Detect(*reader); })) {
        format = StreamFormat::MpegVideo;
    } else {
        return leaveOut(MuxStatus::InputUnrecognised);
    }
    if (format == StreamFormat::MpegVideo) {
        ++videoCount;
    } else {
        ++audioCount;
        if (format == StreamFormat::LpcmAudio) ++lpcmCount;
    }
    inputStreams.push_back({std::move(reader), format});
    return true;
}

bool MuxJob::AddInputFiles(const std::vector<std::string>& names) {
    bool all = true;
    for (const std::string& name : names) all = AddInputFile(name) && all;
    AddDefaultParams();
    return all;
}

void MuxJob::AddDefaultParams() {
    videoParams.clear();
    lpcmParams.clear();
    for (unsigned i = 0; i < videoCount; ++i) {
        VideoParams params = i < givenVideoParams_.size() ? givenVideoParams_[i] : VideoParams::DefaultForFormat(muxFormat);
        params.ForceForFormat(muxFormat);
        videoParams.push_back(params);
    }
    for (unsigned i = 0; i < lpcmCount; ++i)
        lpcmParams.push_back(i < givenLpcmParams_.size() ? givenLpcmParams_[i] : LpcmParams::DefaultForFormat(muxFormat));
}

std::string MuxJob::FailureText(MuxStatus status) const {
    return std::string(MuxStatusText(status)) + (failedInput.empty() ? "" : ": " + failedInput);
}

std::vector<JobStream*> MuxJob::StreamsOfFormat(StreamFormat format) const {
    std::vector<JobStream*> found;
    for (const JobStream& s : inputStreams)
        if (s.format == format) found.push_back(const_cast<JobStream*>(&s));
    return found;
}

bool MuxJob::ParseVideoBuffers(const char* list) {
    for (const std::string& item : Split(list, ',')) {
        long kb;
        // The STD buffer field counts kilobytes in 13 bits.
        if (!ParseInt(item.c_str(), 1, 8191, kb)) return false;
        givenVideoParams_.push_back({static_cast<unsigned>(kb)});
    }
    return true;
}

bool MuxJob::ParseLpcmParams(const char* list) {
    for (const std::string& item : Split(list, ',')) {
        std::vector<std::string> fields = Split(item, ':');
        long rate, channels, bits;
        LpcmParams params;
        if (fields.size() != 3 || !ParseInt(fields[0].c_str(), 0, INT_MAX, rate) ||
            !ParseInt(fields[1].c_str(), 0, INT_MAX, channels) || !ParseInt(fields[2].c_str(), 0, INT_MAX, bits) ||
            !LpcmParams::Make(static_cast<int>(rate), static_cast<int>(channels), static_cast<int>(bits), params))
            return false;
        params.fromCommandLine = true;
        givenLpcmParams_.push_back(params);
    }
    return true;
}

bool MuxJob::ParseCommandLine(int argc, char** argv, std::string& error) {
    core::getopt_reset_full(argc, argv, kOptions);
    opterr = 0;  // the reason goes to the caller, not to the standard error stream
    auto bad = [&](const std::string& reason) {
        error = reason;
        return false;
    };
    int option;
    while ((option = getopt(argc, argv, kOptions)) != -1) {
        long value = 0;
        switch (option) {
        case 'o':
            outputName = optarg;
            break;
        case 'b':
            if (!ParseVideoBuffers(optarg)) return bad("-b needs a comma list of buffer sizes in KB");
            break;
        case 'r':
            if (!ParseInt(optarg, 1, 100000, value)) return bad("-r needs a mux rate of 1 to 100000 kbit/s");
            dataRate = static_cast<int>(((value * 1000 / 8) + 49) / 50 * 50);
            break;
        case 'O':
            if (!ParseInt(optarg, -3600000, 3600000, value)) return bad("-O needs an offset in milliseconds");
            if (value >= 0)
                videoOffset = value * kTicksPerMillisecond;
            else
                audioOffset = -value * kTicksPerMillisecond;
            break;
        case 'T': {
            double ms = 0;
            if (!ParseDecimal(optarg, 0, kMaxClockStartMs, ms))
                return bad("-T needs a clock start of 0 to 86400000 milliseconds");
            clockStart = std::llround(ms * kTicksPerMillisecond);
            break;
        }
        case 'v':
            if (!ParseInt(optarg, 0, 2, value)) return bad("-v needs a verbosity of 0 to 2");
            verbosity = static_cast<int>(value);
            break;
        case 'f':
            if (!ParseInt(optarg, 0, 9, value)) return bad("-f needs a mux format of 0 to 9");
            muxFormat = static_cast<int>(value);
            break;
        case 'l':
            if (!ParseInt(optarg, 1, INT_MAX / 2, value)) return bad("-l needs a run limit in seconds above 0");
            runLimitSeconds = static_cast<int>(value);
            break;
        case 's':
            if (!ParseInt(optarg, 256, 16384, value)) return bad("-s needs a sector size of 256 to 16384");
            sectorSize = static_cast<int>(value);
            break;
        case 'S':
            if (!ParseInt(optarg, 0, INT_MAX / 2, value)) return bad("-S needs a segment size in MB, 0 or more");
            segmentLimitMb = static_cast<int>(value);
            break;
        case 'p':
            if (!ParseInt(optarg, 1, 100, value)) return bad("-p needs 1 to 100 packets per pack");
            packetsPerPack = static_cast<int>(value);
            break;
        case 'L':
            if (!ParseLpcmParams(optarg))
                return bad("-L needs a comma list of rate:channels:bits (48000 or 96000, 1-7, 16/20/24)");
            break;
        case 'V':
            variableBitRate = true;
            break;
        case 'M':
            multipleFiles = true;
            break;
        case 'h':
            systemHeaderEveryPack = true;
            break;
        default:
            return bad(std::string("unknown option or missing value: -") + static_cast<char>(optopt));
        }
    }
    if (outputName.empty()) return bad("no output name given (-o)");
    outputNameIsPattern = outputName.find('%') != std::string::npos;
    if (outputNameIsPattern && !SegmentNamer::IsValidPattern(outputName))
        return bad("a '%' in the output name starts either the one integer conversion such as %02d or \"%%\" for a '%'");
    if (optind >= argc) return bad("no input files given");
    std::vector<std::string> names(argv + optind, argv + argc);
    if (!AddInputFiles(names) && inputStatus != MuxStatus::Ok)
        return bad(FailureText(inputStatus));
    return true;
}

}  // namespace psmux
