#include "core/crash_report.h"

#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <exception>
#include <iterator>
#include <mutex>

#include "core/log.h"

namespace core {

namespace {

constexpr const char* kBanner = "=============== Error Information ===============\n";

struct CodeName {
    uint32_t code;
    const char* text;
};
constexpr CodeName kCodeNames[] = {
    {kExceptionDatatypeMisalignment, "EXCEPTION_DATATYPE_MISALIGNMENT\n"},
    {kExceptionBreakpoint, "EXCEPTION_BREAKPOINT\n"},
    {kExceptionSingleStep, "EXCEPTION_SINGLE_STEP\n"},
    {kExceptionAccessViolation, "EXCEPTION_ACCESS_VIOLATION\n"},
    {kExceptionNoncontinuable, "EXCEPTION_NONCONTINUABLE_EXCEPTION\n"},
    {kExceptionArrayBoundsExceeded, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED\n"},
    {kExceptionFltDenormalOperand, "EXCEPTION_FLT_DENORMAL_OPERAND\n"},
    {kExceptionFltDivideByZero, "EXCEPTION_FLT_DIVIDE_BY_ZERO\n"},
    {kExceptionFltInexactResult, "EXCEPTION_FLT_INEXACT_RESULT\n"},
    {kExceptionFltInvalidOperation, "EXCEPTION_FLT_INVALID_OPERATION\n"},
    {kExceptionFltOverflow, "EXCEPTION_FLT_OVERFLOW\n"},
    {kExceptionFltStackCheck, "EXCEPTION_FLT_STACK_CHECK\n"},
    {kExceptionFltUnderflow, "EXCEPTION_FLT_UNDERFLOW\n"},
    {kExceptionIntDivideByZero, "EXCEPTION_INT_DIVIDE_BY_ZERO\n"},
    {kExceptionIntOverflow, "EXCEPTION_INT_OVERFLOW\n"},
    {kExceptionPrivInstruction, "EXCEPTION_PRIV_INSTRUCTION\n"},
};

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};

// Room for the handler, which formats and writes the report when no guard catches.
constexpr size_t kAltStackBytes = 256 * 1024;

// A fault this close below the lowest stack address (past the guard page) or this close above
// it is the stack running out, not a stray pointer.
constexpr uintptr_t kStackOverflowSlack = 64 * 1024;

// Time the report of an unguarded fault may take before the process is ended regardless.
constexpr unsigned kUnguardedReportSeconds = 5;

// One active guard on this thread; guards chain outwards through previous.
struct GuardFrame {
    sigjmp_buf jump;
    ExceptionRecord record;
    GuardFrame* previous = nullptr;
};

thread_local GuardFrame* t_innermostGuard = nullptr;

// The calling thread's stack, for telling an overflow from any other bad access.
struct StackBounds {
    uintptr_t low = 0;
    size_t guardBytes = 0;
    bool known = false;
};
thread_local StackBounds t_stack;

// The alternate signal stack a guarded thread needs to handle its own stack overflow; freed
// when the thread ends.
class AltStack {
public:
    ~AltStack() {
        if (!memory_) return;
        stack_t disable{};
        disable.ss_flags = SS_DISABLE;
        ::sigaltstack(&disable, nullptr);
        ::munmap(memory_, kAltStackBytes);
    }

    void EnsureInstalled() {
        if (memory_) return;
        stack_t current{};
        if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;
        void* memory = ::mmap(nullptr, kAltStackBytes, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) return;
        stack_t stack{};
        stack.ss_sp = memory;
        stack.ss_size = kAltStackBytes;
        if (::sigaltstack(&stack, nullptr) != 0) {
            ::munmap(memory, kAltStackBytes);
            return;
        }
        memory_ = memory;
    }

private:
    void* memory_ = nullptr;
};
thread_local AltStack t_altStack;

void LearnStackBounds() {
    if (t_stack.known) return;
    pthread_attr_t attr;
    if (::pthread_getattr_np(::pthread_self(), &attr) != 0) return;
    void* low = nullptr;
    size_t size = 0;
    size_t guard = 0;
    if (::pthread_attr_getstack(&attr, &low, &size) == 0) {
        ::pthread_attr_getguardsize(&attr, &guard);
        t_stack.low = reinterpret_cast<uintptr_t>(low);
        t_stack.guardBytes = guard;
        t_stack.known = true;
    }
    ::pthread_attr_destroy(&attr);
}

bool IsStackOverflow(uintptr_t faultAddress) {
    if (!t_stack.known) return false;
    const uintptr_t below = t_stack.guardBytes + kStackOverflowSlack;
    const uintptr_t lowest = t_stack.low > below ? t_stack.low - below : 0;
    return faultAddress >= lowest && faultAddress < t_stack.low + kStackOverflowSlack;
}

uintptr_t InstructionAddress(const siginfo_t* info, const void* context) {
    const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    if (uc) return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    if (uc) return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    if (uc) return static_cast<uintptr_t>(uc->uc_mcontext.pc);
#endif
    return reinterpret_cast<uintptr_t>(info->si_addr);
}

ExceptionRecord RecordForSignal(int signal, const siginfo_t* info, const void* context) {
    ExceptionRecord record;
    record.code = ExceptionCodeForSignal(signal, info->si_code);
    if (signal == SIGSEGV && IsStackOverflow(reinterpret_cast<uintptr_t>(info->si_addr)))
        record.code = kExceptionStackOverflow;
    record.address = InstructionAddress(info, context);
    record.flags = 0;
    return record;
}

ExceptionRecord RecordForCppException() {
    ExceptionRecord record;
    record.code = kExceptionCppException;
    record.flags = kExceptionFlagNoncontinuable;
    return record;
}

// Ends the process the way the signal would have without our handler.
void DieOfSignal(int signal) {
    struct sigaction fallback{};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);  // the default action of every fault signal ends the process
}

void OnFaultSignal(int signal, siginfo_t* info, void* context) {
    const ExceptionRecord record = RecordForSignal(signal, info, context);
    if (GuardFrame* guard = t_innermostGuard) {
        guard->record = record;
        ::siglongjmp(guard->jump, 1);
    }
    // No guard: report as well as we can (the process is lost anyway), then die of it. The
    // report allocates and takes the time zone lock; should the fault have struck while one of
    // those was held, the alarm still ends the process instead of leaving it hung.
    ::alarm(kUnguardedReportSeconds);
    LogExceptionInfo(record);
    DieOfSignal(signal);
}

void OnTerminate() {
    if (std::current_exception()) LogExceptionInfo(RecordForCppException());
    std::abort();
}

bool RunCatchingExceptions(const std::function<void()>& body) {
    try {
        body();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

int LogExceptionInfo(const ExceptionRecord& record) {
    LogPrintf("%s", kBanner);
    LogPrintf("ExceptionCode = 0x%08" PRIX32 " - ", record.code);
    const auto known = std::find_if(std::begin(kCodeNames), std::end(kCodeNames),
                                    [&](const CodeName& entry) { return entry.code == record.code; });
    if (known != std::end(kCodeNames)) LogWrite("%s", known->text);
    LogPrintf("ExceptionAddress = 0x%08" PRIXPTR "\n", record.address);
    LogPrintf("ExceptionFlags = 0x%08" PRIX32 "\n", record.flags);
    LogPrintf("%s", kBanner);
    return 1;
}

uint32_t ExceptionCodeForSignal(int signal, int signalCode) {
    switch (signal) {
        case SIGFPE:
            switch (signalCode) {
                case FPE_INTDIV: return kExceptionIntDivideByZero;
                case FPE_INTOVF: return kExceptionIntOverflow;
                case FPE_FLTDIV: return kExceptionFltDivideByZero;
                case FPE_FLTOVF: return kExceptionFltOverflow;
                case FPE_FLTUND: return kExceptionFltUnderflow;
                case FPE_FLTRES: return kExceptionFltInexactResult;
                case FPE_FLTSUB: return kExceptionArrayBoundsExceeded;
                default: return kExceptionFltInvalidOperation;
            }
        case SIGILL:
            return signalCode == ILL_PRVOPC || signalCode == ILL_PRVREG
                       ? kExceptionPrivInstruction
                       : kExceptionIllegalInstruction;
        case SIGTRAP:
            return signalCode == TRAP_TRACE ? kExceptionSingleStep : kExceptionBreakpoint;
        case SIGBUS:
            return signalCode == BUS_ADRALN ? kExceptionDatatypeMisalignment
                                            : kExceptionAccessViolation;
        default:
            return kExceptionAccessViolation;
    }
}

void InstallCrashHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action{};
        action.sa_sigaction = OnFaultSignal;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        for (int signal : kFaultSignals) ::sigaction(signal, &action, nullptr);
        std::set_terminate(OnTerminate);
    });
    // Without a stack of its own the handler could not run when this thread's stack is used up.
    t_altStack.EnsureInstalled();
    LearnStackBounds();
}

bool RunGuarded(const std::function<void()>& body) {
    InstallCrashHandlers();

    GuardFrame frame;
    frame.previous = t_innermostGuard;
    t_innermostGuard = &frame;
    // Saving the signal mask lets the jump out of a handler unblock the signal again.
    if (sigsetjmp(frame.jump, 1) == 0) {
        const bool completed = RunCatchingExceptions(body);
        t_innermostGuard = frame.previous;
        if (completed) return true;
        LogExceptionInfo(RecordForCppException());
        return false;
    }
    // Back from a fault handler. The frame is read through the thread's guard pointer, which
    // still points at it, rather than through a local the jump may have left stale.
    GuardFrame* caught = t_innermostGuard;
    t_innermostGuard = caught->previous;
    LogExceptionInfo(caught->record);
    return false;
}

}  // namespace core
