#include "platform/dshow/media_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace platform::dshow {
namespace {

double Rational(AVRational r) { return r.den != 0 ? double(r.num) / r.den : 0.0; }

// How much of a file's end is read to check the length its header gives.
constexpr double kTailSeconds = 3.0;
// Key packets noted for seeking in a file with clock jumps lie at least this far apart, so a
// file of key pictures alone does not note every one.
constexpr double kKeyPlaceSpacing = 1.0;

bool Usable(const AVStream* stream) {
    const AVCodecParameters* par = stream->codecpar;
    if (avcodec_find_decoder(par->codec_id) == nullptr) return false;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        // Cover art rides in a video stream of one picture; it is not the clip's video.
        return (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0 && par->width > 0 &&
               par->height > 0;
    }
    if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
        return par->sample_rate > 0 && par->ch_layout.nb_channels > 0;
    }
    return false;
}

// Default streams first, then the larger picture; the first stream wins a tie.
int Preference(const AVStream* stream) {
    const AVCodecParameters* par = stream->codecpar;
    const int isDefault = (stream->disposition & AV_DISPOSITION_DEFAULT) ? 1 : 0;
    const long long area = par->codec_type == AVMEDIA_TYPE_VIDEO ? 1LL * par->width * par->height : 0;
    return int(std::min<long long>(area, 1 << 28)) + (isDefault << 29);
}

// The system's error number an FFmpeg result carries, 0 for none: FFmpeg gives the system's
// errors as AVERROR(errno), and its own codes are tags far below.
int SystemErrorOf(int result) {
    constexpr int kLargestErrno = 0xFFFF;
    return result < 0 && -result <= kLargestErrno ? -result : 0;
}

// The explicit protocol keeps a colon in a file name from being read as a protocol name.
std::string FileUrl(const std::string& path) { return "file:" + path; }

}  // namespace

HRESULT MediaFile::Open(const std::string& path, std::unique_ptr<MediaFile>* file) {
    if (file == nullptr) return com::E_POINTER;
    file->reset();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return com::HresultFromErrno(errno);
    if (S_ISDIR(info.st_mode)) return com::HresultFromErrno(EISDIR);
    if (!S_ISREG(info.st_mode)) return com::HresultFromErrno(EINVAL);
    std::unique_ptr<MediaFile> opened(new MediaFile());
    opened->path_ = path;
    opened->fileSize_ = uint64_t(info.st_size);
    opened->version_ = FileVersion::Of(info);
    const HRESULT hr = opened->Probe();
    if (com::FAILED(hr)) return hr;
    *file = std::move(opened);
    return com::S_OK;
}

MediaFile::~MediaFile() {
    avformat_close_input(&format_);
    avio_closep(&io_);
}

HRESULT MediaFile::Probe() {
    if (const int opened = avio_open(&io_, FileUrl(path_).c_str(), AVIO_FLAG_READ); opened < 0) {
        const int error = SystemErrorOf(opened);
        return error != 0 ? com::HresultFromErrno(error) : VFW_E_UNKNOWN_FILE_TYPE;
    }
    const HRESULT hr = OpenFormat();
    if (com::FAILED(hr)) return hr;
    stampsInDecodingOrder_ = std::strcmp(format_->iformat->name, "avi") == 0;
    timeZero_ = format_->start_time != AV_NOPTS_VALUE ? format_->start_time / double(AV_TIME_BASE)
                                                      : 0.0;
    if (video_ >= 0) {
        const AVStream* stream = format_->streams[video_];
        frameRate_ = Rational(stream->avg_frame_rate);
        if (!(frameRate_ > 0.0) || !std::isfinite(frameRate_)) frameRate_ = Rational(stream->r_frame_rate);
        if (!(frameRate_ > 0.0) || !std::isfinite(frameRate_)) frameRate_ = 0.0;
        orientation_ = OrientationOf(stream);
    }
    return MeasureLengths();
}

// Opens the demultiplexer over the file's I/O context, as it stands, and finds the streams.
HRESULT MediaFile::OpenFormat() {
    format_ = avformat_alloc_context();
    if (format_ == nullptr) return com::E_OUTOFMEMORY;
    format_->pb = io_;
    // A failed open frees the context but leaves the I/O context to us.
    if (avformat_open_input(&format_, FileUrl(path_).c_str(), nullptr, nullptr) < 0) {
        return ReadFailureOr(VFW_E_UNKNOWN_FILE_TYPE);
    }
    if (avformat_find_stream_info(format_, nullptr) < 0) return ReadFailureOr(VFW_E_UNKNOWN_FILE_TYPE);
    // Finding the streams stops at a failed read as at the end of the file.
    const HRESULT hr = ReadFailureOr(com::S_OK);
    if (com::FAILED(hr)) return hr;
    ChooseStreams();
    return com::S_OK;
}

// A failed read raises the end-of-file flag too (a failing disk, a pulled stick), and the
// demultiplexers stop at either alike: only the I/O context's error tells the two apart.
HRESULT MediaFile::ReadFailureOr(HRESULT otherwise) const {
    if (io_ == nullptr || io_->error >= 0) return otherwise;
    return com::HresultFromErrno(SystemErrorOf(io_->error));
}

void MediaFile::ChooseStreams() {
    int bestVideo = -1, bestAudio = -1;
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        AVStream* stream = format_->streams[i];
        if (!Usable(stream)) continue;
        int& best = stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? bestVideo : bestAudio;
        if (best < 0 || Preference(stream) > Preference(format_->streams[best])) best = int(i);
    }
    video_ = bestVideo;
    audio_ = bestAudio;
    DiscardUnchosenStreams();
}

// Streams a file announces as it goes (a transport stream's programs) come in undiscarded.
void MediaFile::DiscardUnchosenStreams() {
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const bool chosen = int(i) == video_ || int(i) == audio_;
        format_->streams[i]->discard = chosen ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
}

double MediaFile::HeaderEnd(const AVStream* stream) const {
    // A duration guessed from the bit rate is no length; the caller scans instead.
    if (format_->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE) return 0.0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        const double start = stream->start_time != AV_NOPTS_VALUE
                                 ? stream->start_time * Rational(stream->time_base)
                                 : timeZero_;
        return start + stream->duration * Rational(stream->time_base);
    }
    if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0) {
        return timeZero_ + format_->duration / double(AV_TIME_BASE);
    }
    return 0.0;
}

// The end of the data a cut file still holds, from an index read from its header: the time
// of the first indexed packet that lies beyond the end of the file. 0 when nothing is missing.
double MediaFile::IndexedEnd(const AVStream* stream) const {
    AVStream* mutableStream = const_cast<AVStream*>(stream);
    const int count = avformat_index_get_entries_count(mutableStream);
    if (count <= 0) return 0.0;
    const AVIndexEntry* first = avformat_index_get_entry(mutableStream, 0);
    const double tb = Rational(stream->time_base);
    const double shift = stream->start_time != AV_NOPTS_VALUE
                             ? (stream->start_time - first->timestamp) * tb
                             : 0.0;
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(mutableStream, i);
        if (entry->pos >= 0 && uint64_t(entry->pos) + uint64_t(entry->size) > fileSize_) {
            return entry->timestamp * tb + shift;
        }
    }
    return 0.0;
}

HRESULT MediaFile::ReadEnds(double* videoEnd, double* audioEnd, StampMender* mender) {
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) return com::E_OUTOFMEMORY;
    // Where the last packet read of each stream ended. A packet without a presentation time
    // (a program stream's last picture may have only its decoding time, which comes a
    // picture earlier) follows on from it.
    std::optional<double> lastEnd[2];
    while (av_read_frame(format_, packet) >= 0) {
        if (mender != nullptr) {
            mender->Mend(packet);
            NoteKeyPlace(packet);
        }
        const int index = packet->stream_index;
        if (index == video_ || index == audio_) {
            const AVStream* stream = format_->streams[index];
            const double tb = Rational(stream->time_base);
            double length = packet->duration * tb;
            // A picture stamped without a duration still lasts one frame.
            if (packet->duration <= 0 && index == video_ && frameRate_ > 0.0) length = 1.0 / frameRate_;
            std::optional<double>& last = lastEnd[index == video_ ? 0 : 1];
            if (packet->pts != AV_NOPTS_VALUE) {
                last = packet->pts * tb + length;
            } else if (packet->dts != AV_NOPTS_VALUE) {
                last = std::max(packet->dts * tb, last.value_or(-HUGE_VAL)) + length;
            } else if (last) {
                last = *last + length;
            }
            double& target = index == video_ ? *videoEnd : *audioEnd;
            if (last && *last > target) target = *last;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    // A read error is no end: what lies beyond it is not counted, and the job would fail there.
    return ReadFailureOr(com::S_OK);
}

void MediaFile::NoteKeyPlace(const AVPacket* packet) {
    const int reference = video_ >= 0 ? video_ : audio_;
    if (packet->stream_index != reference || !(packet->flags & AV_PKT_FLAG_KEY) || packet->pos < 0) {
        return;
    }
    const std::optional<double> seconds = PacketSeconds(packet);
    if (!seconds) return;
    std::vector<KeyPlace>& places = scan_.keyPlaces;
    if (places.empty() || *seconds >= places.back().seconds + kKeyPlaceSpacing) {
        places.push_back(KeyPlace{*seconds, packet->pos});
    }
}

// Only the packets tell where a clock jumps, so a file that may hold jumps is read whole, and
// its lengths count what lies between them.
HRESULT MediaFile::ReadClosedUpEnds(double* videoEnd, double* audioEnd) {
    StampMender finder(format_, video_, audio_);
    HRESULT hr = ReadEnds(videoEnd, audioEnd, &finder);
    if (com::FAILED(hr)) return hr;
    scan_.repairs = finder.Repairs();
    if (!finder.MendedAsRepairs()) {
        // Some packets were mended before what they needed was found (a stream that stepped
        // on its own, a damaged stamp): read again, making only the repairs found.
        hr = Rewind();
        if (com::FAILED(hr)) return hr;
        *videoEnd = 0.0;
        *audioEnd = 0.0;
        scan_.keyPlaces.clear();
        StampMender placer(format_, video_, audio_, scan_.repairs);
        hr = ReadEnds(videoEnd, audioEnd, &placer);
        if (com::FAILED(hr)) return hr;
    }
    if (scan_.repairs.jumps.empty()) scan_.keyPlaces.clear();  // the file's own stamps lead its seeks
    return com::S_OK;
}

std::unique_ptr<StampMender> MediaFile::NewStampMender() const {
    if (scan_.repairs.Empty()) return nullptr;
    return std::make_unique<StampMender>(format_, video_, audio_, scan_.repairs);
}

std::optional<int64_t> MediaFile::KeyPositionBefore(double seconds) const {
    if (scan_.repairs.jumps.empty()) return std::nullopt;
    const std::vector<KeyPlace>& places = scan_.keyPlaces;
    const auto after = std::upper_bound(places.begin(), places.end(), seconds,
                                        [](double target, const KeyPlace& place) {
                                            return target < place.seconds;
                                        });
    return after == places.begin() ? 0 : std::prev(after)->position;
}

// Back to the first packet. Transport and program streams can be read from any byte, so a
// seek to the first one does it without probing the file again; other formats are opened
// anew.
HRESULT MediaFile::Rewind() {
    const int flags = format_->iformat->flags;
    const bool readableFromAnyByte = (flags & AVFMT_TS_DISCONT) && !(flags & AVFMT_NO_BYTE_SEEK);
    if (readableFromAnyByte && av_seek_frame(format_, -1, 0, AVSEEK_FLAG_BYTE) >= 0) {
        DiscardUnchosenStreams();
        return com::S_OK;
    }
    return Reopen();
}

HRESULT MediaFile::Reopen() {
    avformat_close_input(&format_);
    if (avio_seek(io_, 0, SEEK_SET) < 0) return ReadFailureOr(com::E_FAIL);
    return OpenFormat();
}

// A file is measured once while it is unchanged: its scan is kept for every later opening,
// and an opening while it is being measured waits for that.
HRESULT MediaFile::MeasureLengths() {
    if (video_ < 0 && audio_ < 0) return com::S_OK;
    ScanCache& cache = ScanCache::Shared();
    ScanCache::Claim claim;
    if (const std::shared_ptr<const FileScan> kept = cache.FindOrClaim(path_, version_, &claim);
        kept && kept->videoStream == video_ && kept->audioStream == audio_) {
        scan_ = *kept;
        return com::S_OK;
    }
    scan_ = FileScan{};
    scan_.videoStream = video_;
    scan_.audioStream = audio_;
    const HRESULT hr = Scan();
    if (com::FAILED(hr)) return hr;
    cache.Keep(path_, version_, std::make_shared<const FileScan>(scan_));
    return com::S_OK;
}

// The sound's own start, which its length runs from.
double MediaFile::AudioStart() const {
    const AVStream* stream = format_->streams[audio_];
    const double start = stream->start_time != AV_NOPTS_VALUE
                             ? stream->start_time * Rational(stream->time_base)
                             : timeZero_;
    return std::max(start, timeZero_);
}

HRESULT MediaFile::Scan() {
    double ends[2] = {0.0, 0.0};
    bool known[2] = {true, true};
    const int streams[2] = {video_, audio_};
    for (int k = 0; k < 2; ++k) {
        if (streams[k] < 0) continue;
        const AVStream* stream = format_->streams[streams[k]];
        ends[k] = HeaderEnd(stream);
        const double indexed = IndexedEnd(stream);
        if (indexed > 0.0 && (ends[k] <= 0.0 || indexed < ends[k])) ends[k] = indexed;
        if (!(ends[k] > 0.0) || !std::isfinite(ends[k])) {
            ends[k] = 0.0;
            known[k] = false;
        }
    }
    // Taken before reading: reading may stamp a stream that had no start.
    const double audioStart = audio_ >= 0 ? AudioStart() : 0.0;

    // A cut file may still carry the header of the whole one: read the packets near the end
    // the header gives and believe them when they end clearly earlier. Without a header
    // length, or when that seek fails, the packets are read from the start.
    const bool mayJump = (format_->iformat->flags & AVFMT_TS_DISCONT) != 0;
    if (known[0] && known[1] && !mayJump) {
        const int reference = video_ >= 0 ? video_ : audio_;
        const double from = std::max(0.0, std::max(ends[0], ends[1]) - timeZero_ - kTailSeconds);
        av_seek_frame(format_, reference, Timestamp(reference, from), AVSEEK_FLAG_BACKWARD);
    }
    double seen[2] = {0.0, 0.0};
    HRESULT hr = mayJump ? ReadClosedUpEnds(&seen[0], &seen[1]) : ReadEnds(&seen[0], &seen[1]);
    if (com::FAILED(hr)) return hr;
    // What the packets show is what a reader gets; a header may round, count a preroll or
    // promise data that a cut file lost.
    for (int k = 0; k < 2; ++k) {
        if (!known[k] || seen[k] > 0.0) ends[k] = seen[k];
    }
    // Readers of this file start at its first packet.
    hr = Rewind();
    if (com::FAILED(hr)) return hr;

    // The sound's length runs from its own first time stamp: a late audio track is not
    // longer for starting late. The pictures' length runs from the file's time zero, as the
    // positions of seeks and clip ranges do, so that a range up to that length holds the
    // last picture of a video that starts after its sound.
    scan_.videoLength = video_ >= 0 ? std::max(0.0, ends[0] - timeZero_) : 0.0;
    scan_.audioLength = audio_ >= 0 ? std::max(0.0, ends[1] - audioStart) : 0.0;
    return com::S_OK;
}

double MediaFile::Seconds(int stream, int64_t timestamp) const {
    return timestamp * Rational(format_->streams[stream]->time_base) - timeZero_;
}

std::optional<double> MediaFile::PacketSeconds(const AVPacket* packet) const {
    const int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (stamp == AV_NOPTS_VALUE) return std::nullopt;
    return Seconds(packet->stream_index, stamp);
}

int64_t MediaFile::Timestamp(int stream, double seconds) const {
    const double tb = Rational(format_->streams[stream]->time_base);
    if (!(tb > 0.0)) return 0;
    const double stamp = (seconds + timeZero_) / tb;
    if (!std::isfinite(stamp)) return 0;
    constexpr double kLimit = double(std::numeric_limits<int64_t>::max() / 2);
    return int64_t(std::llround(std::clamp(stamp, -kLimit, kLimit)));
}

}  // namespace platform::dshow

namespace platform::dshow {

AVStream* MediaFile::Stream(int index) const { return format_->streams[index]; }

PictureSize MediaFile::ShownSize() const {
    if (video_ < 0) return {};
    const AVCodecParameters* par = format_->streams[video_]->codecpar;
    return dshow::ShownSize(orientation_, {par->width, par->height});
}

// The container's word on the pixel shape wins over the codec's, as players take it. An unknown
// shape stays unknown (a zero in either part).
PixelAspect MediaFile::ShownPixelAspect() const {
    if (video_ < 0) return {};
    const AVRational sample = av_guess_sample_aspect_ratio(format_, format_->streams[video_], nullptr);
    return orientation_.transposed ? PixelAspect{sample.den, sample.num}
                                   : PixelAspect{sample.num, sample.den};
}

}  // namespace platform::dshow
