// Media files made at test time with the ffmpeg command-line tool, in a directory of the
// test's own, and ffprobe's view of them.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace reader_test {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "lumivane-reader-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

inline std::string Shell(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    ::pclose(pipe);
    return output;
}

// Makes path with "ffmpeg -y <inputs and options> path"; true when the file exists after.
inline bool MakeMedia(const std::string& arguments, const std::string& path) {
    const std::string command = "ffmpeg -v error -nostdin -y " + arguments + " '" + path + "' 2>&1";
    Shell(command);
    return std::filesystem::exists(path) && std::filesystem::file_size(path) > 0;
}

// A piece of a stream whose clock jumps: the ffmpeg inputs and options that make it, and where
// its clock starts (ffmpeg's -output_ts_offset, in seconds).
struct ClockPiece {
    std::string arguments;
    double clockStart = 0.0;
};

// A transport or program stream (the format follows path's extension) spliced from pieces
// byte by byte, as a broadcast recording is, each piece keeping its own clock. True when every
// piece was made and joined.
inline bool MakeJumpingStream(const std::vector<ClockPiece>& pieces, const std::string& path) {
    std::ofstream joined(path, std::ios::binary | std::ios::trunc);
    const std::string extension = std::filesystem::path(path).extension().string();
    for (size_t i = 0; i < pieces.size(); ++i) {
        const std::string piece = path + ".piece" + std::to_string(i) + extension;
        if (!MakeMedia(pieces[i].arguments + " -output_ts_offset " +
                           std::to_string(pieces[i].clockStart),
                       piece)) {
            return false;
        }
        std::ifstream bytes(piece, std::ios::binary);
        joined << bytes.rdbuf();
    }
    return bool(joined.flush());
}

// One value ffprobe reports, e.g. Probe(f, "v:0", "stream=nb_read_frames", true).
inline std::string Probe(const std::string& path, const std::string& streams,
                         const std::string& entries, bool countFrames = false) {
    std::string command = "ffprobe -v error ";
    if (countFrames) command += "-count_frames ";
    if (!streams.empty()) command += "-select_streams " + streams + " ";
    command += "-show_entries " + entries + " -of default=nw=1:nk=1 '" + path + "' 2>/dev/null";
    std::string output = Shell(command);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    const size_t newline = output.find('\n');
    return newline == std::string::npos ? output : output.substr(0, newline);
}

inline std::string Tool(const std::string& name) { return std::string(LUMIVANE_BIN_DIR) + "/" + name; }

}  // namespace reader_test
