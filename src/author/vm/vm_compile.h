// Compiling parsed command lists into DVD virtual-machine instructions.
//
// The compiler checks every jump and call against the model (titles, menus, their entries and
// chapter counts), lays out if/else with line-numbered gotos, gives expressions and comparisons
// the scratch registers g13..g15, and runs a peephole optimiser over the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "author/model.h"
#include "author/vm/vm_instruction.h"
#include "author/vm/vm_statement.h"

namespace author {

// The domain the commands run in.
enum VmDomain { kVmTitles = 0, kVmTitlesetMenus = 1, kVmManagerMenus = 2 };
// Where the commands stand (kept for callers; it does not change the code).
enum VmCompileMode { kVmPre = 0, kVmCell = 1, kVmPostOrButton = 2 };

// A compile never produces more instructions than this (more than a command table can hold),
// so a caller that provides room for kVmMaxCompiledBytes after the write position is safe.
constexpr int kVmMaxCompiledInstructions = kMaxGotoLine;
constexpr size_t kVmMaxCompiledBytes = size_t(kVmMaxCompiledInstructions) * kInstructionBytes;

// The Pgc index of the first-play commands.
constexpr int kVmFirstPlayPgc = -1;

// Compiles and optimises `commands` as the instructions that start at line `first_line` of
// their command group. Returns the instruction bytes, or nothing when a statement does not
// compile (its message has been printed). Running out of scratch registers is fatal.
std::optional<std::vector<uint8_t>> vm_compile_code(int first_line, const Workset& workset,
                                                    int pgc_index, const VmStatement* commands,
                                                    int mode);

// Compiles `commands` at `position` of the command group that starts at `base` (goto lines
// count from there) and returns the end of what was written, or null when a statement does not
// compile. The caller provides kVmMaxCompiledBytes of room at `position`.
uint8_t* vm_compile(uint8_t* base, uint8_t* position, const Workset* workset, int pgc_index,
                    const VmStatement* commands, int mode, int compile_mode);

}  // namespace author
