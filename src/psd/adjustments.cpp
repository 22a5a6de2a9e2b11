// Adjustment layer settings and the colour change of each kind.
//
// Values are worked in double on [0, 255] and rounded once per component.
// Per-channel kinds (levels, curves, brightness/contrast, exposure, invert,
// posterize) are curves on [0, 1] sampled into one 256-entry table per
// colour channel before the pixel loop.
#include "psd/adjustments.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "psd/byte_reader.h"
#include "psd/descriptor.h"

namespace korvex::psd {
namespace {

using Table = std::array<uint8_t, 256>;

// Curve points: Photoshop allows 16 on a curve; more is a damaged block.
constexpr uint16_t kMaxCurvePoints = 64;

// ---- pixel helpers ----

struct Rgb {
  double r = 0, g = 0, b = 0;  // 0..255
};

inline Rgb unpack(uint32_t p) {
  return {static_cast<double>(p >> 16 & 0xFF), static_cast<double>(p >> 8 & 0xFF), static_cast<double>(p & 0xFF)};
}

inline uint32_t component(double v) { return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0, 255.0))); }

inline uint32_t pack(uint32_t original, const Rgb& c) {
  return (original & 0xFF000000u) | component(c.r) << 16 | component(c.g) << 8 | component(c.b);
}

inline double maxOf(const Rgb& c) { return std::max({c.r, c.g, c.b}); }
inline double minOf(const Rgb& c) { return std::min({c.r, c.g, c.b}); }

// Hue in degrees [0, 360), 0 for greys.
double hueOf(const Rgb& c) {
  const double hi = maxOf(c), lo = minOf(c), d = hi - lo;
  if (d <= 0) return 0;
  double h;
  if (hi == c.r)
    h = (c.g - c.b) / d;
  else if (hi == c.g)
    h = 2 + (c.b - c.r) / d;
  else
    h = 4 + (c.r - c.g) / d;
  h *= 60;
  return h < 0 ? h + 360 : h;
}

// HSL (hue in degrees, saturation and lightness 0..1) to 0..255 RGB.
Rgb fromHsl(double h, double s, double l) {
  const double q = l < 0.5 ? l * (1 + s) : l + s - l * s, p = 2 * l - q;
  auto channel = [&](double t) {
    t = std::fmod(t + 360.0, 360.0);
    double v;
    if (t < 60)
      v = p + (q - p) * t / 60;
    else if (t < 180)
      v = q;
    else if (t < 240)
      v = p + (q - p) * (240 - t) / 60;
    else
      v = p;
    return v * 255;
  };
  return {channel(h + 120), channel(h), channel(h - 120)};
}

inline double hslLightness(const Rgb& c) { return (maxOf(c) + minOf(c)) / 510; }
inline double hslSaturation(const Rgb& c) {
  const double hi = maxOf(c) / 255, lo = minOf(c) / 255, l = (hi + lo) / 2;
  if (hi - lo <= 0) return 0;
  return l < 0.5 ? (hi - lo) / (hi + lo) : (hi - lo) / (2 - hi - lo);
}

// Luminosity of the colour modes: 0.3 R + 0.59 G + 0.11 B.
inline double luminosity(const Rgb& c) { return (30 * c.r + 59 * c.g + 11 * c.b) / 100; }

// Gives `c` the luminosity `l`, pulling out-of-range components back
// towards the grey of that luminosity.
Rgb withLuminosity(Rgb c, double l) {
  const double d = l - luminosity(c);
  c = {c.r + d, c.g + d, c.b + d};
  const double lo = minOf(c), hi = maxOf(c);
  auto pull = [&](double v) {
    if (lo < 0) v = l + (v - l) * l / (l - lo);
    if (hi > 255) v = l + (v - l) * (255 - l) / (hi - l);
    return v;
  };
  return {pull(c.r), pull(c.g), pull(c.b)};
}

// Photoshop's saturation change by `amount` (-1..1): below zero the colour
// moves towards its HSL grey, above zero away from it, as far as the most
// saturated colour of that hue and lightness at +1.
Rgb saturate(const Rgb& c, double amount) {
  const double hi = maxOf(c), lo = minOf(c);
  if (hi - lo <= 0 || amount == 0) return c;
  const double sum = (hi + lo) / 255, l = (hi + lo) / 2, delta = (hi - lo) / 255;
  const double s = sum / 2 < 0.5 ? delta / sum : delta / (2 - sum);
  double factor;
  if (amount >= 0) {
    const double alpha = amount + s >= 1 ? s : 1 - amount;
    factor = 1 / alpha;
  } else {
    factor = 1 + amount;
  }
  return {l + (c.r - l) * factor, l + (c.g - l) * factor, l + (c.b - l) * factor};
}

// Hue/saturation's lightness: towards white above zero, black below.
inline double lighten(double v, double amount) { return amount >= 0 ? v + (255 - v) * amount : v * (1 + amount); }

// Turns the hue of `c` by `degrees`, keeping its HSL saturation and lightness.
Rgb rotateHue(const Rgb& c, double degrees) {
  const double hi = maxOf(c), lo = minOf(c);
  if (hi - lo <= 0 || degrees == 0) return c;
  return fromHsl(hueOf(c) + degrees, hslSaturation(c), hslLightness(c));
}

// sRGB transfer curve, both ways, on [0, 1].
inline double toLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
inline double fromLinear(double v) { return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055; }

// ---- per-channel curves on [0, 1] ----

double levelsMap(const LevelsChannel& l, double x) {
  const double in0 = l.inBlack / 255.0, in1 = l.inWhite / 255.0;
  double t = in1 > in0 ? std::clamp((x - in0) / (in1 - in0), 0.0, 1.0) : x >= in1 ? 1 : 0;
  // Photoshop draws the gamma curve as straight segments between every
  // 16th level, which also keeps its slope finite at black.
  if (l.gamma != 1.0 && l.gamma > 0) {
    constexpr double kStep = 16 / 255.0;
    const double k0 = std::floor(t / kStep) * kStep, k1 = std::min(1.0, k0 + kStep);
    const double y0 = std::pow(k0, 1 / l.gamma), y1 = std::pow(k1, 1 / l.gamma);
    t = k1 > k0 ? y0 + (y1 - y0) * (t - k0) / (k1 - k0) : y1;
  }
  return (l.outBlack + t * (l.outWhite - l.outBlack)) / 255.0;
}

// A natural cubic spline through a curve's points (second derivative zero at
// both ends), flat beyond the first and last point.
class Spline {
 public:
  explicit Spline(const std::vector<CurvePoint>& points) {
    for (const CurvePoint& p : points) {
      x_.push_back(p.input / 255.0);
      y_.push_back(p.output / 255.0);
    }
    const size_t n = x_.size();
    m_.assign(n, 0.0);
    if (n < 3) return;
    // Tridiagonal system for the second derivatives, solved by elimination.
    std::vector<double> c(n, 0.0), d(n, 0.0);
    for (size_t i = 1; i + 1 < n; ++i) {
      const double h0 = x_[i] - x_[i - 1], h1 = x_[i + 1] - x_[i];
      const double diag = 2 * (h0 + h1) - h0 * c[i - 1];
      c[i] = h1 / diag;
      d[i] = (6 * ((y_[i + 1] - y_[i]) / h1 - (y_[i] - y_[i - 1]) / h0) - h0 * d[i - 1]) / diag;
    }
    for (size_t i = n - 2; i >= 1; --i) m_[i] = d[i] - c[i] * m_[i + 1];
  }

  double operator()(double x) const {
    if (x_.empty()) return x;
    if (x <= x_.front()) return y_.front();
    if (x >= x_.back()) return y_.back();
    const size_t i = static_cast<size_t>(std::upper_bound(x_.begin(), x_.end(), x) - x_.begin()) - 1;
    const double h = x_[i + 1] - x_[i], a = (x_[i + 1] - x) / h, b = (x - x_[i]) / h;
    const double y = a * y_[i] + b * y_[i + 1] + ((a * a * a - a) * m_[i] + (b * b * b - b) * m_[i + 1]) * h * h / 6;
    return std::clamp(y, 0.0, 1.0);
  }

 private:
  std::vector<double> x_, y_, m_;
};

// Legacy brightness/contrast on 0..255: brightness shifts every value,
// contrast stretches around the middle grey (a threshold at +100).
double legacyBrightnessContrast(int brightness, int contrast, double v) {
  if (contrast >= 100) return v + brightness >= 128 ? 255 : 0;
  if (contrast > 0) return (v - 127.5 + brightness) * 100 / (100 - contrast) + 127.5;
  return (v - 127.5) * (100 + contrast) / 100 + 127.5 + brightness;
}

// Brightness/contrast since Photoshop CS3, on 0..255: brightness bends the
// curve through black and white, contrast steepens it around the middle.
double brightnessContrast(int brightness, int contrast, double v) {
  double x = v / 255;
  if (brightness != 0) {
    const double g = brightness > 0 ? 1 + brightness / 100.0 : 1 / (1 - brightness / 100.0);
    x = std::pow(x, 1 / g);
  }
  if (contrast != 0) {
    const double k = contrast > 0 ? 1 + contrast / 50.0 : 1 + contrast / 100.0;
    x = (x - 0.5) * k + 0.5;
  }
  return x * 255;
}

// The colour curves of the per-channel kinds: channel c (0 red, 1 green,
// 2 blue) at x in [0, 1]. Sampling finer than 256 steps serves deeper
// documents.
class ChannelCurves {
 public:
  explicit ChannelCurves(const Adjustment& a) : a_(a) {
    if (a.kind == AdjustmentKind::kCurves)
      for (size_t i = 0; i < 4; ++i) splines_.emplace_back(a.curves[i]);
  }

  double operator()(int c, double x) const {
    const Adjustment& a = a_;
    switch (a.kind) {
      case AdjustmentKind::kLevels:
        return levelsMap(a.levels[0], levelsMap(a.levels[static_cast<size_t>(c) + 1], x));
      case AdjustmentKind::kCurves:
        return splines_[0](splines_[static_cast<size_t>(c) + 1](x));
      case AdjustmentKind::kBrightnessContrast:
        return (a.legacy ? legacyBrightnessContrast(a.brightness, a.contrast, x * 255)
                         : brightnessContrast(a.brightness, a.contrast, x * 255)) /
               255;
      case AdjustmentKind::kExposure: {
        double lin = toLinear(x) * std::exp2(a.exposure) + a.offset;
        lin = lin <= 0 ? 0 : a.gamma > 0 ? std::pow(lin, 1 / a.gamma) : 1;
        return fromLinear(std::min(lin, 1.0));
      }
      case AdjustmentKind::kInvert:
        return 1 - x;
      case AdjustmentKind::kPosterize: {
        const double n = std::max<uint16_t>(a.levelCount, 2);
        return std::min(std::floor(x * n), n - 1) / (n - 1);
      }
      default:
        return x;
    }
  }

  void tables(std::array<Table, 3>& t) const {
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < 256; ++i)
        t[static_cast<size_t>(c)][static_cast<size_t>(i)] =
            static_cast<uint8_t>(component((*this)(c, i / 255.0) * 255));
  }

 private:
  const Adjustment& a_;
  std::vector<Spline> splines_;
};

bool perChannel(AdjustmentKind k) {
  return k == AdjustmentKind::kLevels || k == AdjustmentKind::kCurves || k == AdjustmentKind::kBrightnessContrast ||
         k == AdjustmentKind::kExposure || k == AdjustmentKind::kInvert || k == AdjustmentKind::kPosterize;
}

// ---- whole-colour kinds ----

// How much a hue range of hue/saturation acts on hue `h` (0..1).
double rangeWeight(const HueRange& r, double h) {
  auto from = [&](double v) { return std::fmod(v - r.beginRamp + 720.0, 360.0); };
  const double d = from(h), s0 = from(r.beginSustain), s1 = from(r.endSustain), e = from(r.endRamp);
  if (d < s0) return s0 > 0 ? d / s0 : 1;
  if (d <= s1) return 1;
  if (d < e) return (e - d) / (e - s1);
  return 0;
}

Rgb hueSaturation(const Adjustment& a, const Rgb& c) {
  if (a.colorize) {
    const Rgb tinted = fromHsl(a.colorizeHue, a.colorizeSaturation / 100.0, hslLightness(c));
    const double l = a.colorizeLightness / 100.0;
    return {lighten(tinted.r, l), lighten(tinted.g, l), lighten(tinted.b, l)};
  }
  double hue = a.masterHue, sat = a.masterSaturation, light = a.masterLightness;
  if (maxOf(c) > minOf(c)) {
    const double h = hueOf(c);
    for (const HueRange& r : a.ranges) {
      const double w = rangeWeight(r, h);
      hue += w * r.hue;
      sat += w * r.saturation;
      light += w * r.lightness;
    }
  }
  Rgb out = saturate(rotateHue(c, hue), std::clamp(sat / 100, -1.0, 1.0));
  light = std::clamp(light / 100, -1.0, 1.0);
  return {lighten(out.r, light), lighten(out.g, light), lighten(out.b, light)};
}

// Colour balance: each tonal range's shift, weighted by where the pixel's
// lightness lies (the three weights add up to the same value everywhere).
Rgb colorBalance(const Adjustment& a, const Rgb& c) {
  constexpr double kRamp = 0.25, kEdge = 0.333, kScale = 0.7;
  const double l = hslLightness(c);
  const double w[3] = {
      std::clamp((l - kEdge) / -kRamp + 0.5, 0.0, 1.0) * kScale,
      std::clamp((l - kEdge) / kRamp + 0.5, 0.0, 1.0) * std::clamp((l + kEdge - 1) / -kRamp + 0.5, 0.0, 1.0) * kScale,
      std::clamp((l + kEdge - 1) / kRamp + 0.5, 0.0, 1.0) * kScale,
  };
  double v[3] = {c.r / 255, c.g / 255, c.b / 255};
  for (size_t ch = 0; ch < 3; ++ch) {
    for (size_t range = 0; range < 3; ++range) v[ch] += a.balance[range][ch] / 100.0 * w[range];
    v[ch] = std::clamp(v[ch], 0.0, 1.0);
  }
  Rgb out{v[0] * 255, v[1] * 255, v[2] * 255};
  if (a.preserveLuminosity && maxOf(out) > minOf(out))
    out = fromHsl(hueOf(out), hslSaturation(out), hslLightness(c));
  return out;
}

// Vibrance raises the saturation of dull colours most and leaves saturated
// ones nearly alone; its saturation acts like hue/saturation's.
Rgb vibrance(const Adjustment& a, const Rgb& c) {
  Rgb out = saturate(c, a.saturation / 100.0);
  const double v = a.vibrance / 100.0;
  return saturate(out, v >= 0 ? v * (1 - hslSaturation(out)) : v);
}

// Black & white: the grey is the smallest component plus the spans between
// the components, each weighted by the primary and secondary colour they
// make up.
Rgb blackWhite(const Adjustment& a, const Rgb& c) {
  enum { kReds, kYellows, kGreens, kCyans, kBlues, kMagentas };
  const double v[3] = {c.r, c.g, c.b};
  size_t hi = 0, lo = 0;
  for (size_t i = 1; i < 3; ++i) {
    if (v[i] > v[hi]) hi = i;
    if (v[i] < v[lo]) lo = i;
  }
  if (hi == lo) lo = (hi + 1) % 3;
  const size_t mid = 3 - hi - lo;
  static const int kPrimary[3] = {kReds, kGreens, kBlues};
  // The secondary of two primaries: red+green yellow, green+blue cyan, blue+red magenta.
  const int secondary = (hi == 0 && mid == 1) || (hi == 1 && mid == 0)   ? kYellows
                        : (hi == 1 && mid == 2) || (hi == 2 && mid == 1) ? kCyans
                                                                         : kMagentas;
  const double grey = v[lo] + (v[hi] - v[mid]) * a.grayWeights[static_cast<size_t>(kPrimary[hi])] / 100.0 +
                      (v[mid] - v[lo]) * a.grayWeights[static_cast<size_t>(secondary)] / 100.0;
  if (!a.useTint) return {grey, grey, grey};
  const Rgb tint = unpack(a.tintColor);
  return fromHsl(hueOf(tint), hslSaturation(tint), std::clamp(grey / 255, 0.0, 1.0));
}

// Photo filter: the colour multiplied by the filter at the given density,
// optionally brought back to its own luminosity.
Rgb photoFilter(const Adjustment& a, const Rgb& c) {
  const Rgb f = unpack(a.filterColor);
  const double d = std::clamp(a.density / 100.0, 0.0, 1.0);
  Rgb out{c.r + (c.r * f.r / 255 - c.r) * d, c.g + (c.g * f.g / 255 - c.g) * d, c.b + (c.b * f.b / 255 - c.b) * d};
  return a.preserveLuminosity ? withLuminosity(out, luminosity(c)) : out;
}

Rgb channelMixer(const Adjustment& a, const Rgb& c) {
  auto mix = [&](size_t row) {
    const auto& m = a.mixer[row];
    return (c.r * m[0] + c.g * m[1] + c.b * m[2]) / 100 + m[3] * 255 / 100.0;
  };
  if (a.monochrome) {
    const double grey = mix(0);
    return {grey, grey, grey};
  }
  return {mix(0), mix(1), mix(2)};
}

Rgb threshold(const Adjustment& a, const Rgb& c) {
  const double v = luminosity(c) >= a.threshold ? 255 : 0;
  return {v, v, v};
}

// Selective colour: each of the nine colour groups acts on a pixel in
// proportion to how strongly the pixel belongs to it; in each group the
// cyan, magenta and yellow change red, green and blue, black all three.
Rgb selectiveColor(const Adjustment& a, const Rgb& c) {
  enum { kReds, kYellows, kGreens, kCyans, kBlues, kMagentas, kWhites, kNeutrals, kBlacks };
  const double v[3] = {c.r, c.g, c.b};
  const double hi = maxOf(c), lo = minOf(c), mid = v[0] + v[1] + v[2] - hi - lo;
  double weight[9] = {};
  static const int kPrimary[3] = {kReds, kGreens, kBlues};
  static const int kOpposite[3] = {kCyans, kMagentas, kYellows};  // what is left when the component is lowest
  for (size_t i = 0; i < 3; ++i) {
    if (v[i] == hi && hi > mid) weight[kPrimary[i]] = hi - mid;
    if (v[i] == lo && lo < mid) weight[kOpposite[i]] = mid - lo;
  }
  weight[kWhites] = lo > 127.5 ? (lo - 127.5) * 2 : 0;
  weight[kBlacks] = hi < 127.5 ? (127.5 - hi) * 2 : 0;
  weight[kNeutrals] = std::max(0.0, 255 - (std::abs(hi - 127.5) + std::abs(lo - 127.5)));
  double out[3] = {v[0], v[1], v[2]};
  for (size_t g = 0; g < 9; ++g) {
    if (weight[g] <= 0) continue;
    const double k = a.selective[g][3] / 100.0;
    for (size_t i = 0; i < 3; ++i) {
      const double ink = a.selective[g][i] / 100.0;
      const double change = (-1 - ink) * k - ink;  // lighter below zero
      out[i] += change * (a.absolute ? 255 : 255 - v[i]) * weight[g] / 255;
    }
  }
  return {out[0], out[1], out[2]};
}

template <typename F>
void eachPixel(uint32_t* pixels, size_t n, F f) {
  for (size_t i = 0; i < n; ++i) pixels[i] = pack(pixels[i], f(unpack(pixels[i])));
}

// ---- parsing ----

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
      // CIE Lab (D50) to XYZ, then to sRGB with Bradford-adapted primaries.
      const double L = c[0] / 100.0, A = static_cast<int16_t>(c[1]) / 100.0, B = static_cast<int16_t>(c[2]) / 100.0;
      const double fy = (L + 16) / 116, fx = fy + A / 500, fz = fy - B / 200;
      auto inv = [](double t) { return t > 6.0 / 29 ? t * t * t : 3 * (6.0 / 29) * (6.0 / 29) * (t - 4.0 / 29); };
      const double x = 0.9642 * inv(fx), y = inv(fy), z = 0.8249 * inv(fz);
      const double lin[3] = {3.1338561 * x - 1.6168667 * y - 0.4906146 * z,
                             -0.9787684 * x + 1.9161415 * y + 0.0334540 * z,
                             0.0719453 * x - 0.2289914 * y + 1.4052427 * z};
      double v[3];
      for (int i = 0; i < 3; ++i) v[i] = fromLinear(std::clamp(lin[i], 0.0, 1.0)) * 255;
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
    {"grdm", AdjustmentKind::kUnknown},        {"brst", AdjustmentKind::kUnknown},
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
    default: break;
  }
  if (!ok) return false;
  out = std::move(a);
  return true;
}

std::string unknownAdjustmentWarning(const std::string& layerName, const Adjustment& a) {
  return "warning: adjustment layer \"" + layerName + "\" (" + a.key + ") is not drawn";
}

void applyAdjustment(const Adjustment& a, uint32_t* pixels, size_t n) {
  if (perChannel(a.kind)) {
    std::array<Table, 3> t;
    ChannelCurves(a).tables(t);
    for (size_t i = 0; i < n; ++i) {
      const uint32_t p = pixels[i];
      pixels[i] = (p & 0xFF000000u) | static_cast<uint32_t>(t[0][p >> 16 & 0xFF]) << 16 |
                  static_cast<uint32_t>(t[1][p >> 8 & 0xFF]) << 8 | t[2][p & 0xFF];
    }
    return;
  }
  switch (a.kind) {
    case AdjustmentKind::kHueSaturation: eachPixel(pixels, n, [&](const Rgb& c) { return hueSaturation(a, c); }); break;
    case AdjustmentKind::kColorBalance: eachPixel(pixels, n, [&](const Rgb& c) { return colorBalance(a, c); }); break;
    case AdjustmentKind::kVibrance: eachPixel(pixels, n, [&](const Rgb& c) { return vibrance(a, c); }); break;
    case AdjustmentKind::kBlackWhite: eachPixel(pixels, n, [&](const Rgb& c) { return blackWhite(a, c); }); break;
    case AdjustmentKind::kPhotoFilter: eachPixel(pixels, n, [&](const Rgb& c) { return photoFilter(a, c); }); break;
    case AdjustmentKind::kChannelMixer: eachPixel(pixels, n, [&](const Rgb& c) { return channelMixer(a, c); }); break;
    case AdjustmentKind::kThreshold: eachPixel(pixels, n, [&](const Rgb& c) { return threshold(a, c); }); break;
    case AdjustmentKind::kSelectiveColor: eachPixel(pixels, n, [&](const Rgb& c) { return selectiveColor(a, c); }); break;
    default: break;
  }
}

}  // namespace korvex::psd
