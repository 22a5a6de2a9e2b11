// Colour arithmetic shared by the reader and the renderer: the sRGB
// transfer curve, HSL, and the reader's conversions of CMYK and Lab to RGB
// with their reverses. Internal to src/psd.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace korvex::psd::colour {

// The sRGB transfer curve on [0, 1]: encoded value to linear light and back.
inline double srgbToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
inline double linearToSrgb(double v) { return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055; }

// CIE Lab (D50; L 0..100, a and b about -128..127) to linear-light sRGB
// components through XYZ with Bradford-adapted primaries; unclamped.
inline void labToLinearSrgb(double l, double a, double b, double lin[3]) {
  const double fy = (l + 16) / 116, fx = fy + a / 500, fz = fy - b / 200;
  auto f = [](double t) { return t > 6.0 / 29 ? t * t * t : 3 * (6.0 / 29) * (6.0 / 29) * (t - 4.0 / 29); };
  const double x = 0.96422 * f(fx), y = f(fy), z = 0.82521 * f(fz);
  lin[0] = 3.1338561 * x - 1.6168667 * y - 0.4906146 * z;
  lin[1] = -0.9787684 * x + 1.9161415 * y + 0.0334540 * z;
  lin[2] = 0.0719453 * x - 0.2289914 * y + 1.4052427 * z;
}

// HSB (hue in turns, any value; saturation and brightness 0..1) to RGB
// components on [0, 255].
inline void hsbToRgb(double h, double s, double v, double rgb[3]) {
  h = (h - std::floor(h)) * 6;
  if (!(h >= 0 && h < 6)) h = 0;  // NaN, and h just below a whole turn rounding to 6
  const int sector = static_cast<int>(h);
  const double f = h - sector;
  const double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
  const double table[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
  for (int i = 0; i < 3; ++i) rgb[i] = table[sector][i] * 255;
}

// CMYK inks 0..1 to RGB components on [0, 255], without a colour profile,
// the way the reader converts CMYK pixels.
inline void cmykToRgb(double c, double m, double y, double k, double rgb[3]) {
  rgb[0] = (1 - c) * (1 - k) * 255;
  rgb[1] = (1 - m) * (1 - k) * 255;
  rgb[2] = (1 - y) * (1 - k) * 255;
}

// A stored (255 - ink) value times the stored (255 - ink) black: the RGB
// component of a CMYK pixel, the way the reader converts CMYK pixels.
inline uint32_t inkTimesBlack(uint32_t ink, uint32_t black) { return (ink * black + 127) / 255; }

// The reverse for an RGB colour: black takes all the grey (255 - black ink
// is the largest component) and cyan, magenta and yellow the rest, so that
// inkTimesBlack gives the colour back. 0x00CCMMYY (stored values), black
// into `black`.
inline uint32_t rgbToInks(uint32_t rgb, uint32_t& black) {
  const uint32_t r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
  black = std::max({r, g, b});
  if (black == 0) return 0xFFFFFFu;
  auto ink = [&](uint32_t v) { return (v * 255 + black / 2) / black; };
  return ink(r) << 16 | ink(g) << 8 | ink(b);
}

// A linear-light component as an 8-bit sRGB value, clamped; NaN reads as 0.
inline uint32_t srgb8(double linear) {
  return static_cast<uint32_t>(std::lround(std::min(1.0, std::max(0.0, linearToSrgb(linear))) * 255));
}

// Lab as Photoshop stores it in 8 bits (L 0..255 for 0..100, a and b offset
// by 128) to 0x00RRGGBB, the way the reader converts Lab pixels.
inline uint32_t lab8ToRgb(uint32_t l8, uint32_t a8, uint32_t b8) {
  double lin[3];
  labToLinearSrgb(l8 * 100.0 / 255.0, static_cast<double>(a8) - 128, static_cast<double>(b8) - 128, lin);
  return srgb8(lin[0]) << 16 | srgb8(lin[1]) << 8 | srgb8(lin[2]);
}

// The reverse: 0x00RRGGBB to 8-bit stored Lab, 0x00LLAABB, through the
// same primaries and white point.
inline uint32_t rgbToLab8(uint32_t rgb) {
  const double r = srgbToLinear((rgb >> 16 & 0xFF) / 255.0), g = srgbToLinear((rgb >> 8 & 0xFF) / 255.0),
               b = srgbToLinear((rgb & 0xFF) / 255.0);
  const double x = (0.4360747 * r + 0.3850649 * g + 0.1430804 * b) / 0.96422;
  const double y = 0.2225045 * r + 0.7168786 * g + 0.0606169 * b;
  const double z = (0.0139322 * r + 0.0971045 * g + 0.7141733 * b) / 0.82521;
  auto f = [](double t) { return t > 216.0 / 24389 ? std::cbrt(t) : t / (3 * (6.0 / 29) * (6.0 / 29)) + 4.0 / 29; };
  const double fx = f(x), fy = f(y), fz = f(z);
  auto byte = [](double v) { return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0, 255.0))); };
  return byte((116 * fy - 16) * 255 / 100) << 16 | byte(500 * (fx - fy) + 128) << 8 | byte(200 * (fy - fz) + 128);
}

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
