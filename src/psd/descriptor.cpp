// The descriptor parser (the byte layout is in descriptor.h). One
// recursive reader per value; every length and count is checked against
// the bytes left before use.
#include "psd/descriptor.h"

#include "psd/colour.h"

namespace korvex::psd {
namespace {

// The fewest bytes an object item (key length and 1-byte key, type, a
// bool), a list item (type, a bool) and a reference form (form, a 4-byte
// identifier) take: counts above remaining/minimum are damage. Children
// are appended as they are read, never reserved by a count, so a damaged
// count costs no memory.
constexpr size_t kMinObjectItem = 10;
constexpr size_t kMinListItem = 5;
constexpr size_t kMinReferenceItem = 8;

class Parser {
 public:
  explicit Parser(std::string& error) : error_(error) {}

  bool descriptor(ByteReader& c, DescriptorValue& out, int depth);

 private:
  bool fail(const ByteReader& c, const std::string& what) {
    error_ = "descriptor: " + what + c.where();
    return false;
  }
  bool unicode(ByteReader& c, std::u16string& out);
  bool id(ByteReader& c, std::string& out);
  bool count(ByteReader& c, size_t minItemBytes, uint32_t& n, const char* what);
  bool items(ByteReader& c, DescriptorValue& out, int depth);
  bool value(ByteReader& c, const std::string& type, DescriptorValue& out, int depth);
  bool reference(ByteReader& c, DescriptorValue& out);

  std::string& error_;
};

// Length in UTF-16 units (4), the units; trailing NULs dropped.
bool Parser::unicode(ByteReader& c, std::u16string& out) {
  uint32_t length = 0;
  if (!c.u32(length) || length > c.remaining() / 2) return fail(c, "Unicode string runs past its data");
  out.resize(length);
  for (char16_t& unit : out) {
    uint16_t u = 0;
    c.u16(u);
    unit = static_cast<char16_t>(u);
  }
  while (!out.empty() && out.back() == u'\0') out.pop_back();
  return true;
}

// Length (4) and that many bytes, or a 4-byte key when the length is 0.
bool Parser::id(ByteReader& c, std::string& out) {
  uint32_t length = 0;
  if (!c.u32(length)) return fail(c, "ID length missing");
  const size_t n = length == 0 ? 4 : length;
  if (!c.has(n)) return fail(c, "ID of " + std::to_string(n) + " bytes runs past its data");
  out.assign(reinterpret_cast<const char*>(c.here()), n);
  c.skip(n);
  return true;
}

bool Parser::count(ByteReader& c, size_t minItemBytes, uint32_t& n, const char* what) {
  if (!c.u32(n)) return fail(c, std::string(what) + " count missing");
  if (n > c.remaining() / minItemBytes)
    return fail(c, std::string(what) + " count " + std::to_string(n) + " cannot fit in " +
                       std::to_string(c.remaining()) + " bytes");
  return true;
}

bool Parser::descriptor(ByteReader& c, DescriptorValue& out, int depth) {
  out.kind = DescriptorKind::kObject;
  return unicode(c, out.text) && id(c, out.classId) && items(c, out, depth);
}

// Item count (4), then key (ID), type (4), value per item.
bool Parser::items(ByteReader& c, DescriptorValue& out, int depth) {
  uint32_t n = 0;
  if (!count(c, kMinObjectItem, n, "item")) return false;
  for (uint32_t i = 0; i < n; ++i) {
    DescriptorValue& item = out.children.emplace_back();
    std::string type;
    if (!id(c, item.key)) return false;
    if (!c.key(type)) return fail(c, "type of item '" + item.key + "' missing");
    if (!value(c, type, item, depth + 1)) return false;
  }
  return true;
}

bool Parser::value(ByteReader& c, const std::string& type, DescriptorValue& out, int depth) {
  if (depth > kMaxDescriptorDepth) return fail(c, "nested deeper than " + std::to_string(kMaxDescriptorDepth));
  const auto number = [&](DescriptorKind kind, double v) {
    out.kind = kind;
    out.value = v;
    return true;
  };
  if (type == "Objc" || type == "GlbO") return descriptor(c, out, depth);
  if (type == "VlLs") {
    out.kind = DescriptorKind::kList;
    uint32_t n = 0;
    if (!count(c, kMinListItem, n, "list")) return false;
    for (uint32_t i = 0; i < n; ++i) {
      DescriptorValue& item = out.children.emplace_back();
      std::string itemType;
      if (!c.key(itemType)) return fail(c, "list item type missing");
      if (!value(c, itemType, item, depth + 1)) return false;
    }
    return true;
  }
  if (type == "doub") {
    double v;
    return c.f64(v) ? number(DescriptorKind::kDouble, v) : fail(c, "double runs past its data");
  }
  if (type == "UntF") {
    double v;
    if (!c.key(out.unit) || !c.f64(v)) return fail(c, "unit float runs past its data");
    return number(DescriptorKind::kUnitFloat, v);
  }
  if (type == "UnFl") {
    out.kind = DescriptorKind::kUnitFloats;
    uint32_t n = 0;
    if (!c.key(out.unit)) return fail(c, "unit floats run past their data");
    if (!count(c, 8, n, "unit float")) return false;
    out.numbers.resize(n);
    for (double& v : out.numbers) c.f64(v);
    return true;
  }
  if (type == "TEXT") {
    out.kind = DescriptorKind::kText;
    return unicode(c, out.text);
  }
  if (type == "enum") {
    out.kind = DescriptorKind::kEnum;
    return id(c, out.classId) && id(c, out.id);
  }
  if (type == "long") {
    int32_t v;
    return c.i32(v) ? number(DescriptorKind::kInteger, v) : fail(c, "integer runs past its data");
  }
  if (type == "comp") {
    uint64_t v;
    return c.u64(v) ? number(DescriptorKind::kInteger, static_cast<double>(static_cast<int64_t>(v)))
                    : fail(c, "large integer runs past its data");
  }
  if (type == "bool") {
    uint8_t v;
    return c.u8(v) ? number(DescriptorKind::kBoolean, v != 0) : fail(c, "boolean runs past its data");
  }
  if (type == "type" || type == "GlbC") {
    out.kind = DescriptorKind::kClass;
    return unicode(c, out.text) && id(c, out.classId);
  }
  if (type == "alis" || type == "tdta" || type == "Pth ") {
    out.kind = DescriptorKind::kRawData;
    uint32_t length = 0;
    if (!c.u32(length) || !c.has(length)) return fail(c, "raw data of type '" + type + "' runs past its data");
    out.data.assign(c.here(), c.here() + length);
    c.skip(length);
    return true;
  }
  if (type == "ObAr") {
    uint32_t objects = 0;
    if (!c.u32(objects)) return fail(c, "object array count missing");
    if (!descriptor(c, out, depth)) return false;
    out.kind = DescriptorKind::kObjectArray;
    out.value = objects;
    return true;
  }
  if (type == "obj " || type == "ref ") return reference(c, out);
  return fail(c, "unknown type '" + type + "'");
}

bool Parser::reference(ByteReader& c, DescriptorValue& out) {
  out.kind = DescriptorKind::kReference;
  uint32_t n = 0;
  if (!count(c, kMinReferenceItem, n, "reference")) return false;
  for (uint32_t i = 0; i < n; ++i) {
    DescriptorValue& item = out.children.emplace_back();
    item.kind = DescriptorKind::kReferenceItem;
    if (!c.key(item.key)) return fail(c, "reference form missing");
    const std::string& form = item.key;
    if (form == "Idnt" || form == "indx") {
      uint32_t v;
      if (!c.u32(v)) return fail(c, "reference " + form + " runs past its data");
      item.value = v;
      continue;
    }
    if (form != "prop" && form != "Clss" && form != "Enmr" && form != "rele" && form != "name")
      return fail(c, "unknown reference form '" + form + "'");
    if (!unicode(c, item.text) || !id(c, item.classId)) return false;
    if (form == "prop" && !id(c, item.id)) return false;
    if (form == "Enmr") {
      std::string enumeration;
      if (!id(c, enumeration) || !id(c, item.id)) return false;
    }
    if (form == "rele") {
      int32_t offset;
      if (!c.i32(offset)) return fail(c, "reference offset runs past its data");
      item.value = offset;
    }
    // A "name" reference ends with the name it refers to.
    if (form == "name" && !unicode(c, item.text)) return false;
  }
  return true;
}

}  // namespace

const DescriptorValue* DescriptorValue::find(std::string_view k) const {
  for (const DescriptorValue& child : children)
    if (child.key == k) return &child;
  return nullptr;
}

bool DescriptorValue::isNumber() const {
  return kind == DescriptorKind::kDouble || kind == DescriptorKind::kUnitFloat || kind == DescriptorKind::kInteger ||
         kind == DescriptorKind::kBoolean;
}

double DescriptorValue::number(std::string_view k, double fallback) const {
  const DescriptorValue* v = find(k);
  return v && v->isNumber() ? v->value : fallback;
}

std::string DescriptorValue::enumValue(std::string_view k) const {
  const DescriptorValue* v = find(k);
  return v && v->kind == DescriptorKind::kEnum ? v->id : std::string();
}

bool DescriptorValue::boolean(std::string_view k, bool fallback) const {
  const DescriptorValue* v = find(k);
  return v && v->kind == DescriptorKind::kBoolean ? v->value != 0 : fallback;
}

std::u16string DescriptorValue::string(std::string_view k) const {
  const DescriptorValue* v = find(k);
  return v && v->kind == DescriptorKind::kText ? v->text : std::u16string();
}

const std::vector<DescriptorValue>& DescriptorValue::list(std::string_view k) const {
  static const std::vector<DescriptorValue> kNone;
  const DescriptorValue* v = find(k);
  return v && v->kind == DescriptorKind::kList ? v->children : kNone;
}

bool readDescriptor(ByteReader& c, DescriptorValue& out, std::string& error) {
  out = DescriptorValue();
  return Parser(error).descriptor(c, out, 0);
}

bool readVersionedDescriptor(ByteReader& c, DescriptorValue& out, std::string& error) {
  uint32_t version = 0;
  if (!c.u32(version)) {
    error = "descriptor: version missing" + c.where();
    return false;
  }
  if (version != 16) {
    error = "descriptor: version " + std::to_string(version) + " is not 16" + c.where();
    return false;
  }
  return readDescriptor(c, out, error);
}

bool descriptorColor(const DescriptorValue& c, double rgb[3]) {
  using namespace colour;
  if (c.kind != DescriptorKind::kObject) return false;
  if (c.classId == "RGBC") {
    const bool floats = !c.find("Rd  ") && c.find("redFloat");
    static const char* const kBytes[3] = {"Rd  ", "Grn ", "Bl  "};
    static const char* const kFloats[3] = {"redFloat", "greenFloat", "blueFloat"};
    for (int i = 0; i < 3; ++i)
      rgb[i] = floats ? clampNumber(c.number(kFloats[i]), 0, 1) * 255 : clampNumber(c.number(kBytes[i]), 0, 255);
    return true;
  }
  if (c.classId == "HSBC") {
    hsbToRgb(c.number("H   ") / 360, clampNumber(c.number("Strt"), 0, 100) / 100,
             clampNumber(c.number("Brgh"), 0, 100) / 100, rgb);
    return true;
  }
  if (c.classId == "LbCl") {
    double lin[3];
    labToLinearSrgb(clampNumber(c.number("Lmnc"), 0, 100), clampNumber(c.number("A   "), -128, 127),
                            clampNumber(c.number("B   "), -128, 127), lin);
    for (int i = 0; i < 3; ++i) rgb[i] = 255 * linearToSrgb(clampNumber(lin[i], 0, 1));
    return true;
  }
  if (c.classId == "CMYC") {
    cmykToRgb(clampNumber(c.number("Cyn "), 0, 100) / 100, clampNumber(c.number("Mgnt"), 0, 100) / 100,
              clampNumber(c.number("Ylw "), 0, 100) / 100, clampNumber(c.number("Blck"), 0, 100) / 100, rgb);
    return true;
  }
  if (c.classId == "Grsc") {
    rgb[0] = rgb[1] = rgb[2] = 255 * (1 - clampNumber(c.number("Gry "), 0, 100) / 100);
    return true;
  }
  return false;
}

}  // namespace korvex::psd
