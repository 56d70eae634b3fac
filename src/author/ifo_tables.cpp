#include "author/ifo_tables.h"

#include <algorithm>
#include <cinttypes>

#include "author/core_routines.h"
#include "author/diagnostics.h"
#include "author/ifo_layout.h"

namespace author {

namespace {

using namespace ifo_layout;

// Title search pointer entry.
constexpr size_t kTtEntryBytes = 12;
constexpr uint8_t kTitleTypeUopsPermitted = 0x3c;
// Sector addresses are 32 bits wide.
constexpr uint64_t kAddressableSectors = uint64_t(1) << 32;

// Time map.
constexpr int kMaxTimeMapEntries = 2040;
constexpr uint32_t kTimeMapDiscontinuity = 0x80000000u;

constexpr int kCellIdVobShift = 256;

int vobu_total(const Vob& vob) { return static_cast<int>(vob.vobus.size()); }

// Fills the count and end address of a table whose bytes are complete, then pads it.
void finish_table(ByteBuffer& table, size_t count) {
    if (count > 0xffff) fatal("ERR:  Table of %zu entries does not fit a 16-bit count\n", count);
    table.set_u16(kTableCount, static_cast<uint32_t>(count));
    table.set_u32(kTableLastByte, static_cast<uint32_t>(table.size() - 1));
    table.pad_to_multiple(kSectorSize);
}

// The DVD cells [first, end) of one source cell and their playing time.
int64_t source_cell_ticks(const PgcSource& source, const Cell& cell) {
    if (source.vob == nullptr) return 0;
    int64_t ticks = 0;
    for (int c = cell.first_cell; c < cell.end_cell; ++c) ticks += get_cell_sectors(*source.vob, c);
    return ticks;
}

uint32_t low_code(int code) { return code > 0 ? static_cast<uint32_t>(code - 1) : 0; }

uint32_t video_attribute_word(const VideoAttr& video) {
    uint32_t word = 0;
    if (video.mpeg_version == 2) word |= 1u << 14;
    if (video.tv_standard == 2) word |= 1u << 12;
    if (video.aspect == 2) word |= 3u << 10;
    word |= (static_cast<uint32_t>(video.widescreen) & 3u) << 8;
    if (video.caption & 1) word |= 1u << 7;
    if (video.caption & 2) word |= 1u << 6;
    word |= (low_code(video.resolution) & 3u) << 2;
    return word;
}

void write_audio_entry(ByteBuffer& header, size_t at, const AudioAttr& audio) {
    const bool has_language = audio.language_flag == 2;
    uint32_t coding = (low_code(audio.format) & 3u) << 6;
    if (has_language) coding |= 0x04;
    if (audio.surround) coding |= 0x02;
    header.set_u8(at, coding);
    header.set_u8(at + 1, (low_code(audio.quantisation) & 3u) << 6 |
                              (low_code(audio.sampling_rate) & 3u) << 4 |
                              (low_code(audio.channels) & 7u));
    if (has_language) {
        header.set_u8(at + 2, static_cast<uint8_t>(audio.language[0]));
        header.set_u8(at + 3, static_cast<uint8_t>(audio.language[1]));
    }
    if (audio.surround) header.set_u8(at + 7, 8);
}

void write_subpicture_entry(ByteBuffer& header, size_t at, const SubpictureAttr& subpicture) {
    if (subpicture.language_flag != 2) return;
    header.set_u8(at, 1);
    header.set_u8(at + 2, static_cast<uint8_t>(subpicture.language[0]));
    header.set_u8(at + 3, static_cast<uint8_t>(subpicture.language[1]));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Lookups
// ---------------------------------------------------------------------------------------------

int find_cell_first_vobu(const Vob& vob, int cell_number) {
    const int count = vobu_total(vob);
    if (count == 0) return 0;
    const int key = vob.vob_id * kCellIdVobShift + cell_number;
    if (key < vob.vobus.front().cell_id) return 0;
    if (key > vob.vobus.back().cell_id) return count;
    int lo = 0, hi = count - 1;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (key <= vob.vobus[mid].cell_id) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return lo;
}

int64_t get_cell_sectors(const Vob& vob, int cell_number) {
    const int a = find_cell_first_vobu(vob, cell_number);
    const int b = find_cell_first_vobu(vob, cell_number + 1);
    if (a >= b) return 0;
    return int64_t(vob.vobus[b - 1].pts[1]) - vob.vobus[a].pts[0];
}

int find_vobu_by_pts(const Vob& vob, int32_t pts, int lo, int hi) {
    if (hi < lo) return lo - 1;
    if (pts < vob.vobus[lo].pts[0]) return lo - 1;
    if (pts >= vob.vobus[hi].pts[1]) return hi + 1;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (pts < vob.vobus[mid].pts[0]) {
            hi = mid - 1;
        } else {
            lo = mid;
        }
    }
    return lo;
}

int64_t pgc_total_sectors(const Pgc& pgc) {
    int64_t ticks = 0;
    for (const PgcSource* source : pgc.sources)
        for (const Cell& cell : source->cells) ticks += source_cell_ticks(*source, cell);
    return ticks;
}

const Vobu* find_vobu_at_time(const Pgc& pgc, int64_t t) {
    for (const PgcSource* source : pgc.sources) {
        if (source->vob == nullptr) continue;
        const Vob& vob = *source->vob;
        const int count = vobu_total(vob);
        for (const Cell& cell : source->cells) {
            const int first = find_cell_first_vobu(vob, cell.first_cell);
            if (first >= count) continue;
            if (t < 0) return &vob.vobus[first];
            const int64_t length = source_cell_ticks(*source, cell);
            if (t < length) {
                const int64_t pts = vob.vobus[first].pts[0] + t;
                int found = find_vobu_by_pts(vob, static_cast<int32_t>(pts), first, count - 1);
                return &vob.vobus[std::clamp(found, first, count - 1)];
            }
            t -= length;
        }
    }
    return nullptr;
}

uint32_t get_vobs_sectors(const VobGroup& group) {
    for (auto it = group.vobs.rbegin(); it != group.vobs.rend(); ++it)
        if (!(*it)->vobus.empty()) return static_cast<uint32_t>((*it)->vobus.back().last_sector) + 1;
    return 0;
}

size_t vobu_count(const VobGroup& group) {
    size_t count = 0;
    for (const Vob* vob : group.vobs) count += vob->vobus.size();
    return count;
}

// ---------------------------------------------------------------------------------------------
// Time map
// ---------------------------------------------------------------------------------------------

namespace {

struct TimeMapShape {
    int unit = 1;     // seconds per entry
    int entries = 0;
};

TimeMapShape time_map_shape(const Pgc& pgc, int rate_denominator) {
    const int64_t seconds = pgc_total_sectors(pgc) / rate_denominator;
    TimeMapShape shape;
    shape.unit = seconds == 0 ? 1 : static_cast<int>((seconds + kMaxTimeMapEntries - 1) / kMaxTimeMapEntries);
    shape.entries = static_cast<int>(seconds / shape.unit);
    return shape;
}

}  // namespace

size_t tmapt_size(const PgcGroup& titles) {
    const int denominator = get_rate_denominator(titles.vob_group);
    size_t size = kTableHeaderBytes + 4 * titles.pgcs.size();
    for (const Pgc* pgc : titles.pgcs) size += 4 + 4 * size_t(time_map_shape(*pgc, denominator).entries);
    return size;
}

ByteBuffer write_tmapt(const PgcGroup& titles) {
    const int denominator = get_rate_denominator(titles.vob_group);
    const int frame = get_frame_pts(titles.vob_group);
    ByteBuffer table(kTableHeaderBytes + 4 * titles.pgcs.size());
    for (size_t i = 0; i < titles.pgcs.size(); ++i) {
        const Pgc& pgc = *titles.pgcs[i];
        const TimeMapShape shape = time_map_shape(pgc, denominator);
        const size_t map = table.size();
        table.set_u32(kTableHeaderBytes + 4 * i, static_cast<uint32_t>(map));
        table.set_u8(map, static_cast<uint32_t>(shape.unit));
        table.set_u16(map + 2, static_cast<uint32_t>(shape.entries));
        const Vobu* previous = nullptr;
        for (int k = 1; k <= shape.entries; ++k) {
            const int64_t t = int64_t(k) * shape.unit * denominator - frame;
            const Vobu* vobu = find_vobu_at_time(pgc, t);
            if (vobu == nullptr) vobu = previous;  // never past the end: t stays inside the Pgc
            const size_t entry = map + 4 * size_t(k);
            table.set_u32(entry, vobu ? static_cast<uint32_t>(vobu->sector) : 0);
            if (previous != nullptr && vobu != nullptr && previous->cell_id != vobu->cell_id)
                table.or_u8(entry - 4, kTimeMapDiscontinuity >> 24);
            previous = vobu;
        }
        table.reserve_to(map + 4 + 4 * size_t(shape.entries));
    }
    finish_table(table, titles.pgcs.size());
    return table;
}

// ---------------------------------------------------------------------------------------------
// Cell address table and VOB unit map
// ---------------------------------------------------------------------------------------------

ByteBuffer write_c_adt(const VobGroup& group) {
    ByteBuffer table(kTableHeaderBytes);
    size_t entries = 0;
    size_t open_entry = 0;
    for (const Vob* vob : group.vobs) {
        for (size_t v = 0; v < vob->vobus.size(); ++v) {
            const Vobu& vobu = vob->vobus[v];
            if (v == 0 || vobu.cell_id != vob->vobus[v - 1].cell_id) {
                open_entry = table.append_zeros(kCellAddressBytes);
                ++entries;
                table.set_u16(open_entry + kAddressVobId, static_cast<uint32_t>(vobu.cell_id / kCellIdVobShift));
                table.set_u8(open_entry + kAddressCell, static_cast<uint32_t>(vobu.cell_id % kCellIdVobShift));
                table.set_u32(open_entry + kAddressFirst, static_cast<uint32_t>(vobu.sector));
            }
            table.set_u32(open_entry + kAddressLast, static_cast<uint32_t>(vobu.last_sector));
        }
    }
    finish_table(table, entries);
    return table;
}

ByteBuffer write_vobu_admap(const VobGroup& group) {
    ByteBuffer table;
    table.append_u32(static_cast<uint32_t>(4 * vobu_count(group) + 3));
    for (const Vob* vob : group.vobs)
        for (const Vobu& vobu : vob->vobus) table.append_u32(static_cast<uint32_t>(vobu.sector));
    table.pad_to_multiple(kSectorSize);
    return table;
}

// ---------------------------------------------------------------------------------------------
// Title tables
// ---------------------------------------------------------------------------------------------

ByteBuffer write_vts_ptt_srpt(const PgcGroup& titles) {
    const size_t title_count = titles.pgcs.size();
    ByteBuffer table(kTableHeaderBytes + 4 * title_count);
    for (size_t i = 0; i < title_count; ++i) {
        table.set_u32(kTableHeaderBytes + 4 * i, static_cast<uint32_t>(table.size()));
        int program = 1;
        for (const PgcSource* source : titles.pgcs[i]->sources) {
            for (const Cell& cell : source->cells) {
                if (cell.first_cell == cell.end_cell || cell.kind == kCellPlain) continue;
                if (cell.kind == kCellChapter) {
                    const size_t entry = table.append_zeros(4);
                    table.set_u16(entry, static_cast<uint32_t>(i + 1));
                    table.set_u16(entry + 2, static_cast<uint32_t>(program));
                }
                ++program;
            }
        }
    }
    finish_table(table, title_count);
    return table;
}

ByteBuffer write_tt_srpt(const std::vector<TitlesetInfo>& titlesets, uint32_t first_sector) {
    ByteBuffer table(kTableHeaderBytes);
    size_t titles = 0;
    // Summed wider than an address, so that a disc too large to address is refused rather than
    // given start sectors that wrap round to the disc's beginning.
    uint64_t start = first_sector;
    for (size_t k = 0; k < titlesets.size(); ++k) {
        const TitlesetInfo& info = titlesets[k];
        if (start + info.size_sectors > kAddressableSectors)
            fatal("ERR:  Titleset %zu would end at sector %" PRIu64 ", past the %" PRIu64
                  " sectors a disc can address\n",
                  k + 1, start + info.size_sectors - 1, kAddressableSectors);
        for (int t = 0; t < info.title_count; ++t) {
            const size_t entry = table.append_zeros(kTtEntryBytes);
            table.set_u8(entry, kTitleTypeUopsPermitted);
            table.set_u8(entry + 1, 1);  // angles
            table.set_u16(entry + 2, static_cast<uint32_t>(info.chapter_counts[t]));
            table.set_u8(entry + 6, static_cast<uint32_t>(k + 1));
            table.set_u8(entry + 7, static_cast<uint32_t>(t + 1));
            table.set_u32(entry + 8, static_cast<uint32_t>(start));
            ++titles;
        }
        start += info.size_sectors;
    }
    finish_table(table, titles);
    return table;
}

// ---------------------------------------------------------------------------------------------
// Stream attributes
// ---------------------------------------------------------------------------------------------

void write_stream_attributes(ByteBuffer& header, size_t offset, const VobGroup& group) {
    header.set_u16(offset + kAttrVideo, video_attribute_word(group.video));
    header.set_u16(offset + kAttrAudioCount, static_cast<uint32_t>(group.audio_track_count) & 0xff);
    for (int i = 0; i < group.audio_track_count && i < kMaxAudioTracks; ++i)
        write_audio_entry(header, offset + kAttrAudio + kAudioEntryBytes * i, group.audio[i]);
    header.set_u16(offset + kAttrSubpictureCount,
                   static_cast<uint32_t>(group.subpicture_track_count) & 0xff);
    for (int i = 0; i < group.subpicture_track_count && i < kMaxSubpictureTracks; ++i)
        write_subpicture_entry(header, offset + kAttrSubpicture + kSubpictureEntryBytes * i,
                               group.subpicture[i]);
}

}  // namespace author
