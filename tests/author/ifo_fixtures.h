// Small scanned-model fixtures for the information-file tests: Vobs with VOB units laid out as
// the scanner and cell marking would leave them, without reading any stream.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "author/bytes.h"
#include "author/model.h"

namespace author::testing {

constexpr int32_t kSecond = 90000;

// A Vob of `vobus` VOB units of `ticks` each and `sectors` sectors each, starting at group
// sector `first_sector`; `cell_starts` are the VOB unit indices that open cells 2, 3, ...
inline Vob* make_vob(VobGroup* group, int vobus, int32_t ticks = kSecond / 2, int sectors = 10,
                     int32_t first_sector = 0, std::initializer_list<int> cell_starts = {}) {
    Vob* vob = engine().create<Vob>();
    vob->vob_id = static_cast<int>(group->vobs.size()) + 1;
    vob->file_name = "input" + std::to_string(vob->vob_id) + ".vob";
    int cell = 1;
    for (int i = 0; i < vobus; ++i) {
        for (int start : cell_starts)
            if (start == i) ++cell;
        Vobu v;
        v.sector = first_sector + i * sectors;
        v.last_sector = v.sector + sectors - 1;
        v.pts[0] = i * ticks;
        v.pts[1] = (i + 1) * ticks;
        v.has_video = 1;
        v.cell_id = vob->vob_id * 256 + cell;
        vob->vobus.push_back(v);
    }
    vob->cell_count = cell;
    group->vobs.push_back(vob);
    return vob;
}

// The sector after the last one of the group's VOBs so far.
inline int32_t next_sector(const VobGroup& group) {
    return group.vobs.empty() ? 0 : group.vobs.back()->vobus.back().last_sector + 1;
}

// A source over DVD cells [first, end) of the Vob, as one source cell of the given kind.
inline PgcSource* add_source(Pgc* pgc, Vob* vob, int first, int end, int kind = kCellChapter) {
    PgcSource* source = source_create();
    source->file_name = vob->file_name;
    source->vob = vob;
    Cell cell;
    cell.kind = kind;
    cell.first_cell = first;
    cell.end_cell = end;
    cell.end = -1;
    source->cells.push_back(cell);
    pgc->sources.push_back(source);
    pgc->cell_count += end - first;
    if (end > first && kind != kCellPlain) {
        ++pgc->program_count;
        if (kind == kCellChapter) ++pgc->chapter_count;
    }
    return source;
}

// PAL MPEG-2 4:3 video, as finalising the attributes leaves a PAL group.
inline void set_pal_video(VobGroup* group) {
    group->video.mpeg_version = 2;
    group->video.resolution = 1;
    group->video.tv_standard = 2;
    group->video.aspect = 1;
    group->video.widescreen = 3;
    group->video.frame_rate = 3;
}

// The GUI's titleset: one title Pgc whose chapters are `clips` Vobs of `vobus` units each, and
// an English menu group without Pgcs. Times stay within the engine's 32-bit 90 kHz clock.
struct GuiTitleset {
    MenuGroup* menus = nullptr;
    PgcGroup* titles = nullptr;
    Pgc* title = nullptr;
    Workset workset;

    GuiTitleset(int clips, int vobus, int32_t vobu_ticks = kSecond / 2) {
        menus = menu_group_create();
        menu_group_add(menus, "en", pgc_group_create(kGroupVtsm));
        titles = pgc_group_create(kGroupVts);
        title = pgc_create();
        titles->pgcs.push_back(title);
        VobGroup* streams = titles->vob_group;
        set_pal_video(streams);
        for (int c = 0; c < clips; ++c) {
            Vob* vob = make_vob(streams, vobus, vobu_ticks, 10, next_sector(*streams));
            add_source(title, vob, 1, 2);
        }
        streams->pgcs.push_back(title);
        title->sources.back()->cells.back().pause = 255;
        title->palette = std::make_shared<Palette>(default_palette);
        menus->vob_group->video = streams->video;
        workset.menus = menus;
        workset.titles = titles;
    }
};

// A fresh temporary directory, removed with the object.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "discforge-XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = name.data();
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

inline void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Starts every test from a fresh engine context.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { engine_reset(nullptr, nullptr); }
};

}  // namespace author::testing
