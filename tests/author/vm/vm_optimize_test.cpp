// The peephole optimiser on hand-written instruction sequences.
#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>

#include "author/vm/vm_instruction.h"
#include "vm_test_support.h"

namespace {

// "00 B1 00 01 00 01 00 03 | 71 ..." to instructions; a goto's line is taken from its byte 7.
author::Code parse_code(const std::string& text) {
    author::Code code;
    std::istringstream in(text);
    std::string token;
    author::Instruction instruction;
    int byte = 0;
    while (in >> token) {
        if (token == "|") continue;
        instruction.bytes[byte++] = static_cast<uint8_t>(std::stoul(token, nullptr, 16));
        if (byte < author::kInstructionBytes) continue;
        if (instruction.is_goto()) instruction.line = instruction.bytes[7];
        code.push_back(instruction);
        instruction = author::Instruction{};
        byte = 0;
    }
    return code;
}

std::string optimized(const std::string& text) {
    author::Code code = parse_code(text);
    for (int pass = 0; pass < 100 && author::optimize_pass(code, 1); ++pass) {}
    std::vector<uint8_t> bytes;
    for (author::Instruction instruction : code) {
        if (instruction.is_goto()) instruction.bytes[7] = static_cast<uint8_t>(instruction.line);
        bytes.insert(bytes.end(), instruction.bytes.begin(), instruction.bytes.end());
    }
    return vmtest::hex_bytes(bytes);
}

struct OptimizeCase {
    const char* what;
    const char* code;
    const char* expected;
};

void PrintTo(const OptimizeCase& c, std::ostream* out) { *out << c.what; }

class Optimizes : public testing::TestWithParam<OptimizeCase> {};

TEST_P(Optimizes, To) { EXPECT_EQ(optimized(GetParam().code), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Rules, Optimizes, testing::Values(
    OptimizeCase{"condition into a register set",
                 "00 B1 00 01 00 01 00 03 | 71 00 00 02 00 03 00 00 | 00 00 00 00 00 00 00 00",
                 "71 A0 01 02 00 03 00 01"},
    OptimizeCase{"register comparison into a jump",
                 "00 31 00 01 00 02 00 03 | 30 01 00 00 00 00 00 00 | 00 00 00 00 00 00 00 00",
                 "30 21 00 00 00 00 01 02"},
    OptimizeCase{"constant comparison stays out of a jump",
                 "00 B1 00 01 00 01 00 03 | 30 01 00 00 00 00 00 00 | 00 00 00 00 00 00 00 00",
                 "00 B1 00 01 00 01 00 03 | 30 01 00 00 00 00 00 00 | 00 00 00 00 00 00 00 00"},
    OptimizeCase{"condition into a link",
                 "00 B1 00 01 00 01 00 03 | 20 07 00 00 00 00 00 02 | 00 00 00 00 00 00 00 00",
                 "20 A7 00 01 00 01 00 02"},
    OptimizeCase{"no second condition on a conditional instruction",
                 "00 B1 00 01 00 01 00 03 | 71 A0 02 03 00 01 00 02 | 00 00 00 00 00 00 00 00",
                 "00 B1 00 01 00 01 00 03 | 71 A0 02 03 00 01 00 02 | 00 00 00 00 00 00 00 00"},
    OptimizeCase{"no merge into an instruction that a goto lands on",
                 "00 B1 00 01 00 01 00 03 | 71 00 00 02 00 03 00 00 | 00 01 00 00 00 00 00 02",
                 "00 B1 00 01 00 01 00 03 | 71 00 00 02 00 03 00 00 | 00 01 00 00 00 00 00 02"},
    OptimizeCase{"unreachable code after a goto goes, later gotos follow",
                 "00 01 00 00 00 00 00 04 | 00 00 00 00 00 00 00 00 | 71 00 00 01 00 01 00 00 | "
                 "71 00 00 02 00 02 00 00",
                 "00 01 00 00 00 00 00 02 | 71 00 00 02 00 02 00 00"},
    OptimizeCase{"a landing no-op at the end stays",
                 "00 B1 00 01 00 01 00 03 | 30 01 00 00 00 00 00 00 | 00 00 00 00 00 00 00 00",
                 "00 B1 00 01 00 01 00 03 | 30 01 00 00 00 00 00 00 | 00 00 00 00 00 00 00 00"},
    OptimizeCase{"stream selections of one form merge",
                 "51 00 00 82 00 00 00 00 | 51 00 00 00 C1 00 00 00 | 51 00 00 83 00 00 00 00",
                 "51 00 00 83 C1 00 00 00"},
    OptimizeCase{"stream selections of two forms stay apart",
                 "51 00 00 82 00 00 00 00 | 41 00 00 00 81 00 00 00",
                 "51 00 00 82 00 00 00 00 | 41 00 00 00 81 00 00 00"},
    OptimizeCase{"button into a cell link", "56 00 00 00 08 00 00 00 | 20 07 00 00 00 00 00 03",
                 "20 07 00 00 00 00 08 03"},
    OptimizeCase{"button into a resume", "56 00 00 00 04 00 00 00 | 20 01 00 00 00 00 00 10",
                 "20 01 00 00 00 00 04 10"},
    OptimizeCase{"a later button wins", "56 00 00 00 04 00 00 00 | 56 00 00 00 08 00 00 00 | 20 06 00 00 00 00 00 01",
                 "20 06 00 00 00 00 08 01"},
    OptimizeCase{"no button field in a PGC link", "56 00 00 00 08 00 00 00 | 20 04 00 00 00 00 00 03",
                 "56 00 00 00 08 00 00 00 | 20 04 00 00 00 00 00 03"},
    OptimizeCase{"no button into a conditional link",
                 "56 00 00 00 04 00 00 00 | 20 A7 00 01 00 01 00 02",
                 "56 00 00 00 04 00 00 00 | 20 A7 00 01 00 01 00 02"},
    OptimizeCase{"a value the button field cannot carry",
                 "56 00 00 00 04 01 00 00 | 20 07 00 00 00 00 00 03",
                 "56 00 00 00 04 01 00 00 | 20 07 00 00 00 00 00 03"}));

}  // namespace
