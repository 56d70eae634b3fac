// Compiled commands do what their source says: each program runs on the test machine over
// random register values and is compared with a direct evaluation of its parsed text.
#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <random>
#include <string>

#include "author/vm/vm_parse.h"
#include "vm_interpreter.h"
#include "vm_test_support.h"
#include "vm_tree_printer.h"

namespace {

using author::VmStatement;
using vmtest::Registers;

// ---- direct evaluation of the tree --------------------------------------------------------

class Evaluator {
public:
    explicit Evaluator(Registers& registers) : r_(registers) {}

    // Runs the list; returns the action that ended it, or nothing when it ran to its end.
    std::optional<std::string> run(const VmStatement* list) {
        for (const VmStatement* node = list; node; node = node->next.get()) {
            if (std::optional<std::string> action = statement(node)) return action;
        }
        return std::nullopt;
    }

private:
    std::optional<std::string> statement(const VmStatement* node) {
        using namespace author;
        switch (node->op) {
        case VMOP_NOP: return std::nullopt;
        case VMOP_EXIT: return "Exit";
        case VMOP_RESUME: return "Resume";
        case VMOP_SET: assign(node->num1, value(node->operands.get())); return std::nullopt;
        case VMOP_JUMP: {
            const char* kinds[] = {"LinkPTTN", "LinkPGN", "LinkCN"};
            return std::string(kinds[node->num3 >> 16]) + " " + std::to_string(node->num3 & 0xffff);
        }
        case VMOP_IF: {
            const VmStatement* condition = node->operands.get();
            const VmStatement* holder = condition->next.get();
            return holds(condition) ? run(holder->operands.get()) : run(holder->next.get());
        }
        default: ADD_FAILURE() << "statement kind " << node->op; return "?";
        }
    }

    void assign(int32_t reg, uint16_t v) {
        if (reg < author::kSystemRegisterBase) r_.gprm[reg] = v;
        else r_.sprm[reg - author::kSystemRegisterBase] = v;
    }

    uint16_t read(int32_t reg) const {
        return reg < author::kSystemRegisterBase ? r_.gprm[reg] : r_.sprm[reg - author::kSystemRegisterBase];
    }

    static int set_operation(int32_t op) {
        using namespace author;
        switch (op) {
        case VMOP_ADD: return 3;
        case VMOP_SUB: return 4;
        case VMOP_MUL: return 5;
        case VMOP_DIV: return 6;
        case VMOP_MOD: return 7;
        case VMOP_AND: return 9;
        case VMOP_OR: return 10;
        default: return 11;
        }
    }

    uint16_t value(const VmStatement* node) const {
        if (node->op == author::VMOP_VALUE)
            return author::value_is_register(node->num1) ? read(author::value_register(node->num1))
                                                         : uint16_t(node->num1);
        const VmStatement* operand = node->operands.get();
        uint16_t result = value(operand);
        for (operand = operand->next.get(); operand; operand = operand->next.get())
            result = vmtest::apply_set_operation(set_operation(node->op), result, value(operand));
        return result;
    }

    bool holds(const VmStatement* node) const {
        using namespace author;
        const VmStatement* operand = node->operands.get();
        switch (node->op) {
        case VMOP_NOT: return !holds(operand);
        case VMOP_LAND:
            for (; operand; operand = operand->next.get())
                if (!holds(operand)) return false;
            return true;
        case VMOP_LOR:
            for (; operand; operand = operand->next.get())
                if (holds(operand)) return true;
            return false;
        default:
            return vmtest::apply_comparison(node->op - VMOP_EQ + 2, value(operand), value(operand->next.get()));
        }
    }

    Registers& r_;
};

// ---- random programs ----------------------------------------------------------------------

class ProgramMaker {
public:
    explicit ProgramMaker(uint32_t seed) : random_(seed) {}

    std::string program() {
        std::string text;
        const int count = pick(1, 4);
        for (int i = 0; i < count; ++i) text += statement(2);
        return text;
    }

    uint16_t register_value() {
        static const uint16_t common[] = {0, 1, 2, 3, 5, 7, 100, 1024, 65535};
        return chance(0.6) ? common[pick(0, 8)] : uint16_t(pick(0, 65535));
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool chance(double p) { return std::bernoulli_distribution(p)(random_); }
    template <size_t N>
    const char* one_of(const char* const (&choices)[N]) { return choices[pick(0, int(N) - 1)]; }

    std::string user_register() { return "g" + std::to_string(pick(0, 12)); }

    // A system register as a later operand is read through a scratch register, so it only
    // comes where one is left.
    std::string value(bool system_allowed) {
        static const char* const system[] = {"s1", "s2", "s3", "s8", "s7", "audio", "button"};
        static const char* const constants[] = {"0", "1", "2", "3", "5", "7", "100", "1024", "65535"};
        const int kind = pick(0, 9);
        if (kind < 5 || (kind < 7 && !system_allowed)) return user_register();
        if (kind < 7) return one_of(system);
        if (kind < 9) return one_of(constants);
        return std::to_string(pick(0, 65535));
    }

    // `depth` compound levels at most: each one takes a scratch register when compiled, so a
    // chain keeps one operator and deeper operands come in parentheses.
    std::string expression(int depth) {
        if (depth == 0 || chance(0.5)) return value(depth > 0);
        static const char* const operators[] = {" + ", " - ", " * ", " / ", " % ", " & ", " | ", " ^ "};
        const std::string op = one_of(operators);
        std::string text = operand(depth - 1);
        const int count = pick(1, 2);
        for (int i = 0; i < count; ++i) text += op + operand(depth - 1);
        return text;
    }

    std::string operand(int depth) {
        std::string text = expression(depth);
        return text.find(' ') == std::string::npos ? text : "(" + text + ")";
    }

    std::string condition(int depth) {
        static const char* const comparisons[] = {" == ", " != ", " >= ", " > ", " <= ", " < ", " eq ", " lt "};
        const int kind = depth == 0 ? 0 : pick(0, 5);
        switch (kind) {
        case 1: return "!(" + condition(depth - 1) + ")";
        case 2: return "(" + condition(depth - 1) + " && " + condition(depth - 1) + ")";
        case 3: return "(" + condition(depth - 1) + " || " + condition(depth - 1) + ")";
        case 4: return condition(depth - 1) + " and " + condition(depth - 1);
        case 5: return "not " + condition(0) + " or " + condition(depth - 1);
        default: return operand(2) + one_of(comparisons) + operand(2);
        }
    }

    // A constant stream number must fit its 7-bit field.
    std::string stream_expression() {
        std::string text = expression(2);
        return std::isdigit(static_cast<unsigned char>(text[0])) ? std::to_string(pick(0, 127)) : text;
    }

    std::string statement(int depth) {
        static const char* const assignments[] = {" = ", " += ", " -= ", " *= ", " /= ", " %= ", " &= ", " |= ", " ^= "};
        static const char* const streams[] = {"audio", "subtitle", "angle"};
        static const char* const links[] = {"jump cell 1;", "jump cell 4;", "jump program 2;",
                                            "jump chapter 3;", "exit;", "resume;"};
        const int kind = pick(0, depth == 0 ? 9 : 13);
        if (kind < 5) return user_register() + one_of(assignments) + expression(2) + "; ";
        if (kind == 5) return std::string(one_of(streams)) + " = " + std::to_string(pick(0, 127)) + "; ";
        if (kind == 6) return std::string(one_of(streams)) + " = " + stream_expression() + "; ";
        if (kind == 7) return "button = " + std::to_string(1024 * pick(1, 36)) + "; ";
        if (kind == 8) return "button = " + expression(2) + "; ";
        if (kind == 9) return std::string(one_of(links)) + " ";
        std::string text = "if (" + condition(pick(0, 2)) + ") ";
        if (kind == 10) return text + statement(depth - 1);
        if (kind == 11) return text + "{ " + statement(depth - 1) + statement(depth - 1) + "} ";
        return text + statement(depth - 1) + "else " + statement(depth - 1);
    }

    std::mt19937 random_;
};

// ---- the test machine itself, on hand-written commands ---------------------------------------

TEST(VmMachine, RegisterArithmeticSaturatesAndDivisionByZeroGivesAllOnes) {
    struct Case { int operation; uint16_t target, source, result; };
    const Case cases[] = {
        {1, 9, 4, 4},           {3, 65535, 1, 65535}, {3, 2, 3, 5},      {4, 1, 2, 0},
        {4, 5, 2, 3},           {5, 300, 300, 65535}, {5, 3, 4, 12},     {6, 7, 0, 65535},
        {6, 7, 2, 3},           {7, 7, 0, 65535},     {7, 7, 2, 1},      {9, 12, 10, 8},
        {10, 12, 10, 14},       {11, 12, 10, 6},
    };
    for (const Case& c : cases)
        EXPECT_EQ(vmtest::apply_set_operation(c.operation, c.target, c.source), c.result)
            << c.operation << " " << c.target << " " << c.source;
}

TEST(VmMachine, RunsCommandsAsTheMachineDefinesThem) {
    const std::vector<uint8_t> code = {
        0x71, 0x00, 0x00, 0x01, 0x00, 0x05, 0x00, 0x00,  // 1: g1 = 5
        0x71, 0xA0, 0x01, 0x02, 0x00, 0x03, 0x00, 0x05,  // 2: if (g1 == 5) g2 = 3
        0x71, 0xB0, 0x01, 0x03, 0x00, 0x03, 0x00, 0x05,  // 3: if (g1 != 5) g3 = 3
        0x41, 0x00, 0x00, 0x82, 0x00, 0x00, 0x00, 0x00,  // 4: audio = g2
        0x00, 0xA1, 0x00, 0x01, 0x00, 0x05, 0x00, 0x07,  // 5: if (g1 == 5) goto 7
        0x30, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 6: exit
        0x63, 0x00, 0x00, 0x04, 0x00, 0x81, 0x00, 0x00,  // 7: g4 += audio
        0x20, 0x27, 0x00, 0x00, 0x00, 0x00, 0x08, 0x03,  // 8: if (g0 == g0) link cell 3, button 2
    };
    Registers r;
    r.gprm[3] = 9;
    r.gprm[4] = 10;
    const vmtest::RunResult result = vmtest::run_commands(code, r);
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.action, "LinkCN 3");
    EXPECT_EQ(r.gprm[1], 5);
    EXPECT_EQ(r.gprm[2], 3);
    EXPECT_EQ(r.gprm[3], 9);
    EXPECT_EQ(r.sprm[1], 3);
    EXPECT_EQ(r.gprm[4], 13);
    EXPECT_EQ(r.sprm[8], 2048);
}

// Runs `source` compiled and evaluated over `rounds` register sets; reports the first mismatch.
// The code is placed as line `first_line` of its command group.
void expect_same_behaviour(const std::string& source, ProgramMaker& maker, int rounds, int first_line = 1) {
    vmtest::DiscModel disc;
    author::VmCommands commands;
    std::optional<std::vector<uint8_t>> code;
    testing::internal::CaptureStderr();
    try {
        commands = author::vm_parse(source.c_str());
        code = author::vm_compile_code(first_line, disc.titleset, 0, commands.get(), author::kVmTitles);
    } catch (const author::FatalError&) {
    }
    const std::string messages = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(code) << source << "\n" << messages;

    for (int round = 0; round < rounds; ++round) {
        Registers start;
        for (auto& g : start.gprm) g = maker.register_value();
        for (auto& s : start.sprm) s = maker.register_value();

        Registers compiled = start;
        vmtest::RunResult run = vmtest::run_commands(*code, compiled, first_line);
        ASSERT_EQ(run.error, "") << source;

        Registers direct = start;
        const std::string action = Evaluator(direct).run(commands.get()).value_or("");

        // The compiler's scratch registers g13..g15 are its own business.
        for (int g = author::kScratchFirst; g <= author::kScratchLast; ++g) compiled.gprm[g] = direct.gprm[g];
        ASSERT_EQ(run.action, action) << source << "\n" << vmtest::hex_bytes(*code);
        ASSERT_TRUE(compiled == direct) << source << "\n" << vmtest::hex_bytes(*code);
    }
}

TEST(VmBehaviour, ProgramsThatOnceLostAConditionBehaveAsWritten) {
    ProgramMaker maker(7);
    for (const char* source : {
             "if (g1 == 1 && g2 == 2) g3 = 1;",
             "if (g1 == 1) if (g2 == 2) g3 = 1;",
             "button = 1024; if (g1 == 1) jump cell 2;",
             "if (g1 == 1) { if (g2 == 2) audio = 3; } else subtitle = 4;",
             "if (g1 == 1 || g2 == 2 && g3 == 3) g4 = 1; else g4 = 2;",
             "if (!(g1 == 1 || g2 == 2)) exit; resume;",
             "if (g1 == 1) button = 2048; jump cell 3;",
             "if (g2 > 3) jump cell 4; button = 3072; jump cell 1;",
         }) {
        SCOPED_TRACE(source);
        expect_same_behaviour(source, maker, 200);
    }
}

TEST(VmBehaviour, ArithmeticEdgesBehaveAsWritten) {
    ProgramMaker maker(11);
    for (const char* source : {
             "g1 = g1 - g2 - g1;", "g1 = 3 + s1 + g1;", "g2 = g3 - s1 * g2;", "g1 = g2 / g3 % g4;",
             "g1 = g2 - (g3 - (g4 - (g5 - g6)));", "g1 *= g1 + g1;", "g1 = (g1 + 1) * (g1 - 1);",
             "audio = g1 + 1; subtitle = g2; angle = 2;", "button = g1 * 1024;",
             "if (1 == 1) g1 = 2;", "if (g1 + 1 >= g2 * 2) g3 = g1 ^ g2;",
             "if ((g1 & 1) == (g2 | 1) or g3 < 4) g4 = 1;",
         }) {
        SCOPED_TRACE(source);
        expect_same_behaviour(source, maker, 200);
    }
}

TEST(VmBehaviour, RandomProgramsBehaveAsWritten) {
    for (uint32_t seed = 1; seed <= 1500; ++seed) {
        ProgramMaker maker(seed);
        const std::string source = maker.program();
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + source);
        expect_same_behaviour(source, maker, 20, 1 + static_cast<int>(seed % 17));
        if (HasFatalFailure()) return;
    }
}

}  // namespace
