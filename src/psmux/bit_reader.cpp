#include "psmux/bit_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cassert>
#include <cstring>

namespace psmux {

namespace {
constexpr size_t kMinimumRefill = 16384;
constexpr size_t kScannerRefill = 65536;
}  // namespace

BitReader::BitReader(size_t capacity) : data_(std::max<size_t>(capacity, kMinimumRefill)) {}

bool BitReader::Refill(size_t wanted) {
    if (endOfFile_) return false;
    size_t amount = kMinimumRefill;
    while (amount < wanted) amount *= 2;
    if (buffered_ + amount > data_.size()) {
        // Reuse the room of bytes both cursors have passed before growing the buffer.
        uint64_t keepFrom = std::min<uint64_t>(payloadCursor_, bufferStart_ + byteIndex_);
        if (keepFrom > bufferStart_) Compact(static_cast<size_t>(keepFrom - bufferStart_));
    }
    if (buffered_ + amount > data_.size()) {
        size_t capacity = data_.size();
        while (buffered_ + amount > capacity) capacity *= 2;
        data_.resize(capacity);
    }
    size_t got = ReadFromSource(data_.data() + buffered_, amount);
    buffered_ += got;
    if (got == 0) endOfFile_ = true;
    return got > 0;
}

bool BitReader::EnsureByte() {
    while (byteIndex_ >= buffered_)
        if (!Refill(kScannerRefill)) return false;
    return true;
}

bool BitReader::Exhausted() { return !EnsureByte(); }

void BitReader::AlignToByte() {
    if (bitIndex_ != 8) {
        bitsRead_ += static_cast<uint64_t>(bitIndex_);
        bitIndex_ = 8;
        ++byteIndex_;
    }
}

uint32_t BitReader::ReadBit() {
    if (!EnsureByte()) return 0;
    uint32_t bit = (data_[byteIndex_] >> (bitIndex_ - 1)) & 1u;
    ++bitsRead_;
    if (--bitIndex_ == 0) {
        bitIndex_ = 8;
        ++byteIndex_;
    }
    return bit;
}

uint32_t BitReader::ReadBits(int n) {
    assert(n >= 0 && n <= 32);
    uint32_t value = 0;
    if (bitIndex_ == 8 && n % 8 == 0) {
        for (int i = 0; i < n / 8; ++i) {
            if (!EnsureByte()) return 0;
            value = value << 8 | data_[byteIndex_++];
            bitsRead_ += 8;
        }
        return value;
    }
    for (int i = 0; i < n; ++i) {
        if (!EnsureByte()) return 0;
        value = value << 1 | ReadBit();
    }
    return value;
}

bool BitReader::FindSyncWord(uint32_t word, int bits, uint64_t limit) {
    assert(bits % 8 == 0 && bits >= 8 && bits <= 32);
    AlignToByte();
    const uint32_t mask = bits == 32 ? 0xFFFFFFFFu : ((1u << bits) - 1);
    word &= mask;
    const int leadBytes = bits / 8;
    uint32_t window = 0;
    int have = 0;
    uint64_t tried = 0;
    // Scans the buffered bytes in place; this is the hot loop of the video scanner.
    for (;;) {
        if (byteIndex_ >= buffered_ && !Refill(kScannerRefill)) return false;
        const uint8_t* data = data_.data();
        size_t i = byteIndex_;
        bool found = false;
        bool exhausted = false;
        while (i < buffered_) {
            window = window << 8 | data[i++];
            if (have < leadBytes && ++have < leadBytes) continue;
            if ((window & mask) == word) {
                found = true;
                break;
            }
            if (++tried >= limit) {
                exhausted = true;
                break;
            }
        }
        bitsRead_ += static_cast<uint64_t>(i - byteIndex_) * 8;
        byteIndex_ = i;
        if (found) return true;
        if (exhausted) return false;
    }
}

void BitReader::SkipBytes(uint64_t n) {
    assert(bitIndex_ == 8);
    while (n > 0) {
        if (!EnsureByte()) return;
        size_t step = static_cast<size_t>(std::min<uint64_t>(n, buffered_ - byteIndex_));
        byteIndex_ += step;
        bitsRead_ += static_cast<uint64_t>(step) * 8;
        n -= step;
    }
}

size_t BitReader::ReadBytes(uint8_t* destination, size_t n) {
    // The payload cursor may not be behind the buffer; the streams never discard past it.
    assert(payloadCursor_ >= bufferStart_);
    while (BufferEnd() < payloadCursor_ + n && Refill(payloadCursor_ + n - BufferEnd())) {
    }
    size_t available = BufferEnd() > payloadCursor_ ? static_cast<size_t>(BufferEnd() - payloadCursor_) : 0;
    size_t count = std::min(n, available);
    if (destination != nullptr && count > 0)
        std::memcpy(destination, data_.data() + (payloadCursor_ - bufferStart_), count);
    payloadCursor_ += count;
    return count;
}

void BitReader::DiscardBefore(uint64_t fileOffset) {
    if (fileOffset <= bufferStart_) return;
    // Never drop bytes the bit cursor has still to read.
    size_t drop = static_cast<size_t>(std::min<uint64_t>(fileOffset - bufferStart_, byteIndex_));
    if (drop >= data_.size() / 2) Compact(drop);
}

void BitReader::Compact(size_t drop) {
    std::memmove(data_.data(), data_.data() + drop, buffered_ - drop);
    bufferStart_ += drop;
    buffered_ -= drop;
    byteIndex_ -= drop;
}

void BitReader::SaveMark(BitReaderMark& mark) const { mark = {bitsRead_, payloadCursor_}; }

void BitReader::RestoreMark(const BitReaderMark& mark) {
    assert(mark.bitsRead / 8 >= bufferStart_);
    byteIndex_ = static_cast<size_t>(mark.bitsRead / 8 - bufferStart_);
    bitIndex_ = 8 - static_cast<int>(mark.bitsRead % 8);
    bitsRead_ = mark.bitsRead;
    payloadCursor_ = mark.payloadCursor;
}

void BitReader::ResizeBuffer(size_t capacity) {
    if (capacity > buffered_ && capacity != data_.size()) data_.resize(capacity);
}

FileBitReader::FileBitReader(const std::string& fileName, size_t bufferSize)
    : BitReader(bufferSize), fileName_(fileName) {
    file_ = std::fopen(fileName.c_str(), "rb");
    if (file_ == nullptr) return;
    Refill(bufferSize);
}

FileBitReader::~FileBitReader() {
    if (file_ != nullptr) std::fclose(file_);
}

size_t FileBitReader::ReadFromSource(uint8_t* destination, size_t count) {
    if (file_ == nullptr) return 0;
    size_t got = std::fread(destination, 1, count, file_);
    if (got < count && std::ferror(file_)) MarkReadFailed();
    return got;
}

namespace {

FileIdentity IdentityOfStat(const struct stat& info) {
    return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

}  // namespace

bool IdentityOfName(const std::string& name, FileIdentity& out) {
    struct stat info {};
    if (stat(name.c_str(), &info) != 0) return false;
    out = IdentityOfStat(info);
    return true;
}

bool FileBitReader::Identity(FileIdentity& out) const {
    struct stat info {};
    if (file_ == nullptr || fstat(fileno(file_), &info) != 0) return false;
    out = IdentityOfStat(info);
    return true;
}

uint64_t FileBitReader::FileSize() const {
    struct stat info {};
    if (file_ == nullptr || fstat(fileno(file_), &info) != 0) return 0;
    return static_cast<uint64_t>(info.st_size);
}

}  // namespace psmux
