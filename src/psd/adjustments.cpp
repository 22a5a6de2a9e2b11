// Adjustment layer settings and the colour change of each kind.
//
// Values are worked in double on [0, 255] and rounded once per component.
// Per-channel kinds (levels, curves, brightness/contrast, exposure, invert,
// posterize) are curves on [0, 1] sampled into one 256-entry table per
// colour channel before the pixel loop.
#include "psd/adjustments.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "psd/colour.h"
#include "psd/spline.h"

namespace korvex::psd {
namespace {

using namespace colour;

using Table = std::array<uint8_t, 256>;

// ---- pixel helpers ----

inline Rgb unpack(uint32_t p) {
  return {static_cast<double>(p >> 16 & 0xFF), static_cast<double>(p >> 8 & 0xFF), static_cast<double>(p & 0xFF)};
}

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

// A curve through a curves adjustment's points on [0, 1], flat beyond the
// first and last point.
class Spline {
 public:
  explicit Spline(const std::vector<CurvePoint>& points) : spline_(coordinates(points, true), coordinates(points, false)) {}

  double operator()(double x) const { return spline_.empty() ? x : std::clamp(spline_(x), 0.0, 1.0); }

 private:
  static std::vector<double> coordinates(const std::vector<CurvePoint>& points, bool input) {
    std::vector<double> v;
    for (const CurvePoint& p : points) v.push_back((input ? p.input : p.output) / 255.0);
    return v;
  }
  NaturalSpline spline_;
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
        double lin = srgbToLinear(x) * std::exp2(a.exposure) + a.offset;
        lin = lin <= 0 ? 0 : a.gamma > 0 ? std::pow(lin, 1 / a.gamma) : 1;
        return linearToSrgb(std::min(lin, 1.0));
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

// Runs `f` (pixel -> pixel) over a region of rows `stride` pixels apart.
struct Region {
  uint32_t* pixels;
  size_t width, height, stride;
};

template <typename F>
void eachPixel(const Region& r, F f) {
  for (size_t y = 0; y < r.height; ++y) {
    uint32_t* row = r.pixels + y * r.stride;
    for (size_t x = 0; x < r.width; ++x) row[x] = f(row[x]);
  }
}

template <typename F>
void eachColor(const Region& r, F f) {
  eachPixel(r, [&](uint32_t p) { return pack(p, f(unpack(p))); });
}

}  // namespace


void applyAdjustment(const Adjustment& a, uint32_t* pixels, size_t width, size_t height, size_t stride) {
  const Region r{pixels, width, height, stride};
  if (perChannel(a.kind)) {
    std::array<Table, 3> t;
    ChannelCurves(a).tables(t);
    eachPixel(r, [&](uint32_t p) {
      return (p & 0xFF000000u) | static_cast<uint32_t>(t[0][p >> 16 & 0xFF]) << 16 |
             static_cast<uint32_t>(t[1][p >> 8 & 0xFF]) << 8 | t[2][p & 0xFF];
    });
    return;
  }
  switch (a.kind) {
    case AdjustmentKind::kHueSaturation: eachColor(r, [&](const Rgb& c) { return hueSaturation(a, c); }); break;
    case AdjustmentKind::kColorBalance: eachColor(r, [&](const Rgb& c) { return colorBalance(a, c); }); break;
    case AdjustmentKind::kVibrance: eachColor(r, [&](const Rgb& c) { return vibrance(a, c); }); break;
    case AdjustmentKind::kBlackWhite: eachColor(r, [&](const Rgb& c) { return blackWhite(a, c); }); break;
    case AdjustmentKind::kPhotoFilter: eachColor(r, [&](const Rgb& c) { return photoFilter(a, c); }); break;
    case AdjustmentKind::kChannelMixer: eachColor(r, [&](const Rgb& c) { return channelMixer(a, c); }); break;
    case AdjustmentKind::kThreshold: eachColor(r, [&](const Rgb& c) { return threshold(a, c); }); break;
    case AdjustmentKind::kSelectiveColor: eachColor(r, [&](const Rgb& c) { return selectiveColor(a, c); }); break;
    case AdjustmentKind::kGradientMap:
      for (size_t y = 0; y < height; ++y) applyGradientMap(a.gradientMap, pixels + y * stride, width);
      break;
    default: break;
  }
}

void applyAdjustment(const Adjustment& a, uint32_t* pixels, size_t n) { applyAdjustment(a, pixels, n, 1, n); }

}  // namespace korvex::psd
