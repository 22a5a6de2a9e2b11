// Big-endian bytes for hand-built descriptors and tagged blocks in tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace korvex::test {

// Big-endian descriptor bytes.
struct Bytes {
  std::string s;
  Bytes& u8(uint8_t v) {
    s.push_back(static_cast<char>(v));
    return *this;
  }
  Bytes& u32(uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) u8(static_cast<uint8_t>(v >> shift));
    return *this;
  }
  Bytes& u64(uint64_t v) { return u32(static_cast<uint32_t>(v >> 32)).u32(static_cast<uint32_t>(v)); }
  Bytes& f64(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    return u64(bits);
  }
  Bytes& raw(const std::string& v) {
    s += v;
    return *this;
  }
  // An ID: a 4-character key with length 0, anything else with its length.
  Bytes& id(const std::string& v) {
    if (v.size() == 4) return u32(0).raw(v);
    return u32(static_cast<uint32_t>(v.size())).raw(v);
  }
  Bytes& unicode(const std::u16string& v, bool nul = false) {
    u32(static_cast<uint32_t>(v.size() + (nul ? 1 : 0)));
    for (char16_t c : v) u8(static_cast<uint8_t>(c >> 8)).u8(static_cast<uint8_t>(c));
    if (nul) u8(0).u8(0);
    return *this;
  }
  // Descriptor head: name, class ID, item count.
  Bytes& object(const std::string& classId, uint32_t items) { return unicode(u"").id(classId).u32(items); }
  Bytes& item(const std::string& key, const std::string& type) { return id(key).raw(type); }
  Bytes& u16(uint16_t v) { return u8(static_cast<uint8_t>(v >> 8)).u8(static_cast<uint8_t>(v)); }
};

}  // namespace korvex::test
