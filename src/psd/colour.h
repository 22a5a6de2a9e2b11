// Colour arithmetic shared by the reader and the renderer: the sRGB
// transfer curve and HSL, on doubles. Internal to src/psd.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace korvex::psd::colour {

// The sRGB transfer curve on [0, 1]: encoded value to linear light and back.
inline double srgbToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
inline double linearToSrgb(double v) { return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055; }

// An RGB colour with components on [0, 255], unrounded.
struct Rgb {
  double r = 0, g = 0, b = 0;
};

// A component rounded to a byte, clamped to [0, 255].
inline uint32_t component(double v) { return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0, 255.0))); }

// HSL (hue in degrees, saturation and lightness 0..1) to 0..255 RGB.
inline Rgb fromHsl(double h, double s, double l) {
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

}  // namespace korvex::psd::colour
