#include "author/vm/vm_statement.h"

#include <utility>

namespace author {

VmStatement::~VmStatement() {
    std::unique_ptr<VmStatement> follower = std::move(next);
    while (follower) follower = std::move(follower->next);
}

std::unique_ptr<VmStatement> vm_statement_create(int32_t op) {
    auto node = std::make_unique<VmStatement>();
    node->op = op;
    return node;
}

VmStatement* vm_statement_last(VmStatement* node) {
    while (node->next) node = node->next.get();
    return node;
}

std::unique_ptr<VmStatement> vm_statement_append(std::unique_ptr<VmStatement> head,
                                                 std::unique_ptr<VmStatement> tail) {
    vm_statement_last(head.get())->next = std::move(tail);
    return head;
}

std::unique_ptr<VmStatement> vm_statement_join(std::unique_ptr<VmStatement> left, int32_t op,
                                               std::unique_ptr<VmStatement> right) {
    VmStatement* right_end = vm_statement_last(right.get());
    if (left->op == op) {
        VmStatement* tail = left->last_operand ? left->last_operand : vm_statement_last(left->operands.get());
        tail->next = std::move(right);
        left->last_operand = right_end;
        return left;
    }
    auto joined = vm_statement_create(op);
    left->next = std::move(right);
    joined->operands = std::move(left);
    joined->last_operand = right_end;
    return joined;
}

std::unique_ptr<VmStatement> vm_make_set(int32_t register_number,
                                         std::unique_ptr<VmStatement> expression) {
    auto set = vm_statement_create(VMOP_SET);
    set->num1 = register_number;
    set->operands = std::move(expression);
    return set;
}

std::unique_ptr<VmStatement> vm_make_op_set(int32_t op, int32_t register_number,
                                            std::unique_ptr<VmStatement> expression) {
    auto current = vm_statement_create(VMOP_VALUE);
    current->num1 = register_value(register_number);
    return vm_make_set(register_number, vm_statement_join(std::move(current), op, std::move(expression)));
}

}  // namespace author
