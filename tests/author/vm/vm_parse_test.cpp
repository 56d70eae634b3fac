// The command language's scanner and grammar, checked through the trees they build.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "author/diagnostics.h"
#include "author/vm/vm_parse.h"
#include "vm_tree_printer.h"

namespace {

using author::VmParseStatus;

struct Parsed {
    VmParseStatus status;
    std::string tree;
    std::string messages;
};

Parsed parse(const std::string& text) {
    testing::internal::CaptureStderr();
    author::VmParseOutcome outcome = author::vm_parse_text(text.c_str());
    Parsed parsed{outcome.status, vmtest::print_list(outcome.statements.get()), ""};
    parsed.messages = testing::internal::GetCapturedStderr();
    return parsed;
}

struct TreeCase {
    const char* text;
    const char* tree;
};

void PrintTo(const TreeCase& c, std::ostream* out) { *out << c.text; }

class ParsesTo : public testing::TestWithParam<TreeCase> {};

TEST_P(ParsesTo, Tree) {
    Parsed parsed = parse(GetParam().text);
    ASSERT_EQ(parsed.status, VmParseStatus::kParsed) << GetParam().text << "\n" << parsed.messages;
    EXPECT_EQ(parsed.tree, GetParam().tree) << GetParam().text;
    EXPECT_EQ(parsed.messages, "");
}

INSTANTIATE_TEST_SUITE_P(Expressions, ParsesTo, testing::Values(
    TreeCase{"g1 = 1 + 2 * 3;", "SET(g1, ADD(1, MUL(2, 3)))"},
    TreeCase{"g1 = 1 - 2 - 3;", "SET(g1, SUB(1, 2, 3))"},
    TreeCase{"g1 = 1 - (2 - 3);", "SET(g1, SUB(1, SUB(2, 3)))"},
    TreeCase{"g1 = (1 + 2) * 3;", "SET(g1, MUL(ADD(1, 2), 3))"},
    TreeCase{"g1 = 1 | 2 & 3;", "SET(g1, OR(1, AND(2, 3)))"},
    TreeCase{"g1 = 1 ^ 2 | 3;", "SET(g1, OR(XOR(1, 2), 3))"},
    TreeCase{"g1 = 1 xor 2 or 3 and 4;", "SET(g1, OR(XOR(1, 2), AND(3, 4)))"},
    TreeCase{"g1 = 7 % 4 / 2;", "SET(g1, DIV(MOD(7, 4), 2))"},
    TreeCase{"g1 += 2 * g3;", "SET(g1, ADD(g1, MUL(2, g3)))"},
    TreeCase{"g1 -= 2 - 3;", "SET(g1, SUB(g1, SUB(2, 3)))"},
    TreeCase{"g5 ^= s7;", "SET(g5, XOR(g5, s7))"},
    TreeCase{"audio = 2; subtitle = 65; angle = g2; button = 1024;",
             "SET(s1, 2); SET(s2, 65); SET(s3, g2); SET(s8, 1024)"},
    TreeCase{"g007 = s23 + g12 + s0;", "SET(g7, ADD(s23, g12, s0))"},
    TreeCase{"g1 = 2147483647;", "SET(g1, 2147483647)"}));

INSTANTIATE_TEST_SUITE_P(Conditions, ParsesTo, testing::Values(
    TreeCase{"if (g1 == 1 || g2 == 2 && g3 == 3) exit;",
             "IF(LOR(EQ(g1, 1), LAND(EQ(g2, 2), EQ(g3, 3))), {EXIT})"},
    TreeCase{"if (!g1 == 1) exit;", "IF(NOT(EQ(g1, 1)), {EXIT})"},
    TreeCase{"if (not g1 == 1 and g2 == 2) exit;", "IF(LAND(NOT(EQ(g1, 1)), EQ(g2, 2)), {EXIT})"},
    // After a comparison, | and ^ extend its right operand while the words and/or join conditions.
    TreeCase{"if (g1 == 1 | 2) exit;", "IF(EQ(g1, OR(1, 2)), {EXIT})"},
    TreeCase{"if (g1 == 1 ^ 2) exit;", "IF(EQ(g1, XOR(1, 2)), {EXIT})"},
    TreeCase{"if (g1 == 1 & 2 && g2 | 1 == 3) exit;", "IF(LAND(EQ(g1, AND(1, 2)), EQ(OR(g2, 1), 3)), {EXIT})"},
    TreeCase{"if (g1 == 1 or g2 == 2) exit;", "IF(LOR(EQ(g1, 1), EQ(g2, 2)), {EXIT})"},
    TreeCase{"if (g1 and 2 == 2) exit;", "IF(EQ(AND(g1, 2), 2), {EXIT})"},
    TreeCase{"if (g1 eq 1 && g2 ne 2 && g3 ge 3 && g4 gt 4 && g5 le 5 && g6 lt 6) exit;",
             "IF(LAND(EQ(g1, 1), NE(g2, 2), GE(g3, 3), GT(g4, 4), LE(g5, 5), LT(g6, 6)), {EXIT})"},
    TreeCase{"if (g1 != 1 && (g2 >= 2 || g3 > 3) && g4 <= 4 && g5 < 5) exit;",
             "IF(LAND(NE(g1, 1), LOR(GE(g2, 2), GT(g3, 3)), LE(g4, 4), LT(g5, 5)), {EXIT})"},
    TreeCase{"if ((g1 + 1) * 2 == (g2)) exit;", "IF(EQ(MUL(ADD(g1, 1), 2), g2), {EXIT})"},
    TreeCase{"if (5 >= g1) exit;", "IF(GE(5, g1), {EXIT})"}));

INSTANTIATE_TEST_SUITE_P(Statements, ParsesTo, testing::Values(
    TreeCase{"if (g1 == 1) if (g2 == 2) exit; else resume;",
             "IF(EQ(g1, 1), {IF(EQ(g2, 2), {EXIT}, {RESUME})})"},
    TreeCase{"if (g1 == 1) { g2 = 1; g3 = 2; } else { exit; } resume;",
             "IF(EQ(g1, 1), {SET(g2, 1); SET(g3, 2)}, {EXIT}); RESUME"},
    TreeCase{"g1 = 3; { g1 = 4; g2 = 5; } g3 = 6;", "SET(g1, 3); SET(g1, 4); SET(g2, 5); SET(g3, 6)"},
    TreeCase{"{{exit;}} {resume;}", "EXIT; RESUME"},
    TreeCase{"jump title 3 chapter 2;", "JUMP(0, 131, 0x2)"},
    TreeCase{"if(g1==1)jump vmgm menu;", "IF(EQ(g1, 1), {JUMP(1, 120, 0x0)})"},
    TreeCase{"jump vmgm fpc;", "JUMP(1, 121, 0x0)"},
    TreeCase{"jump titleset 2 menu entry audio;", "JUMP(3, 125, 0x0)"},
    TreeCase{"jump menu 7;", "JUMP(0, 7, 0x0)"},
    TreeCase{"jump chapter 4;", "JUMP(0, 0, 0x4)"},
    TreeCase{"jump program 3;", "JUMP(0, 0, 0x10003)"},
    TreeCase{"jump cell 3;", "JUMP(0, 0, 0x20003)"},
    TreeCase{"jump;", "JUMP(0, 0, 0x0)"},
    TreeCase{"call menu entry root resume 3;", "CALL(0, 123, 0x0, 3)"},
    TreeCase{"call vmgm menu entry title;", "CALL(1, 122, 0x0, 0)"},
    TreeCase{"call menu entry subtitle; call menu entry angle; call menu entry ptt;",
             "CALL(0, 124, 0x0, 0); CALL(0, 126, 0x0, 0); CALL(0, 127, 0x0, 0)"},
    TreeCase{"\t exit ;\n", "EXIT"}));

struct FailureCase {
    const char* text;
    const char* message;  // printed before the parse fails; empty when only the parse fails
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << testing::PrintToString(std::string(c.text)); }

class FailsToParse : public testing::TestWithParam<FailureCase> {};

TEST_P(FailsToParse, WithItsMessage) {
    Parsed parsed = parse(GetParam().text);
    EXPECT_EQ(parsed.status, VmParseStatus::kSyntaxError) << GetParam().text;
    EXPECT_EQ(parsed.tree, "");
    EXPECT_EQ(parsed.messages, GetParam().message) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Language, FailsToParse, testing::Values(
    FailureCase{"", ""}, FailureCase{"  \n ", ""}, FailureCase{";", ""}, FailureCase{"{}", ""},
    FailureCase{"exit", ""},
    FailureCase{"g1 = -1;", ""},          // no unary minus
    FailureCase{"g1 = 0x10;", ""},        // 0, then the identifier x10
    FailureCase{"g1 = 1.5;", ""},
    FailureCase{"if (g1) exit;", ""},     // an expression is not a condition
    FailureCase{"if (g1 == 1 == 2) exit;", ""},
    FailureCase{"if (g1 == g2 and 3) exit;", ""},
    FailureCase{"g1 = g2 == 3;", ""},
    FailureCase{"jump title 1 menu;", ""},
    FailureCase{"Jump title 1;", ""},     // keywords are lower case
    FailureCase{"g1x = 1;", ""},
    FailureCase{"g = 1;", ""}, FailureCase{"s = 1;", ""},
    FailureCase{"exit;\r\n", ""},          // Windows line ends
    FailureCase{"exit; # comment", ""},
    FailureCase{"g1 = 1; else exit;", ""},
    FailureCase{"exit; \xe9", ""}));

INSTANTIATE_TEST_SUITE_P(Ranges, FailsToParse, testing::Values(
    FailureCase{"g13 = 1;", "ERR:  Can only access g0-g12 (g13)\n"},
    FailureCase{"g1 = s24;", "ERR:  Can only access s0-s23 (s24)\n"},
    FailureCase{"g99999999999 = 1;", "ERR:  Can only access g0-g12 (g99999999999)\n"},
    FailureCase{"g1 = 2147483648;", "ERR:  Number too large (2147483648)\n"},
    FailureCase{"jump title 0;", "ERR:  Title 0 is out of range (1 to 99)\n"},
    FailureCase{"jump title 128;", "ERR:  Title 128 is out of range (1 to 99)\n"},
    FailureCase{"jump menu 120;", "ERR:  Menu 120 is out of range (1 to 119)\n"},
    FailureCase{"jump menu 0;", "ERR:  Menu 0 is out of range (1 to 119)\n"},
    FailureCase{"jump titleset 0 menu;", "ERR:  Titleset 0 is out of range (1 to 99)\n"},
    FailureCase{"jump title 1 chapter 256;", "ERR:  Chapter 256 is out of range (1 to 255)\n"},
    FailureCase{"jump cell 65539;", "ERR:  Cell 65539 is out of range (1 to 255)\n"},
    FailureCase{"jump program 0;", "ERR:  Program 0 is out of range (1 to 255)\n"},
    FailureCase{"call menu entry root resume 256;", "ERR:  Resume cell 256 is out of range (1 to 255)\n"}));

TEST(VmParse, NestingGrowsTheStackUpToItsLimit) {
    auto nested = [](int depth) {
        return "g1 = " + std::string(depth, '(') + "1" + std::string(depth, ')') + ";";
    };
    EXPECT_EQ(parse(nested(1000)).tree, "SET(g1, 1)");
    EXPECT_EQ(parse(nested(20000)).status, VmParseStatus::kStackOverflow);
}

TEST(VmParse, FailureIsFatalWithTheCallersText) {
    testing::internal::CaptureStderr();
    EXPECT_THROW(author::vm_parse("g13 = 1;"), author::FatalError);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERR:  Can only access g0-g12 (g13)\nERR:  Parser failed on code 'g13 = 1;'.\n");
    // The scanner starts afresh for the next text.
    EXPECT_EQ(vmtest::print_list(author::vm_parse("g12 = 1;").get()), "SET(g12, 1)");
}

TEST(VmParse, NullTextIsAnEmptyCommandList) {
    author::VmCommands commands = author::vm_parse(nullptr);
    ASSERT_TRUE(commands);
    EXPECT_EQ(commands->op, author::VMOP_NOP);
    EXPECT_FALSE(commands->next);
}

TEST(VmParse, LongChainOfOneOperatorIsOneNode) {
    std::string text = "g1 = 0";
    for (int i = 0; i < 100000; ++i) text += " + 1";
    author::VmParseOutcome outcome = author::vm_parse_text((text + ";").c_str());
    ASSERT_EQ(outcome.status, VmParseStatus::kParsed);
    const author::VmStatement* sum = outcome.statements->operands.get();
    ASSERT_EQ(sum->op, author::VMOP_ADD);
    int operands = 0;
    for (const author::VmStatement* o = sum->operands.get(); o; o = o->next.get()) ++operands;
    EXPECT_EQ(operands, 100001);
}

TEST(VmParse, LongStatementListReleasesWithoutRecursion) {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "exit;";
    Parsed parsed = parse(text);
    EXPECT_EQ(parsed.status, VmParseStatus::kParsed);
}

}  // namespace
