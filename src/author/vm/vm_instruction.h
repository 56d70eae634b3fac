// The 8-byte instructions of the DVD virtual machine, as the command compiler builds them and
// its optimiser rewrites them.
//
// Byte 0's high nibble is the instruction's class: 0 goto and no-op, 2 link within the domain,
// 3 jump and call across domains, 4/5 system-register sets (5 with a constant), 6/7 general
// register sets (7 with a constant). Bits 6-4 of byte 1 hold a comparison that makes the
// instruction conditional; where its operands sit depends on the class.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace author {

constexpr int kInstructionBytes = 8;
constexpr int kMaxGotoLine = 255;  // a goto's line is one byte

// Register bytes: gN is N (0..15), sN is 0x80 + N.
constexpr int kScratchFirst = 13;  // g13..g15 belong to the compiler
constexpr int kScratchLast = 15;

// Set operations (low nibble of byte 0 of a register set).
enum SetOperation : uint8_t {
    kSetAssign = 1,
    kSetAdd = 3,
    kSetSub = 4,
    kSetMul = 5,
    kSetDiv = 6,
    kSetMod = 7,
    kSetAnd = 9,
    kSetOr = 10,
    kSetXor = 11,
};

// Comparisons (bits 6-4 of byte 1).
enum Comparison : uint8_t {
    kCmpEq = 2,
    kCmpNe = 3,
    kCmpGe = 4,
    kCmpGt = 5,
    kCmpLe = 6,
    kCmpLt = 7,
};
constexpr uint8_t kCompareConstantFlag = 0x80;  // byte 1: the second operand is a constant
constexpr uint8_t kCompareMask = 0x70;

// The comparison that holds exactly when `cmp` does not.
Comparison negate_comparison(Comparison cmp);
// The comparison with its operands exchanged (a >= b is b <= a).
Comparison mirror_comparison(Comparison cmp);

// One instruction. For gotos the line lives in `line` while code is compiled and optimised
// (lines move as instructions are deleted, and may transiently exceed a byte); it is written
// into byte 7 when the code is finished.
struct Instruction {
    std::array<uint8_t, kInstructionBytes> bytes{};
    int line = 0;

    int instruction_class() const { return bytes[0] >> 4; }
    bool is_noop() const;
    bool is_goto() const { return bytes[0] == 0 && (bytes[1] & 0x0f) == 1; }
    bool is_conditional() const { return (bytes[1] & kCompareMask) != 0; }
};

using Code = std::vector<Instruction>;

Instruction make_instruction(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4,
                             uint8_t b5, uint8_t b6, uint8_t b7);
Instruction make_goto(int line);
// if (register `r1` CMP `r2`) goto line; `r2` is a constant or a register byte.
Instruction make_conditional_goto(Comparison cmp, uint8_t r1, bool r2_is_constant, uint16_t r2,
                                  int line);
Instruction make_set_constant(SetOperation op, uint8_t target, uint16_t value);
Instruction make_set_register(SetOperation op, uint8_t target, uint8_t source);

// One peephole pass over the code: applies the first rule that fits and returns true, or
// returns false when nothing is left to improve. Goto lines count from `first_line`.
bool optimize_pass(Code& code, int first_line);

}  // namespace author
