// Big-endian byte access and a growable byte buffer.
//
// Every on-disc structure the engine writes (pack headers, NAV packs, information files) is
// big-endian and laid out at fixed offsets. These helpers keep that layout in one place: writers
// name the offset and the width, and the buffer grows as needed so tables of any length fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace author {

// --- raw pointer access (caller guarantees the bytes exist) ---------------------------------

inline void put_u8(uint8_t* p, uint32_t v) { p[0] = static_cast<uint8_t>(v); }
inline void put_u16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void put_u24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 16);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v);
}
inline void put_u32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
inline void put_u64(uint8_t* p, uint64_t v) {
  put_u32(p, static_cast<uint32_t>(v >> 32));
  put_u32(p + 4, static_cast<uint32_t>(v));
}

inline uint32_t get_u8(const uint8_t* p) { return p[0]; }
inline uint32_t get_u16(const uint8_t* p) { return (uint32_t(p[0]) << 8) | p[1]; }
inline uint32_t get_u24(const uint8_t* p) {
  return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}
inline uint32_t get_u32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint64_t get_u64(const uint8_t* p) {
  return (uint64_t(get_u32(p)) << 32) | get_u32(p + 4);
}

// --- growable buffer ------------------------------------------------------------------------

// A byte buffer addressed by offset. Writing past the end grows it with zero bytes, so a table
// can be filled in any order; reading past the end yields zero rather than touching memory that
// isn't there.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  explicit ByteBuffer(size_t size) : bytes_(size, 0) {}

  size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  uint8_t* data() { return bytes_.data(); }
  const uint8_t* data() const { return bytes_.data(); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t>& bytes() { return bytes_; }

  // Grows (with zeros) or shrinks to exactly `size` bytes.
  void resize(size_t size) { bytes_.resize(size, 0); }
  // Grows with zeros so that at least `size` bytes exist.
  void reserve_to(size_t size) {
    if (bytes_.size() < size) bytes_.resize(size, 0);
  }
  // Pads with zeros up to the next multiple of `unit` (e.g. 2048 for a sector).
  void pad_to_multiple(size_t unit) {
    if (unit != 0 && bytes_.size() % unit != 0) resize(bytes_.size() + unit - bytes_.size() % unit);
  }
  void clear() { bytes_.clear(); }

  void set_u8(size_t off, uint32_t v) { put_u8(at(off, 1), v); }
  void set_u16(size_t off, uint32_t v) { put_u16(at(off, 2), v); }
  void set_u24(size_t off, uint32_t v) { put_u24(at(off, 3), v); }
  void set_u32(size_t off, uint32_t v) { put_u32(at(off, 4), v); }
  void set_u64(size_t off, uint64_t v) { put_u64(at(off, 8), v); }
  void set_bytes(size_t off, const void* src, size_t n) {
    if (n != 0) std::memcpy(at(off, n), src, n);
  }
  // Sets (or clears) the bits of `mask` in the byte at `off`.
  void or_u8(size_t off, uint32_t mask) { *at(off, 1) |= static_cast<uint8_t>(mask); }

  uint32_t u8(size_t off) const { return fits(off, 1) ? get_u8(&bytes_[off]) : 0; }
  uint32_t u16(size_t off) const { return fits(off, 2) ? get_u16(&bytes_[off]) : 0; }
  uint32_t u24(size_t off) const { return fits(off, 3) ? get_u24(&bytes_[off]) : 0; }
  uint32_t u32(size_t off) const { return fits(off, 4) ? get_u32(&bytes_[off]) : 0; }
  uint64_t u64(size_t off) const { return fits(off, 8) ? get_u64(&bytes_[off]) : 0; }

  // Appends at the end and returns the offset the data was placed at.
  size_t append(const void* src, size_t n) {
    size_t off = bytes_.size();
    set_bytes(off, src, n);
    return off;
  }
  size_t append_u8(uint32_t v) { size_t off = bytes_.size(); set_u8(off, v); return off; }
  size_t append_u16(uint32_t v) { size_t off = bytes_.size(); set_u16(off, v); return off; }
  size_t append_u32(uint32_t v) { size_t off = bytes_.size(); set_u32(off, v); return off; }
  size_t append_zeros(size_t n) { size_t off = bytes_.size(); resize(off + n); return off; }

 private:
  bool fits(size_t off, size_t n) const { return off <= bytes_.size() && n <= bytes_.size() - off; }
  uint8_t* at(size_t off, size_t n) {
    reserve_to(off + n);
    return &bytes_[off];
  }

  std::vector<uint8_t> bytes_;
};

}  // namespace author
