#include "author/vob_scanner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "author/attributes.h"
#include "author/bytes.h"
#include "author/core_routines.h"
#include "author/diagnostics.h"
#include "author/input_open.h"
#include "author/run_output.h"
#include "author/stream_detect.h"
#include "core/program_stream_fields.h"
#include "platform/event.h"
#include "platform/progress.h"

namespace author {

std::string piece_file_name(const std::string& base, int piece) {
    if (piece < 0) return base;
    return base + "_" + std::to_string(piece) + ".VOB";
}

void remove_stale_piece(const std::string& name) {
    if (::unlink(name.c_str()) != 0 && errno != ENOENT)
        fatal("ERR:  Cannot remove %s left from an earlier run: %s\n", name.c_str(), std::strerror(errno));
}

bool has_start_code(const uint8_t* sector, int at, uint8_t id) {
    return sector[at] == 0 && sector[at + 1] == 0 && sector[at + 2] == 1 && sector[at + 3] == id;
}

bool is_nav_pack(const uint8_t* sector) {
    return has_start_code(sector, pack::kFirstPacket, kSystemHeaderId) &&
           has_start_code(sector, pack::kPciPacket, kPrivateStream2) &&
           has_start_code(sector, pack::kDsiPacket, kPrivateStream2);
}

int64_t read_scr(const uint8_t* sector) { return core::ReadMpeg2ScrBase(sector + pack::kScr); }

namespace {

constexpr uint8_t kPtsFlag = 0x80;
constexpr uint8_t kDtsFlag = 0x40;

bool has_pack_header(const uint8_t* sector) { return has_start_code(sector, 0, kPackStartCode); }

// The pack header of an MPEG-2 program stream starts its SCR field with the bits 01.
bool is_mpeg2_pack_header(const uint8_t* sector) { return (sector[pack::kScr] & 0xC0) == 0x40; }

bool is_timed_stream(uint8_t id) { return id == kPrivateStream1 || (id >= 0xC0 && id <= 0xEF); }

}  // namespace

void transpose_timestamps(uint8_t* sector, int64_t offset) {
    if (has_pack_header(sector)) core::ShiftMpeg2ScrBase(sector + pack::kScr, offset);
    const uint8_t* first = sector + pack::kFirstPacket;
    if (!(first[0] == 0 && first[1] == 0 && first[2] == 1 && is_timed_stream(first[3]))) return;
    const uint8_t flags = sector[pack::kPesFlags];
    if (flags & kPtsFlag) core::ShiftTimestamp(sector + pack::kPts, offset);
    if (flags & kDtsFlag) core::ShiftTimestamp(sector + pack::kDts, offset);
}

bool is_mpa_header(const uint8_t* b) {
    const int layer = (b[1] >> 1) & 3;
    const int sampling = (b[2] >> 2) & 3;
    const int bitrate = b[2] >> 4;
    return b[0] == 0xFF && (b[1] & 0xF8) == 0xF8 && layer == 2 && sampling == 1 && bitrate != 0 &&
           bitrate != 15 && (b[3] & 3) != 2;
}

void vobu_add_reference(Vobu& vobu, int& pending, int32_t sector) {
    if (pending && vobu.ref_count < 3) {
        vobu.ref_end[vobu.ref_count++] = sector;
        pending = 0;
    }
}

int find_button_index(const Pgc& pgc, const char* name, int default_index) {
    if (name == nullptr) return default_index;
    for (size_t i = 0; i < pgc.buttons.size(); ++i)
        if (pgc.buttons[i].name == name) return static_cast<int>(i + 1);
    return default_index;
}

namespace {

constexpr int kBufferSectors = 16;
constexpr int kProgressEvery = 200;  // sectors between progress messages and cancel tests
constexpr int kStatusEvery = 16;     // VOB units between status lines
constexpr int32_t kMpaFrameTicks = 2160;   // 1152 samples at 48 kHz
constexpr int32_t kAc3FrameTicks = 2880;   // 1536 samples at 48 kHz
constexpr int32_t kLpcmFrameTicks = 150;   // one LPCM frame
constexpr int32_t kScrPlacementLead = 588; // ticks from a NAV pack's SCR to its presentation
// A multiplexer sends a clip's first packs at most about this long before its first picture,
// and its last ones about as long before its last: a source whose clock starts this close to
// where the previous source's clock stopped continues that clock.
constexpr int64_t kClockContinuationWindow = 90000;
constexpr int kAudioSlots = 32;            // slots 0-31 are audio, 32-63 subpictures
constexpr int kSubpictureStreams = 32;

// Slot bases of the stream kinds (see Vob::streams).
constexpr int kAc3SlotBase = 0;
constexpr int kMpaSlotBase = 8;
constexpr int kLpcmSlotBase = 16;
constexpr int kDtsSlotBase = 24;

// Sub-stream id families of private stream 1 (id & 0xF8).
constexpr uint8_t kSubAc3 = 0x80;
constexpr uint8_t kSubDts = 0x88;
constexpr uint8_t kSubLpcm = 0xA0;
constexpr uint8_t kSubSubpictureFirst = 0x20;      // 0x20-0x3F: subpicture streams 0-31
constexpr uint8_t kSubSubpictureRemapLast = 0x27;  // subpicture streams 0-7 get colour remapping

// Bytes of a private stream 1 header before the audio payload: sub-stream id, frame count and
// the 16-bit first-access pointer (AC-3 and DTS), or seven bytes for LPCM.
constexpr int kAc3PrivateHeader = 4;
constexpr int kLpcmInfoByte = 5;

const int kLayer2Kbps[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};

// --- "discforge-data" sectors ---------------------------------------------------------------

namespace data_sector {
constexpr int kSignature = 20;
constexpr char kSignatureText[] = "discforge-data";  // compared with its NUL
constexpr int kSignatureBytes = sizeof kSignatureText;
constexpr int kVersion = 35;
constexpr int kType = 36;
constexpr int kStream = 37;
constexpr int kRecords = 46;
constexpr uint8_t kRecordColours = 1;
constexpr uint8_t kRecordButtonColours = 2;
constexpr uint8_t kRecordButtons = 3;
constexpr uint8_t kRecordEnd = 0xFF;
constexpr int kMaxColours = 16;
constexpr int kMaxButtonColourEntries = 3;
constexpr int kButtonColourEntryBytes = 8;
}  // namespace data_sector

bool is_data_sector(const uint8_t* sector) {
    return has_start_code(sector, pack::kFirstPacket, kPaddingStream) &&
           std::memcmp(sector + data_sector::kSignature, data_sector::kSignatureText,
                       data_sector::kSignatureBytes) == 0;
}

// Reads the records of one data sector, never past its end.
class DataRecordReader {
public:
    explicit DataRecordReader(const uint8_t* sector) : sector_(sector) {}

    uint8_t byte() {
        need(1);
        return sector_[pos_++];
    }
    int u16() {
        need(2);
        const int value = static_cast<int>(get_u16(sector_ + pos_));
        pos_ += 2;
        return value;
    }
    const uint8_t* bytes(int count) {
        need(count);
        const uint8_t* at = sector_ + pos_;
        pos_ += count;
        return at;
    }
    std::string name() {
        const void* end = std::memchr(sector_ + pos_, 0, kSectorSize - pos_);
        if (end == nullptr) overrun();
        std::string text(reinterpret_cast<const char*>(sector_ + pos_));
        pos_ = static_cast<int>(static_cast<const uint8_t*>(end) - sector_) + 1;
        return text;
    }
    void skip(int count) { bytes(count); }

private:
    void need(int count) {
        if (count > kSectorSize - pos_) overrun();
    }
    [[noreturn]] static void overrun() {
        fatal("ERR: dvd info packet records run past the end of the sector\n");
    }

    const uint8_t* sector_;
    int pos_ = data_sector::kRecords;
};

}  // namespace

// --- the scanner -----------------------------------------------------------------------------

namespace {

// Ticks stored in the model are signed 32-bit: an input longer than about 6.6 hours (or with
// timestamps that jump that far) cannot be described.
int32_t checked_ticks(int64_t ticks, const std::string& name) {
    if (ticks < std::numeric_limits<int32_t>::min() || ticks > std::numeric_limits<int32_t>::max())
        fatal("ERR:  %s: timestamps run past the 90 kHz clock's range (about 6.6 hours)\n",
              name.c_str());
    return static_cast<int32_t>(ticks);
}

// The number of the first piece a group of the kind writes (see piece_file_name).
int first_piece(int kind) { return 1 - kind; }

// The output pieces and the 16-sector buffer in front of them.
class PieceOutput {
public:
    PieceOutput(const std::string& base, int kind)
        : base_(base), piece_(first_piece(kind)), buffer_(kBufferSectors * kSectorSize) {}
    // Only reached with an open piece when a fatal error unwinds; that error is reported.
    ~PieceOutput() {
        if (fd_ >= 0) ::close(fd_);
    }
    PieceOutput(const PieceOutput&) = delete;
    PieceOutput& operator=(const PieceOutput&) = delete;

    // Makes room for the next sector: closes a full piece and writes out a full buffer.
    uint8_t* next_slot() {
        if (piece_sector_ == kPieceLimitSectors) {
            flush();
            close_piece();
            if (piece_ <= 0) fatal("\nERR:  Menu VOB reached 1gb\n");
            ++piece_;
            piece_sector_ = -1;
        }
        if (fill_ == kBufferSectors) flush();
        return buffer_.data() + size_t(fill_) * kSectorSize;
    }

    void open_piece_if_needed() {
        if (piece_sector_ >= 0) return;
        if (piece_ > kMaxTitlePieces)
            fatal("\nERR:  Titles need more than %d VOB files of 1gb\n", kMaxTitlePieces);
        name_ = piece_file_name(base_, piece_);
        // Truncated: a longer file of the same name from an earlier run must not keep its tail.
        fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd_ < 0) fatal("ERR:  Error opening %s: %s\n", name_.c_str(), std::strerror(errno));
        record_output_file(name_);
        piece_sector_ = 0;
        last_opened_ = piece_;
    }

    // Keeps the sector in the slot handed out last.
    void keep() {
        ++fill_;
        ++piece_sector_;
    }

    void finish() {
        flush();
        close_piece();
        remove_stale_title_pieces();
    }

    int piece() const { return piece_; }
    int32_t piece_sector() const { return piece_sector_; }

private:
    void flush() {
        if (fill_ == 0) return;
        const size_t bytes = size_t(fill_) * kSectorSize;
        size_t done = 0;
        while (done < bytes) {
            const ssize_t n = ::write(fd_, buffer_.data() + done, bytes - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                fatal("ERR:  Error writing data to %s: %s\n", name_.c_str(),
                      n < 0 ? std::strerror(errno) : "nothing written");
            done += static_cast<size_t>(n);
        }
        fill_ = 0;
    }

    // Title pieces past the last one written may be left from an earlier run that stopped before
    // its information file; players read every piece of a titleset, so they must go.
    void remove_stale_title_pieces() {
        if (last_opened_ < 1) return;
        for (int piece = last_opened_ + 1; piece <= kMaxTitlePieces; ++piece)
            remove_stale_piece(piece_file_name(base_, piece));
    }

    void close_piece() {
        if (fd_ < 0) return;
        const int result = ::close(fd_);
        fd_ = -1;
        if (result != 0)
            fatal("ERR:  Error writing data to %s: %s\n", name_.c_str(), std::strerror(errno));
    }

    std::string base_;
    int piece_;
    int32_t piece_sector_ = -1;  // -1: no piece open
    std::vector<uint8_t> buffer_;
    int fill_ = 0;
    int fd_ = -1;
    std::string name_;
    int last_opened_ = 0;  // number of the last piece opened; 0 for none (or a menu piece)
};

// The packet at byte 14 of a pack, as far as its header goes.
struct FirstPacket {
    uint8_t id = 0;
    int payload = 0;  // first payload byte
    int end = 0;      // one past its last byte
    bool has_pts = false;
};

enum class PacketCheck { kNone, kValid, kOverrun };

// A packet whose declared lengths run past the sector is reported and its contents ignored, so
// no reader ever looks beyond the 2048 bytes.
PacketCheck read_first_packet(const uint8_t* sector, FirstPacket* packet) {
    if (!has_pack_header(sector)) return PacketCheck::kNone;
    const uint8_t* p = sector + pack::kFirstPacket;
    if (!(p[0] == 0 && p[1] == 0 && p[2] == 1)) return PacketCheck::kNone;
    packet->id = p[3];
    packet->end = pack::kPacketLength + 2 + static_cast<int>(get_u16(sector + pack::kPacketLength));
    if (packet->end > kSectorSize) return PacketCheck::kOverrun;
    // Only the timed streams carry the extended PES header the scanner reads.
    if (!is_timed_stream(packet->id)) return PacketCheck::kNone;
    packet->payload = pack::kPayload + sector[pack::kPesHeaderLength];
    packet->has_pts = (sector[pack::kPesFlags] & kPtsFlag) != 0;
    if (packet->payload > packet->end) return PacketCheck::kOverrun;
    return PacketCheck::kValid;
}

// Units are timed by their first picture; one without a timestamped picture is placed by audio.
bool timed_by_video(const Vobu& v) { return v.has_video && v.first_video_pts != -1; }

// An MPEG audio stream's frame-header search state across packets.
struct AudioFrameCarry {
    int offset = 0;              // next frame header relative to the next payload
    uint8_t window[6] = {};      // last 3 bytes of the previous payload, first 3 of this one
};

// What the scanner keeps about the source it is reading.
struct SourceState {
    int64_t last_scr = 0;
    int64_t offset = 0;
    bool seen_pack = false;      // a pack header has been read
    bool started = false;        // a NAV pack has opened the first VOB unit
    int32_t last_video_sector = -1;
    VideoParserState video;
    AudioFrameCarry mpa[8];
};

// Where the clock of the last source kept on the disc stopped, and how far it was moved.
struct ClockLink {
    int64_t last_scr = 0;
    int64_t offset = 0;
};

class VobScanner {
public:
    VobScanner(const std::string& base, VobGroup& group, int kind)
        : group_(group), output_(base, kind) {}

    bool cancelled() const { return cancelled_; }

    void run() {
        for (size_t i = 0; i < group_.vobs.size(); ++i) scan_vob(static_cast<int>(i));
        output_.finish();
        emit("STAT: VOBU %d at %dMB, %d PGCS\r", static_cast<int>(total_vobus()),
             group_sector_ / 512, static_cast<int>(group_.pgcs.size()));
        emit("\n");
    }

private:
    void scan_vob(int index);
    void read_source(Vob& vob, std::FILE* input);
    bool progress_says_stop();
    void take_data_sector(Vob& vob, const uint8_t* sector);
    void handle_kept_sector(Vob& vob, uint8_t* sector);
    void open_vobu(Vob& vob, const uint8_t* sector);
    void take_audio_packet(Vob& vob, const uint8_t* sector, const FirstPacket& packet);
    int count_mpa_frames(AudioFrameCarry& carry, const uint8_t* payload, int length,
                         int* carried);
    void add_row(Vob& vob, int slot, int32_t pts, int32_t end, int64_t carried);
    void remap_subpicture(Vob& vob, uint8_t* sector, const FirstPacket& packet);
    int64_t offset_for_start(int64_t scr) const;
    void infer_vobu_times(Vob& vob);
    void print_summary(const Vob& vob);
    size_t total_vobus() const;

    VobGroup& group_;
    PieceOutput output_;
    int32_t group_sector_ = 0;
    bool cancelled_ = false;
    ColourRemapState remap_[kSubpictureStreams];
    SourceState source_;
    std::optional<ClockLink> previous_clock_;
    std::string name_;  // of the source being read
};

size_t VobScanner::total_vobus() const {
    size_t total = 0;
    for (const Vob* vob : group_.vobs) total += vob->vobus.size();
    return total;
}

void VobScanner::scan_vob(int index) {
    Vob& vob = *group_.vobs[index];
    vob.vob_id = index + 1;
    for (ColourRemapState& state : remap_) state.reset(nullptr);
    name_ = vob.file_name;
    // After a cancel the remaining inputs are not even started; they are left out later.
    if (cancelled_) return;
    emit("\nSTAT: Processing %s...\n", vob.file_name.c_str());
    InputStream input = open_input(vob.file_name.c_str());
    source_ = SourceState{};
    read_source(vob, input.file());
    // A command that failed gave an incomplete stream; after a cancel it was cut off on purpose.
    if (input.close() != 0 && !cancelled_)
        fatal("ERR:  Input %s failed\n", input.name().c_str());
    if (vob.vobus.empty()) return;
    finish_vobu(group_, vob, source_.last_video_sector, source_.video);
    // Units are timed from the first one's video; an input that starts without video (an
    // audio-only clip) cannot be placed, and leaving it out would lose a chapter unseen.
    if (!timed_by_video(vob.vobus.front()))
        fatal("ERR:  %s does not start with video; its VOB units cannot be timed\n",
              vob.file_name.c_str());
    infer_vobu_times(vob);
    print_summary(vob);
    previous_clock_ = ClockLink{source_.last_scr, source_.offset};
}

// A source that continues the previous source's clock is moved as far as that one was, so
// clips made to play on one clock keep doing so on the disc; any other source starts at 0.
int64_t VobScanner::offset_for_start(int64_t scr) const {
    if (!previous_clock_ || scr < previous_clock_->offset) return scr;
    const int64_t gap = scr - previous_clock_->last_scr;
    return std::abs(gap) <= kClockContinuationWindow ? previous_clock_->offset : scr;
}

void VobScanner::read_source(Vob& vob, std::FILE* input) {
    ScanProgress& progress = engine().scan;
    struct stat info;
    if (fstat(fileno(input), &info) == 0 && S_ISREG(info.st_mode)) {
        // A plain file starts its own count, so its first sector is tested for a cancel.
        progress.sector_counter = 0;
        progress.read_position = 0;
        progress.input_size = info.st_size;
    } else {
        progress.input_size = 0;  // unknown: no percentage, but the cancel tests go on
    }
    for (;;) {
        uint8_t* sector = output_.next_slot();
        const size_t got = std::fread(sector, 1, kSectorSize, input);
        if (got < static_cast<size_t>(kSectorSize)) {
            if (std::ferror(input))
                fatal("ERR:  Error reading %s: %s\n", name_.c_str(), std::strerror(errno));
            if (got > 0)
                emit("WARN: %s ends with a partial sector of %zu bytes; it is left out\n",
                     name_.c_str(), got);
            return;
        }
        progress.read_position += kSectorSize;
        if (progress_says_stop()) {
            cancelled_ = true;
            return;
        }
        if (is_data_sector(sector)) {
            take_data_sector(vob, sector);
            continue;
        }
        if (has_pack_header(sector)) {
            // An MPEG-1 system stream has other pack headers, and every position read here
            // would be wrong.
            if (!source_.seen_pack && !is_mpeg2_pack_header(sector))
                fatal("ERR:  %s is not an MPEG-2 program stream; remultiplex input.\n", name_.c_str());
            source_.seen_pack = true;
            const int64_t scr = read_scr(sector);
            if (scr < source_.last_scr) fatal("ERR:  SCR moves backwards, remultiplex input.\n");
            source_.last_scr = scr;
            if (!source_.started) source_.offset = offset_for_start(scr);
            checked_ticks(scr - source_.offset, name_);
            transpose_timestamps(sector, -source_.offset);
        }
        output_.open_piece_if_needed();
        if (has_start_code(sector, pack::kFirstPacket, kSystemHeaderId)) {
            if (is_nav_pack(sector)) {
                open_vobu(vob, sector);
            } else {
                emit("WARN: System header found, but PCI/DSI information is not where expected\n"
                     "\t(make sure your system header is 18 bytes!)\n");
            }
        }
        if (!source_.started) {
            emit("WARN: Skipping sector, waiting for first VOBU...\n");
            continue;
        }
        handle_kept_sector(vob, sector);
        output_.keep();
        ++group_sector_;
    }
}

bool VobScanner::progress_says_stop() {
    EngineContext& context = engine();
    const int taken = context.scan.sector_counter++;
    if (taken % kProgressEvery != 0 || context.progress == nullptr) return false;
    if (platform::IsCancelled(context.cancel)) {
        context.cancelled = true;
        return true;
    }
    if (context.scan.input_size > 0) {
        const double percent =
            double(context.scan.read_position) / double(context.scan.input_size) * 100.0;
        platform::SendProgress(context.progress, static_cast<int>(std::clamp(percent, 0.0, 100.0)));
    }
    return false;
}

// Type 1: colours 0..n-1 of the stream still need palette slots in the owner's palette; the
// others stay as they are.
void read_colour_record(DataRecordReader& records, int n, ColourRemapState& remap, Pgc* owner) {
    using namespace data_sector;
    if (n > kMaxColours) fatal("ERR: dvd info packet holds %d colours (%d allowed)\n", n, kMaxColours);
    const uint8_t* colours = records.bytes(3 * n);
    for (int k = 0; k < kPaletteEntries; ++k) {
        if (k < n) {
            const uint8_t* ycrcb = colours + 3 * k;
            remap.map[k] = kPaletteUnset | uint32_t(ycrcb[0]) << 16 | uint32_t(ycrcb[1]) << 8 |
                           ycrcb[2];
        } else {
            remap.map[k] = static_cast<uint32_t>(k);
        }
    }
    remap.palette = owner != nullptr ? owner->palette.get() : nullptr;
}

// Type 2: the button colour table of the NAV packs, its colour numbers moved to palette slots
// (contrast bytes stay).
void read_button_colour_record(DataRecordReader& records, int n, ColourRemapState& remap,
                               Vob& vob) {
    using namespace data_sector;
    if (n > kMaxButtonColourEntries)
        fatal("ERR: dvd info packet holds %d button colour entries (%d allowed)\n", n,
              kMaxButtonColourEntries);
    const uint8_t* entries = records.bytes(kButtonColourEntryBytes * n);
    uint8_t* out = vob.button_colours.data();
    std::memcpy(out, entries, size_t(kButtonColourEntryBytes) * n);
    for (int e = 0; e < n; ++e) {
        for (int at : {0, 1, 4, 5}) {
            uint8_t& b = out[kButtonColourEntryBytes * e + at];
            const int high = alloc_colormap_slot(remap, b >> 4);
            const int low = alloc_colormap_slot(remap, b & 0x0F);
            b = static_cast<uint8_t>(high << 4 | low);
        }
    }
}

// Type 3: geometry and neighbours of the owner's buttons, found by name.
void read_button_record(DataRecordReader& records, int n, Pgc* owner) {
    for (int k = 0; k < n; ++k) {
        const std::string name = records.name();
        records.skip(2);
        const int auto_action = records.byte();
        const int index = owner ? find_button_index(*owner, name.c_str(), 0) : 0;
        if (index == 0)
            fatal("ERR:  Cannot find button '%s' as referenced by the subtitle\n", name.c_str());
        PgcButton& button = owner->buttons[index - 1];
        button.auto_action = auto_action;
        if (auto_action != 0) continue;
        button.colour_group = records.byte();
        button.x1 = records.u16();
        button.y1 = records.u16();
        button.x2 = records.u16();
        button.y2 = records.u16();
        button.up = records.name();
        button.down = records.name();
        button.left = records.name();
        button.right = records.name();
    }
}

void VobScanner::take_data_sector(Vob& vob, const uint8_t* sector) {
    using namespace data_sector;
    if (sector[kVersion] != 1) fatal("ERR: dvd info packet is version %d\n", sector[kVersion]);
    if (sector[kType] != 1) fatal("ERR: unknown dvd info packet type: %d\n", sector[kType]);
    ColourRemapState& remap = remap_[sector[kStream] % kSubpictureStreams];
    DataRecordReader records(sector);
    for (;;) {
        const uint8_t type = records.byte();
        if (type == kRecordEnd) return;
        const int n = records.byte();
        switch (type) {
        case kRecordColours:
            read_colour_record(records, n, remap, vob.owner);
            break;
        case kRecordButtonColours:
            read_button_colour_record(records, n, remap, vob);
            break;
        case kRecordButtons:
            read_button_record(records, n, vob.owner);
            break;
        default:
            fatal("ERR: dvd info packet command within subtitle: %d\n", type);
        }
    }
}

void VobScanner::open_vobu(Vob& vob, const uint8_t* sector) {
    if (!vob.vobus.empty())
        finish_vobu(group_, vob, source_.last_video_sector, source_.video);
    Vobu vobu;
    vobu.sector = group_sector_;
    vobu.piece_sector = output_.piece_sector();
    vobu.piece = output_.piece();
    vobu.first_video_pts = -1;
    vobu.nav_pack.assign(sector, sector + kSectorSize);
    vob.vobus.push_back(std::move(vobu));
    if (vob.vobus.size() % kStatusEvery == 0) print_scan_status(group_sector_, group_);
    source_.video.start_vobu();
    // A reference picture of the previous unit that found no room there does not end here.
    source_.video.reference_pending = 0;
    source_.started = true;
}

// Walks the packets from byte 14; a program end code that follows a padding packet is taken
// into that packet, so the end code of each input does not end the joined stream.
void absorb_program_end(uint8_t* sector) {
    int pos = pack::kFirstPacket;
    int padding = -1;
    // The end code takes the sector's last four bytes; a packet also needs its length field.
    while (pos + 4 <= kSectorSize && sector[pos] == 0 && sector[pos + 1] == 0 &&
           sector[pos + 2] == 1) {
        const uint8_t id = sector[pos + 3];
        if (id == kProgramEndCode && padding >= 0) {
            put_u16(sector + padding + 4, get_u16(sector + padding + 4) + 4);
            std::memset(sector + pos, 0, 4);
            return;
        }
        if (id < kPrivateStream1 || id > 0xEF || pos + 6 > kSectorSize) return;
        padding = id == kPaddingStream ? pos : -1;
        pos += 6 + static_cast<int>(get_u16(sector + pos + 4));
    }
}

void VobScanner::handle_kept_sector(Vob& vob, uint8_t* sector) {
    Vobu& vobu = vob.vobus.back();
    vobu.last_sector = group_sector_;
    absorb_program_end(sector);
    FirstPacket packet;
    switch (read_first_packet(sector, &packet)) {
    case PacketCheck::kNone:
        return;
    case PacketCheck::kOverrun:
        emit("WARN: Packet in sector %d of %s runs past its sector; its contents are ignored\n",
             group_sector_, name_.c_str());
        return;
    case PacketCheck::kValid:
        break;
    }
    if (packet.id == kVideoStream) {
        vobu.has_video = 1;
        scan_video_pes(group_, sector, vobu, source_.last_video_sector, group_sector_,
                       source_.video);
        if (packet.has_pts && vobu.first_video_pts == -1)
            vobu.first_video_pts = checked_ticks(core::ReadTimestamp(sector + pack::kPts), name_);
        source_.last_video_sector = group_sector_;
        return;
    }
    if (packet.has_pts &&
        (packet.id == kPrivateStream1 || (packet.id >= kMpegAudioFirst && packet.id <= kMpegAudioLast)))
        take_audio_packet(vob, sector, packet);
    if (packet.id == kPrivateStream1) remap_subpicture(vob, sector, packet);
}

// Counts the MPEG audio frames whose headers lie in this payload: those that began in the
// previous packet (header split across the two) go to `carried`, the others to the result.
int VobScanner::count_mpa_frames(AudioFrameCarry& carry, const uint8_t* payload, int length,
                                 int* carried) {
    for (int k = 0; k < 3; ++k) carry.window[3 + k] = k < length ? payload[k] : 0;
    int frames = 0;
    while (carry.offset + 4 <= length) {
        const uint8_t* header =
            carry.offset < 0 ? carry.window + 3 + carry.offset : payload + carry.offset;
        if (!is_mpa_header(header)) {
            ++carry.offset;
            continue;
        }
        if (carry.offset < 0) {
            ++*carried;
        } else {
            ++frames;
        }
        carry.offset += 3 * kLayer2Kbps[header[2] >> 4] + ((header[2] >> 1) & 1);
    }
    carry.offset -= length;
    // The last three bytes of everything seen so far, for a header split at the packet's end.
    uint8_t last[3];
    for (int k = 0; k < 3; ++k)
        last[k] = length >= 3 ? payload[length - 3 + k] : carry.window[length + k];
    std::memcpy(carry.window, last, 3);
    return frames;
}

void VobScanner::take_audio_packet(Vob& vob, const uint8_t* sector, const FirstPacket& packet) {
    const uint8_t* payload = sector + packet.payload;
    const int length = packet.end - packet.payload;
    const int32_t pts = checked_ticks(core::ReadTimestamp(sector + pack::kPts), name_);
    int64_t end = pts;
    int64_t carried = 0;
    int slot = 0;
    if (packet.id != kPrivateStream1) {
        const int stream = packet.id - kMpegAudioFirst;
        slot = kMpaSlotBase + stream;
        int carried_frames = 0;
        end += int64_t(kMpaFrameTicks) *
               count_mpa_frames(source_.mpa[stream], payload, length, &carried_frames);
        carried = int64_t(kMpaFrameTicks) * carried_frames;
        StreamPtsTable& table = vob.streams[slot];
        set_audio_attr(&table.detected, &table.detected_warned, kAudioSamplingRate, "48khz");
    } else {
        if (length < 1) return;
        const uint8_t sub = payload[0];
        const int frame_count = length >= 2 ? payload[1] : 0;
        switch (sub & 0xF8) {
        case kSubAc3: {
            slot = kAc3SlotBase + (sub & 7);
            end += int64_t(kAc3FrameTicks) * frame_count;
            // A first-access pointer of 0 names no frame; there is nothing to detect then.
            const int pointer = length >= kAc3PrivateHeader ? int(get_u16(payload + 2)) : 0;
            if (pointer > 0)
                detect_ac3_attributes(payload + kAc3PrivateHeader, pointer - 1,
                                      length - kAc3PrivateHeader, vob.streams[slot]);
            break;
        }
        case kSubDts:
            slot = kDtsSlotBase + (sub & 7);
            break;
        case kSubLpcm:
            slot = kLpcmSlotBase + (sub & 7);
            end += int64_t(kLpcmFrameTicks) * frame_count;
            if (length > kLpcmInfoByte)
                detect_lpcm_attributes(payload[kLpcmInfoByte], vob.streams[slot]);
            break;
        case kSubSubpictureFirst:
        case kSubSubpictureFirst + 0x08:
        case kSubSubpictureFirst + 0x10:
        case kSubSubpictureFirst + 0x18:
            slot = sub;  // subpicture stream n has slot 32 + n
            break;
        default:
            emit("WARN: Invalid audio channel %d\n", -1);
            return;
        }
    }
    add_row(vob, slot, pts, checked_ticks(end, name_), carried);
}

void VobScanner::add_row(Vob& vob, int slot, int32_t pts, int32_t end, int64_t carried) {
    std::vector<StreamPtsRow>& rows = vob.streams[slot].rows;
    if (!rows.empty()) {
        StreamPtsRow& last = rows.back();
        if (slot >= kDtsSlotBase && slot < kAudioSlots) {
            last.end_pts = pts;
        } else {
            last.end_pts = checked_ticks(last.end_pts + carried, name_);
        }
        const StreamPtsRow before = last;
        const bool gap = last.end_pts < pts && slot < kAudioSlots;
        if (gap) {
            emit("WARN: Discontinuity in audio channel %d; please remultiplex input.\n", slot);
        } else if (last.end_pts > pts) {
            emit("WARN: Audio pts for channel %d moves backwards; please remultiplex input.\n",
                 slot);
        }
        if (gap || last.end_pts > pts) {
            emit("WARN: Previous sector: ");
            emit_time(before.start_pts);
            emit(" - ");
            emit_time(before.end_pts);
            emit("\nWARN: Current sector: ");
            emit_time(pts);
            emit(" - ");
            emit_time(end);
            emit("\n");
            last.end_pts = pts;
        }
    }
    rows.push_back(StreamPtsRow{pts, end, group_sector_});
}

void VobScanner::remap_subpicture(Vob& vob, uint8_t* sector, const FirstPacket& packet) {
    if (packet.end - packet.payload < 1) return;
    const uint8_t sub = sector[packet.payload];
    if (sub < kSubSubpictureFirst || sub > kSubSubpictureRemapLast) return;
    const int data = packet.payload + 1;
    std::vector<StreamPtsRow>& rows = vob.streams[sub].rows;
    // A unit that comes before any timed packet of its stream has no end time to move.
    int32_t untimed_end = 0;
    int32_t* end = rows.empty() ? &untimed_end : &rows.back().end_pts;
    procremap(sector + data, packet.end - data, remap_[sub % kSubpictureStreams], *end);
}

namespace {

// The earliest start of an audio packet at or after the VOB unit's first sector, or -1.
int64_t first_audio_at_or_after(const Vob& vob, int32_t sector) {
    int64_t earliest = -1;
    for (int slot = 0; slot < kAudioSlots; ++slot) {
        const std::vector<StreamPtsRow>& rows = vob.streams[slot].rows;
        auto row = std::lower_bound(rows.begin(), rows.end(), sector,
                                    [](const StreamPtsRow& r, int32_t s) { return r.sector < s; });
        if (row != rows.end() && (earliest < 0 || row->start_pts < earliest))
            earliest = row->start_pts;
    }
    return earliest;
}

int64_t last_audio_end(const Vob& vob) {
    int64_t end = -1;
    for (int slot = 0; slot < kAudioSlots; ++slot)
        if (!vob.streams[slot].rows.empty())
            end = std::max<int64_t>(end, vob.streams[slot].rows.back().end_pts);
    return end;
}

}  // namespace

void VobScanner::infer_vobu_times(Vob& vob) {
    const int64_t frame = get_frame_pts(&group_);
    std::vector<Vobu>& vobus = vob.vobus;
    for (Vobu& v : vobus) {
        if (!timed_by_video(v)) continue;
        const int64_t start = v.first_video_pts - frame * v.fields_before_first / 2;
        v.video_pts[0] = checked_ticks(start, name_);
        v.video_pts[1] = checked_ticks(start + frame * v.field_count / 2, name_);
        v.pts[0] = v.video_pts[0];
        v.pts[1] = v.video_pts[1];
    }
    const int64_t audio_end = last_audio_end(vob);
    for (size_t i = 0; i < vobus.size(); ++i) {
        Vobu& v = vobus[i];
        if (timed_by_video(v)) continue;
        int64_t t = first_audio_at_or_after(vob, v.sector);
        if (t < 0) {
            emit("WARN: Cannot detect pts for VOBU if there is no audio or video\n"
                 "WARN: Using SCR instead.\n");
            t = read_scr(v.nav_pack.data()) + kScrPlacementLead;
        }
        assert(i > 0);  // the first unit is timed by its video (scan_vob)
        // Rounded up to a whole number of frames after the previous VOB unit's start.
        const int64_t p = vobus[i - 1].pts[0];
        const int64_t d = t - p - 1 + frame;
        const int32_t start = checked_ticks(p + d - d % frame, name_);
        vobus[i - 1].pts[1] = start;
        v.pts[0] = start;
        if (i + 1 == vobus.size()) {
            v.pts[1] = checked_ticks(audio_end > start ? audio_end : start + frame, name_);
        } else if (timed_by_video(vobus[i + 1])) {
            v.pts[1] = vobus[i + 1].pts[0];
        }
    }
}

void VobScanner::print_summary(const Vob& vob) {
    emit("\nINFO: Video pts = ");
    emit_time(vob.vobus.front().video_pts[0]);
    emit(" .. ");
    auto last_video = std::find_if(vob.vobus.rbegin(), vob.vobus.rend(),
                                   [](const Vobu& v) { return v.has_video != 0; });
    if (last_video == vob.vobus.rend()) {
        emit("??");
    } else {
        emit_time(last_video->video_pts[1]);
    }
    for (int slot = 0; slot < kStreamSlots; ++slot) {
        const std::vector<StreamPtsRow>& rows = vob.streams[slot].rows;
        if (rows.empty()) continue;
        emit("\nINFO: Audio[%d] pts = ", slot);
        emit_time(rows.front().start_pts);
        emit(" .. ");
        emit_time(rows.back().end_pts);
    }
    emit("\n");
}

bool has_no_vobus(const Vob* vob) { return vob->vobus.empty(); }

// Names each input of the group that gave no VOB unit with `line` (one %s for the name); false
// when there is none.
bool name_empty_vobs(const VobGroup& group, const char* line) {
    if (std::none_of(group.vobs.begin(), group.vobs.end(), has_no_vobus)) return false;
    for (const Vob* vob : group.vobs)
        if (has_no_vobus(vob)) emit(line, vob->file_name.c_str());
    return true;
}

// An input that gave no VOB unit (empty, no NAV packs, not a program stream at all) would become
// a disc with a chapter or menu missing: each is named, and the run fails.
void refuse_empty_vobs(const VobGroup& group) {
    if (!name_empty_vobs(group, "ERR:  No VOB units in %s: it holds no DVD navigation packs\n"))
        return;
    fatal("ERR:  Inputs without VOB units cannot be authored\n");
}

// A cancel leaves the inputs it did not reach without VOB units, and the disc keeps what was
// scanned: those inputs and the sources that name them are left out, and the remaining Vobs are
// renumbered.
void leave_out_empty_vobs(VobGroup& group, int kind) {
    if (!name_empty_vobs(group, "WARN: No VOB units in %s; it is left out\n")) return;
    std::erase_if(group.vobs, has_no_vobus);
    for (size_t i = 0; i < group.vobs.size(); ++i) group.vobs[i]->vob_id = static_cast<int>(i + 1);
    if (kind == kScanTitles && group.vobs.empty()) fatal("ERR:  no titles defined\n");
    for (size_t p = 0; p < group.pgcs.size(); ++p) {
        Pgc& pgc = *group.pgcs[p];
        const size_t before = pgc.sources.size();
        std::erase_if(pgc.sources, [&](const PgcSource* s) { return s->vob && has_no_vobus(s->vob); });
        if (pgc.sources.size() == before) continue;
        if (kind == kScanTitles && pgc.sources.empty())
            fatal("ERR:  Title %d has no VOB units left\n", static_cast<int>(p + 1));
        // A chain whose first source was left out must still start with a chapter.
        pgc_mark_first_chapter(&pgc, static_cast<int>(p));
    }
}

}  // namespace

void refuse_inputs_among_pieces(const std::string& base, const VobGroup& group, int kind) {
    const int first = kind == kScanTocMenus ? first_piece(kind) : 0;
    const int last = kind == kScanTocMenus ? first : kMaxTitlePieces;
    for (int piece = first; piece <= last; ++piece) {
        const std::string name = piece_file_name(base, piece);
        struct stat output;
        if (::stat(name.c_str(), &output) != 0) continue;
        for (const Vob* vob : group.vobs) {
            struct stat input;
            if (::stat(vob->file_name.c_str(), &input) == 0 && input.st_dev == output.st_dev &&
                input.st_ino == output.st_ino)
                fatal("ERR:  Input %s is the file this run writes as %s; copy it elsewhere first\n",
                      vob->file_name.c_str(), name.c_str());
        }
    }
}

void scan_vob_units(const std::string& base, VobGroup& group, int kind) {
    refuse_inputs_among_pieces(base, group, kind);
    VobScanner scanner(base, group, kind);
    scanner.run();
    if (scanner.cancelled())
        leave_out_empty_vobs(group, kind);
    else
        refuse_empty_vobs(group);
}

}  // namespace author
