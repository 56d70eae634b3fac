#include "media_fixtures.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>

namespace psmux_test {

namespace {

struct TempDirectory {
    std::string path;
    TempDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "psmux_test_XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr) std::abort();
        path = buffer.data();
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

std::string Seconds(double s) {
    std::ostringstream out;
    out << s;
    return out.str();
}

}  // namespace

const std::string& TempDir() {
    static TempDirectory dir;
    return dir.path;
}

std::string NewPath(const std::string& suffix) {
    static std::mutex mutex;
    static int counter = 0;
    std::lock_guard lock(mutex);
    return TempDir() + "/f" + std::to_string(++counter) + suffix;
}

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::string Run(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (status) *status = -1;
        return output;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    int rc = pclose(pipe);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return output;
}

std::string Fixture(const std::string& name, const std::string& ffmpegArgs) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::string path = TempDir() + "/" + name;
    if (!std::filesystem::exists(path)) {
        int status = 0;
        Run("ffmpeg -nostdin -v error -y " + ffmpegArgs + " " + Quote(path) + " 2>&1", &status);
        if (status != 0) std::filesystem::remove(path);
    }
    return path;
}

std::string MpegVideo(const VideoSpec& spec) {
    std::string name = std::string(spec.pal ? "pal" : "ntsc") + "_g" + std::to_string(spec.gop) + "_b" +
                       std::to_string(spec.bFrames) + "_" + Seconds(spec.seconds) + ".m2v";
    std::string source = spec.pal ? "testsrc=size=720x576:rate=25" : "testsrc=size=720x480:rate=30000/1001";
    return Fixture(name, "-f lavfi -i " + source + " -t " + Seconds(spec.seconds) +
                             " -c:v mpeg2video -g " + std::to_string(spec.gop) + " -bf " +
                             std::to_string(spec.bFrames) + " -b:v 4M -maxrate 8M -bufsize 1835k -f mpeg2video");
}

std::string Mp2Audio(int kbps, double seconds) {
    return Fixture("a" + std::to_string(kbps) + "_" + Seconds(seconds) + ".mp2",
                   "-f lavfi -i sine=sample_rate=48000 -t " + Seconds(seconds) + " -ac 2 -c:a mp2 -b:a " +
                       std::to_string(kbps) + "k -f mp2");
}

std::string Ac3Audio(int kbps, double seconds) {
    return Fixture("a" + std::to_string(kbps) + "_" + Seconds(seconds) + ".ac3",
                   "-f lavfi -i sine=sample_rate=48000 -t " + Seconds(seconds) + " -ac 2 -c:a ac3 -b:a " +
                       std::to_string(kbps) + "k -f ac3");
}

std::string DtsAudio(double seconds, int kbps) {
    return Fixture("a" + std::to_string(kbps) + "_" + Seconds(seconds) + ".dts",
                   "-f lavfi -i sine=sample_rate=48000 -t " + Seconds(seconds) +
                       " -ac 2 -c:a dca -strict -2 -b:a " + std::to_string(kbps) + "k -f dts");
}

std::string WavAudio(int bits, int channels, double seconds) {
    return Fixture("a" + std::to_string(bits) + "_" + std::to_string(channels) + "_" + Seconds(seconds) + ".wav",
                   "-f lavfi -i sine=sample_rate=48000 -t " + Seconds(seconds) + " -ac " +
                       std::to_string(channels) + " -c:a pcm_s" + std::to_string(bits) + "le -f wav");
}

std::string VcdVideo() {
    return Fixture("vcd.m1v", "-f lavfi -i testsrc=size=352x240:rate=30000/1001 -t 1 -c:v mpeg1video -g 15 -bf 2 "
                              "-b:v 1150k -maxrate 1150k -bufsize 327680 -f mpeg1video");
}

std::string VcdAudio() {
    return Fixture("vcd.mp2", "-f lavfi -i sine=sample_rate=44100 -t 1.5 -ac 2 -c:a mp2 -b:a 224k -f mp2");
}

std::string VcdStandardStills() {
    return Fixture("still352.m1v", "-f lavfi -i testsrc=size=352x240:rate=30000/1001 "
                                   "-frames:v 4 -c:v mpeg1video -g 1 -b:v 1150k -f mpeg1video");
}

std::string VcdHighResolutionStills() {
    return Fixture("still704.m1v", "-f lavfi -i testsrc=size=704x480:rate=30000/1001 -frames:v 4 "
                                   "-c:v mpeg1video -g 1 -b:v 3000k -maxrate 3000k -bufsize 1000k -f mpeg1video");
}

std::string SvcdStills() {
    return Fixture("still480.m2v", "-f lavfi -i testsrc=size=480x480:rate=30000/1001 -frames:v 4 "
                                   "-c:v mpeg2video -g 1 -b:v 3000k -f mpeg2video");
}

std::string StillsSound() {
    return Fixture("still6.mp2", "-f lavfi -i sine=sample_rate=44100 -t 6 -c:a mp2 -b:a 224k -f mp2");
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

int CountPictures(const std::vector<uint8_t>& es, int pictureType) {
    int count = 0;
    for (size_t i = 0; i + 5 < es.size(); ++i)
        if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == 0 && ((es[i + 5] >> 3) & 7) == pictureType)
            ++count;
    return count;
}

bool DecodesCleanly(const std::string& path) {
    int status = 0;
    std::string out = Run("ffmpeg -nostdin -v error -i " + Quote(path) + " -f null - 2>&1", &status);
    return status == 0 && out.empty();
}

std::vector<std::string> ProbeStreams(const std::string& path) {
    std::string out = Run("ffprobe -v error -show_entries stream=codec_name,sample_rate -of csv=p=0 " + Quote(path));
    std::vector<std::string> streams;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        while (!line.empty() && line.back() == ',') line.pop_back();
        size_t comma = line.find(',');
        streams.push_back(comma == std::string::npos ? line : line.substr(0, comma) + "@" + line.substr(comma + 1));
    }
    return streams;
}

std::vector<std::string> ProbePacketTimes(const std::string& path, const std::string& type) {
    std::string out = Run("ffprobe -v error -select_streams " + type + " -show_entries packet=pts,dts -of csv=p=0 " +
                          Quote(path));
    std::vector<std::string> times;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty()) times.push_back(line);
    return times;
}

std::vector<uint8_t> Demux(const std::string& path, const std::string& type, const std::string& format) {
    std::string out = NewPath("." + format);
    Run("ffmpeg -nostdin -v error -y -i " + Quote(path) + " -map 0:" + type + " -c copy -f " + format + " " +
        Quote(out) + " 2>&1");
    return ReadFile(out);
}

}  // namespace psmux_test
