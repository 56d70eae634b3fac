#include "driver/arg_list.h"

#include <string>

#include <gtest/gtest.h>

namespace driver {
namespace {

TEST(ArgList, BuildsTheEnginesArgumentVector) {
    ArgList args("psmux");
    args.Add("-o");
    args.Add("/out/DVD");
    for (int i = 0; i < 60; ++i) {  // more clips than a fixed table of 100 slots holds
        args.Add("-f");
        args.Add("/out/Lumivane" + std::to_string(i) + ".vob");
    }
    ASSERT_EQ(args.Count(), 123);
    char** argv = args.Argv();
    EXPECT_STREQ(argv[0], "psmux");
    EXPECT_STREQ(argv[2], "/out/DVD");
    EXPECT_STREQ(argv[122], "/out/Lumivane59.vob");
    EXPECT_EQ(argv[123], nullptr);

    args.Clear();
    args.Add("-T");
    EXPECT_EQ(args.Count(), 2);
    EXPECT_STREQ(args.Argv()[0], "psmux");
    EXPECT_STREQ(args.Argv()[1], "-T");
}

}  // namespace
}  // namespace driver
