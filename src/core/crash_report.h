// Crash report and crash guard.
//
// A guard runs a piece of work so that a fault inside it (a C++ exception escaping it, or a
// fatal signal: SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, stack overflow included) writes the
// crash report into the log and returns to the guard, which lets the caller report and go on.
// A fault outside any guard writes the report and ends the process with the signal's default
// action. Faults carry the exception codes the log has always used, so reports read the same.
//
// Returning from a fault skips the destructors of the frames in between: what they held
// (memory, locks) stays held. That is the price of carrying on after a crash; the caller
// should do no more than report and leave the work where it stopped.
#pragma once

#include <cstdint>
#include <functional>

namespace core {

constexpr uint32_t kExceptionDatatypeMisalignment = 0x80000002;
constexpr uint32_t kExceptionBreakpoint = 0x80000003;
constexpr uint32_t kExceptionSingleStep = 0x80000004;
constexpr uint32_t kExceptionAccessViolation = 0xC0000005;
constexpr uint32_t kExceptionIllegalInstruction = 0xC000001D;
constexpr uint32_t kExceptionNoncontinuable = 0xC0000025;
constexpr uint32_t kExceptionArrayBoundsExceeded = 0xC000008C;
constexpr uint32_t kExceptionFltDenormalOperand = 0xC000008D;
constexpr uint32_t kExceptionFltDivideByZero = 0xC000008E;
constexpr uint32_t kExceptionFltInexactResult = 0xC000008F;
constexpr uint32_t kExceptionFltInvalidOperation = 0xC0000090;
constexpr uint32_t kExceptionFltOverflow = 0xC0000091;
constexpr uint32_t kExceptionFltStackCheck = 0xC0000092;
constexpr uint32_t kExceptionFltUnderflow = 0xC0000093;
constexpr uint32_t kExceptionIntDivideByZero = 0xC0000094;
constexpr uint32_t kExceptionIntOverflow = 0xC0000095;
constexpr uint32_t kExceptionPrivInstruction = 0xC0000096;
constexpr uint32_t kExceptionStackOverflow = 0xC00000FD;
constexpr uint32_t kExceptionCppException = 0xE06D7363;  // a C++ exception left the guard

// Exception flags: a C++ exception cannot be resumed; a signal could have been.
constexpr uint32_t kExceptionFlagNoncontinuable = 0x1;

struct ExceptionRecord {
    uint32_t code = 0;
    uintptr_t address = 0;  // the faulting instruction; 0 when unknown
    uint32_t flags = 0;
};

// Writes the five-line report: banner, code (with its name when known; an unknown code leaves
// the line open), address, flags, banner. Returns 1, the "handle it" answer of a guard filter.
int LogExceptionInfo(const ExceptionRecord& record);

// The exception code a signal stands for, from its number and si_code.
uint32_t ExceptionCodeForSignal(int signal, int signalCode);

// Runs body under a guard on the calling thread. True when body returned normally; false
// after a fault, once its report is written. Guards nest; the innermost one catches.
bool RunGuarded(const std::function<void()>& body);

// Installs the process's fault handlers (RunGuarded does it on first use), so that a fault
// outside every guard still writes the report before the process ends, and readies the calling
// thread, so that a stack overflow on it is reported too. A thread that runs unguarded calls it
// once to have its own stack overflow reported. Idempotent.
void InstallCrashHandlers();

}  // namespace core
