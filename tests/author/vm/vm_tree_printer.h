// A compact text form of a parsed command tree, so tests can state a whole tree in one line:
// SET(g1, ADD(1, MUL(2, 3))), IF(EQ(g1, 1), {EXIT}, {RESUME}), JUMP(0, 131, 0x2).
#pragma once

#include <cstdio>
#include <string>

#include "author/vm/vm_statement.h"

namespace vmtest {

inline std::string print_register(int32_t number) {
    if (number >= author::kSystemRegisterBase)
        return "s" + std::to_string(number - author::kSystemRegisterBase);
    return "g" + std::to_string(number);
}

inline const char* operator_name(int32_t op) {
    static const char* const names[] = {"NOP", "JUMP", "CALL", "EXIT", "RESUME", "SET", "IF",
                                        "ADD", "SUB", "MUL", "DIV", "MOD", "AND", "OR", "XOR",
                                        "VALUE", "EQ", "NE", "GE", "GT", "LE", "LT", "LAND",
                                        "LOR", "NOT"};
    return op >= 0 && op <= author::VMOP_NOT ? names[op] : "?";
}

inline std::string print_list(const author::VmStatement* node);

inline std::string hex(int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

inline std::string print_node(const author::VmStatement* node) {
    using namespace author;
    switch (node->op) {
    case VMOP_VALUE:
        return value_is_register(node->num1) ? print_register(value_register(node->num1))
                                             : std::to_string(node->num1);
    case VMOP_SET:
        return "SET(" + print_register(node->num1) + ", " + print_node(node->operands.get()) + ")";
    case VMOP_JUMP:
        return "JUMP(" + std::to_string(node->num1) + ", " + std::to_string(node->num2) + ", " +
               hex(node->num3) + ")";
    case VMOP_CALL:
        return "CALL(" + std::to_string(node->num1) + ", " + std::to_string(node->num2) + ", " +
               hex(node->num3) + ", " + std::to_string(node->num4) + ")";
    case VMOP_IF: {
        const VmStatement* condition = node->operands.get();
        const VmStatement* holder = condition->next.get();
        std::string text = "IF(" + print_node(condition) + ", {" + print_list(holder->operands.get()) + "}";
        if (holder->next) text += ", {" + print_list(holder->next.get()) + "}";
        return text + ")";
    }
    default:
        break;
    }
    std::string text = operator_name(node->op);
    if (!node->operands) return text;
    text += "(";
    for (const VmStatement* operand = node->operands.get(); operand; operand = operand->next.get()) {
        text += print_node(operand);
        if (operand->next) text += ", ";
    }
    return text + ")";
}

inline std::string print_list(const author::VmStatement* node) {
    std::string text;
    for (; node; node = node->next.get()) {
        text += print_node(node);
        if (node->next) text += "; ";
    }
    return text;
}

}  // namespace vmtest
