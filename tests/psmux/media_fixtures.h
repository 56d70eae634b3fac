// Media fixtures made at test time with the ffmpeg command-line tools, cached for the run of
// one test binary in a temporary directory of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace psmux_test {

// The process's own temporary directory, removed when the process exits.
const std::string& TempDir();
// A fresh path inside TempDir() whose file name ends in `suffix`.
std::string NewPath(const std::string& suffix);

// Runs a shell command; answers its standard output (and its exit status through `status`).
std::string Run(const std::string& command, int* status = nullptr);
std::string Quote(const std::string& text);

// Writes `name` inside TempDir() with "ffmpeg -v error -y <args> <path>" once per run.
std::string Fixture(const std::string& name, const std::string& ffmpegArgs);

struct VideoSpec {
    bool pal = false;
    int gop = 8;
    int bFrames = 2;
    double seconds = 2.0;
};
std::string MpegVideo(const VideoSpec& spec);
std::string Mp2Audio(int kbps, double seconds);
std::string Ac3Audio(int kbps, double seconds);
std::string DtsAudio(double seconds, int kbps = 768);
std::string WavAudio(int bits, int channels, double seconds);
// The video-CD formats' streams: 1 s of 352x240 MPEG-1 video and 1.5 s of 44.1 kHz Layer II.
std::string VcdVideo();
std::string VcdAudio();
// Four stills each: 352x240 and 704x480 MPEG-1 (video CD), 480x480 MPEG-2 (super video CD),
// and 6 s of 44.1 kHz sound, which outlasts them.
std::string VcdStandardStills();
std::string VcdHighResolutionStills();
std::string SvcdStills();
std::string StillsSound();

std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Frames of the video file's pictures by type, counted from their picture headers.
int CountPictures(const std::vector<uint8_t>& elementary, int pictureType);

// "ffmpeg -v error -i FILE -f null -" prints nothing.
bool DecodesCleanly(const std::string& path);
// Codec names of the streams ffprobe finds, in order, as "name@rate" for audio.
std::vector<std::string> ProbeStreams(const std::string& path);
// ffprobe packet timestamps of one stream type ("v" or "a"), as "pts,dts" strings.
std::vector<std::string> ProbePacketTimes(const std::string& path, const std::string& type);
// The stream demuxed with "-map 0:<type> -c copy -f <format>".
std::vector<uint8_t> Demux(const std::string& path, const std::string& type, const std::string& format);

}  // namespace psmux_test
