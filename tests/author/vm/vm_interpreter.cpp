#include "vm_interpreter.h"

#include <cstdio>

namespace vmtest {

namespace {

constexpr int kMaxSteps = 10000;

// A command as its bit fields: byte 0 bits 7-5 the command type, bit 4 the direct-operand flag
// of type 1 jumps and register sets; byte 1 bit 7 the direct-comparand flag, bits 6-4 the
// comparison, bits 3-0 the command of types 0 and 1.
struct Command {
    const uint8_t* b;
    int type() const { return b[0] >> 5; }
    bool operand_direct() const { return (b[0] & 0x10) != 0; }
    bool comparand_direct() const { return (b[1] & 0x80) != 0; }
    int comparison() const { return (b[1] >> 4) & 0x07; }
    int sub_command() const { return b[1] & 0x0f; }
    uint16_t word(int at) const { return uint16_t((b[at] << 8) | b[at + 1]); }
};

uint16_t read_register(const Registers& r, uint8_t id) {
    if (id & 0x80) return (id & 0x1f) < 24 ? r.sprm[id & 0x1f] : 0;
    return r.gprm[id & 0x0f];
}

std::string text(const char* format, int a, int b = 0, int c = 0) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, a, b, c);
    return buffer;
}

// Comparison forms by command type: links and gotos compare byte 3 with bytes 4-5 (a register
// or a direct value); jumps and system sets compare the registers of bytes 6 and 7; general
// register sets compare byte 2 with bytes 6-7.
bool condition_holds(const Command& c, const Registers& r) {
    if (c.comparison() == 0) return true;
    uint16_t left, right;
    switch (c.type()) {
    case 0:
    case 1:
        if (c.type() == 1 && c.operand_direct()) {
            left = read_register(r, c.b[6]);
            right = read_register(r, c.b[7]);
        } else {
            left = read_register(r, c.b[3]);
            right = c.comparand_direct() ? c.word(4) : read_register(r, c.b[5]);
        }
        break;
    case 2:
        left = read_register(r, c.b[6]);
        right = read_register(r, c.b[7]);
        break;
    default:
        left = read_register(r, c.b[2]);
        right = c.comparand_direct() ? c.word(6) : read_register(r, c.b[7]);
        break;
    }
    return apply_comparison(c.comparison(), left, right);
}

// A link may carry a button to highlight in bits 7-2 of byte 6.
void highlight_from_link(const Command& c, Registers& r) {
    const int button = c.b[6] >> 2;
    if (button != 0) r.sprm[8] = uint16_t(button << 10);
}

std::string link(const Command& c, Registers& r) {
    switch (c.sub_command()) {
    case 1: {
        highlight_from_link(c, r);
        const int which = c.b[7] & 0x1f;
        if (which == 0) return "";  // LinkNoLink: only the highlight
        return which == 0x10 ? "Resume" : text("LinkSIns %d", which);
    }
    case 4: return text("LinkPGCN %d", c.word(6) & 0x7fff);
    case 5: highlight_from_link(c, r); return text("LinkPTTN %d", c.word(6) & 0x3ff);
    case 6: highlight_from_link(c, r); return text("LinkPGN %d", c.b[7] & 0x7f);
    case 7: highlight_from_link(c, r); return text("LinkCN %d", c.b[7]);
    default: return "?";
    }
}

std::string jump(const Command& c) {
    switch (c.sub_command()) {
    case 1: return "Exit";
    case 2: return text("JumpTT %d", c.b[5]);
    case 3: return text("JumpVTS_TT %d", c.b[5]);
    case 5: return text("JumpVTS_PTT %d %d", c.b[5], c.word(2) & 0x3ff);
    case 6: return text("JumpSS %02x %d %d", c.b[5], c.b[3], c.b[4]);
    case 8: return text("CallSS %02x %d %d", c.b[5], c.b[3], c.b[4]);
    default: return "?";
    }
}

bool system_set(const Command& c, Registers& r) {
    switch (c.b[0] & 0x0f) {
    case 1:  // SetSTN: audio, subpicture and angle, each only when its bit 7 is set
        for (int field = 0; field < 3; ++field) {
            const uint8_t value = c.b[3 + field];
            if (value & 0x80)
                r.sprm[1 + field] = c.operand_direct() ? uint16_t(value & 0x7f) : r.gprm[value & 0x0f];
        }
        return true;
    case 6:  // SetHL_BTNN
        r.sprm[8] = c.operand_direct() ? c.word(4) : r.gprm[c.b[5] & 0x0f];
        return true;
    default:
        return false;
    }
}

}  // namespace

uint16_t apply_set_operation(int operation, uint16_t target, uint16_t source) {
    const uint32_t a = target, b = source;
    switch (operation) {
    case 1: return source;
    case 3: return uint16_t(a + b > 0xffff ? 0xffff : a + b);
    case 4: return uint16_t(a < b ? 0 : a - b);
    case 5: return uint16_t(a * b > 0xffff ? 0xffff : a * b);
    case 6: return uint16_t(b == 0 ? 0xffff : a / b);
    case 7: return uint16_t(b == 0 ? 0xffff : a % b);
    case 9: return uint16_t(a & b);
    case 10: return uint16_t(a | b);
    case 11: return uint16_t(a ^ b);
    default: return target;
    }
}

bool apply_comparison(int comparison, uint16_t left, uint16_t right) {
    switch (comparison) {
    case 1: return (left & right) != 0;
    case 2: return left == right;
    case 3: return left != right;
    case 4: return left >= right;
    case 5: return left > right;
    case 6: return left <= right;
    case 7: return left < right;
    default: return true;
    }
}

RunResult run_commands(const std::vector<uint8_t>& code, Registers& r, int first_line) {
    const size_t count = code.size() / 8;
    size_t index = 0;
    for (int step = 0; step < kMaxSteps; ++step) {
        if (index >= count) return {};
        const Command c{&code[index * 8]};
        const bool holds = condition_holds(c, r);
        ++index;
        if (!holds) continue;
        switch (c.type()) {
        case 0:
            if (c.sub_command() == 0) break;
            if (c.sub_command() != 1) return {"", text("command type 0 sub-command %d", c.sub_command())};
            if (c.b[7] < first_line) return {"", text("goto line %d before the first", c.b[7])};
            index = size_t(c.b[7] - first_line);
            break;
        case 1: {
            std::string action = c.operand_direct() ? jump(c) : link(c, r);
            if (!action.empty()) return {action, ""};
            break;
        }
        case 2:
            if (!system_set(c, r)) return {"", text("system set %d", c.b[0] & 0x0f)};
            break;
        case 3: {
            const uint8_t target = c.b[3] & 0x0f;
            const uint16_t source = c.operand_direct() ? c.word(4) : read_register(r, c.b[5]);
            if ((c.b[0] & 0x0f) == 2) {  // swap
                r.gprm[c.b[5] & 0x0f] = r.gprm[target];
                r.gprm[target] = source;
            } else {
                r.gprm[target] = apply_set_operation(c.b[0] & 0x0f, r.gprm[target], source);
            }
            break;
        }
        default:
            return {"", text("command type %d", c.type())};
        }
    }
    return {"", "the commands never end"};
}

}  // namespace vmtest
