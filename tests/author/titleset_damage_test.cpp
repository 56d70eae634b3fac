// The table of contents over titleset information files damaged at random places: each run
// either refuses the titleset, naming it, or leaves a disc that libdvdread reads without a
// complaint and lsdvd lists.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>

#include "author/disc_support.h"
#include "author/model.h"

namespace author {
namespace {

using ::testing::HasSubstr;
using testing::TempDir;
namespace fs = std::filesystem;

constexpr int kRuns = 300;
constexpr size_t kMaxDamage = 250;

struct Damage {
    size_t at = 0;
    size_t length = 0;
};

// Overwrites up to 250 bytes at one place. Half the places lie near a table's start (a sector
// boundary), where the counts and offsets are; half the runs write a few small values, which
// pass more checks than noise does and so reach the tables' deeper fields.
Damage damage(std::vector<uint8_t>& bytes, std::mt19937& random) {
    Damage d;
    const size_t sectors = bytes.size() / kSectorSize;
    d.at = random() % 2 ? random() % bytes.size() : (random() % sectors) * kSectorSize + random() % 512;
    const bool small = random() % 2;
    d.length = std::min<size_t>(1 + random() % (small ? 4 : kMaxDamage), bytes.size() - d.at);
    for (size_t i = 0; i < d.length; ++i)
        bytes[d.at + i] = static_cast<uint8_t>(small ? random() % 4 : random());
    return d;
}

// A titleset of three one-second clips, with or without a menu before them.
struct Titleset {
    const char* name;
    bool menu;
};

void PrintTo(const Titleset& titleset, std::ostream* out) { *out << titleset.name; }

class DamagedTitleset : public ::testing::TestWithParam<Titleset> {};

TEST_P(DamagedTitleset, IsRefusedByNameOrReadsBackCleanly) {
    TempDir work;
    const std::string dvd = work / "DVD";
    std::vector<std::string> arguments{"-o", dvd};
    if (GetParam().menu) {
        const std::string menu = testing::make_clip(work.path(), "menu.vob", 1, "-target pal-dvd -g 12");
        arguments.insert(arguments.end(), {"-m", "-f", menu, "-b", "jump title 1;", "-t"});
    }
    for (const char* name : {"a.vob", "b.vob", "c.vob"}) {
        arguments.push_back("-f");
        arguments.push_back(testing::make_clip(work.path(), name, 1, "-target pal-dvd -g 12"));
    }
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(testing::run_discforge(arguments), 0) << ::testing::internal::GetCapturedStderr();
    ::testing::internal::GetCapturedStderr();
    const std::string titleset = dvd + "/VIDEO_TS/VTS_01_0.IFO";
    const std::vector<uint8_t> good = testing::read_file(titleset);
    ASSERT_EQ(good.size() % kSectorSize, 0u);

    std::mt19937 random(20261211);
    int refused = 0;
    for (int run = 0; run < kRuns; ++run) {
        std::vector<uint8_t> bytes = good;
        const Damage d = damage(bytes, random);
        // The backup alike, so that the reader cannot fall back on a good copy.
        testing::write_file(titleset, bytes);
        testing::write_file(dvd + "/VIDEO_TS/VTS_01_0.BUP", bytes);
        std::ostringstream what;
        what << "run " << run << ": " << d.length << " bytes at 0x" << std::hex << d.at;
        SCOPED_TRACE(what.str());

        ::testing::internal::CaptureStderr();
        const int result = testing::run_discforge({"-T", "-o", dvd});
        const std::string messages = ::testing::internal::GetCapturedStderr();
        if (result != 0) {
            ++refused;
            EXPECT_EQ(result, 1);
            EXPECT_THAT(messages, HasSubstr("ERR:  " + titleset + ": "));
            EXPECT_FALSE(fs::exists(dvd + "/VIDEO_TS/VIDEO_TS.IFO"));
            continue;
        }
        std::vector<std::string> complaints;
        EXPECT_TRUE(testing::reader_opens(dvd, 1, complaints));
        EXPECT_THAT(complaints, ::testing::IsEmpty());
        EXPECT_EQ(testing::lsdvd_status(dvd), 0);
        if (::testing::Test::HasFailure()) break;  // one damaged run explains itself; more repeat it
    }
    // Both outcomes are reached, so the runs test the checks in both directions.
    EXPECT_GT(refused, kRuns / 10);
    EXPECT_LT(refused, kRuns * 9 / 10);
}

INSTANTIATE_TEST_SUITE_P(Titlesets, DamagedTitleset,
                         ::testing::Values(Titleset{"titles", false}, Titleset{"menu and titles", true}),
                         [](const auto& info) { return info.param.menu ? std::string("WithMenu") : "TitlesOnly"; });

}  // namespace
}  // namespace author
