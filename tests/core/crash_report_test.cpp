#include "core/crash_report.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/log.h"
#include "platform/test_temp_dir.h"

using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

const std::string kBanner = "=============== Error Information ===============";

// Log lines with every time stamp cut out, also those of lines that continue another.
std::vector<std::string> Messages(const std::string& path) {
    static const std::regex stamp(R"(\[[^\]]*\]: )");
    std::vector<std::string> messages;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);)
        messages.push_back(std::regex_replace(line, stamp, ""));
    return messages;
}

// Checks the five report lines for a code with a known name.
void ExpectReport(const std::vector<std::string>& m, const std::string& codeLine,
                  const std::string& flags) {
    ASSERT_EQ(m.size(), 5u);
    EXPECT_EQ(m[0], kBanner);
    EXPECT_EQ(m[1], codeLine);
    EXPECT_TRUE(std::regex_match(m[2], std::regex("ExceptionAddress = 0x[0-9A-F]{8,16}"))) << m[2];
    EXPECT_EQ(m[3], "ExceptionFlags = " + flags);
    EXPECT_EQ(m[4], kBanner);
}

// Volatile all the way, or the optimiser drops the store and turns the division into a test.
void WriteThroughNull() {
    volatile int* volatile pointer = nullptr;
    *pointer = 1;
}

void DivideByZero() {
    volatile int dividend = 7;
    volatile int zero = 0;
    volatile int result = dividend / zero;
    (void)result;
}

// Deep enough to overflow any thread stack; the volatile buffer keeps each frame real.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
int Recurse(int depth) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    return Recurse(depth + 1) + frame[0];
}
#pragma GCC diagnostic pop

// Runs fault on a thread of its own with the handlers installed there but no guard.
void CrashWithoutAGuard(void (*fault)()) {
    const rlimit noCoreFile{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCoreFile);
    std::thread([fault] {
        core::InstallCrashHandlers();
        fault();
    }).join();
}

void OverflowTheStack() { Recurse(0); }

class CrashReportTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string log = dir / "Lumivane.log";
    void SetUp() override { core::InitLogAtPath(log); }
};

}  // namespace

TEST_F(CrashReportTest, GuardedFaultsWriteTheFiveLinesAndTheCallerGoesOn) {
    struct Case {
        const char* name;
        std::function<void()> body;
        std::string codeLine;
        std::string flags;
    };
    const Case cases[] = {
        {"SIGSEGV", WriteThroughNull, "ExceptionCode = 0xC0000005 - EXCEPTION_ACCESS_VIOLATION",
         "0x00000000"},
        {"SIGFPE", DivideByZero, "ExceptionCode = 0xC0000094 - EXCEPTION_INT_DIVIDE_BY_ZERO",
         "0x00000000"},
        {"SIGTRAP", [] { ::raise(SIGTRAP); }, "ExceptionCode = 0x80000003 - EXCEPTION_BREAKPOINT",
         "0x00000000"},
        {"C++ exception", [] { throw std::runtime_error("bad"); },
         // Not a named code: the line stays open and the address line follows on it.
         "ExceptionCode = 0xE06D7363 - ExceptionAddress = 0x00000000", "0x00000001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::InitLogAtPath(log);
        EXPECT_FALSE(core::RunGuarded(c.body));
        const std::vector<std::string> m = Messages(log);
        if (c.codeLine.find("ExceptionAddress") != std::string::npos) {
            ASSERT_EQ(m.size(), 4u);
            EXPECT_EQ(m[0], kBanner);
            EXPECT_EQ(m[1], c.codeLine);
            EXPECT_EQ(m[2], "ExceptionFlags = " + c.flags);
            EXPECT_EQ(m[3], kBanner);
        } else {
            ExpectReport(m, c.codeLine, c.flags);
        }
    }
    // Another fault on the same thread is caught the same way, clean work still passes, and
    // the address is the faulting instruction's, not the bad pointer's.
    core::InitLogAtPath(log);
    EXPECT_FALSE(core::RunGuarded(WriteThroughNull));
    EXPECT_TRUE(core::RunGuarded([] {}));
    const std::vector<std::string> m = Messages(log);
    ASSERT_EQ(m.size(), 5u);
    const uintptr_t address = std::stoull(m[2].substr(m[2].find("0x") + 2), nullptr, 16);
    const uintptr_t function = reinterpret_cast<uintptr_t>(&WriteThroughNull);
    EXPECT_GE(address, function);
    EXPECT_LT(address, function + 512);  // within the small function, however it is built
}

TEST_F(CrashReportTest, StackOverflowOnAWorkerThreadIsCaughtThere) {
    bool guarded = true;
    std::thread worker([&] { guarded = core::RunGuarded([] { Recurse(0); }); });
    worker.join();
    EXPECT_FALSE(guarded);
    const std::vector<std::string> m = Messages(log);
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[0], kBanner);
    // 0xC00000FD has no name, so the time-stamped address line continues the code line.
    EXPECT_TRUE(std::regex_match(
        m[1], std::regex(R"(ExceptionCode = 0xC00000FD - ExceptionAddress = 0x[0-9A-F]+)")))
        << m[1];
    EXPECT_EQ(m[2], "ExceptionFlags = 0x00000000");
}

TEST_F(CrashReportTest, TheInnermostGuardCatches) {
    bool outerFinished = false;
    EXPECT_TRUE(core::RunGuarded([&] {
        EXPECT_FALSE(core::RunGuarded(DivideByZero));
        outerFinished = true;
    }));
    EXPECT_TRUE(outerFinished);
    // Once the inner guard is gone, a fault goes to the outer one.
    EXPECT_FALSE(core::RunGuarded([] {
        core::RunGuarded([] {});
        WriteThroughNull();
    }));
    EXPECT_EQ(Messages(log).size(), 10u);
}

TEST_F(CrashReportTest, AnUnguardedFaultWritesTheReportAndEndsTheProcess) {
    struct Case {
        const char* name;
        void (*fault)();
        int signal;
        const char* codeLine;  // a pattern
        size_t lines;
    };
    const Case cases[] = {
        {"access violation", WriteThroughNull, SIGSEGV,
         "ExceptionCode = 0xC0000005 - EXCEPTION_ACCESS_VIOLATION", 5},
        {"divide by zero", DivideByZero, SIGFPE,
         "ExceptionCode = 0xC0000094 - EXCEPTION_INT_DIVIDE_BY_ZERO", 5},
        // Unnamed, so the address line continues the code line.
        {"stack overflow", OverflowTheStack, SIGSEGV,
         "ExceptionCode = 0xC00000FD - ExceptionAddress = 0x[0-9A-F]+", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        core::InitLogAtPath(log);
        EXPECT_EXIT(CrashWithoutAGuard(c.fault), testing::KilledBySignal(c.signal), "");
        const std::vector<std::string> m = Messages(log);
        ASSERT_EQ(m.size(), c.lines);
        EXPECT_EQ(m[0], kBanner);
        EXPECT_TRUE(std::regex_match(m[1], std::regex(c.codeLine))) << m[1];
        EXPECT_EQ(m[c.lines - 2], "ExceptionFlags = 0x00000000");
        EXPECT_EQ(m[c.lines - 1], kBanner);
    }
}

TEST(CrashReport, SignalsMapToTheirExceptionCodes) {
    const struct {
        int signal, signalCode;
        uint32_t code;
    } cases[] = {
        {SIGSEGV, SEGV_MAPERR, 0xC0000005}, {SIGSEGV, SEGV_ACCERR, 0xC0000005},
        {SIGBUS, BUS_ADRALN, 0x80000002},   {SIGBUS, BUS_ADRERR, 0xC0000005},
        {SIGFPE, FPE_INTDIV, 0xC0000094},   {SIGFPE, FPE_INTOVF, 0xC0000095},
        {SIGFPE, FPE_FLTDIV, 0xC000008E},   {SIGFPE, FPE_FLTOVF, 0xC0000091},
        {SIGFPE, FPE_FLTUND, 0xC0000093},   {SIGFPE, FPE_FLTRES, 0xC000008F},
        {SIGFPE, FPE_FLTINV, 0xC0000090},   {SIGFPE, FPE_FLTSUB, 0xC000008C},
        {SIGILL, ILL_PRVOPC, 0xC0000096},   {SIGILL, ILL_ILLOPC, 0xC000001D},
        {SIGTRAP, TRAP_BRKPT, 0x80000003},  {SIGTRAP, TRAP_TRACE, 0x80000004},
    };
    for (const auto& c : cases)
        EXPECT_EQ(core::ExceptionCodeForSignal(c.signal, c.signalCode), c.code)
            << c.signal << "/" << c.signalCode;
}

TEST_F(CrashReportTest, LogExceptionInfoNamesKnownCodes) {
    const std::pair<uint32_t, const char*> cases[] = {
        {0x80000002, "EXCEPTION_DATATYPE_MISALIGNMENT"},
        {0xC0000025, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
        {0xC000008C, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
        {0xC0000092, "EXCEPTION_FLT_STACK_CHECK"},
        {0xC0000096, "EXCEPTION_PRIV_INSTRUCTION"},
    };
    for (const auto& [code, name] : cases) {
        core::InitLogAtPath(log);
        EXPECT_EQ(core::LogExceptionInfo({code, 0x1234, 0}), 1);
        char codeLine[96];
        std::snprintf(codeLine, sizeof codeLine, "ExceptionCode = 0x%08X - %s", code, name);
        ExpectReport(Messages(log), codeLine, "0x00000000");
        EXPECT_EQ(Messages(log)[2], "ExceptionAddress = 0x00001234");
    }
}
