#include "reader/pe_version.h"

#include <optional>

namespace reader {

using platform::com::E_FAIL;
using platform::com::E_POINTER;
using platform::com::HRESULT;
using platform::com::S_OK;

namespace {

// Layout of the image headers and the resource tree.
constexpr size_t kDosLfanewOffset = 0x3C;
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kCoffSectionCount = 2;
constexpr size_t kCoffOptionalSize = 16;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr size_t kPe32DirectoryCount = 92;
constexpr size_t kPe32PlusDirectoryCount = 108;
constexpr size_t kDataDirectorySize = 8;
constexpr size_t kResourceDirectoryIndex = 2;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSectionVirtualSize = 8;
constexpr size_t kSectionVirtualAddress = 12;
constexpr size_t kSectionRawSize = 16;
constexpr size_t kSectionRawPointer = 20;
constexpr size_t kResourceDirectoryHeader = 16;
constexpr size_t kResourceNamedCount = 12;
constexpr size_t kResourceIdCount = 14;
constexpr size_t kResourceEntrySize = 8;
constexpr uint32_t kResourceSubdirectoryBit = 0x80000000u;
constexpr uint32_t kResourceNameIsStringBit = 0x80000000u;
constexpr uint32_t kResourceTypeVersion = 16;
constexpr size_t kVersionKeyOffset = 6;
constexpr char16_t kVersionKey[] = u"VS_VERSION_INFO";
constexpr size_t kFixedInfoSize = 52;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr size_t kFixedFileVersionMS = 8;
constexpr size_t kFixedFileVersionLS = 12;

class Image {
public:
    explicit Image(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    bool Has(size_t offset, size_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }
    std::optional<uint16_t> U16(size_t offset) const {
        if (!Has(offset, 2)) return std::nullopt;
        return uint16_t(bytes_[offset] | bytes_[offset + 1] << 8);
    }
    std::optional<uint32_t> U32(size_t offset) const {
        if (!Has(offset, 4)) return std::nullopt;
        return uint32_t(bytes_[offset]) | uint32_t(bytes_[offset + 1]) << 8 |
               uint32_t(bytes_[offset + 2]) << 16 | uint32_t(bytes_[offset + 3]) << 24;
    }

private:
    const std::vector<uint8_t>& bytes_;
};

struct Section {
    uint32_t virtualAddress;
    uint32_t span;  // larger of the virtual and the raw size
    uint32_t rawSize;
    uint32_t rawPointer;
};

class PeReader {
public:
    explicit PeReader(const std::vector<uint8_t>& bytes) : image_(bytes) {}

    std::optional<uint64_t> FileVersion() {
        if (!ReadHeaders()) return std::nullopt;
        const auto resourceFile = FileOffset(resourceRva_);
        if (!resourceFile) return std::nullopt;
        // Type, then name, then language: the first version resource of the first name.
        auto names = Child(*resourceFile, kResourceTypeVersion, true);
        if (!names || !(*names & kResourceSubdirectoryBit)) return std::nullopt;
        auto languages = Child(*resourceFile + (*names & ~kResourceSubdirectoryBit), 0, false);
        if (!languages || !(*languages & kResourceSubdirectoryBit)) return std::nullopt;
        auto data = Child(*resourceFile + (*languages & ~kResourceSubdirectoryBit), 0, false);
        if (!data || (*data & kResourceSubdirectoryBit)) return std::nullopt;
        const size_t dataEntry = *resourceFile + *data;
        const auto dataRva = image_.U32(dataEntry);
        const auto dataSize = image_.U32(dataEntry + 4);
        if (!dataRva || !dataSize) return std::nullopt;
        const auto dataFile = FileOffset(*dataRva);
        if (!dataFile || !image_.Has(*dataFile, *dataSize)) return std::nullopt;
        return FixedFileVersion(*dataFile, *dataSize);
    }

private:
    bool ReadHeaders() {
        if (image_.U16(0) != uint16_t('M' | 'Z' << 8)) return false;
        const auto peOffset = image_.U32(kDosLfanewOffset);
        if (!peOffset || image_.U32(*peOffset) != uint32_t('P' | 'E' << 8)) return false;
        const size_t coff = size_t(*peOffset) + 4;
        const auto sectionCount = image_.U16(coff + kCoffSectionCount);
        const auto optionalSize = image_.U16(coff + kCoffOptionalSize);
        if (!sectionCount || !optionalSize) return false;
        const size_t optional = coff + kCoffHeaderSize;
        const auto magic = image_.U16(optional);
        size_t countOffset;
        if (magic == kPe32Magic) {
            countOffset = kPe32DirectoryCount;
        } else if (magic == kPe32PlusMagic) {
            countOffset = kPe32PlusDirectoryCount;
        } else {
            return false;
        }
        const auto directoryCount = image_.U32(optional + countOffset);
        if (!directoryCount || *directoryCount <= kResourceDirectoryIndex) return false;
        const size_t resourceDirectory =
            countOffset + 4 + kResourceDirectoryIndex * kDataDirectorySize;
        if (resourceDirectory + kDataDirectorySize > *optionalSize) return false;
        const auto rva = image_.U32(optional + resourceDirectory);
        if (!rva || *rva == 0) return false;
        resourceRva_ = *rva;
        sectionTable_ = optional + *optionalSize;
        sectionCount_ = *sectionCount;
        return image_.Has(sectionTable_, sectionCount_ * kSectionHeaderSize);
    }

    std::optional<size_t> FileOffset(uint32_t rva) const {
        for (size_t i = 0; i < sectionCount_; ++i) {
            const size_t header = sectionTable_ + i * kSectionHeaderSize;
            const Section section{*image_.U32(header + kSectionVirtualAddress),
                                  std::max(*image_.U32(header + kSectionVirtualSize),
                                           *image_.U32(header + kSectionRawSize)),
                                  *image_.U32(header + kSectionRawSize),
                                  *image_.U32(header + kSectionRawPointer)};
            if (rva < section.virtualAddress || rva - section.virtualAddress >= section.span) continue;
            const uint32_t within = rva - section.virtualAddress;
            if (within >= section.rawSize) return std::nullopt;
            const size_t offset = size_t(section.rawPointer) + within;
            if (!image_.Has(offset, 1)) return std::nullopt;
            return offset;
        }
        return std::nullopt;
    }

    // The OffsetToData of the entry with the given id (or of the first entry when byId is
    // false) in the resource directory at directory.
    std::optional<uint32_t> Child(size_t directory, uint32_t id, bool byId) const {
        const auto named = image_.U16(directory + kResourceNamedCount);
        const auto ids = image_.U16(directory + kResourceIdCount);
        if (!named || !ids) return std::nullopt;
        const size_t entries = size_t(*named) + *ids;
        for (size_t i = 0; i < entries; ++i) {
            const size_t entry = directory + kResourceDirectoryHeader + i * kResourceEntrySize;
            const auto name = image_.U32(entry);
            const auto offset = image_.U32(entry + 4);
            if (!name || !offset) return std::nullopt;
            if (!byId || (!(*name & kResourceNameIsStringBit) && *name == id)) return offset;
        }
        return std::nullopt;
    }

    // VS_VERSIONINFO: length, value length, type, the key, padding to 4 bytes, then the
    // fixed file information.
    std::optional<uint64_t> FixedFileVersion(size_t block, uint32_t available) const {
        const auto length = image_.U16(block);
        const auto valueLength = image_.U16(block + 2);
        if (!length || !valueLength || *length > available || *valueLength < kFixedInfoSize) {
            return std::nullopt;
        }
        size_t cursor = block + kVersionKeyOffset;
        for (char16_t expected : kVersionKey) {
            if (image_.U16(cursor) != uint16_t(expected)) return std::nullopt;
            cursor += 2;
        }
        cursor = block + ((cursor - block + 3) & ~size_t(3));
        if (cursor + kFixedInfoSize > block + *length) return std::nullopt;
        if (image_.U32(cursor) != kFixedInfoSignature) return std::nullopt;
        const auto ms = image_.U32(cursor + kFixedFileVersionMS);
        const auto ls = image_.U32(cursor + kFixedFileVersionLS);
        if (!ms || !ls) return std::nullopt;
        return uint64_t(*ms) << 32 | *ls;
    }

    Image image_;
    uint32_t resourceRva_ = 0;
    size_t sectionTable_ = 0;
    size_t sectionCount_ = 0;
};

}  // namespace

HRESULT ReadPeFileVersion(const std::vector<uint8_t>& image, uint64_t* version) {
    if (version == nullptr) return E_POINTER;
    const std::optional<uint64_t> found = PeReader(image).FileVersion();
    if (!found) return E_FAIL;
    *version = *found;
    return S_OK;
}

}  // namespace reader
