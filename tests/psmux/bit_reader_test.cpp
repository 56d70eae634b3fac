#include <gtest/gtest.h>

#include "media_fixtures.h"
#include "psmux/bit_reader.h"

namespace psmux {
namespace {

std::string FileOf(const std::vector<uint8_t>& bytes) {
    const std::string path = psmux_test::NewPath(".bin");
    psmux_test::WriteFile(path, bytes);
    return path;
}

TEST(BitReader, ReadsBigEndianBitsAndFindsByteAlignedWords) {
    FileBitReader reader(FileOf({0x12, 0x34, 0x56, 0x78, 0x00, 0x00, 0x01, 0xB3, 0x00, 0x00, 0x01, 0x00}), 65536);
    ASSERT_TRUE(reader.IsOpen());
    BitReaderMark mark;
    reader.SaveMark(mark);
    EXPECT_EQ(reader.ReadBits(32), 0x12345678u);
    reader.RestoreMark(mark);
    EXPECT_EQ(reader.ReadBits(4), 0x1u);
    EXPECT_EQ(reader.ReadBits(12), 0x234u);
    EXPECT_EQ(reader.ReadBit(), 0u);  // first bit of 0x56
    // From mid-byte the search starts at the next byte boundary.
    EXPECT_TRUE(reader.FindSyncWord(0x000001, 24, 1000));
    EXPECT_EQ(reader.ReadBits(8), 0xB3u);
    // A word at the very first position tried is found with a limit of 1.
    EXPECT_TRUE(reader.FindSyncWord(0x000001, 24, 1));
    EXPECT_EQ(reader.ReadBits(8), 0x00u);
    EXPECT_FALSE(reader.FindSyncWord(0x000001, 24, 100));
    EXPECT_EQ(reader.ReadBits(32), 0u);  // past the end
    EXPECT_TRUE(reader.Exhausted());
}

TEST(BitReader, PayloadCopyKeepsTheBufferBounded) {
    std::vector<uint8_t> bytes(12 * 1024 * 1024);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    FileBitReader reader(FileOf(bytes), 65536);
    std::vector<uint8_t> copy;
    uint8_t chunk[2000];
    for (;;) {
        reader.SkipBytes(std::min<uint64_t>(2000, bytes.size() - reader.BitPosition() / 8));
        const uint64_t from = reader.PayloadCursor();
        const size_t n = reader.ReadBytes(chunk, sizeof chunk);
        reader.DiscardBefore(from);
        copy.insert(copy.end(), chunk, chunk + n);
        if (n < sizeof chunk) break;
    }
    EXPECT_EQ(copy, bytes);
    EXPECT_LE(reader.Capacity(), 256u * 1024);
}

}  // namespace
}  // namespace psmux
