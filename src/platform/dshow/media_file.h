// One opened media file as both the source filter and the media detector see it, so that
// stream choice, lengths, frame rates and time zero agree everywhere.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dshow/picture_orientation.h"
#include "platform/dshow/scan_cache.h"
#include "platform/dshow/stamp_mender.h"
#include "platform/dshow/types.h"

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;
struct AVStream;

namespace platform::dshow {

class MediaFile {
public:
    // Refuses anything but a regular file (directories, FIFOs and devices would block or make
    // no sense), then opens and probes it. A file read whole to measure it is read so once
    // while it stays unchanged (see ScanCache). Failures: HresultFromErrno for the file system,
    // also when a read fails (a failing disk), VFW_E_UNKNOWN_FILE_TYPE when no demuxer
    // recognises it or it holds no usable stream.
    static HRESULT Open(const std::string& path, std::unique_ptr<MediaFile>* file);
    ~MediaFile();
    MediaFile(const MediaFile&) = delete;
    MediaFile& operator=(const MediaFile&) = delete;

    AVFormatContext* Format() { return format_; }
    AVStream* Stream(int index) const;
    const std::string& Path() const { return path_; }
    uint64_t FileSize() const { return fileSize_; }

    // Index of the chosen stream in the file, -1 when there is none. Cover art and streams
    // without a decoder are never chosen.
    int VideoStream() const { return video_; }
    int AudioStream() const { return audio_; }

    // How the video stream's pictures are turned to be shown (its display matrix), and their
    // size and pixel shape as shown: a picture stored on its side has them swapped.
    PictureOrientation VideoOrientation() const { return orientation_; }
    PictureSize ShownSize() const;
    PixelAspect ShownPixelAspect() const;

    // Frames per second of the video stream; 0 when unknown.
    double FrameRate() const { return frameRate_; }
    // Seconds to the end of the data the file really holds for a chosen stream: the
    // pictures' from the file's time zero (where seeks count from), the sound's from its own
    // first time stamp.
    double VideoLength() const { return scan_.videoLength; }
    double AudioLength() const { return scan_.audioLength; }
    // The seekable length: the video's when there is video, else the audio's.
    double Duration() const { return video_ >= 0 ? scan_.videoLength : scan_.audioLength; }

    // True when the container stamps the pictures in their decoding order (AVI): a decoder
    // that holds pictures back to reorder them hands each out under a later picture's stamp.
    bool StampsInDecodingOrder() const { return stampsInDecodingOrder_; }

    // The jumps of the file's clock, closed up in every length and time this file gives (see
    // StampMender); none for a file without them, and for formats that cannot hold them.
    const std::vector<StampJump>& ClockJumps() const { return scan_.repairs.jumps; }
    // A mender that closes up these jumps in the packets read from this file and gives its
    // damaged stamps the places their neighbours give them; null when there is nothing to mend.
    std::unique_ptr<StampMender> NewStampMender() const;
    // Where reading must start, in a file with clock jumps, to reach the time `seconds` from
    // time zero on the closed-up clock: the byte position of the last key packet at or before
    // it. None without clock jumps: the file's own stamps then lead a seek.
    std::optional<int64_t> KeyPositionBefore(double seconds) const;
    // The file's own clock at its time zero, in seconds.
    double TimeZero() const { return timeZero_; }

    // Seconds of a stream time stamp measured from the file's time zero.
    double Seconds(int stream, int64_t timestamp) const;
    // Seconds from time zero of a packet's presentation stamp, else its decoding stamp; none
    // when it has neither.
    std::optional<double> PacketSeconds(const AVPacket* packet) const;
    // The stream time stamp of a time measured from time zero.
    int64_t Timestamp(int stream, double seconds) const;

private:
    MediaFile() = default;
    HRESULT Probe();
    HRESULT OpenFormat();
    HRESULT ReadFailureOr(HRESULT otherwise) const;
    void ChooseStreams();
    void DiscardUnchosenStreams();
    HRESULT MeasureLengths();
    HRESULT Scan();
    double HeaderEnd(const AVStream* stream) const;
    double IndexedEnd(const AVStream* stream) const;
    double AudioStart() const;
    HRESULT ReadEnds(double* videoEnd, double* audioEnd, StampMender* mender = nullptr);
    void NoteKeyPlace(const AVPacket* packet);
    HRESULT ReadClosedUpEnds(double* videoEnd, double* audioEnd);
    HRESULT Rewind();
    HRESULT Reopen();

    std::string path_;
    uint64_t fileSize_ = 0;
    FileVersion version_;
    // Ours rather than the demuxer's, so that its error outlives a failed open and tells a
    // failed read from an unknown format.
    AVIOContext* io_ = nullptr;
    AVFormatContext* format_ = nullptr;
    int video_ = -1;
    int audio_ = -1;
    double timeZero_ = 0.0;
    double frameRate_ = 0.0;
    PictureOrientation orientation_;
    bool stampsInDecodingOrder_ = false;
    FileScan scan_;  // the lengths, the stamp repairs and the key places
};

}  // namespace platform::dshow
