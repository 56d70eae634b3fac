// The VOB scanner: reads the input program streams of one VobGroup sector by sector, copies the
// sectors it keeps into the DVD's VOB files (the pieces) with their timestamps shifted so that
// each input starts at 0, cuts the stream into VOB units at every NAV pack, records when and
// where every audio and subpicture packet plays, and takes in the "discforge-data" sectors
// that carry button geometry and colours.
#pragma once

#include <cstdint>
#include <string>

#include "author/model.h"

namespace author {

// What a VobGroup holds; decides how its pieces are numbered and named.
enum ScanKind {
    kScanTitles = 0,         // pieces "<base>_1.VOB", "<base>_2.VOB", ...
    kScanTitlesetMenus = 1,  // one piece "<base>_0.VOB"
    kScanTocMenus = 2,       // one file named exactly as the base
};

// A piece holds at most this many sectors: 1,073,709,056 bytes, 16 sectors short of 1 GiB.
constexpr int32_t kPieceLimitSectors = 524272;
// Title pieces are numbered 1 to 9 on a disc.
constexpr int kMaxTitlePieces = 9;

// Byte positions within one 2048-byte pack.
namespace pack {
constexpr int kScr = 4;               // SCR field of the MPEG-2 pack header
constexpr int kFirstPacket = 14;      // start code of the packet after a 14-byte pack header
constexpr int kPacketLength = 18;     // its 16-bit length
constexpr int kPesFlags = 21;         // bit 7 PTS present, bit 6 DTS present
constexpr int kPesHeaderLength = 22;
constexpr int kPts = 23;
constexpr int kDts = 28;
constexpr int kPayload = 23;          // first payload byte is kPayload + header length
constexpr int kPciPacket = 38;        // PCI packet start code in a NAV pack
constexpr int kDsiPacket = 1024;      // DSI packet start code in a NAV pack
}  // namespace pack

// Stream ids and start codes the scanner tells apart.
constexpr uint8_t kPackStartCode = 0xBA;
constexpr uint8_t kProgramEndCode = 0xB9;
constexpr uint8_t kSystemHeaderId = 0xBB;
constexpr uint8_t kPrivateStream1 = 0xBD;
constexpr uint8_t kPaddingStream = 0xBE;
constexpr uint8_t kPrivateStream2 = 0xBF;
constexpr uint8_t kMpegAudioFirst = 0xC0;
constexpr uint8_t kMpegAudioLast = 0xC7;
constexpr uint8_t kVideoStream = 0xE0;

// The piece file of `piece`: the base itself for -1, else "<base>_<piece>.VOB".
std::string piece_file_name(const std::string& base, int piece);
// Removes a VOB file of an earlier run that this run does not write, so the folder holds only
// what the information files describe. A missing file is fine; failing to remove one is fatal.
void remove_stale_piece(const std::string& name);

// An input that is also a VOB file the run writes (any piece of a titleset, or the table of
// contents' menu file) would be cut to nothing when that file is created, and the disc made from
// what was left of it: such an input is a fatal error. Inputs that are no plain files (commands,
// descriptors) are not compared. scan_vob_units checks its own group.
void refuse_inputs_among_pieces(const std::string& base, const VobGroup& group, int kind);

// Scans every Vob of the group in order (kind is a ScanKind). Sends progress and obeys the
// engine's cancel event every 200 sectors of an input; a cancelled group keeps what was scanned.
void scan_vob_units(const std::string& base, VobGroup& group, int kind);

// Records `sector` as the end of the pending reference picture when one is pending and the
// VOB unit has room for it.
void vobu_add_reference(Vobu& vobu, int& pending, int32_t sector);

// True when the sector begins with 00 00 01 followed by `id` at `at`.
bool has_start_code(const uint8_t* sector, int at, uint8_t id);
// True for a NAV pack laid out as the DVD expects: system header at 14, PCI at 38, DSI at 1024.
bool is_nav_pack(const uint8_t* sector);

// The 33-bit SCR base of the sector's MPEG-2 pack header.
int64_t read_scr(const uint8_t* sector);

// Adds `offset` to the pack's SCR and, for a first packet of stream 0xBD or 0xC0-0xEF, to its
// PTS and DTS, modulo 2^33 as the fields wrap.
void transpose_timestamps(uint8_t* sector, int64_t offset);

// True for an MPEG-1 Layer II frame header at 48 kHz.
bool is_mpa_header(const uint8_t* bytes);

// 1-based position of the Pgc's first button named exactly `name`, or `default_index` when the
// name is null or not found.
int find_button_index(const Pgc& pgc, const char* name, int default_index);

}  // namespace author
