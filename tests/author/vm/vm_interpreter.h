// A small DVD virtual machine for tests: runs 8-byte navigation commands over the general and
// system parameter registers, as the published description of the machine defines them. It
// knows the commands a command table can hold (goto, links, jumps and calls, system and
// general register sets, each with its optional comparison) and stops at the first command
// that leaves the command table, reporting which it was.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vmtest {

struct Registers {
    std::array<uint16_t, 16> gprm{};
    std::array<uint16_t, 24> sprm{};
    bool operator==(const Registers&) const = default;
};

struct RunResult {
    std::string action;  // the command that ended the run ("LinkCN 3", "Exit"); empty at the end
    std::string error;   // a command this machine does not run, or a run that never ends
};

// Runs `code` (whole 8-byte commands) whose first command is line `first_line`.
RunResult run_commands(const std::vector<uint8_t>& code, Registers& registers, int first_line = 1);

// Register arithmetic of the machine: results stay in 0..65535.
uint16_t apply_set_operation(int operation, uint16_t target, uint16_t source);
// The machine's comparisons by code (1 bit test, 2 ==, 3 !=, 4 >=, 5 >, 6 <=, 7 <).
bool apply_comparison(int comparison, uint16_t left, uint16_t right);

}  // namespace vmtest
