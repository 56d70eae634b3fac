// The syntax tree of the DVD virtual-machine command language.
//
// A parsed command text is a list of statements chained through `next`. Expressions and
// conditions hang below their statement through `operands`; a chain of one operator is a
// single node with every operand in source order (a - b - c is one subtraction of three
// operands, evaluated left to right).
#pragma once

#include <cstdint>
#include <memory>

namespace author {

// Node kinds; the values are part of the tree's meaning (the compiler tests ranges of them).
enum VmOp : int32_t {
    VMOP_NOP = 0,  // the empty command list
    VMOP_JUMP = 1,
    VMOP_CALL = 2,
    VMOP_EXIT = 3,
    VMOP_RESUME = 4,
    VMOP_SET = 5,
    VMOP_IF = 6,
    VMOP_ADD = 7,
    VMOP_SUB = 8,
    VMOP_MUL = 9,
    VMOP_DIV = 10,
    VMOP_MOD = 11,
    VMOP_AND = 12,
    VMOP_OR = 13,
    VMOP_XOR = 14,
    VMOP_VALUE = 15,
    VMOP_EQ = 16,
    VMOP_NE = 17,
    VMOP_GE = 18,
    VMOP_GT = 19,
    VMOP_LE = 20,
    VMOP_LT = 21,
    VMOP_LAND = 22,
    VMOP_LOR = 23,
    VMOP_NOT = 24,
};

// Register numbers as a set statement names them: gN is N, sN is 0x80 + N.
constexpr int32_t kSystemRegisterBase = 0x80;
constexpr int32_t kRegisterAudio = 0x81;
constexpr int32_t kRegisterSubtitle = 0x82;
constexpr int32_t kRegisterAngle = 0x83;
constexpr int32_t kRegisterButton = 0x88;
constexpr int32_t kUserGeneralRegisters = 13;  // g0..g12; g13..g15 are the compiler's
constexpr int32_t kSystemRegisters = 24;       // s0..s23

// A value node holds a constant as itself (0 or more) and a register as its number - 256, so
// a value is a register exactly when it is negative.
constexpr int32_t register_value(int32_t register_number) { return register_number - 256; }
constexpr bool value_is_register(int32_t value) { return value < 0; }
constexpr int32_t value_register(int32_t value) { return value + 256; }

// Jump and call domains (num1).
constexpr int32_t kDomainCurrent = 0;
constexpr int32_t kDomainManager = 1;
constexpr int32_t domain_of_titleset(int32_t titleset) { return titleset + 1; }

// Jump and call targets (num2): 1..119 a menu PGC number, then these, then 0x80 | title.
constexpr int32_t kTargetNone = 0;
constexpr int32_t kTargetMenu = 120;        // a plain `menu`
constexpr int32_t kTargetFirstPlay = 121;   // `fpc`
constexpr int32_t kTargetEntryBase = 120;   // `menu entry X` is 120 + the entry bit of X
constexpr int32_t kTargetTitleFlag = 0x80;
constexpr int32_t kMaxMenuPgcNumber = 119;
constexpr int32_t kMaxTitleNumber = 99;     // the disc format's limit on titles and titlesets
constexpr int32_t kMaxTitlesetNumber = 99;

// Chapter word (num3): the number in the low 16 bits, its kind in the high 16 bits.
constexpr int32_t kChapterWordChapter = 0;
constexpr int32_t kChapterWordProgram = 0x10000;
constexpr int32_t kChapterWordCell = 0x20000;

// One node. Children and followers are owned by the node that points at them.
struct VmStatement {
    int32_t op = VMOP_NOP;
    int32_t num1 = 0;
    int32_t num2 = 0;
    int32_t num3 = 0;
    int32_t num4 = 0;
    std::unique_ptr<VmStatement> operands;
    std::unique_ptr<VmStatement> next;
    // The end of the operand list, kept by vm_statement_join so that a long chain of one
    // operator grows in constant time per operand; null when unknown.
    VmStatement* last_operand = nullptr;

    VmStatement() = default;
    VmStatement(const VmStatement&) = delete;
    VmStatement& operator=(const VmStatement&) = delete;
    // Releases the `next` chain iteratively, so a long list cannot exhaust the stack.
    ~VmStatement();
};

// A new zero-filled node.
std::unique_ptr<VmStatement> vm_statement_create(int32_t op = VMOP_NOP);

// Joins two operands under an operator: when `left` already is a node of that kind, `right`
// becomes its last operand and `left` is returned; otherwise a new node of that kind gets the
// operands left, right.
std::unique_ptr<VmStatement> vm_statement_join(std::unique_ptr<VmStatement> left, int32_t op,
                                               std::unique_ptr<VmStatement> right);

// `register op= expression`: a set of the register from (register op expression).
std::unique_ptr<VmStatement> vm_make_op_set(int32_t op, int32_t register_number,
                                            std::unique_ptr<VmStatement> expression);

// A set of the register from the expression.
std::unique_ptr<VmStatement> vm_make_set(int32_t register_number,
                                         std::unique_ptr<VmStatement> expression);

// Appends `tail` to the end of the list that starts at `head` and returns the whole list.
std::unique_ptr<VmStatement> vm_statement_append(std::unique_ptr<VmStatement> head,
                                                 std::unique_ptr<VmStatement> tail);

// The last node of the list that starts at `node`.
VmStatement* vm_statement_last(VmStatement* node);

}  // namespace author
