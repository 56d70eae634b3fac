// What the VOB scanner learns from the elementary streams it passes: the MPEG video start-code
// parser (video attributes, aspect rewrite, picture and reference counts per VOB unit), the AC-3
// and LPCM header readers, and the subpicture colour remap onto a program chain's palette.
#pragma once

#include <array>
#include <cstdint>

#include "author/model.h"

namespace author {

// Start-code window: bytes 0-6 hold the last payload bytes of the previous video packet (0xff
// when there is none), bytes 7-14 the first payload bytes of the current one, so a start code
// that straddles two packets is still seen.
constexpr int kWindowCarry = 7;
constexpr int kWindowHead = 8;
constexpr int kWindowSize = kWindowCarry + kWindowHead;

// The video parser's state for one source.
struct VideoParserState {
    int reference_pending = 0;   // an I or P picture started and its end is not recorded yet
    int gop_phase = 1;           // 1 no GOP yet in this VOB unit, 2 in its first GOP, 0 later
    int first_temporal_reference = -1;  // of the GOP's first picture; -1 none yet
    int shown_before_first = 0;  // the current picture is shown before the GOP's first
    std::array<uint8_t, kWindowSize> window = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

    // A new VOB unit starts: its first GOP is still to come.
    void start_vobu() { gop_phase = 1; }
};

// Parses one candidate position (at least 8 readable, writable bytes); nothing happens unless
// they begin with 00 00 01. `sector` is where a pending reference picture ends.
void parse_video_startcodes(VobGroup& group, uint8_t* bytes, int32_t sector, Vobu& vobu,
                            VideoParserState& state);

// Parses the video PES packet of a 2048-byte sector (rewriting sequence-header aspect codes in
// place). previous_video_sector is where the previous video packet of the source lay.
void scan_video_pes(VobGroup& group, uint8_t* sector, Vobu& vobu, int32_t previous_video_sector,
                    int32_t group_sector, VideoParserState& state);

// Ends the Vob's last VOB unit at end_sector: flushes the window and closes a pending reference.
void finish_vobu(VobGroup& group, Vob& vob, int32_t end_sector, VideoParserState& state);

// Reads the first AC-3 frame header of a private-stream payload (after its 4-byte header);
// first_frame is the first-access-unit pointer - 1.
void detect_ac3_attributes(const uint8_t* payload, int first_frame, int length,
                           StreamPtsTable& stream);
// Reads the LPCM header byte with quantisation, sampling rate and channels.
void detect_lpcm_attributes(uint8_t format_byte, StreamPtsTable& stream);

// "STAT: VOBU %d at %dMB, %d PGCS\r".
void print_scan_status(int32_t sectors_written, const VobGroup& group);

// Colour remap of one subpicture stream: follows its units across packets and rewrites the
// colour numbers of their display commands to slots of the owning program chain's palette.
struct ColourRemapState {
    // Per colour number: a palette slot (0-15), or kPaletteUnset | 0xYYCrCb for a colour that
    // still needs a slot.
    std::array<uint32_t, kPaletteEntries> map{};
    int state = 0;
    int counter = 0;        // byte of the current unit
    int unit_size = 0;
    int next_sequence = 0;  // offset of the next display-control sequence
    int skip = 0;
    Palette* palette = nullptr;

    // Identity map, parser at a unit start, attached to the given palette (may be null).
    void reset(Palette* owner_palette);
};

// Runs the remap over a subpicture packet's payload (after the sub-stream id), rewriting colour
// bytes in place; end_pts grows by the display delays it passes.
void procremap(uint8_t* payload, int length, ColourRemapState& remap, int32_t& end_pts);

// The palette slot of a colour number, allocating a free slot for a new colour; a full palette
// is a fatal error.
int alloc_colormap_slot(ColourRemapState& remap, int colour);

}  // namespace author
