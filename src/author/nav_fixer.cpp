#include "author/nav_fixer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <limits>

#include "author/bytes.h"
#include "author/core_routines.h"
#include "author/diagnostics.h"
#include "author/ifo_tables.h"
#include "author/vob_scanner.h"

namespace author {

const int vobu_search_distances[kSearchDistanceCount] = {1,  2,  3,  4,  5,  6,  7,   8,   9,  10,
                                                         11, 12, 13, 14, 15, 20, 60, 120, 240};

namespace {

// Byte positions of the NAV pack fields (within the 2048-byte sector).
namespace nav {
// PCI packet
constexpr int kPciSubstream = 44;
constexpr int kPciBodyStart = 45;
constexpr int kPciBodyEnd = 1024;  // one past the cleared PCI body
constexpr int kPciLbn = 45;
constexpr int kVobuStartTime = 57;
constexpr int kVobuEndTime = 61;
constexpr int kSequenceEndTime = 65;
constexpr int kPciCellElapsed = 69;
constexpr int kHighlightStatus = 141;
constexpr int kHighlightStart = 143;
constexpr int kHighlightEnd = 147;
constexpr int kButtonSelectEnd = 151;
constexpr int kButtonMode = 155;
constexpr int kButtonCount = 158;
constexpr int kNumericButtonCount = 159;
constexpr int kButtonColours = 163;
constexpr int kButtonTable = 187;
constexpr int kButtonEntryBytes = 18;
// DSI packet
constexpr int kDsiSubstream = 1030;
constexpr int kDsiBodyStart = 1031;
constexpr int kDsiBodyEnd = 2047;  // one past the cleared DSI body
constexpr int kNavScr = 1031;
constexpr int kDsiLbn = 1035;
constexpr int kVobuEndAddress = 1039;
constexpr int kReferenceEnds = 1043;
constexpr int kVobNumber = 1055;
constexpr int kCellNumber = 1058;
constexpr int kDsiCellElapsed = 1059;
constexpr int kVobVideoStart = 1075;
constexpr int kVobVideoEnd = 1079;
constexpr int kNextVideo = 1265;
constexpr int kForwardNearest = 1341;  // entry k at kForwardNearest - 4k
constexpr int kNextVobu = 1345;
constexpr int kPreviousVobu = 1349;
constexpr int kBackwardNearest = 1353;  // entry k at kBackwardNearest + 4k
constexpr int kPreviousVideo = 1429;
constexpr int kAudioSync = 1433;       // 2 bytes per audio track
constexpr int kSubpictureSync = 1449;  // 4 bytes per subpicture track
}  // namespace nav

constexpr uint32_t kAddressValid = 0x80000000;
constexpr uint32_t kVideoSkipped = 0x40000000;
constexpr uint32_t kNoVobu = 0x3FFFFFFF;
constexpr uint32_t kNoVideoVobu = 0xBFFFFFFF;
constexpr uint32_t kNoSubpictureUnit = 0x7FFFFFFF;
constexpr uint32_t kSubpictureBefore = 0x80000000;
constexpr uint32_t kNoAudioSync = 0x3FFF;
constexpr uint32_t kAudioSyncBefore = 0x8000;
constexpr int32_t kAudioSyncRange = 8192;  // sectors either side of the VOB unit
constexpr int64_t kHalfSecond = 45000;     // ticks per unit of vobu_search_distances
constexpr int kLongDistancesFrom = 15;     // distance indexes with the skipped-video test
constexpr int kStatusEvery = 16;           // VOB units per status line

constexpr uint32_t kHighlightStatusNew = 1;
constexpr uint32_t kForever = 0xFFFFFFFF;
constexpr uint32_t kButtonModeValue = 0x1000;
constexpr uint8_t kAutoActionByte = 0x40;

int32_t clamp_ticks(int64_t ticks) {
    return static_cast<int32_t>(std::clamp<int64_t>(ticks, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

uint32_t sector_distance(const Vobu& from, const Vobu& to) {
    return static_cast<uint32_t>(std::llabs(int64_t(to.sector) - from.sector));
}

bool same_cell(const Vobu& a, const Vobu& b) { return a.cell_id == b.cell_id; }

// The first VOB unit with video after (step 1) or before (step -1) unit i, or -1.
int nearest_video_vobu(const Vob& vob, int i, int step) {
    const int n = static_cast<int>(vob.vobus.size());
    for (int j = i + step; j >= 0 && j < n; j += step)
        if (vob.vobus[j].has_video) return j;
    return -1;
}

uint32_t video_link(const Vob& vob, int i, int step) {
    const int j = nearest_video_vobu(vob, i, step);
    if (j < 0 || !same_cell(vob.vobus[i], vob.vobus[j])) return kNoVideoVobu;
    return sector_distance(vob.vobus[i], vob.vobus[j]) | kAddressValid;
}

uint32_t neighbour_link(const Vob& vob, int i, int step) {
    const int j = i + step;
    if (j < 0 || j >= static_cast<int>(vob.vobus.size()) || !same_cell(vob.vobus[i], vob.vobus[j]))
        return kNoVobu;
    return sector_distance(vob.vobus[i], vob.vobus[j]) |
           (vob.vobus[j].has_video ? kAddressValid : 0);
}

void write_search_tables(uint8_t* nav_pack, const Vob& vob, int i) {
    const Vobu& v = vob.vobus[i];
    int last_forward = i;
    int last_backward = i;
    for (int k = 0; k < kSearchDistanceCount; ++k) {
        const int64_t span = vobu_search_distances[k] * kHalfSecond;
        int forward = find_vobu_by_pts(vob, clamp_ticks(v.pts[0] + span), v.cell_first_vobu,
                                       v.cell_last_vobu);
        if (i == v.cell_last_vobu) forward = i + 1;
        const int backward = find_vobu_by_pts(vob, clamp_ticks(v.pts[0] - span),
                                              v.cell_first_vobu, v.cell_last_vobu);
        const bool long_distance = k >= kLongDistancesFrom;
        put_u32(nav_pack + nav::kForwardNearest - 4 * k,
                compute_vobu_search_offset(vob, forward, i,
                                           long_distance && forward > last_forward + 1, kNoVobu));
        put_u32(nav_pack + nav::kBackwardNearest + 4 * k,
                compute_vobu_search_offset(vob, backward, i,
                                           long_distance && backward < last_backward - 1,
                                           kNoVobu));
        last_forward = forward;
        last_backward = backward;
    }
}

uint32_t audio_sync_address(const VobGroup& group, const Vob& vob, int i, int track) {
    const int slot = get_audio_stream_id(&group, track);
    if (slot < 0) return kNoAudioSync;
    const Vobu& v = vob.vobus[i];
    const int32_t sector = find_audio_sector(vob, slot, v.pts[0], v.pts[1]);
    if (sector < 0) return kNoAudioSync;
    const int64_t delta = int64_t(sector) - v.sector;
    if (delta <= -kAudioSyncRange || delta >= kAudioSyncRange) {
        emit("\nWARN: audio sector out of range: %lld (vobu #%d, pts %d)\n",
             static_cast<long long>(delta), i, v.pts[0]);
        return 0;
    }
    return delta >= 0 ? static_cast<uint32_t>(delta)
                      : (static_cast<uint32_t>(-delta) | kAudioSyncBefore);
}

// Index of the last row of the table that starts no later than `time`; 0 when none does.
size_t last_row_starting_by(const std::vector<StreamPtsRow>& rows, int32_t time) {
    auto after = std::upper_bound(rows.begin(), rows.end(), time,
                                  [](int32_t t, const StreamPtsRow& row) { return t < row.start_pts; });
    return after == rows.begin() ? 0 : static_cast<size_t>(after - rows.begin()) - 1;
}

// Index of the last VOB unit that starts no later than `sector`, or -1.
int vobu_holding_sector(const Vob& vob, int32_t sector) {
    auto after = std::upper_bound(vob.vobus.begin(), vob.vobus.end(), sector,
                                  [](int32_t s, const Vobu& v) { return s < v.sector; });
    return static_cast<int>(after - vob.vobus.begin()) - 1;
}

// The subpicture stream of a track: the stream mapped to it, or none.
int subpicture_slot(const VobGroup& group, int track) {
    const int stream = group.subpicture[track].stream_number;
    return stream > 0 ? kSubpictureSlotBase + stream - 1 : -1;
}

uint32_t subpicture_sync_address(const VobGroup& group, const Vob& vob, int i, int track) {
    const int slot = subpicture_slot(group, track);
    if (slot < 0 || slot >= kStreamSlots) return 0;
    const std::vector<StreamPtsRow>& rows = vob.streams[slot].rows;
    if (rows.empty()) return 0;
    const Vobu& v = vob.vobus[i];
    const size_t l = last_row_starting_by(rows, v.pts[0]);
    int target = i;  // no packet for this VOB unit
    const StreamPtsRow* packet = nullptr;
    if (rows[l].start_pts < v.pts[1] && rows[l].end_pts >= v.pts[0]) {
        packet = &rows[l];
    } else if (rows[l].end_pts < v.pts[0]) {
        if (l + 1 < rows.size() && rows[l + 1].start_pts < v.pts[1]) packet = &rows[l + 1];
    }
    // Otherwise the stream's first packet comes after this VOB unit: nothing to synchronise.
    if (packet != nullptr) target = vobu_holding_sector(vob, packet->sector);
    if (target < 0 || target == i || !same_cell(vob.vobus[target], v)) return kNoSubpictureUnit;
    return sector_distance(v, vob.vobus[target]) | (target < i ? kSubpictureBefore : 0);
}

void write_button(uint8_t* entry, const Pgc& pgc, int i) {
    const PgcButton& b = pgc.buttons[i];
    const int n = static_cast<int>(pgc.buttons.size());
    if (b.auto_action == 0) {
        entry[0] = static_cast<uint8_t>((b.colour_group & 3) << 6 | ((b.x1 >> 4) & 0x3F));
        entry[1] = static_cast<uint8_t>((b.x1 & 0x0F) << 4 | ((b.x2 >> 8) & 3));
        entry[2] = static_cast<uint8_t>(b.x2 & 0xFF);
        entry[3] = static_cast<uint8_t>((b.y1 >> 4) & 0x3F);
        entry[4] = static_cast<uint8_t>((b.y1 & 0x0F) << 4 | ((b.y2 >> 8) & 3));
        entry[5] = static_cast<uint8_t>(b.y2 & 0xFF);
        const int previous = i == 0 ? n : i;
        const int next = i + 1 == n ? 1 : i + 2;
        entry[6] = static_cast<uint8_t>(find_button_index(pgc, b.up.c_str(), previous));
        entry[7] = static_cast<uint8_t>(find_button_index(pgc, b.down.c_str(), next));
        entry[8] = static_cast<uint8_t>(find_button_index(pgc, b.left.c_str(), previous));
        entry[9] = static_cast<uint8_t>(find_button_index(pgc, b.right.c_str(), next));
    } else {
        entry[3] = kAutoActionByte;
    }
    // The button's own command: "set the button number" so the PGC's command table can tell
    // which button was activated.
    write8(entry + 10, 0x71, 0x01, 0x00, 0x0F, 0x00, static_cast<uint8_t>(i + 1), 0x00, 0x0D);
}

void write_highlight(uint8_t* nav_pack, const Vob& vob) {
    const Pgc& pgc = *vob.owner;
    const int n = static_cast<int>(pgc.buttons.size());
    put_u16(nav_pack + nav::kHighlightStatus, kHighlightStatusNew);
    put_u32(nav_pack + nav::kHighlightStart, static_cast<uint32_t>(vob.vobus.front().pts[0]));
    put_u32(nav_pack + nav::kHighlightEnd, kForever);
    put_u32(nav_pack + nav::kButtonSelectEnd, kForever);
    put_u16(nav_pack + nav::kButtonMode, kButtonModeValue);
    nav_pack[nav::kButtonCount] = static_cast<uint8_t>(n);
    nav_pack[nav::kNumericButtonCount] = static_cast<uint8_t>(n);
    std::memcpy(nav_pack + nav::kButtonColours, vob.button_colours.data(), kButtonColourBytes);
    for (int i = 0; i < n && i < kMaxButtons; ++i)
        write_button(nav_pack + nav::kButtonTable + nav::kButtonEntryBytes * i, pgc, i);
}

// The piece file the fixer is writing into; consecutive VOB units of one piece share it.
class PieceWriter {
public:
    explicit PieceWriter(const std::string& base) : base_(base) {}
    // Only reached without close() when a fatal error unwinds; that error is already reported.
    ~PieceWriter() {
        if (fd_ >= 0) ::close(fd_);
    }
    PieceWriter(const PieceWriter&) = delete;
    PieceWriter& operator=(const PieceWriter&) = delete;

    void write_sector(int piece, int32_t piece_sector, const uint8_t* sector) {
        if (piece != piece_) open(piece);
        const off_t at = off_t(piece_sector) * kSectorSize;
        const ssize_t written = pwrite(fd_, sector, kSectorSize, at);
        if (written != kSectorSize)
            fatal("\nERR:  Error writing %s: %s\n", name_.c_str(),
                  written < 0 ? std::strerror(errno) : "short write");
    }

    void close() {
        if (fd_ < 0) return;
        const int result = ::close(fd_);
        fd_ = -1;
        if (result != 0)
            fatal("\nERR:  Error writing %s: %s\n", name_.c_str(), std::strerror(errno));
    }

private:
    void open(int piece) {
        close();
        name_ = piece_file_name(base_, piece);
        // The scanner created every piece; one that is missing now is an error, not a new file.
        fd_ = ::open(name_.c_str(), O_WRONLY);
        if (fd_ < 0) fatal("\nERR:  Error opening %s: %s\n", name_.c_str(), std::strerror(errno));
        piece_ = piece;
    }

    std::string base_;
    std::string name_;
    int fd_ = -1;
    int piece_ = -2;  // matches no VOB unit
};

size_t total_vobus(const VobGroup& group) {
    size_t total = 0;
    for (const Vob* vob : group.vobs) total += vob->vobus.size();
    return total;
}

}  // namespace

uint32_t compute_vobu_search_offset(const Vob& vob, int target, int current, bool skip_test,
                                    uint32_t none_value) {
    const int n = static_cast<int>(vob.vobus.size());
    uint32_t skipped = 0;
    if (skip_test) {
        const int from = std::max(std::min(target, current) + 1, 0);
        const int to = std::min(std::max(target, current), n);  // exclusive
        for (int j = from; j < to; ++j)
            if (vob.vobus[j].has_video) {
                skipped = kVideoSkipped;
                break;
            }
    }
    if (target < 0 || target >= n || !same_cell(vob.vobus[target], vob.vobus[current]))
        return none_value | skipped;
    return sector_distance(vob.vobus[current], vob.vobus[target]) |
           (vob.vobus[target].has_video ? kAddressValid : 0) | skipped;
}

int32_t find_audio_sector(const Vob& vob, int slot, int32_t start, int32_t end) {
    if (slot < 0 || slot >= kStreamSlots) return -1;
    const std::vector<StreamPtsRow>& rows = vob.streams[slot].rows;
    if (rows.empty()) return -1;
    const StreamPtsRow& row = rows[last_row_starting_by(rows, start)];
    return row.start_pts > end ? -1 : row.sector;
}

void build_nav_pack(const VobGroup& group, Vob& vob, int i) {
    Vobu& v = vob.vobus[i];
    assert(v.nav_pack.size() == kSectorSize);
    uint8_t* nav_pack = v.nav_pack.data();
    const uint32_t scr = static_cast<uint32_t>(read_scr(nav_pack));

    std::memset(nav_pack + nav::kPciBodyStart, 0, nav::kPciBodyEnd - nav::kPciBodyStart);
    std::memset(nav_pack + nav::kDsiBodyStart, 0, nav::kDsiBodyEnd - nav::kDsiBodyStart);
    nav_pack[nav::kPciSubstream] = 0;
    nav_pack[nav::kDsiSubstream] = 1;

    // Presentation control
    const uint32_t elapsed =
        build_time_even(&group, int64_t(v.pts[0]) - vob.vobus[v.cell_first_vobu].pts[0]);
    put_u32(nav_pack + nav::kPciLbn, static_cast<uint32_t>(v.sector));
    put_u32(nav_pack + nav::kVobuStartTime, static_cast<uint32_t>(v.pts[0]));
    put_u32(nav_pack + nav::kVobuEndTime, static_cast<uint32_t>(v.pts[1]));
    put_u32(nav_pack + nav::kSequenceEndTime,
            v.has_sequence_end ? static_cast<uint32_t>(v.video_pts[1]) : 0);
    put_u32(nav_pack + nav::kPciCellElapsed, elapsed);
    if (vob.owner != nullptr && !vob.owner->buttons.empty()) write_highlight(nav_pack, vob);

    // Search information
    put_u32(nav_pack + nav::kNavScr, scr);
    put_u32(nav_pack + nav::kDsiLbn, static_cast<uint32_t>(v.sector));
    put_u32(nav_pack + nav::kVobuEndAddress, static_cast<uint32_t>(v.last_sector - v.sector));
    for (int k = 0; k < v.ref_count && k < 3; ++k)
        put_u32(nav_pack + nav::kReferenceEnds + 4 * k,
                static_cast<uint32_t>(v.ref_end[k] - v.sector));
    put_u16(nav_pack + nav::kVobNumber, static_cast<uint32_t>(v.cell_id / 256));
    nav_pack[nav::kCellNumber] = static_cast<uint8_t>(v.cell_id % 256);
    put_u32(nav_pack + nav::kDsiCellElapsed, elapsed);
    put_u32(nav_pack + nav::kVobVideoStart, static_cast<uint32_t>(vob.vobus.front().pts[0]));
    put_u32(nav_pack + nav::kVobVideoEnd, static_cast<uint32_t>(vob.vobus.back().pts[1]));

    put_u32(nav_pack + nav::kNextVideo, video_link(vob, i, +1));
    put_u32(nav_pack + nav::kPreviousVideo, video_link(vob, i, -1));
    put_u32(nav_pack + nav::kNextVobu, neighbour_link(vob, i, +1));
    put_u32(nav_pack + nav::kPreviousVobu, neighbour_link(vob, i, -1));
    write_search_tables(nav_pack, vob, i);

    for (int j = 0; j < group.audio_track_count && j < kMaxAudioTracks; ++j)
        put_u16(nav_pack + nav::kAudioSync + 2 * j, audio_sync_address(group, vob, i, j));
    for (int j = 0; j < group.subpicture_track_count && j < kMaxSubpictureTracks; ++j)
        put_u32(nav_pack + nav::kSubpictureSync + 4 * j, subpicture_sync_address(group, vob, i, j));
}

void fix_nav_packs(const std::string& base, VobGroup& group) {
    const size_t total = total_vobus(group);
    PieceWriter pieces(base);
    size_t written = 0;
    for (Vob* vob : group.vobs) {
        for (size_t i = 0; i < vob->vobus.size(); ++i) {
            Vobu& v = vob->vobus[i];
            build_nav_pack(group, *vob, static_cast<int>(i));
            pieces.write_sector(v.piece, v.piece_sector, v.nav_pack.data());
            ++written;
            if (written % kStatusEvery == 0)
                emit("STAT: fixing VOBU at %dMB (%zu/%zu, %zu%%)\r", v.sector / 512, written, total,
                     written * 100 / total);
        }
    }
    pieces.close();
    if (total > 0) emit("STAT: fixed %zu VOBUS%25s", total, "");
    emit("\n");
}

}  // namespace author
