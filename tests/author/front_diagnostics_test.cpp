// The engine's error lines, collected for the caller from messages that come in pieces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "author/diagnostics.h"

namespace {

std::vector<std::string> CapturedLines(const std::vector<std::string>& pieces) {
    std::vector<std::string> lines;
    testing::internal::CaptureStderr();
    {
        const author::ErrorLineCapture capture(&lines);
        for (const std::string& piece : pieces) author::emit("%s", piece.c_str());
    }
    testing::internal::GetCapturedStderr();
    return lines;
}

TEST(Diagnostics, EveryErrorLineIsCollectedWhateverCameBeforeIt) {
    const struct {
        const char* name;
        std::vector<std::string> pieces;
        std::vector<std::string> lines;
    } cases[] = {
        {"after a progress line, which ends in a carriage return",
         {"STAT: VOBU 16 at 2MB, 1 PGCS\r", "ERR:  Error writing data to a.VOB: No space left\n"},
         {"Error writing data to a.VOB: No space left"}},
        {"after several progress lines, and one without a line end",
         {"STAT: fixing VOBU at 1MB (16/32, 50%)\r", "STAT: fixing VOBU at 2MB (32/32, 100%)\r",
          "ERR:  first\n", "ERR:  second"},
         {"first", "second"}},
        {"in pieces, after a line end of its own",
         {"WARN: a warning\n", "\nERR:  ", "Cannot read ", "a.vob\n"},
         {"Cannot read a.vob"}},
        {"none but progress and warnings", {"STAT: VOBU 16 at 2MB\r", "WARN: ERR: quoted\n"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CapturedLines(c.pieces), c.lines);
    }
}

}  // namespace
