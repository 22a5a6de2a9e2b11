// Adjustment layers' settings read from their tagged blocks. Each binary
// layout is described where it is read; brightness/contrast (new form),
// vibrance and black & white are descriptors.
#include "psd/adjustments.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "psd/byte_reader.h"
#include "psd/colour.h"
#include "psd/descriptor.h"

namespace korvex::psd {
namespace {

using namespace colour;

// Curve points: Photoshop allows 16 on a curve; more is a damaged block.
constexpr uint16_t kMaxCurvePoints = 64;


bool fail(std::string& error, const std::string& key, const std::string& what) {
  error = "adjustment " + key + ": " + what;
  return false;
}

// A version or colour space Korvex does not know: the layer reads as an
// adjustment it cannot draw, which the caller reports, rather than as
// damage that refuses the file.
bool unsupported(Adjustment& a) {
  a.kind = AdjustmentKind::kUnknown;
  return true;
}

// A percentage of a descriptor, checked against its slider's range.
bool percent(const DescriptorValue& d, const char* key, int lo, int hi, int32_t& out, const std::string& block,
             std::string& error) {
  const double v = d.number(key, out);
  if (!(v >= lo && v <= hi)) return fail(error, block, std::string("\"") + key + "\" out of range");
  out = static_cast<int32_t>(std::lround(v));
  return true;
}

// "CgEd": a versioned descriptor with "Brgh" and "Cntr" (long) and
// "useLegacy" (bool). Only a brightness/contrast layer takes it; other
// kinds keep a preset's name there.
bool parseBrightnessDescriptor(ByteReader& r, Adjustment& a, std::string& error) {
  DescriptorValue d;
  if (!readVersionedDescriptor(r, d, error)) return fail(error, "CgEd", error);
  if (a.kind != AdjustmentKind::kBrightnessContrast || !d.find("Brgh")) return true;
  int32_t brightness = a.brightness, contrast = a.contrast;
  if (!percent(d, "Brgh", -150, 150, brightness, "CgEd", error) ||
      !percent(d, "Cntr", -100, 100, contrast, "CgEd", error))
    return false;
  a.brightness = static_cast<int16_t>(brightness);
  a.contrast = static_cast<int16_t>(contrast);
  a.legacy = d.boolean("useLegacy", false);
  return true;
}

// "vibA": a versioned descriptor with "vibrance" and "Strt" (long), each
// missing when zero.
bool parseVibrance(ByteReader& r, Adjustment& a, std::string& error) {
  DescriptorValue d;
  if (!readVersionedDescriptor(r, d, error)) return fail(error, a.key, error);
  return percent(d, "vibrance", -100, 100, a.vibrance, a.key, error) &&
         percent(d, "Strt", -100, 100, a.saturation, a.key, error);
}

// "blwh": a versioned descriptor with the weights "Rd  ", "Yllw", "Grn ",
// "Cyn ", "Bl  ", "Mgnt" (long), "useTint" (bool) and "tintColor" (an RGB
// object of "Rd  ", "Grn ", "Bl  " doubles 0..255).
bool parseBlackWhite(ByteReader& r, Adjustment& a, std::string& error) {
  DescriptorValue d;
  if (!readVersionedDescriptor(r, d, error)) return fail(error, a.key, error);
  static const char* const kWeights[6] = {"Rd  ", "Yllw", "Grn ", "Cyn ", "Bl  ", "Mgnt"};
  for (size_t i = 0; i < 6; ++i)
    if (!percent(d, kWeights[i], -200, 300, a.grayWeights[i], a.key, error)) return false;
  a.useTint = d.boolean("useTint", false);
  if (const DescriptorValue* tint = d.find("tintColor")) {
    static const char* const kRgb[3] = {"Rd  ", "Grn ", "Bl  "};
    a.tintColor = 0;
    for (int c = 0; c < 3; ++c) {
      const double v = tint->number(kRgb[c], 0);
      a.tintColor |= component(v > 0 ? v : 0) << (16 - 8 * c);  // NaN too
    }
  }
  return true;
}

// "levl": version (2) = 2, then 29 records of five int16: input black,
// input white, output black, output white, gamma times 100. The first is
// the composite, then red, green, blue; the rest are unused.
bool parseLevels(ByteReader& r, Adjustment& a, std::string& error) {
  uint16_t version;
  if (!r.u16(version)) return fail(error, a.key, "truncated");
  if (version != 2) return unsupported(a);
  for (LevelsChannel& l : a.levels) {
    int16_t v[5];
    for (int16_t& x : v)
      if (!r.i16(x)) return fail(error, a.key, "truncated");
    for (int i = 0; i < 4; ++i)
      if (v[i] < 0 || v[i] > 255) return fail(error, a.key, "value out of range");
    if (v[0] >= v[1] || v[4] < 1 || v[4] > 999) return fail(error, a.key, "value out of range");
    l = {static_cast<uint16_t>(v[0]), static_cast<uint16_t>(v[1]), static_cast<uint16_t>(v[2]),
         static_cast<uint16_t>(v[3]), v[4] / 100.0};
  }
  return true;
}

// One curve: point count (2), then output (2) and input (2) for each point,
// inputs rising.
bool parseCurve(ByteReader& r, std::vector<CurvePoint>& curve, const std::string& key, std::string& error) {
  uint16_t count;
  if (!r.u16(count)) return fail(error, key, "truncated");
  if (count < 2 || count > kMaxCurvePoints) return fail(error, key, "bad point count");
  curve.clear();
  for (uint16_t i = 0; i < count; ++i) {
    int16_t out, in;
    if (!r.i16(out) || !r.i16(in)) return fail(error, key, "truncated");
    if (out < 0 || out > 255 || in < 0 || in > 255) return fail(error, key, "point out of range");
    if (!curve.empty() && in <= curve.back().input) return fail(error, key, "points out of order");
    curve.push_back({static_cast<uint8_t>(in), static_cast<uint8_t>(out)});
  }
  return true;
}

// "curv": padding (1), version (2) = 1 or 4, then for version 1 a bit set
// of the channels present (4; bit 0 the composite, then red, green, blue)
// and one curve per set bit; for version 4 a curve count (4) and for each
// a channel index (2) and the curve. A "Crv " copy of the curves may
// follow; it repeats the same curves and is not read.
bool parseCurves(ByteReader& r, Adjustment& a, std::string& error) {
  uint16_t version;
  uint32_t channels;
  if (!r.skip(1) || !r.u16(version) || !r.u32(channels)) return fail(error, a.key, "truncated");
  std::vector<CurvePoint> scratch;
  auto target = [&](uint32_t index) -> std::vector<CurvePoint>& {
    return index < 4 ? a.curves[index] : scratch;
  };
  if (version == 1) {
    for (uint32_t bit = 0; bit < 32; ++bit)
      if ((channels >> bit & 1) && !parseCurve(r, target(bit), a.key, error)) return false;
  } else if (version == 4) {
    if (channels > 32) return fail(error, a.key, "bad curve count");
    for (uint32_t i = 0; i < channels; ++i) {
      uint16_t index;
      if (!r.u16(index)) return fail(error, a.key, "truncated");
      if (!parseCurve(r, target(index), a.key, error)) return false;
    }
  } else {
    return unsupported(a);
  }
  return true;
}

// "brit": brightness (2), contrast (2), mean (2), Lab only (1), padding.
bool parseBrightness(ByteReader& r, Adjustment& a, std::string& error) {
  if (!r.i16(a.brightness) || !r.i16(a.contrast)) return fail(error, a.key, "truncated");
  if (std::abs(a.brightness) > 150 || a.contrast < -100 || a.contrast > 100)
    return fail(error, a.key, "value out of range");
  a.legacy = true;
  return true;
}

// "hue2" (and "hue "): version (2), colorize (1), padding (1), colorize
// hue, saturation, lightness (2 each), master hue, saturation, lightness
// (2 each), then for reds, yellows, greens, cyans, blues, magentas: the
// range's begin ramp, begin sustain, end sustain, end ramp in degrees and
// its hue, saturation, lightness (2 each).
bool parseHueSaturation(ByteReader& r, Adjustment& a, std::string& error) {
  uint16_t version;
  uint8_t colorize;
  if (!r.u16(version) || !r.u8(colorize) || !r.skip(1)) return fail(error, a.key, "truncated");
  a.colorize = colorize != 0;
  int16_t* header[6] = {&a.colorizeHue, &a.colorizeSaturation, &a.colorizeLightness,
                        &a.masterHue,   &a.masterSaturation,   &a.masterLightness};
  for (int16_t* v : header)
    if (!r.i16(*v)) return fail(error, a.key, "truncated");
  for (HueRange& h : a.ranges) {
    int16_t* v[7] = {&h.beginRamp, &h.beginSustain, &h.endSustain, &h.endRamp, &h.hue, &h.saturation, &h.lightness};
    for (int16_t* x : v)
      if (!r.i16(*x)) return fail(error, a.key, "truncated");
    for (int i = 0; i < 4; ++i)
      if (*v[i] < -360 || *v[i] > 720) return fail(error, a.key, "hue range out of range");
  }
  return true;
}

// "blnc": for shadows, midtones, highlights the cyan-red, magenta-green and
// yellow-blue shifts (2 each), then preserve luminosity (1), padding.
bool parseColorBalance(ByteReader& r, Adjustment& a, std::string& error) {
  for (auto& range : a.balance)
    for (int16_t& v : range) {
      if (!r.i16(v)) return fail(error, a.key, "truncated");
      if (v < -100 || v > 100) return fail(error, a.key, "value out of range");
    }
  uint8_t preserve;
  if (!r.u8(preserve)) return fail(error, a.key, "truncated");
  a.preserveLuminosity = preserve != 0;
  return true;
}

bool f32(ByteReader& r, float& v) {
  uint32_t bits;
  if (!r.u32(bits)) return false;
  std::memcpy(&v, &bits, 4);
  return true;
}

// "expA": version (2), exposure, offset, gamma (IEEE float, 4 each).
bool parseExposure(ByteReader& r, Adjustment& a, std::string& error) {
  if (!r.skip(2) || !f32(r, a.exposure) || !f32(r, a.offset) || !f32(r, a.gamma))
    return fail(error, a.key, "truncated");
  if (!(std::abs(a.exposure) <= 20) || !(std::abs(a.offset) <= 1) || !(a.gamma >= 0.01f && a.gamma <= 10))
    return fail(error, a.key, "value out of range");
  return true;
}

// A colour of Photoshop's colour structure as 0x00RRGGBB: RGB (space 0,
// components 0..65535), HSB (1: hue 0..65535 for a full turn), Lab (7:
// L 0..10000, a and b -12800..12700 hundredths) or grey (8: 0..10000).
bool colorFromSpace(uint16_t space, const int32_t c[3], uint32_t& rgb) {
  Rgb out;
  switch (space) {
    case 0:
      out = {c[0] / 257.0, c[1] / 257.0, c[2] / 257.0};
      break;
    case 1: {
      const double h = (c[0] & 0xFFFF) * 360.0 / 65536, s = (c[1] & 0xFFFF) / 65535.0, b = (c[2] & 0xFFFF) / 65535.0;
      const double l = b * (1 - s / 2);
      out = fromHsl(h, l <= 0 || l >= 1 ? 0 : (b - l) / std::min(l, 1 - l), l);
      break;
    }
    case 7: {
      double lin[3];
      labToLinearSrgb(c[0] / 100.0, static_cast<int16_t>(c[1]) / 100.0, static_cast<int16_t>(c[2]) / 100.0, lin);
      double v[3];
      for (int i = 0; i < 3; ++i) v[i] = linearToSrgb(std::clamp(lin[i], 0.0, 1.0)) * 255;
      out = {v[0], v[1], v[2]};
      break;
    }
    case 8:
      out.r = out.g = out.b = 255 - c[0] * 255 / 10000.0;
      break;
    default:
      return false;
  }
  rgb = component(out.r) << 16 | component(out.g) << 8 | component(out.b);
  return true;
}

// "phfl": version (2) = 2 or 3; version 3: the colour as X, Y, Z (4 each,
// 16.16 fixed); version 2: colour space (2) and four components (2 each);
// then density in percent (4) and preserve luminosity (1).
bool parsePhotoFilter(ByteReader& r, Adjustment& a, std::string& error) {
  uint16_t version;
  if (!r.u16(version)) return fail(error, a.key, "truncated");
  int32_t c[3];
  uint16_t space = 7;
  if (version == 3) {
    int32_t xyz[3];
    for (int32_t& v : xyz)
      if (!r.i32(v)) return fail(error, a.key, "truncated");
    // XYZ to Lab (D50) so one conversion serves both versions.
    auto f = [](double t) { return t > 216.0 / 24389 ? std::cbrt(t) : (24389.0 / 27 * t + 16) / 116; };
    const double fx = f(xyz[0] / 65536.0 / 100 / 0.9642), fy = f(xyz[1] / 65536.0 / 100),
                 fz = f(xyz[2] / 65536.0 / 100 / 0.8249);
    c[0] = static_cast<int32_t>(std::lround((116 * fy - 16) * 100));
    c[1] = static_cast<int32_t>(std::lround(std::clamp(500 * (fx - fy), -128.0, 127.0) * 100));
    c[2] = static_cast<int32_t>(std::lround(std::clamp(200 * (fy - fz), -128.0, 127.0) * 100));
  } else if (version == 2) {
    int16_t v[4];
    if (!r.u16(space)) return fail(error, a.key, "truncated");
    for (int16_t& x : v)
      if (!r.i16(x)) return fail(error, a.key, "truncated");
    for (int i = 0; i < 3; ++i) c[i] = space == 7 && i > 0 ? v[i] : static_cast<uint16_t>(v[i]);
  } else {
    return unsupported(a);
  }
  uint8_t preserve;
  if (!r.i32(a.density) || !r.u8(preserve)) return fail(error, a.key, "truncated");
  if (a.density < 0 || a.density > 100) return fail(error, a.key, "density out of range");
  a.preserveLuminosity = preserve != 0;
  if (!colorFromSpace(space, c, a.filterColor)) return unsupported(a);
  return true;
}

// "mixr": version (2), monochrome (2), then for red, green, blue (and black
// in CMYK) out: the percent of red, green, blue in, an unused value and the
// constant (2 each). A monochrome mixer keeps its grey in the first row.
bool parseChannelMixer(ByteReader& r, Adjustment& a, std::string& error) {
  uint16_t monochrome;
  if (!r.skip(2) || !r.u16(monochrome)) return fail(error, a.key, "truncated");
  a.monochrome = monochrome != 0;
  for (auto& row : a.mixer) {
    int16_t v[5];
    for (int16_t& x : v) {
      if (!r.i16(x)) return fail(error, a.key, "truncated");
      if (x < -200 || x > 200) return fail(error, a.key, "value out of range");
    }
    row = {{v[0], v[1], v[2], v[4]}};
  }
  return true;
}

// "post" and "thrs": the level count or threshold level (2), padding (2).
bool parseLevel(ByteReader& r, Adjustment& a, uint16_t& v, uint16_t lo, std::string& error) {
  if (!r.u16(v)) return fail(error, a.key, "truncated");
  if (v < lo || v > 255) return fail(error, a.key, "value out of range");
  return true;
}

// "selc": version (2), method (2; 0 relative, 1 absolute), then ten
// records of cyan, magenta, yellow, black (2 each): an unused one, then
// reds, yellows, greens, cyans, blues, magentas, whites, neutrals, blacks.
bool parseSelectiveColor(ByteReader& r, Adjustment& a, std::string& error) {
  uint16_t method;
  if (!r.skip(2) || !r.u16(method) || !r.skip(8)) return fail(error, a.key, "truncated");
  if (method > 1) return fail(error, a.key, "unknown method");
  a.absolute = method == 1;
  for (auto& group : a.selective)
    for (int16_t& v : group) {
      if (!r.i16(v)) return fail(error, a.key, "truncated");
      if (v < -100 || v > 100) return fail(error, a.key, "value out of range");
    }
  return true;
}

struct KeyKind {
  const char* key;
  AdjustmentKind kind;
};
constexpr KeyKind kKeys[] = {
    {"levl", AdjustmentKind::kLevels},         {"curv", AdjustmentKind::kCurves},
    {"brit", AdjustmentKind::kBrightnessContrast}, {"hue2", AdjustmentKind::kHueSaturation},
    {"hue ", AdjustmentKind::kHueSaturation},  {"blnc", AdjustmentKind::kColorBalance},
    {"expA", AdjustmentKind::kExposure},       {"vibA", AdjustmentKind::kVibrance},
    {"blwh", AdjustmentKind::kBlackWhite},     {"phfl", AdjustmentKind::kPhotoFilter},
    {"mixr", AdjustmentKind::kChannelMixer},   {"nvrt", AdjustmentKind::kInvert},
    {"post", AdjustmentKind::kPosterize},      {"thrs", AdjustmentKind::kThreshold},
    {"selc", AdjustmentKind::kSelectiveColor}, {"clrL", AdjustmentKind::kUnknown},
    {"grdm", AdjustmentKind::kGradientMap},        {"brst", AdjustmentKind::kUnknown},
};

}  // namespace

bool isAdjustmentKey(std::string_view key) {
  for (const KeyKind& k : kKeys)
    if (key == k.key) return true;
  return false;
}

bool parseAdjustment(std::string_view key, const uint8_t* data, size_t size, Adjustment& out, std::string& error) {
  ByteReader r(data, size);
  if (key == "CgEd") {
    Adjustment a = out;
    if (!parseBrightnessDescriptor(r, a, error)) return false;
    out = std::move(a);
    return true;
  }
  Adjustment a;
  a.key = std::string(key);
  for (const KeyKind& k : kKeys)
    if (key == k.key) a.kind = k.kind;
  bool ok = true;
  switch (a.kind) {
    case AdjustmentKind::kLevels: ok = parseLevels(r, a, error); break;
    case AdjustmentKind::kCurves: ok = parseCurves(r, a, error); break;
    case AdjustmentKind::kBrightnessContrast: ok = parseBrightness(r, a, error); break;
    case AdjustmentKind::kHueSaturation: ok = parseHueSaturation(r, a, error); break;
    case AdjustmentKind::kColorBalance: ok = parseColorBalance(r, a, error); break;
    case AdjustmentKind::kExposure: ok = parseExposure(r, a, error); break;
    case AdjustmentKind::kVibrance: ok = parseVibrance(r, a, error); break;
    case AdjustmentKind::kBlackWhite: ok = parseBlackWhite(r, a, error); break;
    case AdjustmentKind::kPhotoFilter: ok = parsePhotoFilter(r, a, error); break;
    case AdjustmentKind::kChannelMixer: ok = parseChannelMixer(r, a, error); break;
    case AdjustmentKind::kPosterize: ok = parseLevel(r, a, a.levelCount, 2, error); break;
    case AdjustmentKind::kThreshold: ok = parseLevel(r, a, a.threshold, 1, error); break;
    case AdjustmentKind::kSelectiveColor: ok = parseSelectiveColor(r, a, error); break;
    case AdjustmentKind::kGradientMap:
      // Damaged, noise or in an unread colour space: left undrawn.
      if (!parseGradientMap(data, size, a.gradientMap, error)) a.kind = AdjustmentKind::kUnknown;
      break;
    default: break;
  }
  if (!ok) return false;
  out = std::move(a);
  return true;
}

std::string unknownAdjustmentWarning(const std::string& layerName, const Adjustment& a) {
  return "warning: adjustment layer \"" + layerName + "\" (" + a.key + ") is not drawn";
}
}  // namespace korvex::psd
