// Instruction builders and the peephole optimiser of compiled commands.
#include <algorithm>

#include "author/diagnostics.h"
#include "author/vm/vm_instruction.h"

namespace author {

Comparison negate_comparison(Comparison cmp) {
    switch (cmp) {
    case kCmpEq: return kCmpNe;
    case kCmpNe: return kCmpEq;
    case kCmpGe: return kCmpLt;
    case kCmpLt: return kCmpGe;
    case kCmpGt: return kCmpLe;
    case kCmpLe: return kCmpGt;
    }
    return cmp;
}

Comparison mirror_comparison(Comparison cmp) {
    switch (cmp) {
    case kCmpGe: return kCmpLe;
    case kCmpLe: return kCmpGe;
    case kCmpGt: return kCmpLt;
    case kCmpLt: return kCmpGt;
    default: return cmp;
    }
}

bool Instruction::is_noop() const {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

Instruction make_instruction(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4,
                             uint8_t b5, uint8_t b6, uint8_t b7) {
    Instruction instruction;
    instruction.bytes = {b0, b1, b2, b3, b4, b5, b6, b7};
    return instruction;
}

Instruction make_goto(int line) {
    Instruction instruction = make_instruction(0x00, 0x01, 0, 0, 0, 0, 0, 0);
    instruction.line = line;
    return instruction;
}

Instruction make_conditional_goto(Comparison cmp, uint8_t r1, bool r2_is_constant, uint16_t r2,
                                  int line) {
    const uint8_t flags = (r2_is_constant ? kCompareConstantFlag : 0) | uint8_t(cmp << 4) | 0x01;
    Instruction instruction = r2_is_constant
        ? make_instruction(0x00, flags, 0, r1, uint8_t(r2 >> 8), uint8_t(r2), 0, 0)
        : make_instruction(0x00, flags, 0, r1, 0, uint8_t(r2), 0, 0);
    instruction.line = line;
    return instruction;
}

Instruction make_set_constant(SetOperation op, uint8_t target, uint16_t value) {
    return make_instruction(uint8_t(0x70 + op), 0, 0, target, uint8_t(value >> 8), uint8_t(value), 0, 0);
}

Instruction make_set_register(SetOperation op, uint8_t target, uint8_t source) {
    return make_instruction(uint8_t(0x60 + op), 0, 0, target, 0, source, 0, 0);
}

namespace {

// A goto's condition, taken out of it so that it can be put on another instruction.
struct Condition {
    uint8_t nibble = 0;  // constant flag and comparison, as in byte 1's high nibble
    uint8_t r1 = 0;
    uint16_t r2 = 0;
};

Condition extract_condition(const Instruction& instruction) {
    if (instruction.instruction_class() > 2)
        fatal("ERR:  Unhandled extractif scenario (%x), file bug\n", instruction.bytes[0]);
    const auto& b = instruction.bytes;
    return Condition{uint8_t(b[1] & 0xf0), b[3], uint16_t((b[4] << 8) | b[5])};
}

Condition negated(Condition condition) {
    const auto cmp = static_cast<Comparison>((condition.nibble & kCompareMask) >> 4);
    condition.nibble = uint8_t((condition.nibble & kCompareConstantFlag) | (negate_comparison(cmp) << 4));
    return condition;
}

// Puts the condition where the instruction's class keeps its comparison operands.
void apply_condition(Instruction& instruction, const Condition& condition) {
    auto& b = instruction.bytes;
    switch (instruction.instruction_class()) {
    case 0: case 1: case 2:
        b[1] |= condition.nibble;
        b[3] = condition.r1;
        b[4] = uint8_t(condition.r2 >> 8);
        b[5] = uint8_t(condition.r2);
        break;
    case 3: case 4: case 5:
        b[1] |= condition.nibble;
        b[6] = condition.r1;
        b[7] = uint8_t(condition.r2);
        break;
    case 6: case 7:
        b[1] = condition.nibble;
        b[2] = condition.r1;
        b[6] = uint8_t(condition.r2 >> 8);
        b[7] = uint8_t(condition.r2);
        break;
    default:
        fatal("ERR:  Unhandled applyif scenario (%x), file bug\n", b[0]);
    }
}

// Whether `next` can carry the condition of `jump`. It must have no condition of its own (a
// second condition has nowhere to go and would be lost), and classes 3 to 5 compare two
// registers only.
bool can_take_condition(const Instruction& jump, const Instruction& next) {
    if (next.is_conditional()) return false;
    const int cls = next.instruction_class();
    if (cls >= 3 && cls <= 5) return (jump.bytes[1] & kCompareConstantFlag) == 0;
    return cls <= 7;
}

// How many gotos of the code land on each of its lines; a pass reads it until it changes
// the code, so it is built once per pass.
class GotoTargets {
public:
    GotoTargets(const Code& code, int first_line) : first_line_(first_line), counts_(code.size(), 0) {
        for (const Instruction& instruction : code) {
            const int index = instruction.line - first_line;
            if (instruction.is_goto() && index >= 0 && index < static_cast<int>(counts_.size())) ++counts_[index];
        }
    }
    bool any_to(int line) const {
        const int index = line - first_line_;
        return index >= 0 && index < static_cast<int>(counts_.size()) && counts_[index] != 0;
    }

private:
    int first_line_;
    std::vector<int> counts_;
};

// Removes the instruction at `index`; gotos past it move up by one line.
void delete_instruction(Code& code, size_t index, int first_line) {
    const int line = first_line + static_cast<int>(index);
    for (Instruction& instruction : code)
        if (instruction.is_goto() && instruction.line > line) --instruction.line;
    code.erase(code.begin() + static_cast<std::ptrdiff_t>(index));
}

bool is_link_with_button_field(const Instruction& instruction) {
    const auto& b = instruction.bytes;
    if (b[0] != 0x20 || instruction.is_conditional()) return false;
    const int link = b[1] & 0x0f;
    return link == 5 || link == 6 || link == 7 || (link == 1 && (b[7] & 0x1f) != 0);
}

bool fits_button_field(const Instruction& highlight) {
    const auto& b = highlight.bytes;
    return b[4] != 0 && (b[4] & 0x03) == 0 && b[5] == 0;
}

bool is_stream_set(const Instruction& instruction) {
    return (instruction.bytes[0] == 0x41 || instruction.bytes[0] == 0x51) && instruction.bytes[1] == 0;
}

}  // namespace

bool optimize_pass(Code& code, int first_line) {
    const GotoTargets targets(code, first_line);
    for (size_t index = 0; index < code.size(); ++index) {
        Instruction& current = code[index];
        const int line = first_line + static_cast<int>(index);
        const bool has_next = index + 1 < code.size();

        // if (c) goto L+2; X  becomes  if (!c) X
        if (has_next && current.is_goto() && current.is_conditional() && current.line == line + 2 &&
            can_take_condition(current, code[index + 1]) && !targets.any_to(line + 1)) {
            const Condition condition = negated(extract_condition(current));
            current = code[index + 1];
            code[index + 1] = Instruction{};
            apply_condition(current, condition);
            return true;
        }
        // A no-op only stays where it is the landing place of a jump to the end.
        if (current.is_noop() && (has_next || !targets.any_to(line))) {
            delete_instruction(code, index, first_line);
            return true;
        }
        // Nothing reaches an instruction after an unconditional transfer unless a goto does.
        if (index > 0) {
            const Instruction& previous = code[index - 1];
            if (previous.instruction_class() <= 3 && !previous.is_conditional() &&
                (previous.bytes[1] & 0x0f) != 0 && !targets.any_to(line)) {
                delete_instruction(code, index, first_line);
                return true;
            }
        }
        if (!has_next || targets.any_to(line + 1)) continue;
        Instruction& next = code[index + 1];
        // Two stream selections of the same form become one.
        if (is_stream_set(current) && next.bytes[0] == current.bytes[0] && next.bytes[1] == 0) {
            for (int field = 3; field <= 5; ++field)
                if (next.bytes[field] != 0) current.bytes[field] = next.bytes[field];
            delete_instruction(code, index + 1, first_line);
            return true;
        }
        // A button highlight just before a link rides in the link's button field, when the
        // field can carry the value exactly (a whole button number times 1024, not 0).
        if (current.bytes[0] == 0x56 && current.bytes[1] == 0 && fits_button_field(current) &&
            is_link_with_button_field(next)) {
            if (next.bytes[6] == 0) next.bytes[6] = current.bytes[4];
            delete_instruction(code, index, first_line);
            return true;
        }
    }
    return false;
}

}  // namespace author
