#include "core/log.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/test_temp_dir.h"

using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(Log, EachStartEmptiesTheFile) {
    TempDir dir;
    const std::string path = dir / "Lumivane.log";
    core::InitLogAtPath(path);
    core::LogPrintf("first run\n");
    core::InitLogAtPath(path);
    core::LogPrintf("second run\n");
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.find("first run"), std::string::npos);
    EXPECT_NE(text.find("second run"), std::string::npos);
}

TEST(Log, LinesAreStampedWithLocalTimeAndWriteContinuesThem) {
    TempDir dir;
    core::InitLogAtPath(dir / "Lumivane.log");
    const std::time_t before = std::time(nullptr);
    core::LogPrintf("Clip %d of %s: ", 3, "ten");
    core::LogWrite("%d frames\n", 250);
    core::LogPrintf("second line\n");
    const std::time_t after = std::time(nullptr);

    const std::vector<std::string> lines = Lines(ReadFile(dir / "Lumivane.log"));
    ASSERT_EQ(lines.size(), 2u);
    const std::string messages[] = {"Clip 3 of ten: 250 frames", "second line"};
    for (size_t i = 0; i < 2; ++i) {
        bool matched = false;
        for (std::time_t t = before; t <= after && !matched; ++t)
            matched = lines[i] == "[" + core::FormatLogTime(&t, "%c") + "]: " + messages[i];
        EXPECT_TRUE(matched) << lines[i];
    }
}

TEST(Log, LinesBeforeInitAndWithoutAFolderAreDroppedQuietly) {
    core::InitLogAtPath("");
    EXPECT_EQ(core::LogPrintf("lost\n"), 0);
    TempDir dir;
    core::InitLogAtPath(dir / "missing/Lumivane.log");
    EXPECT_EQ(core::LogPrintf("lost too\n"), 0);
}

TEST(Log, EightThreadsLoggingAtOnceGiveWholeLines) {
    TempDir dir;
    core::InitLogAtPath(dir / "Lumivane.log");
    constexpr int kThreads = 8;
    constexpr int kLinesEach = 500;
    const std::string padding(200, 'x');  // long lines make a torn write likely to show
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &padding] {
            for (int i = 0; i < kLinesEach; ++i)
                core::LogPrintf("thread %d line %d %s end\n", t, i, padding.c_str());
        });
    for (std::thread& thread : threads) thread.join();

    std::map<int, int> nextLine;  // each thread's lines arrive whole and in its own order
    for (const std::string& line : Lines(ReadFile(dir / "Lumivane.log"))) {
        const size_t body = line.find("]: ");
        ASSERT_NE(body, std::string::npos) << line;
        int thread = -1, index = -1;
        char tail[256] = {};
        ASSERT_EQ(std::sscanf(line.c_str() + body + 3, "thread %d line %d %255s", &thread,
                              &index, tail),
                  3)
            << line;
        EXPECT_EQ(line.substr(line.size() - padding.size() - 4), padding + " end") << line;
        EXPECT_EQ(index, nextLine[thread]++) << line;
    }
    ASSERT_EQ(nextLine.size(), static_cast<size_t>(kThreads));
    for (const auto& [thread, count] : nextLine) EXPECT_EQ(count, kLinesEach) << thread;
}

TEST(Log, FormatLogTimeIsEmptyWhenItCannotFormat) {
    const std::time_t now = std::time(nullptr);
    EXPECT_FALSE(core::FormatLogTime(&now, "%Y").empty());
    EXPECT_EQ(core::FormatLogTime(&now, nullptr), "");
    EXPECT_EQ(core::FormatLogTime(nullptr, "%c"), "");
    EXPECT_EQ(core::FormatLogTime(&now, std::string(200, 'a').c_str()), "");  // would not fit
}

TEST(Log, TimeStampsReadAlikeWhateverLocaleTheProcessIsIn) {
    const std::time_t epoch = 0;
    const std::string cStamp = "Thu Jan  1 00:00:00 1970";
    std::string before, after;
    bool switched = false;
    {
        testing_support::ScopedEnv utc("TZ", "UTC");
        ::tzset();
        before = core::FormatLogTime(&epoch, "%c");
        // The user interface switches the process to the user's locale; a German one names the
        // day and month differently. Compiled for the test when none is installed.
        TempDir locales;
        std::optional<testing_support::ScopedEnv> localePath;
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
            const std::string compile =
                "localedef -i de_DE -f UTF-8 '" + locales / "de_DE.UTF-8" + "' 2>/dev/null";
            if (std::system(compile.c_str()) == 0) {
                localePath.emplace("LOCPATH", locales.path());
                std::setlocale(LC_ALL, "de_DE.UTF-8");
            }
        }
        switched = std::string(std::setlocale(LC_ALL, nullptr)) == "de_DE.UTF-8";
        after = core::FormatLogTime(&epoch, "%c");
        std::setlocale(LC_ALL, "C");
    }
    ::tzset();
    EXPECT_EQ(before, cStamp);
    if (!switched) GTEST_SKIP() << "no German locale to switch to";
    EXPECT_EQ(after, cStamp);
}

TEST(Log, RemoveFileSpecCutsTheLastComponent) {
    const std::pair<std::string, std::string> cases[] = {
        {"/usr/bin/lumivane", "/usr/bin"}, {"/lumivane", "/"}, {"/", "/"}, {"lumivane", ""},
    };
    for (auto [path, expected] : cases) {
        core::RemoveFileSpec(path);
        EXPECT_EQ(path, expected);
    }
}
