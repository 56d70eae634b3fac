// Buffered big-endian reader under every input stream of the multiplexer.
//
// Two cursors share one growing buffer: the bit cursor of the scanners (headers, start codes)
// and the payload cursor that copies bytes into sectors and trails it. Bytes behind the payload
// cursor are dropped once they fill half the buffer, so a file of any size needs a bounded one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace psmux {

// A file as the file system knows it, whatever name or link reaches it.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file a name leads to; false when there is none yet.
bool IdentityOfName(const std::string& name, FileIdentity& out);

// The reader's two cursor positions (not its bytes). Restoring is valid while the bytes from
// the marked position on are still buffered: nothing at or after the payload cursor is dropped.
struct BitReaderMark {
    uint64_t bitsRead = 0;
    uint64_t payloadCursor = 0;
};

class BitReader {
public:
    explicit BitReader(size_t capacity);
    virtual ~BitReader() = default;
    BitReader(const BitReader&) = delete;
    BitReader& operator=(const BitReader&) = delete;

    // A bit, or 0 past the end of the data.
    uint32_t ReadBit();
    // n (0..32) bits, most significant first; 0 when they run past the end of the data.
    uint32_t ReadBits(int n);
    // Moves to the next byte boundary, then looks for the byte-aligned word of `bits` bits
    // (a multiple of 8, up to 32) at most `limit` positions; true leaves the cursor after it.
    bool FindSyncWord(uint32_t word, int bits, uint64_t limit);
    // Skips n bytes at a byte boundary, stopping at the end of the data.
    void SkipBytes(uint64_t n);
    void AlignToByte();

    // Copies (or, with a null destination, skips) up to n bytes at the payload cursor; fewer
    // only at the end of the data.
    size_t ReadBytes(uint8_t* destination, size_t n);
    // Lets the buffer drop bytes before the file offset once they fill half of it.
    void DiscardBefore(uint64_t fileOffset);

    void SaveMark(BitReaderMark& mark) const;
    void RestoreMark(const BitReaderMark& mark);

    uint64_t BitPosition() const { return bitsRead_; }
    uint64_t PayloadCursor() const { return payloadCursor_; }
    // True when the bit cursor has consumed every byte the file holds.
    bool Exhausted();
    bool ReadFailed() const { return readFailed_; }
    void ResizeBuffer(size_t capacity);
    size_t Capacity() const { return data_.size(); }

protected:
    // Fills the destination from the source; answers the bytes read (0 at the end).
    virtual size_t ReadFromSource(uint8_t* destination, size_t count) = 0;
    // Reads at least `wanted` more bytes when the source has them; true when any came.
    bool Refill(size_t wanted);
    void MarkReadFailed() { readFailed_ = true; }

private:
    bool EnsureByte();
    void Compact(size_t drop);  // drops the first `drop` buffered bytes
    uint64_t BufferEnd() const { return bufferStart_ + buffered_; }

    std::vector<uint8_t> data_;  // size() is the capacity
    size_t buffered_ = 0;
    uint64_t bufferStart_ = 0;  // file offset of data_[0]
    size_t byteIndex_ = 0;      // bit cursor's byte within data_
    uint64_t bitsRead_ = 0;     // bit cursor's position in the file
    int bitIndex_ = 8;          // bits left in the current byte; 8 at a boundary
    uint64_t payloadCursor_ = 0;
    bool endOfFile_ = false;
    bool readFailed_ = false;
};

class FileBitReader : public BitReader {
public:
    FileBitReader(const std::string& fileName, size_t bufferSize);
    ~FileBitReader() override;

    bool IsOpen() const { return file_ != nullptr; }
    const std::string& FileName() const { return fileName_; }
    // The file's size in bytes, 0 when it cannot be learnt.
    uint64_t FileSize() const;
    // The identity of the open file; false when it is not open.
    bool Identity(FileIdentity& out) const;

protected:
    size_t ReadFromSource(uint8_t* destination, size_t count) override;

private:
    std::FILE* file_ = nullptr;
    std::string fileName_;
};

}  // namespace psmux
