#include "author/vm/vm_compile.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "author/diagnostics.h"

namespace author {

namespace {

// The recompiling loops (an if's layout, a condition's own end) settle in a few rounds; this
// bound only stops an input that would make them oscillate.
constexpr int kMaxSettleRounds = 64;
// The peephole passes shrink or simplify the code each time; this bound is a safety net.
constexpr int kMaxOptimizePassesPerInstruction = 8;
// Nested ifs and mixed and/or are laid out by recompiling the inner code until it settles, so
// the work doubles with each level of nesting. Real commands stay far below this budget of
// instruction writes; a text nested deep enough to exceed it gets an error, not a hang.
constexpr size_t kMaxInstructionWrites = size_t(1) << 24;
// The optimiser only shrinks code by little; code this long could never fit a command table.
constexpr size_t kMaxUnoptimizedInstructions = 16 * kVmMaxCompiledInstructions;

constexpr uint32_t kMaxConstant = 0xffff;
constexpr int32_t kTitleMenuEntry = kTargetEntryBase + 2;  // `menu entry title`
constexpr int32_t kMaxStreamNumber = 0x7f;

// A statement that does not compile: its message is printed and the whole list fails.
struct CompileFailure {};

[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string message(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    std::vsnprintf(message.data(), message.size() + 1, format, args);
    va_end(args);
    emit("%s", message.c_str());
    throw CompileFailure{};
}

bool is_value(const VmStatement* node) { return node->op == VMOP_VALUE; }
bool is_constant(const VmStatement* node) { return is_value(node) && !value_is_register(node->num1); }
bool is_general_register(int32_t value) {
    return value_is_register(value) && value_register(value) < kSystemRegisterBase;
}
// A constant or a general register: the operands a set instruction can take directly.
bool is_simple_operand(const VmStatement* node) {
    return is_value(node) && (!value_is_register(node->num1) || is_general_register(node->num1));
}
uint8_t register_byte(int32_t value) { return static_cast<uint8_t>(value_register(value)); }

uint16_t constant(int32_t value) {
    if (static_cast<uint32_t>(value) > kMaxConstant) fail("ERR:  Constant %d does not fit in 16 bits\n", value);
    return static_cast<uint16_t>(value);
}

bool is_commutative(int32_t op) {
    return op == VMOP_ADD || op == VMOP_MUL || op == VMOP_AND || op == VMOP_OR || op == VMOP_XOR;
}

SetOperation set_operation(int32_t op) {
    switch (op) {
    case VMOP_ADD: return kSetAdd;
    case VMOP_SUB: return kSetSub;
    case VMOP_MUL: return kSetMul;
    case VMOP_DIV: return kSetDiv;
    case VMOP_MOD: return kSetMod;
    case VMOP_AND: return kSetAnd;
    case VMOP_OR: return kSetOr;
    case VMOP_XOR: return kSetXor;
    default: fatal("ERR:  Unknown op in compileop: %d\n", op);
    }
}

Comparison comparison_of(int32_t op) {
    switch (op) {
    case VMOP_EQ: return kCmpEq;
    case VMOP_NE: return kCmpNe;
    case VMOP_GE: return kCmpGe;
    case VMOP_GT: return kCmpGt;
    case VMOP_LE: return kCmpLe;
    default: return kCmpLt;
    }
}

bool is_comparison(int32_t op) { return op >= VMOP_EQ && op <= VMOP_LT; }

// Whether the operand is that register or reads it somewhere below.
bool uses_register(const VmStatement* node, int reg) {
    if (is_value(node)) return node->num1 == register_value(reg);
    for (const VmStatement* operand = node->operands.get(); operand; operand = operand->next.get())
        if (uses_register(operand, reg)) return true;
    return false;
}

std::vector<const VmStatement*> operand_list(const VmStatement* node) {
    std::vector<const VmStatement*> operands;
    for (const VmStatement* o = node->operands.get(); o; o = o->next.get()) operands.push_back(o);
    return operands;
}

// Moves the first operand after the first that satisfies `pick` to the front.
template <class Pick>
void move_to_front(std::vector<const VmStatement*>& operands, Pick pick) {
    for (size_t i = 1; i < operands.size(); ++i) {
        if (pick(operands[i])) {
            const VmStatement* chosen = operands[i];
            operands.erase(operands.begin() + static_cast<std::ptrdiff_t>(i));
            operands.insert(operands.begin(), chosen);
            return;
        }
    }
}

class Compiler {
public:
    Compiler(const Workset& workset, int pgc_index, int mode, int first_line)
        : workset_(workset), pgc_index_(pgc_index), mode_(mode), first_line_(first_line) {}

    Code finish(const VmStatement* commands) {
        code_.resize(statements(0, commands));
        if (code_.size() > kMaxUnoptimizedInstructions)
            fail("ERR:  Commands are too long to compile (%zu instructions)\n", code_.size());
        const size_t passes = code_.size() * kMaxOptimizePassesPerInstruction + 8;
        size_t pass = 0;
        while (optimize_pass(code_, first_line_))
            if (++pass > passes) fail("ERR:  Command optimisation does not settle\n");
        return std::move(code_);
    }

private:
    int line(size_t position) const { return first_line_ + static_cast<int>(position); }

    void put(size_t position, const Instruction& instruction) {
        if (++writes_ > kMaxInstructionWrites) fail("ERR:  Commands are nested too deeply to compile\n");
        if (code_.size() <= position) code_.resize(position + 1);
        code_[position] = instruction;
    }

    size_t put_bytes(size_t position, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4,
                     uint8_t b5, uint8_t b6, uint8_t b7) {
        put(position, make_instruction(b0, b1, b2, b3, b4, b5, b6, b7));
        return position + 1;
    }

    // ---- statements -----------------------------------------------------------------------

    size_t statements(size_t position, const VmStatement* list) {
        for (const VmStatement* node = list; node; node = node->next.get()) {
            switch (node->op) {
            case VMOP_NOP: break;
            case VMOP_EXIT: position = put_bytes(position, 0x30, 0x01, 0, 0, 0, 0, 0, 0); break;
            case VMOP_RESUME: position = put_bytes(position, 0x20, 0x01, 0, 0, 0, 0, 0, 0x10); break;
            case VMOP_SET: position = set_statement(position, node); break;
            case VMOP_JUMP: position = jump_statement(position, node); break;
            case VMOP_CALL: position = call_statement(position, node); break;
            case VMOP_IF:
                position = if_statement(position, node);
                // A jump to the end of the if must land on an instruction.
                if (!node->next) put(position++, Instruction{});
                break;
            default: fail("ERR:  Unsupported VM opcode %d\n", node->op);
            }
        }
        return position;
    }

    size_t set_statement(size_t position, const VmStatement* node) {
        const int32_t reg = node->num1;
        const VmStatement* source = node->operands.get();
        if (reg < kSystemRegisterBase) return expression(position, reg, source);
        if (reg >= kRegisterAudio && reg <= kRegisterAngle) return stream_set(position, reg - kRegisterAudio + 3, source);
        if (reg == kRegisterButton) return button_set(position, source);
        fail("ERR:  Cannot set SPRM %d\n", reg - kSystemRegisterBase);
    }

    // SetSTN: only the stream's own field (byte 3 audio, 4 subtitle, 5 angle) is set.
    size_t stream_set(size_t position, int field, const VmStatement* source) {
        Instruction instruction;
        if (is_constant(source)) {
            if (source->num1 > kMaxStreamNumber)
                fail("ERR:  Stream number %d is too large (0 to %d)\n", source->num1, kMaxStreamNumber);
            instruction = make_instruction(0x51, 0, 0, 0, 0, 0, 0, 0);
            instruction.bytes[field] = uint8_t(0x80 | source->num1);
        } else if (is_value(source) && is_general_register(source->num1)) {
            instruction = make_instruction(0x41, 0, 0, 0, 0, 0, 0, 0);
            instruction.bytes[field] = uint8_t(0x80 | register_byte(source->num1));
        } else {
            position = expression(position, kScratchFirst, source);
            instruction = make_instruction(0x41, 0, 0, 0, 0, 0, 0, 0);
            instruction.bytes[field] = uint8_t(0x80 | kScratchFirst);
        }
        put(position, instruction);
        return position + 1;
    }

    // SetHL_BTNN; the value is the button number times 1024, as the player keeps it.
    size_t button_set(size_t position, const VmStatement* source) {
        if (is_constant(source)) {
            const uint16_t value = constant(source->num1);
            return put_bytes(position, 0x56, 0, 0, 0, uint8_t(value >> 8), uint8_t(value), 0, 0);
        }
        if (is_value(source) && is_general_register(source->num1))
            return put_bytes(position, 0x46, 0, 0, 0, 0, register_byte(source->num1), 0, 0);
        position = expression(position, kScratchFirst, source);
        return put_bytes(position, 0x46, 0, 0, 0, 0, kScratchFirst, 0, 0);
    }

    // ---- if -------------------------------------------------------------------------------

    size_t if_statement(size_t position, const VmStatement* node) {
        const VmStatement* condition = node->operands.get();
        const VmStatement* holder = condition->next.get();
        const VmStatement* then_list = holder->operands.get();
        const VmStatement* else_list = holder->next.get();
        size_t then_start = position + 1;
        size_t false_target = position + 2;
        for (int round = 0; round < kMaxSettleRounds; ++round) {
            const size_t then_end = statements(then_start, then_list);
            size_t end = then_end;
            size_t after_then = then_end;
            if (else_list) {
                end = statements(then_end + 1, else_list);
                put(then_end, make_goto(line(end)));
                after_then = then_end + 1;
            }
            const size_t condition_end = condition_code(position, condition, then_start, false_target);
            if (condition_end == then_start && after_then == false_target) return end;
            then_start = condition_end;
            false_target = after_then;
        }
        fail("ERR:  Condition code does not settle\n");
    }

    // ---- conditions -----------------------------------------------------------------------

    // Jumps to `when_true` or `when_false` by the condition; returns the end of its code.
    size_t condition_code(size_t position, const VmStatement* node, size_t when_true, size_t when_false) {
        if (node->op == VMOP_NOT) return condition_code(position, node->operands.get(), when_false, when_true);
        if (node->op == VMOP_LAND || node->op == VMOP_LOR) {
            const bool all = node->op == VMOP_LAND;
            const VmStatement* operand = node->operands.get();
            for (; operand->next; operand = operand->next.get()) {
                // Each operand but the last goes on (to the next operand's code) or decides.
                position = settle(position, [&](size_t own_end) {
                    return all ? condition_code(position, operand, own_end, when_false)
                               : condition_code(position, operand, when_true, own_end);
                });
            }
            return condition_code(position, operand, when_true, when_false);
        }
        if (is_comparison(node->op)) return comparison(position, node, when_true, when_false);
        fatal("ERR:  Unknown bool op: %d\n", node->op);
    }

    // Compiles at `position` with an assumed end until the code ends where it was assumed to.
    template <class CompileAt>
    size_t settle(size_t position, CompileAt compile_with_end) {
        size_t assumed = position + 1;
        for (int round = 0; round < kMaxSettleRounds; ++round) {
            const size_t end = compile_with_end(assumed);
            if (end == assumed) return end;
            assumed = end;
        }
        fail("ERR:  Condition code does not settle\n");
    }

    size_t comparison(size_t position, const VmStatement* node, size_t when_true, size_t when_false) {
        const VmStatement* left = node->operands.get();
        const VmStatement* right = left->next.get();
        Comparison cmp = comparison_of(node->op);

        int32_t r1 = left->num1;
        if (!is_value(left)) {
            position = expression(position, kScratchFirst, left);
            r1 = register_value(kScratchFirst);
        }
        int32_t r2 = right->num1;
        if (!is_value(right) || (!value_is_register(r1) && !value_is_register(r2))) {
            const int reg = r1 == register_value(kScratchFirst) ? kScratchFirst + 1 : kScratchFirst;
            position = expression(position, reg, right);
            r2 = register_value(reg);
        }
        if (!value_is_register(r1)) {
            std::swap(r1, r2);
            cmp = mirror_comparison(cmp);
        }
        // Branch on the condition to the later target and fall through towards the earlier one.
        if (when_false > when_true) {
            std::swap(when_true, when_false);
            cmp = negate_comparison(cmp);
        }
        const bool r2_constant = !value_is_register(r2);
        put(position++, make_conditional_goto(cmp, register_byte(r1), r2_constant,
                                              r2_constant ? constant(r2) : register_byte(r2),
                                              line(when_true)));
        if (when_false > position) put(position++, make_goto(line(when_false)));
        return position;
    }

    // ---- expressions ----------------------------------------------------------------------

    // The scratch register for a sub-expression of something computed into `target`.
    static int scratch_for(int target) {
        const int scratch = target < kScratchFirst ? kScratchFirst : target + 1;
        if (scratch > kScratchLast) fatal("ERR:  Expression is too complicated, ran out of registers\n");
        return scratch;
    }

    size_t put_scratch_release(size_t position, int scratch) {
        // g15 also carries jump requests to the menus' dispatch code, so it is left clear.
        if (scratch == kScratchLast) position = put_bytes(position, 0x71, 0, 0, kScratchLast, 0, 0, 0, 0);
        return position;
    }

    size_t expression(size_t position, int target, const VmStatement* node) {
        if (is_value(node)) {
            if (node->num1 == register_value(target)) return position;
            put(position, value_is_register(node->num1)
                              ? make_set_register(kSetAssign, uint8_t(target), register_byte(node->num1))
                              : make_set_constant(kSetAssign, uint8_t(target), constant(node->num1)));
            return position + 1;
        }
        const SetOperation op = set_operation(node->op);
        return operation(position, target, node->op, op, operand_list(node));
    }

    size_t operation(size_t position, int target, int32_t kind, SetOperation op,
                     std::vector<const VmStatement*> operands) {
        const auto is_target = [target](const VmStatement* o) {
            return is_value(o) && o->num1 == register_value(target);
        };
        const bool commutative = is_commutative(kind);
        if (commutative) move_to_front(operands, is_target);
        for (size_t i = 1; i < operands.size(); ++i) {
            if (!uses_register(operands[i], target)) continue;
            // A later operand still needs the target's old value: compute elsewhere, then copy.
            const int scratch = scratch_for(target);
            position = operation(position, scratch, kind, op, operands);
            position = put_bytes(position, 0x61, 0, 0, uint8_t(target), 0, uint8_t(scratch), 0, 0);
            return put_scratch_release(position, scratch);
        }
        if (commutative && is_value(operands[0]) && !is_target(operands[0]))
            move_to_front(operands, [](const VmStatement* o) { return !is_simple_operand(o); });
        position = expression(position, target, operands[0]);
        for (size_t i = 1; i < operands.size(); ++i) {
            const VmStatement* operand = operands[i];
            if (is_simple_operand(operand)) {
                put(position++, value_is_register(operand->num1)
                                    ? make_set_register(op, uint8_t(target), register_byte(operand->num1))
                                    : make_set_constant(op, uint8_t(target), constant(operand->num1)));
                continue;
            }
            const int scratch = scratch_for(target);
            position = expression(position, scratch, operand);
            put(position++, make_set_register(op, uint8_t(target), uint8_t(scratch)));
            position = put_scratch_release(position, scratch);
        }
        return position;
    }

    // ---- jumps and calls ------------------------------------------------------------------

    const PgcGroup* menu_group_of_language() const {
        const MenuGroup* menus = workset_.menus;
        if (!menus || workset_.menu_language < 0 ||
            static_cast<size_t>(workset_.menu_language) >= menus->languages.size())
            return nullptr;
        return menus->languages[workset_.menu_language].group;
    }

    static int pgc_count(const PgcGroup* group) { return group ? static_cast<int>(group->pgcs.size()) : 0; }

    // The Pgc whose chapters, programs or cells a link within the current PGC names.
    const Pgc* current_pgc() const {
        const PgcGroup* group = mode_ == kVmTitles ? workset_.titles : menu_group_of_language();
        if (pgc_index_ < 0 || pgc_index_ >= pgc_count(group))
            fail("ERR:  No PGC %d to link within\n", pgc_index_ + 1);
        return group->pgcs[pgc_index_];
    }

    static bool is_title_target(int32_t target) { return target >= kTargetTitleFlag; }
    static bool is_menu_target(int32_t target) { return target >= 1 && target < kTargetTitleFlag; }
    static bool is_entry_target(int32_t target) { return target >= kTargetMenu && target < kTargetTitleFlag; }

    bool jumppad_enabled() const { return engine().jumppad_enabled != 0; }

    size_t jump_statement(size_t position, const VmStatement* node) {
        int32_t domain = node->num1;
        int32_t target = node->num2;
        const int32_t chapter = node->num3;
        if (domain == kDomainManager && mode_ == kVmManagerMenus) {
            domain = kDomainCurrent;
            // The manager's menu without a number is its title menu, as from everywhere else.
            if (target == kTargetMenu) target = kTitleMenuEntry;
        }
        if (mode_ == kVmTitles && (is_menu_target(target) || (target == kTargetNone && domain == kDomainManager)))
            fail("ERR:  Cannot jump to a menu from a title, use 'call' instead\n");
        if (is_menu_target(target) && chapter != 0 && mode_ != kVmTitles)
            fail("ERR:  Cannot specify chapter when jumping to another menu\n");
        if (domain != kDomainCurrent && target == kTargetNone)
            fail("ERR:  Cannot omit menu/title if specifying vmgm/titleset\n");
        if (domain == kDomainCurrent && target == kTargetNone && chapter == 0) fail("ERR:  Nop jump statement\n");
        if (target == kTargetFirstPlay && (domain >= 2 || (domain == kDomainCurrent && mode_ != kVmManagerMenus)))
            fail("ERR:  VMGM must be specified with FPC\n");

        if (domain >= 2) {
            if (!is_entry_target(target)) return jumppad(position, domain, target, chapter);
            if (target == kTargetMenu) target = kTargetEntryBase + 3;  // root
            check_titleset_entry(target);
            return put_bytes(position, 0x30, 0x06, 0, 0x01, uint8_t(domain - 1), uint8_t(target + 8), 0, 0);
        }
        if (is_title_target(target) &&
            (domain == kDomainManager || (mode_ == kVmManagerMenus && chapter != 0)))
            return jumppad(position, domain, target, chapter);
        if (domain == kDomainManager || target == kTargetFirstPlay) return manager_jump(position, target);
        if (target == kTargetNone) return link_within_pgc(position, chapter);
        if (is_title_target(target)) return title_jump(position, target - kTargetTitleFlag, chapter);
        return local_menu_link(position, target);
    }

    // The manager's only menu entry is the title menu; a titleset's are all the others. Any
    // other pairing would name a menu the player does not have.
    static void check_manager_entry(int32_t target) {
        if (target > kTitleMenuEntry)
            fail("ERR:  The VMGM has no menu entry %s, only title\n", entry_names[target - kTargetEntryBase]);
    }
    static void check_titleset_entry(int32_t target) {
        if (target == kTitleMenuEntry) fail("ERR:  A titleset has no menu entry title\n");
    }

    size_t manager_jump(size_t position, int32_t target) {
        if (target == kTargetNone || target == kTargetMenu) target = kTitleMenuEntry;
        check_manager_entry(target);
        if (target < kTargetMenu) return put_bytes(position, 0x30, 0x06, 0, uint8_t(target), 0, 0xC0, 0, 0);
        if (target == kTargetFirstPlay) return put_bytes(position, 0x30, 0x06, 0, 0, 0, 0, 0, 0);
        return put_bytes(position, 0x30, 0x06, 0, 0, 0, uint8_t(target - 56), 0, 0);
    }

    size_t link_within_pgc(size_t position, int32_t chapter) {
        static const char* const kind_names[] = {"chapter", "program", "cell"};
        if (pgc_index_ < 0) fail("ERR:  Cannot jump to a chapter from a FPC\n");
        const int kind = chapter >> 16;
        const int number = chapter & 0xffff;
        if (kind == 0 && mode_ != kVmTitles) fail("ERR:  Menus do not have chapters\n");
        const Pgc* pgc = current_pgc();
        const int counts[] = {pgc->chapter_count, pgc->program_count, pgc->cell_count};
        const int count = kind <= 2 ? counts[kind] : 0;
        if (number > count)
            fail("ERR:  Cannot jump to %s %d, only %d exist\n", kind <= 2 ? kind_names[kind] : "<err>", number, count);
        return put_bytes(position, 0x20, uint8_t(kind + 5), 0, 0, 0, 0, 0, uint8_t(number));
    }

    size_t title_jump(size_t position, int title, int32_t chapter) {
        if (mode_ != kVmManagerMenus) {
            const int count = pgc_count(workset_.titles);
            if (title > count) fail("ERR:  Cannot jump to title #%d, only %d exist\n", title, count);
            const int chapters = workset_.titles->pgcs[title - 1]->chapter_count;
            if (chapter != 0 && chapter > chapters)
                fail("ERR:  Cannot jump to chapter %d of title %d, only %d exist\n", chapter, title, chapters);
        }
        const uint8_t kind = mode_ == kVmManagerMenus ? 0x02 : chapter != 0 ? 0x05 : 0x03;
        return put_bytes(position, 0x30, kind, 0, uint8_t(chapter), 0, uint8_t(title), 0, 0);
    }

    size_t local_menu_link(size_t position, int32_t target) {
        const int number = menu_pgc_number(target);
        // The first-play program has no program chains of its own to link to: it jumps into
        // the manager's menus.
        if (pgc_index_ == kVmFirstPlayPgc) return manager_jump(position, target);
        return put_bytes(position, 0x20, 0x04, 0, 0, 0, 0, 0, uint8_t(number & 0x7f));
    }

    // The 1-based menu PGC of the current language that a menu target names.
    int menu_pgc_number(int32_t target) const {
        const PgcGroup* group = menu_group_of_language();
        const int count = pgc_count(group);
        if (is_entry_target(target)) {
            const int entry_bit = target - kTargetEntryBase;
            for (int i = 0; i < count; ++i)
                if (group->pgcs[i]->entry_mask & (1 << entry_bit)) return i + 1;
            fail("ERR:  Cannot find PGC with entry %s\n", entry_names[entry_bit]);
        }
        if (target > count) fail("ERR:  Cannot jump to menu PGC #%d, only %d exist\n", target, count);
        return target;
    }

    // Asks the manager's menu dispatch code to go on: g15 names target and domain, g14 the
    // chapter; a title calls the manager's title menu, a menu jumps to it.
    size_t jumppad(size_t position, int32_t domain, int32_t target, int32_t chapter) {
        if (!jumppad_enabled()) fail("ERR:  That form of jumping is not allowed\n");
        if (domain == kDomainCurrent) domain = kDomainManager;
        position = put_bytes(position, 0x71, 0, 0, 0x0F, uint8_t(target), uint8_t(domain), 0, 0);
        position = put_bytes(position, 0x71, 0, 0, 0x0E, 0, uint8_t(chapter), 0, 0);
        return put_bytes(position, 0x30, mode_ == kVmTitles ? 0x08 : 0x06, 0, 0, 0, 0x42, 0, 0);
    }

    size_t call_statement(size_t position, const VmStatement* node) {
        const int32_t domain = node->num1;
        int32_t target = node->num2;
        const int32_t chapter = node->num3;
        const uint8_t resume = uint8_t(node->num4 == 0 ? 1 : node->num4);
        if (mode_ != kVmTitles) fail("ERR:  Cannot 'call' a menu from another menu, use 'jump' instead\n");
        if (target == kTargetNone || is_title_target(target))
            fail("ERR:  Cannot 'call' another title, use 'jump' instead\n");
        if (chapter != 0) fail("ERR:  Cannot 'call' a chatper within a menu\n");
        if (target == kTargetFirstPlay && domain != kDomainManager) fail("ERR:  VMGM must be specified with FPC\n");

        if (domain >= 2) {
            if (!jumppad_enabled()) fail("ERR:  Cannot call to a menu in another titleset\n");
            position = put_bytes(position, 0x71, 0, 0, 0x0F, uint8_t(target), uint8_t(domain), 0, 0);
            position = put_bytes(position, 0x71, 0, 0, 0x0E, 0, uint8_t(chapter), 0, 0);
            return put_bytes(position, 0x30, 0x08, 0, 0, resume, 0x42, 0, 0);
        }
        if (domain == kDomainCurrent && target < kTargetMenu) {
            if (!jumppad_enabled()) fail("ERR:  Cannot call to a specific menu PGC, only an entry\n");
            position = put_bytes(position, 0x71, 0, 0, 0x0F, uint8_t(target), 0, 0, 0);
            return put_bytes(position, 0x30, 0x08, 0, 0, resume, 0x87, 0, 0);
        }
        if (domain == kDomainManager) {
            if (target == kTargetMenu) target = kTitleMenuEntry;
            check_manager_entry(target);
            if (target < kTargetMenu) return put_bytes(position, 0x30, 0x08, 0, uint8_t(target), resume, 0xC0, 0, 0);
            if (target == kTargetFirstPlay) return put_bytes(position, 0x30, 0x08, 0, 0, resume, 0, 0, 0);
            return put_bytes(position, 0x30, 0x08, 0, 0, resume, uint8_t(target - 56), 0, 0);
        }
        if (target == kTargetMenu) target = kTargetEntryBase + 7;  // ptt
        const int entry_bit = target - kTargetEntryBase;
        if (!titleset_menu_has_entry(entry_bit)) fail("ERR:  Cannot find PGC with entry %s\n", entry_names[entry_bit]);
        return put_bytes(position, 0x30, 0x08, 0, 0, resume, uint8_t(target + 8), 0, 0);
    }

    bool titleset_menu_has_entry(int entry_bit) const {
        if (!workset_.menus) return false;
        for (const MenuLanguage& language : workset_.menus->languages) {
            if (!language.group) continue;
            for (const Pgc* pgc : language.group->pgcs)
                if (pgc->entry_mask & (1 << entry_bit)) return true;
        }
        return false;
    }

    const Workset& workset_;
    const int pgc_index_;
    const int mode_;
    const int first_line_;
    Code code_;
    size_t writes_ = 0;
};

}  // namespace

std::optional<std::vector<uint8_t>> vm_compile_code(int first_line, const Workset& workset,
                                                    int pgc_index, const VmStatement* commands,
                                                    int mode) {
    Code code;
    try {
        code = Compiler(workset, pgc_index, mode, first_line).finish(commands);
        if (code.size() > static_cast<size_t>(kVmMaxCompiledInstructions))
            fail("ERR:  Commands compile to %zu instructions, more than %d\n", code.size(), kVmMaxCompiledInstructions);
        for (const Instruction& instruction : code)
            if (instruction.is_goto() && instruction.line > kMaxGotoLine)
                fail("ERR:  Commands too long: a goto to line %d is past line %d\n", instruction.line, kMaxGotoLine);
    } catch (const CompileFailure&) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(code.size() * kInstructionBytes);
    for (Instruction instruction : code) {
        if (instruction.is_goto()) instruction.bytes[7] = static_cast<uint8_t>(instruction.line);
        bytes.insert(bytes.end(), instruction.bytes.begin(), instruction.bytes.end());
    }
    return bytes;
}

uint8_t* vm_compile(uint8_t* base, uint8_t* position, const Workset* workset, int pgc_index,
                    const VmStatement* commands, int mode, int compile_mode) {
    static const Workset no_model;  // jumps that need the model then fail with their message
    const int first_line = static_cast<int>((position - base) / kInstructionBytes) + 1;
    std::optional<std::vector<uint8_t>> bytes =
        vm_compile_code(first_line, workset ? *workset : no_model, pgc_index, commands, mode);
    if (!bytes) return nullptr;
    if (!bytes->empty()) std::memcpy(position, bytes->data(), bytes->size());
    return position + bytes->size();
}

}  // namespace author
