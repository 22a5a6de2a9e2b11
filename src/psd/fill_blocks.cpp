// The tagged blocks behind gradient and pattern fills and gradient maps:
// the "GdFl" and "PtFl" descriptors, the document's patterns ("Patt",
// "Pat2", "Pat3") and the binary "grdm" block. Every layout is documented
// beside the code that reads it.
#include <algorithm>
#include <cmath>

#include "psd/colour.h"
#include "psd/descriptor.h"
#include "psd/fills.h"
#include "psd/gradient.h"
#include "psd/reader_internal.h"

namespace korvex::psd {

using detail::Header;

namespace {

// The largest pattern side: the largest PSD canvas side.
constexpr int64_t kMaxPatternSide = 30000;

int32_t stopNumber(const DescriptorValue& stop, const char* key, double fallback, double hi) {
  return static_cast<int32_t>(std::lround(clampNumber(stop.number(key, fallback), 0, hi)));
}

// Text from a descriptor or a block, ASCII only, up to the first NUL.
std::string asciiOf(const std::u16string& text) {
  std::string out;
  for (char16_t ch : text) {
    if (ch == u'\0') break;
    out.push_back(ch < 128 ? static_cast<char>(ch) : '?');
  }
  return out;
}

// One decoded channel of a pattern.
struct Plane {
  std::vector<uint8_t> values;  // width*height
  bool present = false;
};

bool fail(std::string& error, const std::string& what) {
  error = what;
  return false;
}

}  // namespace

// The gradient object ("Grdn"):
//   "GrdF"  enum: "CstS" custom stops ("ClNs", noise, is not drawn)
//   "Intr"  smoothness 0..4096
//   "Clrs"  list of "Clrt": "Clr " colour, "Type" (user, foreground or
//           background stop: the stored colour is used), "Lctn" 0..4096,
//           "Mdpn" 0..100
//   "Trns"  list of "TrnS": "Opct" percent, "Lctn", "Mdpn"
bool parseGradient(const DescriptorValue& grad, Gradient& gradient, std::string& error) {
  if (grad.kind != DescriptorKind::kObject) return fail(error, "the gradient is not an object");
  if (grad.enumValue("GrdF") == "ClNs") return fail(error, "noise gradients are not drawn");
  Gradient g;
  g.smoothness = clampNumber(grad.number("Intr", 4096), 0, 4096) / 4096;
  for (const DescriptorValue& stop : grad.list("Clrs")) {
    GradientColorStop s;
    // Colours of other models read as black.
    double rgb[3] = {0, 0, 0};
    if (const DescriptorValue* color = stop.find("Clr ")) descriptorColor(*color, rgb);
    s.red = rgb[0];
    s.green = rgb[1];
    s.blue = rgb[2];
    s.location = stopNumber(stop, "Lctn", 0, 4096);
    s.midpoint = stopNumber(stop, "Mdpn", 50, 100);
    g.colors.push_back(s);
  }
  if (g.colors.empty()) return fail(error, "the gradient has no colour stops");
  for (const DescriptorValue& stop : grad.list("Trns")) {
    GradientOpacityStop s;
    s.opacity = clampNumber(stop.number("Opct", 100), 0, 100) / 100;
    s.location = stopNumber(stop, "Lctn", 0, 4096);
    s.midpoint = stopNumber(stop, "Mdpn", 50, 100);
    g.opacities.push_back(s);
  }
  gradient = std::move(g);
  return true;
}

// "GdFl": a versioned descriptor with
//   "Grad"  the gradient object
//   "Type"  enum "GrdT": "Lnr ", "Rdl ", "Angl", "Rflc", "Dmnd"
//   "Angl"  degrees; "Scl " percent; "Rvrs", "Algn", "Dthr" booleans
//   "Ofst"  "Pnt " object: "Hrzn", "Vrtc" percent of the reference box
//   "gradientsInterpolationMethod"  enum: "Perc", "Lnr ", "Gcls" (classic,
//           also when missing)
bool parseGradientFill(const DescriptorValue& block, GradientFill& fill, std::string& error) {
  const DescriptorValue* grad = block.find("Grad");
  if (!grad) return fail(error, "gradient fill: the gradient is missing");
  GradientFill f;
  if (!parseGradient(*grad, f.gradient, error)) {
    error = "gradient fill: " + error;
    return false;
  }
  const std::string method = block.enumValue("gradientsInterpolationMethod");
  if (method == "Perc") f.gradient.method = GradientMethod::kPerceptual;
  if (method == "Lnr ") f.gradient.method = GradientMethod::kLinear;
  const std::string type = block.enumValue("Type");
  if (type == "Rdl ") f.style = GradientStyle::kRadial;
  if (type == "Angl") f.style = GradientStyle::kAngle;
  if (type == "Rflc") f.style = GradientStyle::kReflected;
  if (type == "Dmnd") f.style = GradientStyle::kDiamond;
  f.angle = clampNumber(block.number("Angl", 90), -3600, 3600);
  f.scale = clampNumber(block.number("Scl ", 100), 0, 100000) / 100;
  f.reverse = block.boolean("Rvrs");
  f.alignWithLayer = block.boolean("Algn", true);
  if (const DescriptorValue* offset = block.find("Ofst")) {
    f.offsetX = clampNumber(offset->number("Hrzn"), -100000, 100000);
    f.offsetY = clampNumber(offset->number("Vrtc"), -100000, 100000);
  }
  fill = std::move(f);
  return true;
}

// "PtFl": a versioned descriptor with
//   "Ptrn"   "Ptrn" object: "Nm  " name, "Idnt" the pattern's id
//   "Scl "   percent; "phase" "Pnt " object: "Hrzn", "Vrtc" pixels;
//   "Algn"   link with layer (the phase already says where tiles start)
bool parsePatternFill(const DescriptorValue& block, PatternFill& fill, std::string& error) {
  const DescriptorValue* pattern = block.find("Ptrn");
  if (!pattern) return fail(error, "pattern fill: the pattern is missing");
  PatternFill f;
  f.patternId = asciiOf(pattern->string("Idnt"));
  if (f.patternId.empty()) return fail(error, "pattern fill: the pattern has no id");
  f.scale = clampNumber(block.number("Scl ", 100), 0, 100000) / 100;
  if (const DescriptorValue* phase = block.find("phase")) {
    f.phaseX = clampNumber(phase->number("Hrzn"), -1e6, 1e6);
    f.phaseY = clampNumber(phase->number("Vrtc"), -1e6, 1e6);
  }
  fill = std::move(f);
  return true;
}

namespace {

// One pattern:
//   version (4) = 1, image mode (4), height (2), width (2),
//   name (Unicode string: count (4), UTF-16 units), id (Pascal string),
//   indexed mode only: palette (256 RGB triples) and 4 bytes,
//   virtual memory array list: version (4) = 3, length (4), then
//     rectangle (top, left, bottom, right: 4 each), channel count N (4),
//     N + 2 arrays (the channels, a user mask, a sheet mask), each:
//       written (4; 0: nothing follows), length (4; 0: nothing follows),
//       depth (4), rectangle (16), depth (2), compression (1: 0 raw,
//       1 RLE with row counts, 2 ZIP, 3 ZIP with prediction), data
// Transparency is the first array written after the colour channels.
bool readPattern(ByteReader c, Pattern& out, std::string& error) {
  uint32_t version = 0, mode = 0, count = 0;
  uint16_t height = 0, width = 0;
  if (!c.u32(version) || !c.u32(mode) || !c.u16(height) || !c.u16(width) || !c.u32(count) ||
      count > c.remaining() / 2) {
    return fail(error, "the pattern header ends early" + c.where());
  }
  if (version != 1) return fail(error, "pattern version " + std::to_string(version) + " is not 1");
  for (uint32_t i = 0; i < count; ++i) {
    uint16_t unit = 0;
    c.u16(unit);
    if (unit != 0) out.name.push_back(static_cast<char16_t>(unit));
  }
  uint8_t idLength = 0;
  if (!c.u8(idLength) || !c.has(idLength)) return fail(error, "the pattern id runs past its pattern" + c.where());
  out.id.assign(reinterpret_cast<const char*>(c.here()), idLength);
  c.skip(idLength);
  Header h;
  h.colorMode = static_cast<int>(mode);
  if (mode == 2) {
    if (!c.has(768 + 4)) return fail(error, "the pattern palette runs past its pattern" + c.where());
    h.palette.resize(768);
    for (int i = 0; i < 256; ++i) {
      for (int k = 0; k < 3; ++k) h.palette[static_cast<size_t>(256 * k + i)] = c.here()[3 * i + k];
    }
    c.skip(768 + 4);
  }
  uint32_t listVersion = 0, listLength = 0, channels = 0;
  ByteReader list;
  if (!c.u32(listVersion) || !c.u32(listLength) || !c.sub(listLength, list)) {
    return fail(error, "the pattern's image runs past its pattern" + c.where());
  }
  if (listVersion != 3) return fail(error, "pattern image version " + std::to_string(listVersion) + " is not 3");
  int32_t top, left, bottom, right;
  if (!list.i32(top) || !list.i32(left) || !list.i32(bottom) || !list.i32(right) || !list.u32(channels)) {
    return fail(error, "the pattern's image header ends early" + list.where());
  }
  const int64_t w = static_cast<int64_t>(right) - left, hgt = static_cast<int64_t>(bottom) - top;
  if (w <= 0 || hgt <= 0 || w > kMaxPatternSide || hgt > kMaxPatternSide) {
    return fail(error, "pattern size " + std::to_string(w) + "x" + std::to_string(hgt) + " out of range");
  }
  if (channels > detail::kMaxChannels) return fail(error, "pattern channel count " + std::to_string(channels) + " out of range");
  const int colorCount = detail::colorChannels(h.colorMode);
  const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(hgt);
  Plane color[4];
  Plane alpha;
  detail::RowSource source;
  for (uint32_t i = 0; i < channels + 2; ++i) {
    uint32_t written = 0, length = 0;
    if (!list.u32(written)) return fail(error, "pattern channel " + std::to_string(i) + " is missing" + list.where());
    if (written == 0) continue;
    ByteReader array;
    if (!list.u32(length) || !list.sub(length, array)) {
      return fail(error, "pattern channel " + std::to_string(i) + " runs past the image" + list.where());
    }
    if (length == 0) continue;
    Plane* plane = static_cast<int>(i) < colorCount ? &color[i] : (alpha.present ? nullptr : &alpha);
    if (!plane) continue;
    uint32_t depth = 0;
    int32_t ct, cl, cb, cr;
    uint16_t depth2 = 0;
    uint8_t compression = 0;
    if (!array.u32(depth) || !array.i32(ct) || !array.i32(cl) || !array.i32(cb) || !array.i32(cr) ||
        !array.u16(depth2) || !array.u8(compression)) {
      return fail(error, "pattern channel " + std::to_string(i) + " header ends early" + array.where());
    }
    if (depth != 1 && depth != 8 && depth != 16 && depth != 32) {
      return fail(error, "pattern channel " + std::to_string(i) + " depth " + std::to_string(depth) + " is unknown");
    }
    if (ct != top || cl != left || cb != bottom || cr != right) {
      return fail(error, "pattern channel " + std::to_string(i) + " does not cover the pattern");
    }
    plane->values.resize(pixels);
    if (!detail::decodeSamples(array.here(), array.remaining(), compression, static_cast<int>(w),
                               static_cast<int>(hgt), static_cast<int>(depth), plane == &alpha, false,
                               plane->values.data(), source, error)) {
      error = "pattern channel " + std::to_string(i) + ": " + error;
      return false;
    }
    plane->present = true;
  }
  for (int i = 0; i < colorCount; ++i) {
    if (!color[i].present) return fail(error, "pattern colour channel " + std::to_string(i) + " is missing");
  }
  out.width = static_cast<int32_t>(w);
  out.height = static_cast<int32_t>(hgt);
  out.pixels.resize(pixels);
  const uint8_t* colorValues[4] = {nullptr, nullptr, nullptr, nullptr};
  for (int i = 0; i < colorCount; ++i) colorValues[i] = color[i].values.data();
  detail::combine(h, colorValues, alpha.present ? alpha.values.data() : nullptr, pixels, out.pixels.data());
  return true;
}

}  // namespace

// A pattern block: patterns one after another, each as length (4) and
// that many bytes, padded to a multiple of 4.
bool parsePatterns(const uint8_t* data, size_t size, std::vector<Pattern>& patterns, std::string& error) {
  ByteReader c(data, size);
  while (c.remaining() >= 4) {
    uint32_t length = 0;
    ByteReader one;
    c.u32(length);
    if (!c.sub(length, one)) return fail(error, "pattern " + std::to_string(patterns.size()) + " runs past its block");
    c.skip(std::min<size_t>(c.remaining(), (4 - length % 4) % 4));
    Pattern p;
    if (!readPattern(one, p, error)) {
      error = "pattern " + std::to_string(patterns.size()) + ": " + error;
      return false;
    }
    patterns.push_back(std::move(p));
  }
  return true;
}

// "grdm":
//   version (2) = 1, reverse (1), dither (1), name (Unicode string),
//   colour stop count (2), each: location (4), midpoint (4), colour
//     (colour space (2): 0 RGB, 1 HSB, 2 CMYK, 8 grey; four components
//     (2 each)), 2 bytes,
//   opacity stop count (2), each: location (4), midpoint (4), opacity
//     (2: 0..255),
//   expansion count (2) = 2, smoothness (2: 0..4096), length (2) = 32,
//   mode (2: 0 solid, 1 noise), then noise settings this reader skips.
bool parseGradientMap(const uint8_t* data, size_t size, GradientMap& map, std::string& error) {
  ByteReader c(data, size);
  uint16_t version = 0, count = 0;
  uint8_t reverse = 0, dither = 0;
  uint32_t nameLength = 0;
  if (!c.u16(version) || !c.u8(reverse) || !c.u8(dither) || !c.u32(nameLength) ||
      nameLength > c.remaining() / 2 || !c.skip(2 * static_cast<size_t>(nameLength)) || !c.u16(count)) {
    return fail(error, "gradient map: the header ends early" + c.where());
  }
  if (version != 1) return fail(error, "gradient map: version " + std::to_string(version) + " is not 1");
  GradientMap m;
  m.reverse = reverse != 0;
  for (uint16_t i = 0; i < count; ++i) {
    uint32_t location = 0, midpoint = 0;
    uint16_t space = 0, v[4] = {0, 0, 0, 0};
    if (!c.u32(location) || !c.u32(midpoint) || !c.u16(space) || !c.u16(v[0]) || !c.u16(v[1]) || !c.u16(v[2]) ||
        !c.u16(v[3]) || !c.skip(2)) {
      return fail(error, "gradient map: colour stop " + std::to_string(i) + " ends early" + c.where());
    }
    GradientColorStop s;
    s.location = static_cast<int32_t>(std::min<uint32_t>(location, 4096));
    s.midpoint = static_cast<int32_t>(std::min<uint32_t>(midpoint, 100));
    double rgb[3];
    switch (space) {
      case 0:
        for (int i = 0; i < 3; ++i) rgb[i] = v[i] / 257.0;
        break;
      case 1:
        colour::hsbToRgb(v[0] / 65536.0, v[1] / 65535.0, v[2] / 65535.0, rgb);
        break;
      case 2:  // 0 is full ink
        colour::cmykToRgb(1 - v[0] / 65535.0, 1 - v[1] / 65535.0, 1 - v[2] / 65535.0, 1 - v[3] / 65535.0, rgb);
        break;
      case 8:  // 0..10000, 10000 is white
        rgb[0] = rgb[1] = rgb[2] = std::min<double>(v[0], 10000) / 10000 * 255;
        break;
      default:
        return fail(error, "gradient map: colour space " + std::to_string(space) + " is not read");
    }
    s.red = rgb[0];
    s.green = rgb[1];
    s.blue = rgb[2];
    m.gradient.colors.push_back(s);
  }
  if (m.gradient.colors.empty()) return fail(error, "gradient map: the gradient has no colour stops");
  if (!c.u16(count)) return fail(error, "gradient map: the opacity stops are missing" + c.where());
  for (uint16_t i = 0; i < count; ++i) {
    uint32_t location = 0, midpoint = 0;
    uint16_t opacity = 0;
    if (!c.u32(location) || !c.u32(midpoint) || !c.u16(opacity)) {
      return fail(error, "gradient map: opacity stop " + std::to_string(i) + " ends early" + c.where());
    }
    GradientOpacityStop s;
    s.location = static_cast<int32_t>(std::min<uint32_t>(location, 4096));
    s.midpoint = static_cast<int32_t>(std::min<uint32_t>(midpoint, 100));
    s.opacity = std::min<uint16_t>(opacity, 255) / 255.0;
    m.gradient.opacities.push_back(s);
  }
  uint16_t expansion = 0, smoothness = 4096, length = 0, mode = 0;
  if (c.u16(expansion) && expansion > 0 && c.u16(smoothness) && c.u16(length) && length >= 32 && c.u16(mode) &&
      mode != 0) {
    return fail(error, "gradient map: noise gradients are not drawn");
  }
  m.gradient.smoothness = std::min<uint16_t>(smoothness, 4096) / 4096.0;
  map = std::move(m);
  return true;
}

}  // namespace korvex::psd
