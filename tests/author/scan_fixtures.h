// Small program streams and scanned models for the scanner, cell-marking and NAV-pack tests.
// Streams are built sector by sector with the layouts a DVD program stream uses, so each test
// shows exactly the packets it is about.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "author/bytes.h"
#include "author/diagnostics.h"
#include "author/model.h"
#include "author/vob_scanner.h"
#include "core/program_stream_fields.h"

namespace author::scan_test {

constexpr int32_t kSecond = 90000;
constexpr int32_t kPalFrame = 3600;

using Sector = std::vector<uint8_t>;

// A pack header with the given SCR and no stuffing; the rest of the sector is zero.
inline Sector pack_header(int64_t scr) {
    Sector s(kSectorSize, 0);
    const uint8_t header[14] = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 0x01, 0x89, 0xC3, 0xF8};
    std::memcpy(s.data(), header, sizeof header);
    core::SetMpeg2ScrBase(s.data() + pack::kScr, scr);
    return s;
}

// A NAV pack: system header of 18 bytes, then the PCI and DSI packets (placeholder bodies).
inline Sector nav_pack(int64_t scr) {
    Sector s = pack_header(scr);
    const uint8_t system[4] = {0, 0, 1, 0xBB};
    std::memcpy(s.data() + 14, system, 4);
    put_u16(s.data() + 18, 18);
    const uint8_t pci[4] = {0, 0, 1, 0xBF};
    std::memcpy(s.data() + 38, pci, 4);
    put_u16(s.data() + 42, 1024 - 44);
    std::memcpy(s.data() + 1024, pci, 4);
    put_u16(s.data() + 1028, 2048 - 1030);
    s[1030] = 1;
    return s;
}

// A PES packet of `id` filling the sector; `payload` first, then 0xFF stuffing of the payload.
// pts < 0 leaves the PTS out.
inline Sector pes_packet(int64_t scr, uint8_t id, int64_t pts, const std::vector<uint8_t>& payload,
                         int payload_length = -1) {
    Sector s = pack_header(scr);
    const int header_length = pts >= 0 ? 5 : 0;
    const int start = 23 + header_length;
    const int length = payload_length >= 0 ? payload_length : kSectorSize - start;
    s[14] = 0, s[15] = 0, s[16] = 1, s[17] = id;
    put_u16(s.data() + 18, static_cast<uint32_t>(start - 20 + length));
    s[20] = 0x81;
    s[21] = pts >= 0 ? 0x80 : 0;
    s[22] = static_cast<uint8_t>(header_length);
    if (pts >= 0) {
        s[23] = 0x21, s[25] = 1, s[27] = 1;
        core::SetTimestamp(s.data() + pack::kPts, pts);
    }
    std::memset(s.data() + start, 0xFF, static_cast<size_t>(length));
    std::copy_n(payload.begin(), std::min<size_t>(payload.size(), length), s.begin() + start);
    // What follows a short packet is a padding packet, as a multiplexer writes it.
    const int end = start + length;
    if (end + 6 <= kSectorSize) {
        s[end] = 0, s[end + 1] = 0, s[end + 2] = 1, s[end + 3] = kPaddingStream;
        put_u16(s.data() + end + 4, static_cast<uint32_t>(kSectorSize - end - 6));
    }
    return s;
}

// An MPEG-2 GOP of `pictures` frame pictures (an I picture, then P pictures) at 25 fps, 4:3,
// preceded by a sequence header and its extension.
inline std::vector<uint8_t> mpeg2_gop(int pictures) {
    std::vector<uint8_t> es = {0, 0, 1, 0xB3, 0x2D, 0x02, 0x40, 0x23, 0xFF, 0xFF, 0xE0, 0x00,
                               0, 0, 1, 0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00,
                               0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x00};
    for (int tr = 0; tr < pictures; ++tr) {
        const uint8_t type = tr == 0 ? 1 : 2;
        const std::vector<uint8_t> picture = {
            0, 0, 1, 0x00, static_cast<uint8_t>(tr >> 2),
            static_cast<uint8_t>((tr & 3) << 6 | type << 3), 0xFF, 0xF8,
            0, 0, 1, 0xB5, 0x8F, 0xFF, 0x03, 0x80, 0x80};
        es.insert(es.end(), picture.begin(), picture.end());
    }
    return es;
}

// An MPEG-1 Layer II frame header at 48 kHz, 256 kbit/s (768 bytes per frame).
inline std::vector<uint8_t> mpa_header() { return {0xFF, 0xFD, 0xC4, 0x04}; }
constexpr int kMpaFrameBytes = 768;

// Private stream 1 audio: sub-stream id, frame count, first-access pointer, then `data`.
inline std::vector<uint8_t> private_audio(uint8_t sub_id, int frames, int pointer,
                                          const std::vector<uint8_t>& data = {}) {
    std::vector<uint8_t> payload = {sub_id, static_cast<uint8_t>(frames),
                                    static_cast<uint8_t>(pointer >> 8),
                                    static_cast<uint8_t>(pointer)};
    payload.insert(payload.end(), data.begin(), data.end());
    return payload;
}

// A record's name field: the text and its NUL.
inline std::vector<uint8_t> text(const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s) + 1); }

inline std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The records of a "discforge-data" sector for subpicture stream `stream`.
inline Sector data_sector(const std::vector<uint8_t>& records, uint8_t version = 1,
                          uint8_t type = 1, uint8_t stream = 0) {
    Sector s = pack_header(0);
    s[14] = 0, s[15] = 0, s[16] = 1, s[17] = kPaddingStream;
    put_u16(s.data() + 18, kSectorSize - 20);
    std::memcpy(s.data() + 20, "discforge-data", 15);
    s[35] = version;
    s[36] = type;
    s[37] = stream;
    std::copy_n(records.begin(), std::min<size_t>(records.size(), kSectorSize - 46), s.begin() + 46);
    return s;
}

// A stream built sector by sector.
class StreamBuilder {
public:
    StreamBuilder& add(const Sector& sector) {
        sectors_.push_back(sector);
        return *this;
    }
    // A VOB unit at `start` ticks: its NAV pack, one video sector holding a GOP of `pictures`
    // pictures, then `extra` video sectors without PTS. SCRs follow the sector count.
    StreamBuilder& vobu(int64_t start, int pictures = 12, int extra = 2) {
        add(nav_pack(next_scr()));
        add(pes_packet(next_scr(), kVideoStream, start, mpeg2_gop(pictures)));
        for (int i = 0; i < extra; ++i) add(pes_packet(next_scr(), kVideoStream, -1, {}));
        return *this;
    }
    int64_t next_scr() const { return scr_base_ + 300 * int64_t(sectors_.size()); }
    void set_scr_base(int64_t base) { scr_base_ = base; }
    size_t size() const { return sectors_.size(); }
    const std::vector<Sector>& sectors() const { return sectors_; }

    void write(const std::string& path) const {
        std::ofstream out(path, std::ios::binary);
        for (const Sector& s : sectors_)
            out.write(reinterpret_cast<const char*>(s.data()), kSectorSize);
    }

private:
    std::vector<Sector> sectors_;
    int64_t scr_base_ = 0;
};

// A fresh temporary directory, removed with the object; tests run in parallel processes.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "scan-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline Sector sector_of(const std::vector<uint8_t>& file, size_t index) {
    return Sector(file.begin() + index * kSectorSize, file.begin() + (index + 1) * kSectorSize);
}

// One title group over the given input files: one Pgc, one source and one Vob per file, the
// group at 25 fps (as detection would leave it).
struct TitleGroup {
    VobGroup* group = nullptr;
    Pgc* pgc = nullptr;

    explicit TitleGroup(const std::vector<std::string>& files) {
        group = vob_group_create();
        group->video.frame_rate = 3;
        pgc = pgc_create();
        pgc->palette = std::make_shared<Palette>(default_palette);
        group->pgcs.push_back(pgc);
        for (const std::string& file : files) {
            PgcSource* source = source_create();
            source->file_name = file;
            source_add_cell(source, 0, -1, kCellChapter, 0, nullptr);
            Vob* vob = engine().create<Vob>();
            vob->file_name = file;
            vob->owner = pgc;
            source->vob = vob;
            pgc->sources.push_back(source);
            group->vobs.push_back(vob);
        }
    }
};

// Each test runs in a fresh engine context, as every run of the engine does.
class ScanTest : public ::testing::Test {
protected:
    void SetUp() override { engine_reset(nullptr, nullptr); }
};

// Runs `body`, expecting a fatal error whose message contains `message`.
template <class Body>
void expect_fatal(Body body, const std::string& message) {
    ::testing::internal::CaptureStderr();
    bool thrown = false;
    try {
        body();
    } catch (const FatalError&) {
        thrown = true;
    }
    const std::string output = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(thrown) << "no fatal error; output:\n" << output;
    EXPECT_NE(output.find(message), std::string::npos) << output;
}

}  // namespace author::scan_test
