#include "psmux/program_stream_writer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>

#include "core/new_file.h"
#include "core/program_stream_fields.h"
#include "psmux/byte_order.h"

namespace psmux {

namespace {

constexpr size_t kFileBufferSize = 256 * 1024;

// PES header sizes.
constexpr int kPesPrefixAndLength = 6;       // 00 00 01 id, 16-bit length
constexpr int kMpeg2PesFlags = 3;            // flag bytes and header-data length
constexpr int kMpeg2PesExtension = 3;        // extension flags and the STD buffer field
constexpr int kTimestampSize = static_cast<int>(core::kTimestampFieldSize);
constexpr int kMpeg1NoTimestampByte = 1;     // 0x0F
constexpr int kMpeg1BufferField = 2;
constexpr int kMaxStuffingBytes = 9;          // larger gaps become a padding packet
constexpr uint8_t kMpeg2PesMarker = 0x81;     // '10', original, no scrambling or priority
constexpr uint8_t kMpeg2PesExtensionStdFlag = 0x1E;  // P-STD buffer flag and reserved bits
constexpr int kEndCodeSize = 4;

// One integer conversion inside a pattern: where it starts and ends, its flags and width.
struct Conversion {
    size_t begin = std::string::npos;
    size_t end = 0;
    bool zeroPad = false;
    int width = 0;
};

// Parses the pattern; false unless it holds at most one integer conversion and only "%%"
// besides it. Without a conversion `found.begin` stays npos.
bool ParsePattern(const std::string& pattern, Conversion& found) {
    int conversions = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        size_t j = i + 1;
        if (j < pattern.size() && pattern[j] == '%') {
            i = j;
            continue;
        }
        Conversion c;
        c.begin = i;
        if (j < pattern.size() && pattern[j] == '0') {
            c.zeroPad = true;
            ++j;
        }
        int digits = 0;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9' && digits < 3) {
            c.width = c.width * 10 + (pattern[j] - '0');
            ++j;
            ++digits;
        }
        if (j >= pattern.size() || (pattern[j] != 'd' && pattern[j] != 'i' && pattern[j] != 'u'))
            return false;
        c.end = j + 1;
        found = c;
        ++conversions;
        i = j;
    }
    return conversions <= 1;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') ++i;
    }
    return out;
}

}  // namespace

bool SegmentNamer::IsValidPattern(const std::string& pattern) {
    Conversion c;
    return ParsePattern(pattern, c);
}

std::string SegmentNamer::NameOf(int segment) const {
    if (!isPattern_) return NumberedName(name_, segment);
    Conversion c;
    if (!ParsePattern(name_, c)) return name_;
    // A pattern of "%%" escapes alone names a file with '%' in it.
    if (c.begin == std::string::npos) return NumberedName(Unescape(name_), segment);
    std::string number = std::to_string(segment);
    while (static_cast<int>(number.size()) < c.width) number.insert(0, 1, c.zeroPad ? '0' : ' ');
    return Unescape(name_.substr(0, c.begin)) + number + Unescape(name_.substr(c.end));
}

std::string SegmentNamer::NumberedName(const std::string& name, int segment) {
    if (segment == 1) return name;
    std::string number = std::to_string(segment);
    if (number.size() < 2) number.insert(0, 1, '0');
    size_t slash = name.rfind('/');
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = name.size();
    return name.substr(0, dot) + "_" + number + name.substr(dot);
}

ProgramStreamWriter::ProgramStreamWriter(int mpegVersion, int sectorSize, SegmentNamer namer,
                                         uint64_t segmentLimit)
    : mpegVersion_(mpegVersion),
      sectorSize_(sectorSize),
      segmentLimit_(segmentLimit),
      namer_(std::move(namer)),
      sector_(static_cast<size_t>(sectorSize)),
      fileBuffer_(kFileBufferSize) {
    currentName_ = namer_.NameOf(segment_);
}

ProgramStreamWriter::~ProgramStreamWriter() {
    if (file_ != nullptr) std::fclose(file_);
}

bool ProgramStreamWriter::OpenFile() {
    if (failed_) return false;
    FileIdentity existing;
    if (IdentityOfName(currentName_, existing) &&
        std::find(keptIntact_.begin(), keptIntact_.end(), existing) != keptIntact_.end()) {
        failed_ = refusedAnInput_ = true;
        return false;
    }
    file_ = createAnew_ ? core::CreateNewStream(currentName_) : std::fopen(currentName_.c_str(), "wb");
    if (file_ == nullptr) {
        Fail();
        return false;
    }
    written_.push_back(currentName_);
    std::setvbuf(file_, fileBuffer_.data(), _IOFBF, fileBuffer_.size());
    bytesInSegment_ = 0;
    return true;
}

bool ProgramStreamWriter::CloseFile() {
    if (file_ == nullptr) return !failed_;
    if (std::fclose(file_) != 0 && !failed_) Fail();
    file_ = nullptr;
    return !failed_;
}

void ProgramStreamWriter::Fail() {
    failureReason_ = std::strerror(errno);
    failed_ = true;
}

void ProgramStreamWriter::RemoveWrittenFiles() {
    CloseFile();
    for (const std::string& name : written_) {
        struct stat status;
        if (::lstat(name.c_str(), &status) == 0 && S_ISREG(status.st_mode)) std::remove(name.c_str());
    }
    written_.clear();
}

bool ProgramStreamWriter::SegmentFull() const {
    return segmentLimit_ != 0 && bytesInSegment_ > segmentLimit_;
}

bool ProgramStreamWriter::StartNextSegment() {
    if (!CloseFile()) return false;
    ++segment_;
    currentName_ = namer_.NameOf(segment_);
    return OpenFile();
}

bool ProgramStreamWriter::WriteRaw(const uint8_t* bytes, size_t length) {
    if (failed_ || file_ == nullptr) return false;
    if (std::fwrite(bytes, 1, length, file_) != length) {
        Fail();
        return false;
    }
    bytesInSegment_ += length;
    return true;
}

int ProgramStreamWriter::PayloadSpace(const PesStream& stream, const HeaderBuffer* system,
                                      const HeaderBuffer* pack, bool buffers, bool pts,
                                      bool dts) const {
    int space = sectorSize_ - stream.ZeroStuffing() - kPesPrefixAndLength;
    if (system != nullptr) space -= static_cast<int>(system->length);
    if (pack != nullptr) space -= static_cast<int>(pack->length);
    if (mpegVersion_ == 2) {
        space -= kMpeg2PesFlags;
        if (buffers) space -= kMpeg2PesExtension;
    } else {
        space -= kMpeg1NoTimestampByte;
        if (buffers) space -= kMpeg1BufferField;
        if (pts || dts) space += kMpeg1NoTimestampByte;
    }
    if (dts) space -= kTimestampSize;
    if (pts) space -= kTimestampSize;
    return space;
}

namespace {

// Timestamps are kept in 27 MHz ticks; the PES field holds them in 90 kHz ticks.
void PutTimestamp(uint8_t* field, int64_t ticks, core::TimestampPrefix prefix) {
    core::WriteTimestamp(field, ticks / core::kSystemClockTicksPerTick, prefix);
}

}  // namespace

void ProgramStreamWriter::BuildPackHeader(HeaderBuffer& header, int64_t scr, uint32_t rateBound) const {
    uint8_t* p = header.bytes.data();
    PutBe32(p, kPackStartCode);
    if (mpegVersion_ == 2) {
        core::WriteMpeg2Scr(p + 4, scr);
        p[10] = static_cast<uint8_t>(rateBound >> 14);
        p[11] = static_cast<uint8_t>(rateBound >> 6);
        p[12] = static_cast<uint8_t>(rateBound << 2 | 0x03);
        p[13] = 0xF8;  // reserved bits, no pack stuffing
        header.length = 14;
    } else {
        PutTimestamp(p + 4, scr, core::TimestampPrefix::kPtsAlone);
        p[9] = static_cast<uint8_t>(rateBound >> 15 | 0x80);
        p[10] = static_cast<uint8_t>(rateBound >> 7);
        p[11] = static_cast<uint8_t>(rateBound << 1 | 0x01);
        header.length = 12;
    }
    header.scr = scr;
}

void ProgramStreamWriter::BuildSystemHeader(HeaderBuffer& header, uint32_t rateBound, bool fixed,
                                            bool csps, bool audioLock, bool videoLock,
                                            const std::vector<const PesStream*>& streams) const {
    int audioBound = 0;
    int videoBound = 0;
    for (const PesStream* s : streams) {
        int id = s->Id();
        if ((id >= 0xC0 && id <= 0xCF) || id == kPrivateStream1) ++audioBound;
        if ((id >= 0xE0 && id <= 0xEF) || id == 0xB9) ++videoBound;
    }
    uint8_t* p = header.bytes.data();
    PutBe32(p, kSystemHeaderCode);
    p[6] = static_cast<uint8_t>(rateBound >> 15 | 0x80);
    p[7] = static_cast<uint8_t>(rateBound >> 7);
    p[8] = static_cast<uint8_t>(rateBound << 1 | 0x01);
    p[9] = static_cast<uint8_t>(audioBound << 2 | (fixed ? 2 : 0) | (csps ? 1 : 0));
    p[10] = static_cast<uint8_t>((audioLock ? 0x80 : 0) | (videoLock ? 0x40 : 0) | 0x20 | videoBound);
    p[11] = 0xFF;
    size_t length = 12;
    for (const PesStream* s : streams) {
        if (length + 3 > header.bytes.size()) break;
        int field = s->StdBufferSizeField();
        p[length] = static_cast<uint8_t>(s->Id());
        p[length + 1] = static_cast<uint8_t>(0xC0 | s->BufferScale() << 5 | ((field >> 8) & 0x1F));
        p[length + 2] = static_cast<uint8_t>(field);
        length += 3;
    }
    PutBe16(p + 4, static_cast<uint32_t>(length - 6));
    header.length = length;
}

size_t ProgramStreamWriter::PutSectorHeader(uint8_t* sector, const HeaderBuffer* pack,
                                            const HeaderBuffer* system) const {
    size_t at = 0;
    for (const HeaderBuffer* h : {pack, system}) {
        if (h == nullptr) continue;
        std::memcpy(sector + at, h->bytes.data(), h->length);
        at += h->length;
    }
    return at;
}

size_t ProgramStreamWriter::WriteSector(const HeaderBuffer* pack, const HeaderBuffer* system,
                                        size_t maximumPayload, PesStream& stream, bool buffers,
                                        bool endCode, int64_t pts, int64_t dts, TimestampKind kind) {
    uint8_t* sector = sector_.data();
    const size_t room = static_cast<size_t>(sectorSize_ - stream.ZeroStuffing() - (endCode ? kEndCodeSize : 0));
    const size_t pes = PutSectorHeader(sector, pack, system);
    const bool mpeg2Header = mpegVersion_ == 2 && stream.Id() != kPaddingStreamId;
    const bool mpeg1Header = mpegVersion_ == 1 && stream.Id() != kPaddingStreamId;

    PutBe32(sector + pes, 0x100u | static_cast<uint32_t>(stream.Id()));
    size_t at = pes + kPesPrefixAndLength;
    auto putTimestamps = [&] {
        if (kind == kPtsOnly) {
            PutTimestamp(sector + at, pts, core::TimestampPrefix::kPtsAlone);
            at += kTimestampSize;
        } else if (kind == kPtsAndDts) {
            PutTimestamp(sector + at, pts, core::TimestampPrefix::kPtsBeforeDts);
            PutTimestamp(sector + at + kTimestampSize, dts, core::TimestampPrefix::kDtsAfterPts);
            at += 2 * kTimestampSize;
        }
    };
    auto putBufferField = [&] {
        int field = stream.StdBufferSizeField();
        sector[at] = static_cast<uint8_t>(0x40 | stream.BufferScale() << 5 | ((field >> 8) & 0x1F));
        sector[at + 1] = static_cast<uint8_t>(field);
        at += 2;
    };
    if (mpeg2Header) {
        sector[at] = kMpeg2PesMarker;
        sector[at + 1] = static_cast<uint8_t>(kind << 6 | (buffers ? 1 : 0));
        at += kMpeg2PesFlags;
        putTimestamps();
        if (buffers) {
            sector[at++] = kMpeg2PesExtensionStdFlag;
            putBufferField();
        }
    } else if (mpeg1Header) {
        if (buffers) putBufferField();
        if (kind == kNoTimestamps)
            sector[at++] = 0x0F;
        else
            putTimestamps();
    }

    assert(at <= room);
    size_t available = room - at;
    size_t limit = (maximumPayload != 0 && maximumPayload < available) ? maximumPayload : available;
    size_t n = stream.ReadPayload(sector + at, limit);
    size_t gap = available - n;
    if (gap >= 1 && gap <= kMaxStuffingBytes && (mpeg2Header || mpeg1Header)) {
        // Stuffing inside the PES header: after the header data in MPEG-2, straight after the
        // length field in MPEG-1.
        size_t insertAt = mpeg2Header ? at : pes + kPesPrefixAndLength;
        std::memmove(sector + insertAt + gap, sector + insertAt, at + n - insertAt);
        std::memset(sector + insertAt, 0xFF, gap);
        at += gap;
        gap = 0;
    }
    if (mpeg2Header) sector[pes + 8] = static_cast<uint8_t>(at - (pes + 9));
    PutBe16(sector + pes + 4, static_cast<uint32_t>(at + n - (pes + kPesPrefixAndLength)));
    size_t end = at + n;
    if (gap > 0) {
        // A padding packet fills the rest; a gap too small for one only occurs with streams
        // that have no PES header of their own, which fill the sector themselves.
        assert(gap >= kPesPrefixAndLength + 1);
        PutBe32(sector + end, 0x100u | kPaddingStreamId);
        PutBe16(sector + end + 4, static_cast<uint32_t>(gap - kPesPrefixAndLength));
        size_t fill = end + kPesPrefixAndLength;
        if (mpegVersion_ == 1) sector[fill++] = 0x0F;
        std::memset(sector + fill, 0xFF, end + gap - fill);
        end += gap;
    }
    if (endCode) {
        PutBe32(sector + end, kProgramEndCode);
        end += kEndCodeSize;
    }
    std::memset(sector + end, 0x00, static_cast<size_t>(stream.ZeroStuffing()));
    end += static_cast<size_t>(stream.ZeroStuffing());
    assert(end == static_cast<size_t>(sectorSize_));
    WriteRaw(sector, end);
    return n;
}

}  // namespace psmux
