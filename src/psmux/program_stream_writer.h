// Assembles and writes the sectors of an MPEG program stream and owns the output files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "psmux/bit_reader.h"
#include "psmux/pes_stream.h"

namespace psmux {

// Pack or system header bytes, built once and copied into the sectors that carry them.
struct HeaderBuffer {
    std::array<uint8_t, 256> bytes{};
    size_t length = 0;
    int64_t scr = 0;  // the clock value a pack header encodes
};

// Timestamp kinds of a PES header.
enum TimestampKind { kNoTimestamps = 0, kPtsOnly = 2, kPtsAndDts = 3 };

// PES stream ids with a fixed meaning.
constexpr int kPrivateStream1 = 0xBD;
constexpr int kPaddingStreamId = 0xBE;
constexpr int kPrivateStream2 = 0xBF;

// How the output name becomes the names of the segment files.
class SegmentNamer {
public:
    // A pattern holds at most one integer conversion (%d, %i or %u with optional zero flag and
    // width) and may escape '%' as "%%"; anything else is refused. A literal name, or a
    // pattern without a conversion, is used as it stands for the first segment and gains
    // "_NN" before its extension for later ones.
    static bool IsValidPattern(const std::string& pattern);
    SegmentNamer(std::string name, bool isPattern) : name_(std::move(name)), isPattern_(isPattern) {}
    std::string NameOf(int segment) const;

private:
    static std::string NumberedName(const std::string& name, int segment);

    std::string name_;
    bool isPattern_;
};

class ProgramStreamWriter {
public:
    ProgramStreamWriter(int mpegVersion, int sectorSize, SegmentNamer namer, uint64_t segmentLimit);
    ~ProgramStreamWriter();
    ProgramStreamWriter(const ProgramStreamWriter&) = delete;
    ProgramStreamWriter& operator=(const ProgramStreamWriter&) = delete;

    // Files that must never be opened for writing: the run's inputs, which an output of the
    // same name would cut short while they are read.
    void KeepIntact(std::vector<FileIdentity> inputs) { keptIntact_ = std::move(inputs); }
    // Set: each segment file is created anew (core::CreateNewFile), never through a link or
    // into a device; clear (the default): opened for writing wherever its name leads.
    void CreateFilesAnew(bool anew) { createAnew_ = anew; }
    // Opens the current segment; false when it cannot be created or is one of the kept files.
    bool OpenFile();
    // Closes the file; false when the last bytes could not be written.
    bool CloseFile();
    bool SegmentFull() const;
    bool StartNextSegment();
    // True once an open or a write has failed; nothing more is written after that.
    bool Failed() const { return failed_; }
    // True when an open failed because the segment's name leads to one of the kept files.
    bool RefusedAnInput() const { return refusedAnInput_; }
    // The system's words for the failed open or write.
    const std::string& FailureReason() const { return failureReason_; }
    // Removes the files this writer created, after a run that failed; devices and links
    // named as outputs stay.
    void RemoveWrittenFiles();
    const std::string& CurrentName() const { return currentName_; }

    int PayloadSpace(const PesStream& stream, const HeaderBuffer* system, const HeaderBuffer* pack,
                     bool buffers, bool pts, bool dts) const;
    // Writes one sector; answers the payload bytes the stream supplied.
    size_t WriteSector(const HeaderBuffer* pack, const HeaderBuffer* system, size_t maximumPayload,
                       PesStream& stream, bool buffers, bool endCode, int64_t pts, int64_t dts,
                       TimestampKind kind);
    bool WriteRaw(const uint8_t* bytes, size_t length);

    void BuildPackHeader(HeaderBuffer& header, int64_t scr, uint32_t rateBound) const;
    void BuildSystemHeader(HeaderBuffer& header, uint32_t rateBound, bool fixed, bool csps,
                           bool audioLock, bool videoLock,
                           const std::vector<const PesStream*>& streams) const;

    int SectorSize() const { return sectorSize_; }

private:
    size_t PutSectorHeader(uint8_t* sector, const HeaderBuffer* pack, const HeaderBuffer* system) const;
    // Marks the writer failed with errno's reason.
    void Fail();

    int mpegVersion_;
    int sectorSize_;
    int segment_ = 1;
    uint64_t segmentLimit_;
    std::FILE* file_ = nullptr;
    uint64_t bytesInSegment_ = 0;
    SegmentNamer namer_;
    std::string currentName_;
    std::vector<uint8_t> sector_;
    std::vector<char> fileBuffer_;
    bool failed_ = false;
    std::string failureReason_;
    std::vector<std::string> written_;
    std::vector<FileIdentity> keptIntact_;
    bool refusedAnInput_ = false;
    bool createAnew_ = false;
};

}  // namespace psmux
