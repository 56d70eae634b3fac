#include "reader/directx_version.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "media_fixtures.h"
#include "reader/pe_version.h"

namespace {

using platform::com::E_FAIL;
using platform::com::S_OK;
using reader::GetDirectXVersion;
using reader::MakeFileVersion;

struct Expected {
    uint32_t major, minor;
    char letter;
};

Expected Check(const std::map<std::string, uint64_t>& files) {
    Expected found{99, 99, '?'};
    const auto reader = [&](const std::string& path, uint64_t* version) {
        const auto it = files.find(path.substr(path.rfind('/') + 1));
        if (it == files.end()) return E_FAIL;
        *version = it->second;
        return S_OK;
    };
    EXPECT_EQ(GetDirectXVersion("/sys32", reader, &found.major, &found.minor, &found.letter), S_OK);
    return found;
}

TEST(DirectXVersion, TableWithInjectedVersions) {
    const struct {
        std::map<std::string, uint64_t> files;
        Expected expected;
    } cases[] = {
        {{}, {0, 0, ' '}},
        {{{"ddraw.dll", MakeFileVersion(4, 8, 0, 400)}, {"d3d8.dll", MakeFileVersion(4, 8, 1, 901)}}, {8, 1, 'a'}},
        {{{"mpg2splt.ax", MakeFileVersion(6, 3, 1, 885)}, {"d3d9.dll", MakeFileVersion(1, 0, 0, 0)}}, {9, 0, ' '}},
        {{{"mpg2splt.ax", MakeFileVersion(6, 3, 1, 885)}}, {8, 1, 'b'}},
        {{{"ddraw.dll", MakeFileVersion(6, 0, 0, 0)}}, {7, 0, ' '}},  // not row 11: first number 6
        {{{"ddraw.dll", MakeFileVersion(5, 1, 2258, 400)}}, {8, 0, ' '}},
        {{{"ddraw.dll", MakeFileVersion(5, 1, 2258, 399)}}, {7, 0, ' '}},
        {{{"dpnet.dll", MakeFileVersion(5, 2, 3677, 134)}, {"dinput.dll", MakeFileVersion(4, 7, 0, 716)}}, {8, 2, ' '}},
        {{{"ddraw.dll", MakeFileVersion(4, 2, 0, 94)}}, {0, 0, ' '}},
    };
    for (const auto& c : cases) {
        const Expected got = Check(c.files);
        EXPECT_EQ(got.major, c.expected.major);
        EXPECT_EQ(got.minor, c.expected.minor);
        EXPECT_EQ(got.letter, c.expected.letter);
    }
    EXPECT_EQ(GetDirectXVersion("/sys32", [](const std::string&, uint64_t*) { return E_FAIL; }, nullptr,
                                nullptr, nullptr),
              S_OK);
}

TEST(DirectXVersion, ThisMachineHonestlyHasNone) {
    uint32_t major = 7, minor = 7;
    char letter = 'x';
    EXPECT_EQ(GetDirectXVersion(&major, &minor, &letter), S_OK);
    EXPECT_EQ(major, 0u);
    EXPECT_EQ(minor, 0u);
    EXPECT_EQ(letter, ' ');
}

TEST(DirectXVersion, CompareVersionsHighWordFirstUnsigned) {
    EXPECT_EQ(reader::CompareVersions(MakeFileVersion(4, 8, 0, 400), MakeFileVersion(4, 8, 0, 400)), 0);
    EXPECT_EQ(reader::CompareVersions(MakeFileVersion(0xFFFF, 0, 0, 0), MakeFileVersion(4, 0, 0, 0)), 1);
    EXPECT_EQ(reader::CompareVersions(MakeFileVersion(4, 0, 0, 1), MakeFileVersion(4, 0, 0xFFFF, 0)), -1);
}

// A minimal PE32 image with one section holding a version resource.
std::vector<uint8_t> MakeImage(uint32_t ms, uint32_t ls) {
    std::vector<uint8_t> image(0x400, 0);
    auto put16 = [&](size_t at, uint32_t v) { image[at] = uint8_t(v); image[at + 1] = uint8_t(v >> 8); };
    auto put32 = [&](size_t at, uint32_t v) { put16(at, v & 0xFFFF); put16(at + 2, v >> 16); };
    put16(0, 'M' | 'Z' << 8);
    put32(0x3C, 0x80);
    put32(0x80, 'P' | 'E' << 8);
    put16(0x84 + 2, 1);      // one section
    put16(0x84 + 16, 0xE0);  // optional header size
    const size_t optional = 0x84 + 20;
    put16(optional, 0x10B);
    put32(optional + 92, 16);                // data directories
    put32(optional + 96 + 2 * 8, 0x1000);    // resource directory RVA
    put32(optional + 96 + 2 * 8 + 4, 0x200);
    const size_t section = optional + 0xE0;
    put32(section + 8, 0x200);
    put32(section + 12, 0x1000);
    put32(section + 16, 0x200);
    put32(section + 20, 0x200);
    const size_t rsrc = 0x200;
    put16(rsrc + 14, 1);  // type directory: one id entry
    put32(rsrc + 16, 16);
    put32(rsrc + 20, 0x80000000u | 0x18);
    put16(rsrc + 0x18 + 14, 1);  // name directory
    put32(rsrc + 0x18 + 16, 1);
    put32(rsrc + 0x18 + 20, 0x80000000u | 0x30);
    put16(rsrc + 0x30 + 14, 1);  // language directory
    put32(rsrc + 0x30 + 16, 0x409);
    put32(rsrc + 0x30 + 20, 0x48);
    put32(rsrc + 0x48, 0x1000 + 0x60);  // data entry: RVA and size
    put32(rsrc + 0x4C, 92);
    const size_t info = rsrc + 0x60;
    put16(info, 92);
    put16(info + 2, 52);
    const char16_t key[] = u"VS_VERSION_INFO";
    for (size_t i = 0; i < 16; ++i) put16(info + 6 + 2 * i, key[i]);
    put32(info + 40, 0xFEEF04BD);
    put32(info + 48, ms);
    put32(info + 52, ls);
    return image;
}

TEST(PeVersion, ReadsTheFixedFileVersionAndSurvivesEveryTruncation) {
    const std::vector<uint8_t> image = MakeImage(0x00040008, 0x00010385);
    uint64_t version = 0;
    ASSERT_EQ(reader::ReadPeFileVersion(image, &version), S_OK);
    EXPECT_EQ(version, MakeFileVersion(4, 8, 1, 901));
    for (size_t size = 0; size < 0x260 + 92; ++size) {  // up to the end of the version block
        const std::vector<uint8_t> cut(image.begin(), image.begin() + long(size));
        EXPECT_EQ(reader::ReadPeFileVersion(cut, &version), E_FAIL) << size;
    }
    std::vector<uint8_t> hostile = image;
    hostile[0x200 + 20 + 3] = 0x7F;  // subdirectory offset far outside the image
    EXPECT_EQ(reader::ReadPeFileVersion(hostile, &version), E_FAIL);
}

TEST(PeVersion, GetFileVersionReadsFiles) {
    reader_test::TempDir dir;
    const std::string path = dir.File("ddraw.dll");
    const std::vector<uint8_t> image = MakeImage(0x00040008, 0x00000190);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), long(image.size()));
    uint64_t version = 0;
    EXPECT_EQ(reader::GetFileVersion(path.c_str(), &version), S_OK);
    EXPECT_EQ(version, MakeFileVersion(4, 8, 0, 400));
    EXPECT_EQ(reader::GetFileVersion(dir.Path().c_str(), &version), E_FAIL);
    EXPECT_EQ(reader::GetFileVersion(nullptr, &version), platform::com::E_INVALIDARG);
}

}  // namespace
