// The compiler's instruction bytes and its checks against the disc model.
#include <gtest/gtest.h>

#include <ostream>

#include "vm_test_support.h"

namespace {

using author::kVmManagerMenus;
using author::kVmTitlesetMenus;
using author::kVmTitles;
using vmtest::compile;
using vmtest::DiscModel;

struct CompileCase {
    int mode;
    bool jumppad;
    const char* source;
    const char* expected;  // instruction bytes, or the message of a failed compile
};

void PrintTo(const CompileCase& c, std::ostream* out) {
    *out << "mode " << c.mode << (c.jumppad ? " jumppad: " : ": ") << c.source;
}

class CompilesTo : public testing::TestWithParam<CompileCase> {};

TEST_P(CompilesTo, BytesOrMessage) {
    const CompileCase& c = GetParam();
    DiscModel disc;
    vmtest::JumppadScope jumppad(c.jumppad);
    vmtest::Compiled compiled = compile(c.source, c.mode, disc.for_mode(c.mode));
    EXPECT_FALSE(compiled.fatal) << compiled.messages;
    EXPECT_EQ(compiled.text(), c.expected) << c.source;
    if (compiled.code) {
        EXPECT_EQ(compiled.messages, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Expressions, CompilesTo, testing::Values(
    CompileCase{kVmTitles, false, "g1 = g1 + 1;", "73 00 00 01 00 01 00 00"},
    CompileCase{kVmTitles, false, "g1 = 1 + g1;", "73 00 00 01 00 01 00 00"},
    CompileCase{kVmTitles, false, "g1 = g2 - g1;",
                "61 00 00 0D 00 02 00 00 | 64 00 00 0D 00 01 00 00 | 61 00 00 01 00 0D 00 00"},
    CompileCase{kVmTitles, false, "g2 = 3 + s1;", "61 00 00 02 00 81 00 00 | 73 00 00 02 00 03 00 00"},
    CompileCase{kVmTitles, false, "g2 = g3 - s1;",
                "61 00 00 02 00 03 00 00 | 61 00 00 0D 00 81 00 00 | 64 00 00 02 00 0D 00 00"},
    CompileCase{kVmTitles, false, "g1 = g2 - (g3 - (g4 - (g5 - g6)));",
                "61 00 00 01 00 02 00 00 | 61 00 00 0D 00 03 00 00 | 61 00 00 0E 00 04 00 00 | "
                "61 00 00 0F 00 05 00 00 | 64 00 00 0F 00 06 00 00 | 64 00 00 0E 00 0F 00 00 | "
                "71 00 00 0F 00 00 00 00 | 64 00 00 0D 00 0E 00 00 | 64 00 00 01 00 0D 00 00"},
    CompileCase{kVmTitles, false, "g4 = 65535 * 7 / g2 % 3 & 6 | g1 ^ 2;",
                "71 00 00 04 FF FF 00 00 | 75 00 00 04 00 07 00 00 | 66 00 00 04 00 02 00 00 | "
                "77 00 00 04 00 03 00 00 | 79 00 00 04 00 06 00 00 | 6A 00 00 04 00 01 00 00 | "
                "7B 00 00 04 00 02 00 00"},
    CompileCase{kVmTitles, false, "g1 = 65536;", "ERR:  Constant 65536 does not fit in 16 bits\n"}));

INSTANTIATE_TEST_SUITE_P(SystemRegisters, CompilesTo, testing::Values(
    CompileCase{kVmTitles, false, "audio = 2; subtitle = 65;", "51 00 00 82 C1 00 00 00"},
    CompileCase{kVmTitles, false, "angle = g2;", "41 00 00 00 00 82 00 00"},
    CompileCase{kVmTitles, false, "subtitle = s1;", "61 00 00 0D 00 81 00 00 | 41 00 00 00 8D 00 00 00"},
    CompileCase{kVmTitles, false, "audio = 128;", "ERR:  Stream number 128 is too large (0 to 127)\n"},
    CompileCase{kVmTitles, false, "button = 2048;", "56 00 00 00 08 00 00 00"},
    CompileCase{kVmTitles, false, "button = g3;", "46 00 00 00 00 03 00 00"},
    CompileCase{kVmTitles, false, "button = g3 + 1;",
                "61 00 00 0D 00 03 00 00 | 73 00 00 0D 00 01 00 00 | 46 00 00 00 00 0D 00 00"},
    CompileCase{kVmTitles, false, "button = 2048; jump cell 3;", "20 07 00 00 00 00 08 03"},
    // The link's button field holds whole buttons only; another value keeps its own command.
    CompileCase{kVmTitles, false, "button = 5; jump cell 3;", "56 00 00 00 00 05 00 00 | 20 07 00 00 00 00 00 03"},
    CompileCase{kVmTitles, false, "s5 = 1;", "ERR:  Cannot set SPRM 5\n"}));

INSTANTIATE_TEST_SUITE_P(Conditions, CompilesTo, testing::Values(
    CompileCase{kVmTitles, false, "if (g1 == 1) g2 = 3;", "71 A0 01 02 00 03 00 01"},
    CompileCase{kVmTitles, false, "if (g1 == 1) exit;",
                "00 B1 00 01 00 01 00 03 | 30 01 00 00 00 00 00 00 | 00 00 00 00 00 00 00 00"},
    CompileCase{kVmTitles, false, "if (5 >= g1) exit;",
                "00 D1 00 01 00 05 00 03 | 30 01 00 00 00 00 00 00 | 00 00 00 00 00 00 00 00"},
    CompileCase{kVmTitles, false, "if (g1 == g2) exit;", "30 21 00 00 00 00 01 02"},
    CompileCase{kVmTitles, false, "if (g1 == 1) jump cell 2;", "20 A7 00 01 00 01 00 02"},
    // The goto over the else branch follows an exit, so nothing reaches it.
    CompileCase{kVmTitles, false, "if (g1 == 1) exit; else resume;",
                "00 B1 00 01 00 01 00 03 | 30 01 00 00 00 00 00 00 | 20 01 00 00 00 00 00 10"},
    CompileCase{kVmTitles, false, "if (g1 == 1) g2 = 1; else g2 = 2; g3 = 3;",
                "00 B1 00 01 00 01 00 04 | 71 00 00 02 00 01 00 00 | 00 01 00 00 00 00 00 05 | "
                "71 00 00 02 00 02 00 00 | 71 00 00 03 00 03 00 00"},
    // Two constants: one of them goes through a scratch register.
    CompileCase{kVmTitles, false, "if (1 == 2) g1 = 3;", "71 00 00 0D 00 02 00 00 | 71 A0 0D 01 00 03 00 01"},
    // Each part of an and/or falls through to the next part without a goto of its own.
    CompileCase{kVmTitles, false, "if (g1 + 1 == 2 && g2 == 3) exit;",
                "61 00 00 0D 00 01 00 00 | 73 00 00 0D 00 01 00 00 | 00 B1 00 0D 00 02 00 06 | "
                "00 B1 00 02 00 03 00 06 | 30 01 00 00 00 00 00 00 | 00 00 00 00 00 00 00 00"},
    CompileCase{kVmTitles, false, "if (g1 == 1 || g2 + 1 == 3) g3 = 1;",
                "00 A1 00 01 00 01 00 05 | 61 00 00 0D 00 02 00 00 | 73 00 00 0D 00 01 00 00 | "
                "00 B1 00 0D 00 03 00 06 | 71 00 00 03 00 01 00 00 | 00 00 00 00 00 00 00 00"},
    // A condition only moves into an instruction that has none of its own.
    CompileCase{kVmTitles, false, "button = 1024; if (g1 == 1) jump cell 2;",
                "56 00 00 00 04 00 00 00 | 20 A7 00 01 00 01 00 02"},
    CompileCase{kVmTitles, false, "if (g1 == 1) if (g2 == 2) g3 = 1;",
                "00 B1 00 01 00 01 00 03 | 71 A0 02 03 00 01 00 02 | 00 00 00 00 00 00 00 00"},
    CompileCase{kVmTitles, false, "if (g1 == 1 && g2 == 2) g3 = 1;",
                "00 B1 00 01 00 01 00 03 | 71 A0 02 03 00 01 00 02 | 00 00 00 00 00 00 00 00"}));

INSTANTIATE_TEST_SUITE_P(InTitle, CompilesTo, testing::Values(
    CompileCase{kVmTitles, false, "exit;", "30 01 00 00 00 00 00 00"},
    CompileCase{kVmTitles, false, "resume;", "20 01 00 00 00 00 00 10"},
    CompileCase{kVmTitles, false, "jump title 2;", "30 03 00 00 00 02 00 00"},
    CompileCase{kVmTitles, false, "jump title 1 chapter 3;", "30 05 00 03 00 01 00 00"},
    CompileCase{kVmTitles, false, "jump title 3;", "ERR:  Cannot jump to title #3, only 2 exist\n"},
    CompileCase{kVmTitles, false, "jump title 2 chapter 2;", "ERR:  Cannot jump to chapter 2 of title 2, only 1 exist\n"},
    CompileCase{kVmTitles, false, "jump chapter 3;", "20 05 00 00 00 00 00 03"},
    CompileCase{kVmTitles, false, "jump program 2;", "20 06 00 00 00 00 00 02"},
    CompileCase{kVmTitles, false, "jump cell 4;", "20 07 00 00 00 00 00 04"},
    CompileCase{kVmTitles, false, "jump chapter 4;", "ERR:  Cannot jump to chapter 4, only 3 exist\n"},
    CompileCase{kVmTitles, false, "jump cell 5;", "ERR:  Cannot jump to cell 5, only 4 exist\n"},
    CompileCase{kVmTitles, false, "jump;", "ERR:  Nop jump statement\n"},
    CompileCase{kVmTitles, false, "jump menu 3;", "ERR:  Cannot jump to a menu from a title, use 'call' instead\n"},
    CompileCase{kVmTitles, false, "jump vmgm;", "ERR:  Cannot jump to a menu from a title, use 'call' instead\n"},
    CompileCase{kVmTitles, false, "jump vmgm title 1;", "ERR:  That form of jumping is not allowed\n"},
    CompileCase{kVmTitles, true, "jump vmgm title 1;",
                "71 00 00 0F 81 01 00 00 | 71 00 00 0E 00 00 00 00 | 30 08 00 00 00 42 00 00"},
    CompileCase{kVmTitles, false, "jump titleset 2 title 1;", "ERR:  That form of jumping is not allowed\n"},
    CompileCase{kVmTitles, true, "jump titleset 2 title 1 chapter 2;",
                "71 00 00 0F 81 03 00 00 | 71 00 00 0E 00 02 00 00 | 30 08 00 00 00 42 00 00"},
    CompileCase{kVmTitles, false, "call menu entry root;", "30 08 00 00 01 83 00 00"},
    CompileCase{kVmTitles, false, "call menu resume 4;", "30 08 00 00 04 87 00 00"},
    CompileCase{kVmTitles, false, "call menu entry audio;", "ERR:  Cannot find PGC with entry audio\n"},
    CompileCase{kVmTitles, false, "call vmgm menu;", "30 08 00 00 01 42 00 00"},
    CompileCase{kVmTitles, false, "call vmgm menu 2 resume 5;", "30 08 00 02 05 C0 00 00"},
    CompileCase{kVmTitles, false, "call vmgm fpc;", "30 08 00 00 01 00 00 00"},
    CompileCase{kVmTitles, false, "call vmgm menu entry root;", "ERR:  The VMGM has no menu entry root, only title\n"},
    CompileCase{kVmTitles, false, "call fpc;", "ERR:  VMGM must be specified with FPC\n"},
    CompileCase{kVmTitles, false, "call title 1;", "ERR:  Cannot 'call' another title, use 'jump' instead\n"},
    CompileCase{kVmTitles, false, "call menu 2;", "ERR:  Cannot call to a specific menu PGC, only an entry\n"},
    CompileCase{kVmTitles, true, "call menu 2;", "71 00 00 0F 02 00 00 00 | 30 08 00 00 01 87 00 00"},
    CompileCase{kVmTitles, false, "call titleset 2 menu;", "ERR:  Cannot call to a menu in another titleset\n"},
    CompileCase{kVmTitles, true, "call titleset 2 menu;",
                "71 00 00 0F 78 03 00 00 | 71 00 00 0E 00 00 00 00 | 30 08 00 00 01 42 00 00"}));

INSTANTIATE_TEST_SUITE_P(InTitlesetMenu, CompilesTo, testing::Values(
    CompileCase{kVmTitlesetMenus, false, "jump menu 2;", "20 04 00 00 00 00 00 02"},
    CompileCase{kVmTitlesetMenus, false, "jump menu 3;", "ERR:  Cannot jump to menu PGC #3, only 2 exist\n"},
    CompileCase{kVmTitlesetMenus, false, "jump menu entry ptt;", "20 04 00 00 00 00 00 02"},
    CompileCase{kVmTitlesetMenus, false, "jump menu entry audio;", "ERR:  Cannot find PGC with entry audio\n"},
    CompileCase{kVmTitlesetMenus, false, "jump menu 1 chapter 1;",
                "ERR:  Cannot specify chapter when jumping to another menu\n"},
    CompileCase{kVmTitlesetMenus, false, "jump vmgm menu;", "30 06 00 00 00 42 00 00"},
    CompileCase{kVmTitlesetMenus, false, "jump vmgm menu 3;", "30 06 00 03 00 C0 00 00"},
    CompileCase{kVmTitlesetMenus, false, "jump vmgm fpc;", "30 06 00 00 00 00 00 00"},
    CompileCase{kVmTitlesetMenus, false, "jump fpc;", "ERR:  VMGM must be specified with FPC\n"},
    CompileCase{kVmTitlesetMenus, false, "jump titleset 1 menu;", "30 06 00 01 01 83 00 00"},
    CompileCase{kVmTitlesetMenus, false, "jump titleset 2 menu entry audio;", "30 06 00 01 02 85 00 00"},
    CompileCase{kVmTitlesetMenus, false, "jump titleset 2 menu entry title;", "ERR:  A titleset has no menu entry title\n"},
    CompileCase{kVmTitlesetMenus, false, "jump vmgm menu entry ptt;", "ERR:  The VMGM has no menu entry ptt, only title\n"},
    CompileCase{kVmTitlesetMenus, false, "jump titleset 2;", "ERR:  Cannot omit menu/title if specifying vmgm/titleset\n"},
    CompileCase{kVmTitlesetMenus, true, "jump titleset 2 menu 1;",
                "71 00 00 0F 01 03 00 00 | 71 00 00 0E 00 00 00 00 | 30 06 00 00 00 42 00 00"},
    CompileCase{kVmTitlesetMenus, false, "jump title 1 chapter 2;", "30 05 00 02 00 01 00 00"},
    CompileCase{kVmTitlesetMenus, false, "jump chapter 1;", "ERR:  Menus do not have chapters\n"},
    CompileCase{kVmTitlesetMenus, false, "jump cell 1;", "20 07 00 00 00 00 00 01"},
    CompileCase{kVmTitlesetMenus, false, "call menu entry root;",
                "ERR:  Cannot 'call' a menu from another menu, use 'jump' instead\n"}));

INSTANTIATE_TEST_SUITE_P(InManagerMenu, CompilesTo, testing::Values(
    CompileCase{kVmManagerMenus, false, "jump title 3;", "30 02 00 00 00 03 00 00"},
    CompileCase{kVmManagerMenus, false, "jump title 3 chapter 2;", "ERR:  That form of jumping is not allowed\n"},
    CompileCase{kVmManagerMenus, true, "jump title 3 chapter 2;",
                "71 00 00 0F 83 01 00 00 | 71 00 00 0E 00 02 00 00 | 30 06 00 00 00 42 00 00"},
    CompileCase{kVmManagerMenus, false, "jump vmgm menu 1;", "20 04 00 00 00 00 00 01"},
    CompileCase{kVmManagerMenus, false, "jump vmgm menu;", "20 04 00 00 00 00 00 01"},
    CompileCase{kVmManagerMenus, false, "jump menu entry title;", "20 04 00 00 00 00 00 01"},
    CompileCase{kVmManagerMenus, false, "jump fpc;", "30 06 00 00 00 00 00 00"},
    CompileCase{kVmManagerMenus, false, "jump titleset 3 menu;", "30 06 00 01 03 83 00 00"}));

// The first-play program has no program chains to link to: menus are reached by JumpSS.
TEST(VmCompile, FirstPlayCommands) {
    DiscModel disc;
    const std::pair<const char*, const char*> cases[] = {
        {"jump title 1;", "30 02 00 00 00 01 00 00"},
        {"jump cell 1;", "ERR:  Cannot jump to a chapter from a FPC\n"},
        {"jump vmgm menu 1;", "30 06 00 01 00 C0 00 00"},
        {"jump menu 1;", "30 06 00 01 00 C0 00 00"},
        {"jump vmgm menu;", "30 06 00 00 00 42 00 00"},
        {"jump menu entry title;", "30 06 00 00 00 42 00 00"},
        {"jump vmgm menu 2;", "ERR:  Cannot jump to menu PGC #2, only 1 exist\n"},
        {"jump menu entry root;", "ERR:  Cannot find PGC with entry root\n"},
    };
    for (const auto& [source, expected] : cases)
        EXPECT_EQ(compile(source, kVmManagerMenus, disc.manager, author::kVmFirstPlayPgc).text(), expected)
            << source;
}

TEST(VmCompile, EmptyCommandListCompilesToNothing) {
    DiscModel disc;
    author::VmCommands empty = author::vm_parse(nullptr);
    auto code = author::vm_compile_code(1, disc.titleset, 0, empty.get(), kVmTitles);
    ASSERT_TRUE(code);
    EXPECT_TRUE(code->empty());
}

TEST(VmCompile, RunningOutOfScratchRegistersIsFatal) {
    DiscModel disc;
    vmtest::Compiled compiled = compile("g1 = g2 - (g3 - (g4 - (g5 - (g6 - g7))));", kVmTitles, disc.titleset);
    EXPECT_TRUE(compiled.fatal);
    EXPECT_EQ(compiled.messages, "ERR:  Expression is too complicated, ran out of registers\n");
}

TEST(VmCompile, DeepNestingIsAnErrorNotAHang) {
    DiscModel disc;
    std::string nested_ifs;
    for (int i = 0; i < 60; ++i) nested_ifs += "if (g1 == 1) ";
    std::string mixed = "g1 == 0";
    for (int i = 0; i < 60; ++i) mixed = "(" + mixed + (i % 2 ? ") || g1 == 1" : ") && g1 == 2");
    for (const std::string& source : {nested_ifs + "g2 = 1;", "if (" + mixed + ") exit;"}) {
        vmtest::Compiled compiled = compile(source, kVmTitles, disc.titleset);
        EXPECT_FALSE(compiled.code);
        EXPECT_EQ(compiled.messages, "ERR:  Commands are nested too deeply to compile\n");
    }
    // Ordinary nesting compiles.
    EXPECT_TRUE(compile("if (g1 == 1) if (g2 == 2) if ((g3 == 3 || g4 == 4) && g5 == 5) exit;", kVmTitles,
                        disc.titleset).code);
}

TEST(VmCompile, GotoLinesCountFromTheGroupStart) {
    DiscModel disc;
    // Placed as the fifth instruction of its group, the goto names line 7.
    EXPECT_EQ(compile("if (g1 == 1) exit;", kVmTitles, disc.titleset, 0, 5).text(),
              "00 B1 00 01 00 01 00 07 | 30 01 00 00 00 00 00 00 | 00 00 00 00 00 00 00 00");
    // A goto cannot name a line past 255.
    vmtest::Compiled late = compile("if (g1 == 1) exit;", kVmTitles, disc.titleset, 0, 254);
    EXPECT_FALSE(late.code);
    EXPECT_EQ(late.messages, "ERR:  Commands too long: a goto to line 256 is past line 255\n");
}

TEST(VmCompile, OutputIsBoundedForTheCallersRoom) {
    DiscModel disc;
    std::string source;
    for (int i = 0; i < author::kVmMaxCompiledInstructions + 1; ++i) source += "g1 = " + std::to_string(i) + ";";
    vmtest::Compiled compiled = compile(source, kVmTitles, disc.titleset);
    EXPECT_FALSE(compiled.code);
    EXPECT_EQ(compiled.messages, "ERR:  Commands compile to 256 instructions, more than 255\n");

    // Far too long to ever fit is refused before the optimiser spends time on it.
    std::string chain = "g1 = 1";
    for (int i = 0; i < 5000; ++i) chain += " + g2";
    vmtest::Compiled long_chain = compile(chain + ";", kVmTitles, disc.titleset);
    EXPECT_FALSE(long_chain.code);
    EXPECT_EQ(long_chain.messages, "ERR:  Commands are too long to compile (5001 instructions)\n");
}

TEST(VmCompile, PointerEntryWritesAtItsPositionAndCountsLinesFromTheBase) {
    DiscModel disc;
    author::VmCommands commands = author::vm_parse("if (g1 == 1) exit;");
    std::vector<uint8_t> buffer(16 + author::kVmMaxCompiledBytes, 0xAA);
    uint8_t* end = author::vm_compile(buffer.data(), buffer.data() + 16, &disc.titleset, 0, commands.get(),
                                      kVmTitles, author::kVmPostOrButton);
    ASSERT_EQ(end, buffer.data() + 16 + 24);
    EXPECT_EQ(vmtest::hex_bytes(std::vector<uint8_t>(buffer.begin() + 16, buffer.begin() + 24)),
              "00 B1 00 01 00 01 00 05");
    EXPECT_EQ(buffer[15], 0xAA);
    EXPECT_EQ(buffer[40], 0xAA);

    testing::internal::CaptureStderr();
    author::VmCommands bad = author::vm_parse("jump cell 9;");
    EXPECT_EQ(author::vm_compile(buffer.data(), buffer.data(), &disc.titleset, 0, bad.get(), kVmTitles, 0), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERR:  Cannot jump to cell 9, only 4 exist\n");
}

}  // namespace
