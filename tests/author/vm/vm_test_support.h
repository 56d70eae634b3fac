// Shared pieces of the command-language tests: a small disc model to compile against, and
// parse-and-compile helpers that capture the engine's messages.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "author/diagnostics.h"
#include "author/model.h"
#include "author/vm/vm_compile.h"

namespace vmtest {

// A titleset with two titles (title 1: 3 chapters, 3 programs, 4 cells; title 2: 1 chapter)
// and one menu language of two menu PGCs (root on the first, ptt on the second, one cell
// each); and a manager with one menu PGC carrying the title entry.
struct DiscModel {
    author::Pgc title1, title2, root_menu, ptt_menu, manager_menu;
    author::PgcGroup titles, titleset_menus, manager_menus;
    author::MenuGroup titleset_menu_group, manager_menu_group;
    author::Workset titleset, manager;

    DiscModel() {
        title1.chapter_count = 3;
        title1.program_count = 3;
        title1.cell_count = 4;
        title2.chapter_count = title2.program_count = title2.cell_count = 1;
        titles.pgcs = {&title1, &title2};

        root_menu.entry_mask = 0x08;
        ptt_menu.entry_mask = 0x80;
        root_menu.cell_count = ptt_menu.cell_count = 1;
        root_menu.program_count = ptt_menu.program_count = 1;
        titleset_menus.type = author::kGroupVtsm;
        titleset_menus.pgcs = {&root_menu, &ptt_menu};
        titleset_menu_group.languages.push_back(author::MenuLanguage{{'e', 'n'}, &titleset_menus});
        titleset.titles = &titles;
        titleset.menus = &titleset_menu_group;

        manager_menu.entry_mask = 0x04;
        manager_menu.cell_count = 1;
        manager_menus.type = author::kGroupVmgm;
        manager_menus.pgcs = {&manager_menu};
        manager_menu_group.languages.push_back(author::MenuLanguage{{'e', 'n'}, &manager_menus});
        manager.menus = &manager_menu_group;
    }
    DiscModel(const DiscModel&) = delete;
    DiscModel& operator=(const DiscModel&) = delete;

    const author::Workset& for_mode(int mode) const { return mode == author::kVmManagerMenus ? manager : titleset; }
};

inline std::string hex_bytes(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02X", bytes[i]);
        if (i != 0) text += (i % 8 == 0) ? " | " : " ";
        text += byte;
    }
    return text;
}

struct Compiled {
    std::optional<std::vector<uint8_t>> code;  // nothing when the compile failed
    std::string messages;
    bool fatal = false;

    // The instructions in hexadecimal ("71 A0 01 ... | 30 01 ..."), or the messages on failure.
    std::string text() const { return code ? hex_bytes(*code) : messages; }
};

// Parses and compiles in the given domain; a fatal error is caught and reported.
inline Compiled compile(const std::string& source, int mode, const author::Workset& workset,
                        int pgc_index = 0, int first_line = 1) {
    Compiled compiled;
    testing::internal::CaptureStderr();
    try {
        author::VmCommands commands = author::vm_parse(source.c_str());
        compiled.code = author::vm_compile_code(first_line, workset, pgc_index, commands.get(), mode);
    } catch (const author::FatalError&) {
        compiled.fatal = true;
    }
    compiled.messages = testing::internal::GetCapturedStderr();
    return compiled;
}

// Turns the run's jumppad setting on for the life of the object.
class JumppadScope {
public:
    explicit JumppadScope(bool enabled) : saved_(author::engine().jumppad_enabled) {
        author::engine().jumppad_enabled = enabled ? 1 : 0;
    }
    ~JumppadScope() { author::engine().jumppad_enabled = saved_; }
    JumppadScope(const JumppadScope&) = delete;
    JumppadScope& operator=(const JumppadScope&) = delete;

private:
    int saved_;
};

}  // namespace vmtest
