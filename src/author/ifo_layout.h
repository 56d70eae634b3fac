// Byte offsets of the information files' headers and of the tables they share: the writers fill
// them in and the table of contents reads a titleset's back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace author::ifo_layout {

// Header fields shared by both files.
constexpr size_t kIdentifier = 0x000;
constexpr size_t kLastSector = 0x00c;
constexpr size_t kIfoLastSector = 0x01c;
constexpr size_t kVersion = 0x021;
constexpr size_t kCategory = 0x022;
constexpr uint8_t kVersionValue = 0x11;
constexpr size_t kHeaderLastByte = 0x080;
constexpr size_t kMenuVobStart = 0x0c0;
constexpr size_t kMenuAttributes = 0x100;

// Titleset header.
constexpr char kVtsIdentifier[] = "DVDVIDEO-VTS";
constexpr size_t kTitleVobStart = 0x0c4;
constexpr size_t kVtsPttSrpt = 0x0c8;
constexpr size_t kVtsPgcit = 0x0cc;
constexpr size_t kVtsMenuPgciUt = 0x0d0;
constexpr size_t kVtsTmapt = 0x0d4;
constexpr size_t kVtsMenuCadt = 0x0d8;
constexpr size_t kVtsMenuVobuAdmap = 0x0dc;
constexpr size_t kVtsTitleCadt = 0x0e0;
constexpr size_t kVtsTitleVobuAdmap = 0x0e4;
constexpr size_t kTitleAttributes = 0x200;

// Stream attributes within a block (at kMenuAttributes or kTitleAttributes).
constexpr size_t kAttrVideo = 0x00;
constexpr size_t kAttrAudioCount = 0x02;
constexpr size_t kAttrAudio = 0x04;
constexpr size_t kAudioEntryBytes = 8;
constexpr size_t kAttrSubpictureCount = 0x54;
constexpr size_t kAttrSubpicture = 0x56;
constexpr size_t kSubpictureEntryBytes = 6;

// Most tables open with a count, two zero bytes and the offset of the table's last byte.
constexpr size_t kTableCount = 0;
constexpr size_t kTableZero = 2;
constexpr size_t kTableLastByte = 4;
constexpr size_t kTableHeaderBytes = 8;

// Cell address table entry, after the common header.
constexpr size_t kCellAddressBytes = 12;
constexpr size_t kAddressVobId = 0;
constexpr size_t kAddressCell = 2;
constexpr size_t kAddressFirst = 4;
constexpr size_t kAddressLast = 8;

// PGC information table and menu language-unit table: 8-byte entries after the common header.
constexpr size_t kSearchPointerBytes = 8;
constexpr size_t kLanguageUnitPointerBytes = 8;

// PGC record, kPgcBytes long, and its command table's header.
constexpr size_t kPgcBytes = 0xec;
constexpr size_t kCommandTableHeaderBytes = 8;
constexpr size_t kPgcPrograms = 0x02;
constexpr size_t kPgcCells = 0x03;
constexpr size_t kPgcAudioControl = 0x0c;
constexpr size_t kPgcSubpictureControl = 0x1c;
constexpr size_t kPgcStillTime = 0xa3;
constexpr size_t kPgcCommandTableOffset = 0xe4;
constexpr size_t kPgcProgramMapOffset = 0xe6;
constexpr size_t kPgcCellPlaybackOffset = 0xe8;
constexpr size_t kPgcCellPositionOffset = 0xea;

// Cell playback and cell position entries.
constexpr size_t kCellPlaybackBytes = 24;
constexpr size_t kCellPositionBytes = 4;

}  // namespace author::ifo_layout
