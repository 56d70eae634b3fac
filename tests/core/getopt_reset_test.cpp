#include <getopt.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/getopt_reset.h"

namespace {

// Parses argv with "mTo:" and returns the option letters seen, stopping after maxOptions.
std::string Parse(std::vector<std::string> args, int maxOptions = 100) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    core::getopt_reset_full(static_cast<int>(args.size()), argv.data(), "mTo:");
    opterr = 0;
    std::string seen;
    int c;
    while (maxOptions-- > 0 && (c = getopt_long(static_cast<int>(args.size()), argv.data(), "mTo:",
                                                 nullptr, nullptr)) != -1)
        seen += static_cast<char>(c);
    return seen;
}

}  // namespace

TEST(GetoptReset, ParseStoppedInsideAClusterLeaksNothing) {
    // Stop after "m" inside "-mT": the parser is left pointing into the cluster.
    EXPECT_EQ(Parse({"prog", "-mT"}, 1), "m");
    // A fresh vector must be parsed from its start, without the leftover 'T'.
    EXPECT_EQ(Parse({"prog", "-o", "dir"}), "o");
    EXPECT_EQ(Parse({"prog", "-m", "-T"}), "mT");
}
