// The fixed-format tables of the information files, and the lookups over a Vob's VOB units that
// the tables, cell marking, the PGC writer and the NAV-pack fixer share.
//
// Every table builder returns its bytes already padded to whole sectors, so the information-file
// writers learn a table's size from one call (the layout pass) and write it from a second call
// of the same builder on the same model (the writing pass). Each table starts with an 8-byte
// header: a 2-byte count, 2 zero bytes and the 4-byte offset of its last byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "author/bytes.h"
#include "author/model.h"

namespace author {

// Sectors a table of `bytes` bytes takes once padded.
constexpr uint32_t sectors_for_bytes(size_t bytes) {
    return static_cast<uint32_t>((bytes + kSectorSize - 1) / kSectorSize);
}

// ---------------------------------------------------------------------------------------------
// Lookups over a Vob's VOB units (sorted by cell_id and by pts, being in stream order)
// ---------------------------------------------------------------------------------------------

// Index of the first VOB unit whose cell_id is at least vob_id * 256 + cell_number; the VOB
// unit count when every unit lies before it.
int find_cell_first_vobu(const Vob& vob, int cell_number);
// Playing time of one DVD cell in 90 kHz ticks (0 for a cell without VOB units).
int64_t get_cell_sectors(const Vob& vob, int cell_number);
// The last VOB unit in [lo, hi] whose start is at most pts: lo - 1 when pts lies before the
// range, hi + 1 when it lies at or after the range's end.
int find_vobu_by_pts(const Vob& vob, int32_t pts, int lo, int hi);
// Playing time of a Pgc in 90 kHz ticks: the sum over every DVD cell of every source cell.
int64_t pgc_total_sectors(const Pgc& pgc);
// The VOB unit that plays t ticks after the Pgc's start; null past its end.
const Vobu* find_vobu_at_time(const Pgc& pgc, int64_t t);
// Size of the group's VOBs in sectors: one past the last sector of the last VOB unit.
uint32_t get_vobs_sectors(const VobGroup& group);

// ---------------------------------------------------------------------------------------------
// Table builders
// ---------------------------------------------------------------------------------------------

// Time map of the titles: one map per title Pgc with at most 2040 entries.
ByteBuffer write_tmapt(const PgcGroup& titles);
// Byte size of the time map before padding.
size_t tmapt_size(const PgcGroup& titles);

// Cell address table: one entry per run of VOB units with the same cell_id.
ByteBuffer write_c_adt(const VobGroup& group);
// VOB unit address map: the first sector of every VOB unit.
ByteBuffer write_vobu_admap(const VobGroup& group);
// Number of VOB units of all Vobs of the group.
size_t vobu_count(const VobGroup& group);

// Part-of-title search table of a titleset: per title, its chapters as (title, program) pairs.
ByteBuffer write_vts_ptt_srpt(const PgcGroup& titles);
// Title search pointer table of the manager; the first titleset starts at first_sector and each
// next one follows the previous one's sectors.
ByteBuffer write_tt_srpt(const std::vector<TitlesetInfo>& titlesets, uint32_t first_sector);

// Size of one attribute block in an information-file header.
constexpr size_t kStreamAttributeBytes = 0x100;
// Fills the 256-byte attribute block at `offset` of `header` from the group's stream attributes.
void write_stream_attributes(ByteBuffer& header, size_t offset, const VobGroup& group);

}  // namespace author
