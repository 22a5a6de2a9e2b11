// A bounded big-endian cursor over a section of a file: every read checks
// that its bytes lie inside the section, and a failed read moves nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace korvex::psd {

class ByteReader {
 public:
  ByteReader() = default;
  // `size` bytes at `data`, which sit at offset `base` in the file (for
  // error texts).
  ByteReader(const uint8_t* data, size_t size, size_t base = 0) : data_(data), size_(size), base_(base) {}

  size_t remaining() const { return size_ - pos_; }
  size_t offset() const { return base_ + pos_; }  // position in the file
  const uint8_t* here() const { return data_ + pos_; }
  bool has(size_t n) const { return n <= remaining(); }
  // " at offset N", the position for an error text.
  std::string where() const { return " at offset " + std::to_string(offset()); }

  bool skip(size_t n) {
    if (!has(n)) return false;
    pos_ += n;
    return true;
  }
  bool u8(uint8_t& v) {
    if (!has(1)) return false;
    v = data_[pos_++];
    return true;
  }
  bool u16(uint16_t& v) {
    if (!has(2)) return false;
    v = static_cast<uint16_t>(data_[pos_] << 8 | data_[pos_ + 1]);
    pos_ += 2;
    return true;
  }
  bool i16(int16_t& v) {
    uint16_t u;
    if (!u16(u)) return false;
    v = static_cast<int16_t>(u);
    return true;
  }
  bool u32(uint32_t& v) {
    if (!has(4)) return false;
    v = static_cast<uint32_t>(data_[pos_]) << 24 | static_cast<uint32_t>(data_[pos_ + 1]) << 16 |
        static_cast<uint32_t>(data_[pos_ + 2]) << 8 | data_[pos_ + 3];
    pos_ += 4;
    return true;
  }
  bool i32(int32_t& v) {
    uint32_t u;
    if (!u32(u)) return false;
    v = static_cast<int32_t>(u);
    return true;
  }
  // 8-byte integers: descriptor integers, the bits of doubles, and the
  // lengths of large documents.
  bool u64(uint64_t& v) {
    if (!has(8)) return false;
    v = 0;
    for (size_t i = 0; i < 8; ++i) v = v << 8 | data_[pos_ + i];
    pos_ += 8;
    return true;
  }
  // An IEEE 754 double, stored big-endian.
  bool f64(double& v) {
    uint64_t bits;
    if (!u64(bits)) return false;
    std::memcpy(&v, &bits, 8);
    return true;
  }
  // A four-character key ("8BIM", a blend mode, a block key).
  bool key(std::string& v) {
    if (!has(4)) return false;
    v.assign(reinterpret_cast<const char*>(here()), 4);
    pos_ += 4;
    return true;
  }
  // The next `n` bytes as their own reader.
  bool sub(size_t n, ByteReader& out) {
    if (!has(n)) return false;
    out = ByteReader(data_ + pos_, n, offset());
    pos_ += n;
    return true;
  }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t base_ = 0;
  size_t pos_ = 0;
};

}  // namespace korvex::psd
