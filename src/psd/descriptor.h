// Photoshop's action descriptors: the typed key/value trees behind fill
// layers ("SoCo", "GdFl", "PtFl"), most adjustments ("blwh", "vibA",
// "CgEd", ...) and layer effects ("lfx2").
//
// Byte layout (big-endian):
//
//   versioned descriptor: version (4) = 16, descriptor
//   descriptor: name (Unicode string), class ID (ID), item count (4),
//     items: key (ID), type (4), value
//   Unicode string: length in UTF-16 units (4), the units (2 each)
//   ID: length (4), then that many bytes, or 4 bytes when the length is 0
//
// Values by type:
//   "Objc", "GlbO"  a descriptor
//   "VlLs"          count (4), then count times: type (4), value
//   "doub"          double (8)
//   "UntF"          unit (4: "#Ang", "#Rsl", "#Rlt", "#Nne", "#Prc", "#Pxl"), double (8)
//   "UnFl"          unit (4), count (4), count doubles
//   "TEXT"          Unicode string
//   "enum"          type (ID), value (ID)
//   "long"          integer (4); "comp" integer (8)
//   "bool"          1 byte
//   "type", "GlbC"  name (Unicode string), class ID (ID)
//   "alis", "tdta", "Pth "  length (4), raw bytes
//   "ObAr"          count (4), then a descriptor whose items hold "UnFl" lists
//   "obj ", "ref "  count (4), then count references: form (4), then
//     "prop" name, class ID, key (ID); "Clss" name, class ID;
//     "Enmr" name, class ID, type (ID), value (ID); "rele" name, class ID,
//     offset (4); "Idnt" and "indx" 4 bytes; "name" name, class ID, value
//     (Unicode string)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "psd/byte_reader.h"

namespace korvex::psd {

enum class DescriptorKind : uint8_t {
  kObject,       // "Objc", "GlbO": classId, name in text, keyed children
  kList,         // "VlLs": children without keys
  kDouble,       // "doub": value
  kUnitFloat,    // "UntF": unit, value
  kUnitFloats,   // "UnFl": unit, numbers
  kText,         // "TEXT": text
  kEnum,         // "enum": classId (the enumeration), id (its value)
  kInteger,      // "long", "comp": value
  kBoolean,      // "bool": value 0 or 1
  kClass,        // "type", "GlbC": classId, name in text
  kRawData,      // "alis", "tdta", "Pth ": data
  kObjectArray,  // "ObAr": value (the object count), classId, keyed children
  kReference,    // "obj ", "ref ": children, one per reference form
  kReferenceItem // one form of a reference: key ("prop", "Clss", ...), text, classId, id, value
};

// One value of a descriptor tree, with its key when it is an object's item.
struct DescriptorValue {
  DescriptorKind kind = DescriptorKind::kObject;
  std::string key;       // the item's key ("Clr ", "Rd  " or a long ID); empty in lists
  std::string classId;   // objects, classes, object arrays, reference items; enums: the enumeration
  std::string id;        // enums: the value ("Nrml"); reference items: their key or value
  std::string unit;      // unit floats: "#Pxl", "#Prc", "#Ang", "#Rlt", "#Nne", "#Rsl"
  std::u16string text;   // TEXT; objects, classes and reference items: their name
  double value = 0;      // doub, UntF, long, comp, bool; object arrays: count; reference offsets and indices
  std::vector<double> numbers;            // UnFl
  std::vector<uint8_t> data;              // alis, tdta, Pth : the bytes as stored
  std::vector<DescriptorValue> children;  // objects, object arrays, lists, references

  // The first child with `key` (objects and object arrays), or null.
  const DescriptorValue* find(std::string_view key) const;
  // The number of the child `key` (doub, UntF, long, comp, bool), or
  // `fallback` when there is none or it holds no number.
  double number(std::string_view key, double fallback = 0) const;
  // The value ID of the enum child `key` ("Nrml", "Lnr "), or empty.
  std::string enumValue(std::string_view key) const;
  // The bool child `key`, or `fallback`.
  bool boolean(std::string_view key, bool fallback = false) const;
  // The text of the TEXT child `key`, or empty.
  std::u16string string(std::string_view key) const;
  // The children: a list's items, an object's items.
  const std::vector<DescriptorValue>& list() const { return children; }
  // The items of the list child `key`, or an empty list.
  const std::vector<DescriptorValue>& list(std::string_view key) const;
  // Whether this value holds a number (doub, UntF, long, comp, bool).
  bool isNumber() const;
};

// The deepest nesting of objects, lists and object arrays a descriptor may
// have. Photoshop's deepest (layer effects with gradients) stay below 10;
// the cap keeps damaged data from exhausting the stack.
constexpr int kMaxDescriptorDepth = 32;

// Reads a versioned descriptor (version 16, then the descriptor) from `c`
// into `out`, an object, leaving `c` after it. False with `error` saying
// what is wrong and where on damaged or unknown data; `out` is then
// unspecified. Every count is bounded by the bytes left before anything is
// reserved, so the tree takes at most a few dozen times the input's size.
bool readVersionedDescriptor(ByteReader& c, DescriptorValue& out, std::string& error);
// The same for a descriptor without the version field.
bool readDescriptor(ByteReader& c, DescriptorValue& out, std::string& error);

// `v` within [lo, hi]; NaN reads as `lo`. Damaged descriptor numbers are
// clamped with it to the range their setting allows.
inline double clampNumber(double v, double lo, double hi) {
  if (!(v >= lo)) return lo;
  return v > hi ? hi : v;
}

// A colour object ("Clr " and the like) as unrounded RGB components on
// [0, 255]: "RGBC" with "Rd  ", "Grn ", "Bl  " (0..255) or "redFloat",
// "greenFloat", "blueFloat" (0..1); "HSBC" with "H   " (degrees), "Strt",
// "Brgh" (percent); "LbCl" with "Lmnc", "A   ", "B   " (D50); "CMYC" with
// "Cyn ", "Mgnt", "Ylw ", "Blck" (percent ink, no colour profile, as the
// reader converts CMYK pixels); "Grsc" with "Gry " (percent black). False
// for any other value.
bool descriptorColor(const DescriptorValue& color, double rgb[3]);

}  // namespace korvex::psd
