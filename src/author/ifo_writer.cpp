#include "author/ifo_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "author/diagnostics.h"
#include "author/ifo_tables.h"
#include "author/ifo_layout.h"
#include "author/pgc_writer.h"
#include "author/run_output.h"

namespace author {

using namespace ifo_layout;

namespace {

// Manager header.
constexpr char kVmgIdentifier[] = "DVDVIDEO-VMG";
constexpr size_t kVolumeCount = 0x026;
constexpr size_t kVolumeNumber = 0x028;
constexpr size_t kSide = 0x02a;
constexpr size_t kTitlesetCount = 0x03e;
constexpr size_t kProvider = 0x040;
constexpr size_t kProviderBytes = 32;
constexpr char kProviderName[] = "discforge";
constexpr size_t kFirstPlayOffset = 0x084;
constexpr size_t kVmgTtSrpt = 0x0c4;
constexpr size_t kVmgMenuPgciUt = 0x0c8;
constexpr size_t kVmgVtsAtrt = 0x0d0;
constexpr size_t kVmgMenuCadt = 0x0d8;
constexpr size_t kVmgMenuVobuAdmap = 0x0dc;

// First-play PGC inside the manager header.
constexpr size_t kFirstPlayPgc = 0x400;
constexpr size_t kFirstPlayTimeFrames = kFirstPlayPgc + 0x07;
constexpr uint8_t kZeroTimeFrameByte = 0xc0;
constexpr size_t kFirstPlayCommandTableOffset = kFirstPlayPgc + 0xe4;
constexpr size_t kFirstPlayCommandTable = kFirstPlayPgc + 0xec;  // 0x4ec
constexpr size_t kFirstPlayCommands = kFirstPlayCommandTable + 8; // 0x4f4
constexpr size_t kInstructionBytes = 8;
constexpr size_t kMaxFirstPlayInstructions = (kSectorSize - kFirstPlayCommands) / kInstructionBytes;

// VTS attribute table.
constexpr size_t kVtsAtrtRecordBytes = 776;
constexpr uint32_t kVtsAtrtRecordLastByte = kVtsAtrtRecordBytes - 1;  // 0x307

// Each table's size in sectors, by a call of its builder.
uint32_t sectors_of(const ByteBuffer& table) { return sectors_for_bytes(table.size()); }

bool menus_or_jumppad(const Workset& workset) {
    return menus_present(workset) || engine().jumppad_enabled;
}

// Menus may carry one audio and one subpicture stream: readers refuse a header that announces
// more, and a long subpicture list would run on into the titles' attribute block.
void check_menu_streams(const VobGroup& group) {
    if (group.audio_track_count > 1 || group.subpicture_track_count > 1)
        fatal("ERR:  Menus can have at most one audio track and one subpicture track (%d and %d given)\n",
              group.audio_track_count, group.subpicture_track_count);
}

// Appends a table in the writing pass, checking that it lands where the layout put it.
void append_table(ByteBuffer& file, uint32_t sector, const ByteBuffer& table) {
    if (file.size() != size_t(sector) * kSectorSize)
        fatal("ERR:  Internal error: information-file table moved between layout and writing\n");
    file.append(table.data(), table.size());
}

// Steps the running sector past a table and returns where the table starts.
uint32_t place(uint32_t& s, uint32_t sectors) {
    const uint32_t at = s;
    s += sectors;
    return at;
}

void set_identifier(ByteBuffer& header, const char* identifier) {
    header.set_bytes(kIdentifier, identifier, std::strlen(identifier));
}

}  // namespace

bool menus_present(const Workset& workset) {
    return workset.menus != nullptr && !workset.menus->languages.empty() &&
           !workset.menus->languages.front().group->pgcs.empty();
}

// ---------------------------------------------------------------------------------------------
// Titleset
// ---------------------------------------------------------------------------------------------

VtsLayout layout_vts_ifo(Workset& workset) {
    const bool menus = menus_or_jumppad(workset);
    VtsLayout layout;
    uint32_t s = 1;
    layout.ptt_srpt = place(s, sectors_of(write_vts_ptt_srpt(*workset.titles)));
    layout.pgcit = place(s, sectors_of(write_pgc_table(workset, kPgcTitles)));
    if (menus) layout.menu_pgci_ut = place(s, sectors_of(write_pgc_table(workset, kPgcTitlesetMenus)));
    layout.tmapt = place(s, sectors_for_bytes(tmapt_size(*workset.titles)));
    if (menus) {
        layout.menu_c_adt = place(s, sectors_of(write_c_adt(*workset.menus->vob_group)));
        layout.menu_vobu_admap = place(s, sectors_of(write_vobu_admap(*workset.menus->vob_group)));
    }
    layout.title_c_adt = place(s, sectors_of(write_c_adt(*workset.titles->vob_group)));
    layout.title_vobu_admap = place(s, sectors_of(write_vobu_admap(*workset.titles->vob_group)));
    layout.ifo_sectors = s;
    return layout;
}

ByteBuffer write_vts_ifo(Workset& workset) {
    const bool menus = menus_or_jumppad(workset);
    const VobGroup& title_streams = *workset.titles->vob_group;
    const VobGroup& menu_streams = *workset.menus->vob_group;
    if (menus) check_menu_streams(menu_streams);
    const VtsLayout layout = layout_vts_ifo(workset);
    const uint32_t menu_vob_sectors = menus ? get_vobs_sectors(menu_streams) : 0;
    const uint32_t title_vob_sectors = workset.titles->pgcs.empty() ? 0 : get_vobs_sectors(title_streams);

    // Sector fields carry all four bytes, so a long titleset (a small GOP over a long film) is
    // described correctly past 255 sectors.
    ByteBuffer file(kSectorSize);
    set_identifier(file, kVtsIdentifier);
    file.set_u32(kLastSector, 2 * layout.ifo_sectors + menu_vob_sectors + title_vob_sectors - 1);
    file.set_u32(kIfoLastSector, layout.ifo_sectors - 1);
    file.set_u8(kVersion, kVersionValue);
    file.set_u32(kHeaderLastByte, kSectorSize - 1);
    if (menus) file.set_u32(kMenuVobStart, layout.ifo_sectors);
    file.set_u32(kTitleVobStart, layout.ifo_sectors + menu_vob_sectors);
    file.set_u32(kVtsPttSrpt, layout.ptt_srpt);
    file.set_u32(kVtsPgcit, layout.pgcit);
    file.set_u32(kVtsMenuPgciUt, layout.menu_pgci_ut);
    file.set_u32(kVtsTmapt, layout.tmapt);
    file.set_u32(kVtsMenuCadt, layout.menu_c_adt);
    file.set_u32(kVtsMenuVobuAdmap, layout.menu_vobu_admap);
    file.set_u32(kVtsTitleCadt, layout.title_c_adt);
    file.set_u32(kVtsTitleVobuAdmap, layout.title_vobu_admap);
    if (menus) write_stream_attributes(file, kMenuAttributes, menu_streams);
    write_stream_attributes(file, kTitleAttributes, title_streams);

    append_table(file, layout.ptt_srpt, write_vts_ptt_srpt(*workset.titles));
    append_table(file, layout.pgcit, write_pgc_table(workset, kPgcTitles));
    if (menus) append_table(file, layout.menu_pgci_ut, write_pgc_table(workset, kPgcTitlesetMenus));
    append_table(file, layout.tmapt, write_tmapt(*workset.titles));
    if (menus) {
        append_table(file, layout.menu_c_adt, write_c_adt(menu_streams));
        append_table(file, layout.menu_vobu_admap, write_vobu_admap(menu_streams));
    }
    append_table(file, layout.title_c_adt, write_c_adt(title_streams));
    append_table(file, layout.title_vobu_admap, write_vobu_admap(title_streams));
    return file;
}

void write_titleset_ifo(const std::string& base, Workset& workset) {
    write_whole_file(base + "_0.IFO", write_vts_ifo(workset));
    write_whole_file(base + "_0.BUP", write_vts_ifo(workset));
}

// ---------------------------------------------------------------------------------------------
// Video manager
// ---------------------------------------------------------------------------------------------

namespace {

ByteBuffer write_vts_atrt(const std::vector<TitlesetInfo>& titlesets) {
    const size_t count = titlesets.size();
    ByteBuffer table(8 + 4 * count);
    table.set_u16(0, static_cast<uint32_t>(count));
    table.set_u32(4, static_cast<uint32_t>((4 + kVtsAtrtRecordBytes) * count + 7));
    for (size_t k = 0; k < count; ++k) {
        const size_t record = 8 + 4 * count + kVtsAtrtRecordBytes * k;
        table.set_u32(8 + 4 * k, static_cast<uint32_t>(record));
        table.set_u32(record, kVtsAtrtRecordLastByte);
        table.set_bytes(record + 4, titlesets[k].category.data(), titlesets[k].category.size());
        table.set_bytes(record + 8, titlesets[k].attributes.data(), titlesets[k].attributes.size());
    }
    table.pad_to_multiple(kSectorSize);
    return table;
}

const std::vector<TitlesetInfo>& titleset_table(const Workset& workset) {
    static const std::vector<TitlesetInfo> none;
    return workset.titlesets ? *workset.titlesets : none;
}

// The first-play commands; returns their count.
size_t write_first_play_commands(ByteBuffer& header, Workset& workset, const Pgc* first_play) {
    const std::vector<TitlesetInfo>& titlesets = titleset_table(workset);
    if (first_play != nullptr) {
        if (first_play->post_commands || !first_play->sources.empty() || !first_play->buttons.empty() ||
            first_play->entry_mask != 0)
            fatal("ERR:  FPC can ONLY contain prei commands, nothing else\n");
        size_t position = kFirstPlayCommands;
        if (first_play->pre_commands &&
            !compile_command_list(header, kFirstPlayCommands, position, workset, -1,
                                  first_play->pre_commands, kPgcManagerMenus))
            fatal("ERR:  in FPC\n");
        const size_t count = (position - kFirstPlayCommands) / kInstructionBytes;
        if (count > kMaxFirstPlayInstructions)
            fatal("ERR:  First-play commands compile to %zu instructions; at most %zu fit\n", count,
                  kMaxFirstPlayInstructions);
        return count;
    }
    uint8_t command[kInstructionBytes] = {0x30, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};  // title 1
    if (menus_present(workset)) {
        const uint8_t title_menu[] = {0x30, 0x06, 0x00, 0x00, 0x00, 0x42, 0x00, 0x00};
        std::memcpy(command, title_menu, sizeof command);
    } else if (!titlesets.empty() && titlesets.front().has_menus) {
        const uint8_t root_menu[] = {0x30, 0x06, 0x00, 0x01, 0x01, 0x83, 0x00, 0x00};
        std::memcpy(command, root_menu, sizeof command);
    }
    header.set_bytes(kFirstPlayCommands, command, sizeof command);
    return 1;
}

}  // namespace

VmgLayout layout_vmg_ifo(Workset& workset) {
    const bool menus = menus_or_jumppad(workset);
    const std::vector<TitlesetInfo>& titlesets = titleset_table(workset);
    VmgLayout layout;
    uint32_t s = 1;
    layout.tt_srpt = place(s, sectors_of(write_tt_srpt(titlesets, 0)));
    if (menus) layout.menu_pgci_ut = place(s, sectors_of(write_pgc_table(workset, kPgcManagerMenus)));
    layout.vts_atrt = place(s, sectors_of(write_vts_atrt(titlesets)));
    if (menus) {
        layout.menu_c_adt = place(s, sectors_of(write_c_adt(*workset.menus->vob_group)));
        layout.menu_vobu_admap = place(s, sectors_of(write_vobu_admap(*workset.menus->vob_group)));
    }
    layout.ifo_sectors = s;
    return layout;
}

ByteBuffer build_vmg_ifo(Workset& workset, const Pgc* first_play) {
    const bool menus = menus_or_jumppad(workset);
    const std::vector<TitlesetInfo>& titlesets = titleset_table(workset);
    const VobGroup& menu_streams = *workset.menus->vob_group;
    if (menus_present(workset)) check_menu_streams(menu_streams);
    const VmgLayout layout = layout_vmg_ifo(workset);
    const uint32_t menu_vob_sectors = menus ? get_vobs_sectors(menu_streams) : 0;

    ByteBuffer file(kSectorSize);
    set_identifier(file, kVmgIdentifier);
    file.set_u32(kLastSector, 2 * layout.ifo_sectors + menu_vob_sectors - 1);
    file.set_u32(kIfoLastSector, layout.ifo_sectors - 1);
    file.set_u8(kVersion, kVersionValue);
    file.set_u16(kVolumeCount, 1);
    file.set_u16(kVolumeNumber, 1);
    file.set_u8(kSide, 1);
    file.set_u16(kTitlesetCount, static_cast<uint32_t>(titlesets.size()));
    file.set_bytes(kProvider, kProviderName, std::min(std::strlen(kProviderName), kProviderBytes - 1));
    file.set_u32(kFirstPlayOffset, kFirstPlayPgc);
    if (menus) file.set_u32(kMenuVobStart, layout.ifo_sectors);
    file.set_u32(kVmgTtSrpt, layout.tt_srpt);
    file.set_u32(kVmgMenuPgciUt, layout.menu_pgci_ut);
    file.set_u32(kVmgVtsAtrt, layout.vts_atrt);
    file.set_u32(kVmgMenuCadt, layout.menu_c_adt);
    file.set_u32(kVmgMenuVobuAdmap, layout.menu_vobu_admap);
    if (menus_present(workset)) write_stream_attributes(file, kMenuAttributes, menu_streams);

    file.set_u8(kFirstPlayTimeFrames, kZeroTimeFrameByte);
    file.set_u16(kFirstPlayCommandTableOffset, kFirstPlayCommandTable - kFirstPlayPgc);
    const size_t count = write_first_play_commands(file, workset, first_play);
    const uint32_t end_address = static_cast<uint32_t>(kInstructionBytes * count + 7);
    file.set_u16(kFirstPlayCommandTable, static_cast<uint32_t>(count));
    file.set_u16(kFirstPlayCommandTable + 6, end_address);
    file.set_u32(kHeaderLastByte, static_cast<uint32_t>(kFirstPlayCommandTable + end_address));
    file.resize(kSectorSize);

    append_table(file, layout.tt_srpt, write_tt_srpt(titlesets, 2 * layout.ifo_sectors + menu_vob_sectors));
    if (menus) append_table(file, layout.menu_pgci_ut, write_pgc_table(workset, kPgcManagerMenus));
    append_table(file, layout.vts_atrt, write_vts_atrt(titlesets));
    if (menus) {
        append_table(file, layout.menu_c_adt, write_c_adt(menu_streams));
        append_table(file, layout.menu_vobu_admap, write_vobu_admap(menu_streams));
    }
    return file;
}

void write_vmg_ifo(Workset& workset, const Pgc* first_play, const std::string& file_name) {
    write_whole_file(file_name, build_vmg_ifo(workset, first_play));
}

void write_whole_file(const std::string& path, const ByteBuffer& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) fatal("ERR:  Cannot create %s: %s\n", path.c_str(), std::strerror(errno));
    record_output_file(path);
    const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
    const int write_error = written == bytes.size() ? 0 : errno;
    if (std::fclose(file) != 0 && write_error == 0)
        fatal("ERR:  Error writing %s: %s\n", path.c_str(), std::strerror(errno));
    if (write_error != 0 || written != bytes.size())
        fatal("ERR:  Error writing %s: %s\n", path.c_str(),
              std::strerror(write_error != 0 ? write_error : EIO));
}

}  // namespace author
