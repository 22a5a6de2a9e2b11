#include "psd/gradient.h"

#include <algorithm>
#include <cmath>

#include "psd/colour.h"

namespace korvex::psd {
namespace {

struct Triple {
  double x = 0, y = 0, z = 0;
};

double clamp01(double v) { return v > 0 ? (v < 1 ? v : 1) : 0; }

double linearToSrgbClamped(double v) { return colour::linearToSrgb(clamp01(v)); }

// Oklab from linear-light sRGB and back (Björn Ottosson's matrices).
Triple toOklab(const Triple& c) {
  const double l = std::cbrt(0.4122214708 * c.x + 0.5363325363 * c.y + 0.0514459929 * c.z);
  const double m = std::cbrt(0.2119034982 * c.x + 0.6806995451 * c.y + 0.1073969566 * c.z);
  const double s = std::cbrt(0.0883024619 * c.x + 0.2817188376 * c.y + 0.6299787005 * c.z);
  return {0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s,
          1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s,
          0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s};
}

Triple fromOklab(const Triple& c) {
  const double l = std::pow(c.x + 0.3963377774 * c.y + 0.2158037573 * c.z, 3);
  const double m = std::pow(c.x - 0.1055613458 * c.y - 0.0638541728 * c.z, 3);
  const double s = std::pow(c.x - 0.0894841775 * c.y - 1.2914855480 * c.z, 3);
  return {4.0767416621 * l - 3.3077115913 * m + 0.2309699292 * s,
          -1.2684380046 * l + 2.6097574011 * m - 0.3413193965 * s,
          -0.0041960863 * l - 0.7034186147 * m + 1.7076147010 * s};
}

Triple apply(const Triple& c, double (*f)(double)) { return {f(c.x), f(c.y), f(c.z)}; }

// A stop's colour (stored values scaled to 0..1) in the space the method
// mixes in, and back.
Triple toMixSpace(const Gradient& g, const Triple& stored) {
  if (g.method == GradientMethod::kClassic) return stored;
  const Triple linear = g.linearDocument ? stored : apply(stored, colour::srgbToLinear);
  return g.method == GradientMethod::kPerceptual ? toOklab(linear) : linear;
}

Triple fromMixSpace(const Gradient& g, const Triple& mixed) {
  if (g.method == GradientMethod::kClassic) return mixed;
  const Triple linear = g.method == GradientMethod::kPerceptual ? fromOklab(mixed) : mixed;
  return g.linearDocument ? linear : apply(linear, linearToSrgbClamped);
}

// A stored value 0..1 as an 8-bit display value.
uint32_t to8(const Gradient& g, double v) {
  v = clamp01(v);
  if (g.linearDocument) v = std::pow(v, 1 / 2.2);
  return static_cast<uint32_t>(v * 255 + 0.5);
}

// Where `pos` (0..4096) falls among `stops` (sorted by location): the two
// stops around it and the weight of the later one, midpoint and smoothness
// applied.
struct Segment {
  size_t from = 0, to = 0;
  double weight = 0;
};

template <class Stop>
Segment locate(const std::vector<Stop>& stops, double pos, double smoothness) {
  size_t to = 0;
  while (to < stops.size() && stops[to].location < pos) ++to;
  if (to == 0) return {0, 0, 0};
  if (to == stops.size()) return {to - 1, to - 1, 0};
  // Stops sharing a location: the last of them holds from there on.
  while (to + 1 < stops.size() && stops[to + 1].location == stops[to].location &&
         stops[to].location <= pos) {
    ++to;
  }
  const Stop& a = stops[to - 1];
  const Stop& b = stops[to];
  if (b.location <= a.location) return {to, to, 0};
  const double p = (pos - a.location) / (b.location - a.location);
  const double m = std::clamp(b.midpoint / 100.0, 0.001, 0.999);
  double w = p < m ? 0.5 * p / m : 0.5 + 0.5 * (p - m) / (1 - m);
  w += smoothness * 0.5 * (w * w * (3 - 2 * w) - w);
  return {to - 1, to, w};
}

template <class Stop>
std::vector<Stop> sortedByLocation(const std::vector<Stop>& stops) {
  std::vector<Stop> sorted = stops;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Stop& a, const Stop& b) { return a.location < b.location; });
  return sorted;
}

}  // namespace

void buildRamp(const Gradient& gradient, uint32_t* ramp, int n) {
  const std::vector<GradientColorStop> colors = sortedByLocation(gradient.colors);
  const std::vector<GradientOpacityStop> opacities = sortedByLocation(gradient.opacities);
  std::vector<Triple> mixColors;
  mixColors.reserve(colors.size());
  for (const GradientColorStop& s : colors) {
    mixColors.push_back(toMixSpace(gradient, {s.red / 255, s.green / 255, s.blue / 255}));
  }
  const double smoothness = clamp01(gradient.smoothness);
  for (int i = 0; i < n; ++i) {
    const double pos = n > 1 ? 4096.0 * i / (n - 1) : 0;
    uint32_t rgb = 0;
    if (!colors.empty()) {
      const Segment s = locate(colors, pos, smoothness);
      const Triple& a = mixColors[s.from];
      const Triple& b = mixColors[s.to];
      const Triple mixed{a.x + (b.x - a.x) * s.weight, a.y + (b.y - a.y) * s.weight,
                         a.z + (b.z - a.z) * s.weight};
      const Triple out = fromMixSpace(gradient, mixed);
      rgb = to8(gradient, out.x) << 16 | to8(gradient, out.y) << 8 | to8(gradient, out.z);
    }
    double opacity = 1;
    if (!opacities.empty()) {
      const Segment s = locate(opacities, pos, smoothness);
      const double a = opacities[s.from].opacity;
      opacity = a + (opacities[s.to].opacity - a) * s.weight;
    }
    ramp[i] = static_cast<uint32_t>(clamp01(opacity) * 255 + 0.5) << 24 | rgb;
  }
}

void applyGradientMap(const GradientMap& map, uint32_t* pixels, size_t n) {
  uint32_t ramp[256];
  buildRamp(map.gradient, ramp, 256);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t c = pixels[i];
    // Weights in thousandths: 300 + 590 + 110.
    uint32_t lum = ((c >> 16 & 255) * 300 + (c >> 8 & 255) * 590 + (c & 255) * 110 + 500) / 1000;
    if (map.reverse) lum = 255 - lum;
    pixels[i] = (c & 0xFF000000u) | (ramp[lum] & 0x00FFFFFFu);
  }
}

}  // namespace korvex::psd
