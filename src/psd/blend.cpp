// Blend modes on rows of 8-bit straight-alpha pixels.
//
// For a source pixel of colour Cs and coverage as (its alpha times the
// layer's opacity, fill opacity, masks and clipping) over a backdrop pixel
// Cb with alpha ab, the blend mode's result B(Cb, Cs) is mixed in where the
// backdrop is opaque and the source colour itself where it is transparent,
// then laid over the backdrop:
//
//   ao = as + ab - as*ab
//   co = (as*(1-ab)*Cs + as*ab*B + (1-as)*ab*Cb) / ao
//
// computed on integers scaled by 255 and rounded once. A source over an
// untouched (alpha 0) pixel therefore gives exactly its own colour and
// coverage, and a transparent source leaves the backdrop as it was.
#include <algorithm>
#include <array>
#include <cmath>
#include <type_traits>

#include "psd/render.h"

namespace korvex::psd::render {
namespace {

// How a blend mixes colours by coverage. Gamma: on the 8-bit values as
// they are, in integers. Linear light (32-bit documents): the values are
// linear light raised to 1/2.2 (as the reader converts 32-bit samples), so
// the mix decodes them, mixes and encodes the result.
struct Gamma {};
struct LinearLight {
  static double decode(uint32_t v) {
    static const auto table = [] {
      std::array<double, 256> t{};
      for (int i = 0; i < 256; ++i) t[static_cast<size_t>(i)] = std::pow(i / 255.0, 2.2);
      return t;
    }();
    return table[v];
  }
  static uint32_t encode(double v) {
    return static_cast<uint32_t>(std::pow(std::clamp(v, 0.0, 1.0), 1 / 2.2) * 255 + 0.5);
  }
};

// ---- blend functions on one component (b backdrop, s source, 0..255) ----

inline int burn(int b, int s) {
  return b == 255 ? 255 : s == 0 ? 0 : std::max(0, 255 - ((255 - b) * 255 + s / 2) / s);
}
inline int dodge(int b, int s) {
  return b == 0 ? 0 : s == 255 ? 255 : std::min(255, (b * 255 + (255 - s) / 2) / (255 - s));
}
inline int multiply(int b, int s) { return static_cast<int>(div255(static_cast<uint32_t>(b * s))); }
inline int screen(int b, int s) { return b + s - multiply(b, s); }
inline int hardLight(int b, int s) {
  return s < 128 ? static_cast<int>(div255(static_cast<uint32_t>(2 * b * s)))
                 : 255 - static_cast<int>(div255(static_cast<uint32_t>(2 * (255 - b) * (255 - s))));
}
// Photoshop's soft light: 2bs + b^2(1-2s) below half; above, b + (2s-1)(D(b)-b)
// with D(b) = ((16b-12)b+4)b up to a quarter, sqrt(b) beyond.
inline int softLight(int b, int s) {
  const double fb = b / 255.0, fs = s / 255.0;
  const double d = fb <= 0.25 ? ((16 * fb - 12) * fb + 4) * fb : std::sqrt(fb);
  const double r = fs <= 0.5 ? 2 * fb * fs + fb * fb * (1 - 2 * fs) : fb + (2 * fs - 1) * (d - fb);
  return static_cast<int>(std::lround(r * 255));
}

template <int (*F)(int, int)>
struct Separable {
  static constexpr bool kFillInAlpha = false;
  static void apply(const int* b, const int* s, int* out) {
    for (int c = 0; c < 3; ++c) out[c] = F(b[c], s[c]);
  }
};

int fNormal(int, int s) { return s; }
int fDarken(int b, int s) { return std::min(b, s); }
int fLighten(int b, int s) { return std::max(b, s); }
int fMultiply(int b, int s) { return multiply(b, s); }
int fScreen(int b, int s) { return screen(b, s); }
int fColorBurn(int b, int s) { return burn(b, s); }
int fColorDodge(int b, int s) { return dodge(b, s); }
int fLinearBurn(int b, int s) { return std::max(0, b + s - 255); }
int fLinearDodge(int b, int s) { return std::min(255, b + s); }
int fOverlay(int b, int s) { return hardLight(s, b); }
int fSoftLight(int b, int s) { return softLight(b, s); }
int fHardLight(int b, int s) { return hardLight(b, s); }
// Vivid light burns by twice the source below half (black where the source
// is black, whatever the backdrop) and dodges above.
int fVividLight(int b, int s) { return s == 0 ? 0 : s < 128 ? burn(b, 2 * s) : dodge(b, 2 * s - 255); }
int fLinearLight(int b, int s) { return std::clamp(b + 2 * s - 255, 0, 255); }
int fPinLight(int b, int s) { return s < 128 ? std::min(b, 2 * s) : std::max(b, 2 * s - 255); }
// Hard mix: white only where the sum passes white (black and white give black).
int fHardMix(int b, int s) { return b + s > 255 ? 255 : 0; }
int fDifference(int b, int s) { return std::abs(b - s); }
int fExclusion(int b, int s) { return b + s - static_cast<int>(div255(static_cast<uint32_t>(2 * b * s))); }
int fSubtract(int b, int s) { return std::max(0, b - s); }
int fDivide(int b, int s) { return s == 0 ? (b == 0 ? 0 : 255) : std::min(255, (b * 255 + s / 2) / s); }

// Add, difference and subtract change in linear light (32-bit documents):
// on the 8-bit values' linear light, as do the non-separable modes below.
// Multiply, divide, darken and lighten give the same either way (they
// commute with the 1/2.2 power); the modes a 32-bit document does not
// offer stay on the 8-bit values.
template <double (*F)(double, double)>
struct SeparableLinear {
  static constexpr bool kFillInAlpha = false;
  static void apply(const int* b, const int* s, int* out) {
    for (int c = 0; c < 3; ++c)
      out[c] = static_cast<int>(LinearLight::encode(
          F(LinearLight::decode(static_cast<uint32_t>(b[c])), LinearLight::decode(static_cast<uint32_t>(s[c])))));
  }
};
double lAdd(double b, double s) { return b + s; }  // encode clamps
double lDifference(double b, double s) { return std::abs(b - s); }
double lSubtract(double b, double s) { return b - s; }

// ---- fill opacity inside the blend (the modes fillActsInBlend names) ----
//
// Fill f (0..255) moves the source towards the mode's neutral colour, the
// one that leaves the backdrop as it is: black for the dodges and
// difference, white for the burns, grey for vivid and linear light. Hard
// mix has none: its fill lowers the slope of its ramp instead,
// (b - (1 - s) f) / (1 - f), a threshold at full fill.

inline int towards(int neutral, int s, int f) { return neutral + ((s - neutral) * f + (s < neutral ? -127 : 127)) / 255; }
// Twice the source moved towards grey, 0..510.
inline int doubledTowardsGrey(int s, int f) { return 255 + ((2 * s - 255) * f + (2 * s < 255 ? -127 : 127)) / 255; }

int gColorBurn(int b, int s, int f) { return burn(b, towards(255, s, f)); }
int gLinearBurn(int b, int s, int f) { return std::max(0, b + towards(255, s, f) - 255); }
int gColorDodge(int b, int s, int f) { return dodge(b, towards(0, s, f)); }
int gLinearDodge(int b, int s, int f) { return std::min(255, b + towards(0, s, f)); }
int gDifference(int b, int s, int f) { return std::abs(b - towards(0, s, f)); }
int gVividLight(int b, int s, int f) {
  const int d = doubledTowardsGrey(s, f);
  return d < 255 ? burn(b, d) : dodge(b, d - 255);
}
int gLinearLight(int b, int s, int f) { return std::clamp(b + doubledTowardsGrey(s, f) - 255, 0, 255); }
int gHardMix(int b, int s, int f) {
  const int num = 255 * b - (255 - s) * f;
  if (f == 255) return num >= 0 ? 255 : 0;
  return std::clamp((num + (num < 0 ? -(255 - f) / 2 : (255 - f) / 2)) / (255 - f), 0, 255);
}

// The source pixel's alpha byte carries the fill.
template <int (*G)(int, int, int)>
struct WithFill {
  static constexpr bool kFillInAlpha = true;
  static void apply(const int* b, const int* s, int* out) {
    for (int c = 0; c < 3; ++c) out[c] = G(b[c], s[c], s[3]);
  }
};

// ---- non-separable modes: hue, saturation, colour, luminosity ----

inline double lum(const double* c) { return 0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2]; }

void clipColor(double* c) {
  const double l = lum(c);
  const double n = std::min({c[0], c[1], c[2]}), x = std::max({c[0], c[1], c[2]});
  for (int i = 0; i < 3; ++i) {
    if (n < 0) c[i] = l + (c[i] - l) * l / (l - n);
    if (x > 1) c[i] = l + (c[i] - l) * (1 - l) / (x - l);
  }
}

void setLum(double* c, double l) {
  const double d = l - lum(c);
  for (int i = 0; i < 3; ++i) c[i] += d;
  clipColor(c);
}

inline double sat(const double* c) { return std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]}); }

void setSat(double* c, double s) {
  int mx = 0, mn = 0;
  for (int i = 1; i < 3; ++i) {
    if (c[i] > c[mx]) mx = i;
    if (c[i] < c[mn]) mn = i;
  }
  if (mx == mn) {
    c[0] = c[1] = c[2] = 0;
    return;
  }
  const int md = 3 - mx - mn;
  c[md] = (c[md] - c[mn]) * s / (c[mx] - c[mn]);
  c[mx] = s;
  c[mn] = 0;
}

enum class NonSep { kHue, kSaturation, kColor, kLuminosity };

// The components the non-separable modes work on, on [0, 1]: the 8-bit
// values, or in a 32-bit document their linear light.
struct Shown {
  static double decode(int v) { return v / 255.0; }
  static int encode(double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); }
};
struct Linear {
  static double decode(int v) { return LinearLight::decode(static_cast<uint32_t>(v)); }
  static int encode(double v) { return static_cast<int>(LinearLight::encode(v)); }
};

template <NonSep M, class Space = Shown>
struct NonSeparable {
  static constexpr bool kFillInAlpha = false;
  static void apply(const int* b, const int* s, int* out) {
    double cb[3], cs[3], r[3];
    for (int i = 0; i < 3; ++i) {
      cb[i] = Space::decode(b[i]);
      cs[i] = Space::decode(s[i]);
    }
    switch (M) {
      case NonSep::kHue:
        std::copy(cs, cs + 3, r);
        setSat(r, sat(cb));
        setLum(r, lum(cb));
        break;
      case NonSep::kSaturation:
        std::copy(cb, cb + 3, r);
        setSat(r, sat(cs));
        setLum(r, lum(cb));
        break;
      case NonSep::kColor:
        std::copy(cs, cs + 3, r);
        setLum(r, lum(cb));
        break;
      case NonSep::kLuminosity:
        std::copy(cb, cb + 3, r);
        setLum(r, lum(cs));
        break;
    }
    for (int i = 0; i < 3; ++i) out[i] = Space::encode(r[i]);
  }
};

// Darker and lighter colour pick the whole colour of lower or higher luminosity.
template <bool kLighter, class Space = Shown>
struct PickColor {
  static constexpr bool kFillInAlpha = false;
  static void apply(const int* b, const int* s, int* out) {
    bool source;
    if constexpr (std::is_same_v<Space, Shown>) {
      const int lb = 30 * b[0] + 59 * b[1] + 11 * b[2];
      const int ls = 30 * s[0] + 59 * s[1] + 11 * s[2];
      source = kLighter ? ls > lb : ls < lb;
    } else {
      const double cb[3] = {Space::decode(b[0]), Space::decode(b[1]), Space::decode(b[2])};
      const double cs[3] = {Space::decode(s[0]), Space::decode(s[1]), Space::decode(s[2])};
      source = kLighter ? lum(cs) > lum(cb) : lum(cs) < lum(cb);
    }
    const int* pick = source ? s : b;
    std::copy(pick, pick + 3, out);
  }
};

// Lays one row of source pixels over the canvas row with coverage `cover`.
// The shortcuts give what the general formula gives for those inputs.
// With the fill in the blend (Op::kFillInAlpha), the source's own share
// over the backdrop's transparent part is cut by the fill as well:
//
//   ao = as*f + ab - as*f*ab
//   co = (as*f*(1-ab)*Cs + ab*(as*B + (1-as)*Cb)) / ao
template <class Op, bool kNormal, class Mix>
void blendRow(uint32_t* dst, const uint32_t* src, const uint8_t* cover, int n) {
  for (int i = 0; i < n; ++i) {
    const uint32_t sa = cover[i];
    if (sa == 0) continue;
    const uint32_t d = dst[i];
    const uint32_t da = d >> 24;
    const uint32_t s = src[i];
    const uint32_t own = Op::kFillInAlpha ? div255(sa * (s >> 24)) : sa;  // the source's share where nothing lies
    if (da == 0 || (kNormal && sa == 255)) {
      if (own > 0) dst[i] = own << 24 | (s & 0xFFFFFFu);
      continue;
    }
    const int cb[3] = {static_cast<int>(d >> 16 & 0xFF), static_cast<int>(d >> 8 & 0xFF), static_cast<int>(d & 0xFF)};
    const int cs[4] = {static_cast<int>(s >> 16 & 0xFF), static_cast<int>(s >> 8 & 0xFF), static_cast<int>(s & 0xFF),
                       static_cast<int>(s >> 24)};
    int mixed[3];
    Op::apply(cb, cs, mixed);
    if (sa == 255 && da == 255) {
      dst[i] = 0xFF000000u | static_cast<uint32_t>(mixed[0]) << 16 | static_cast<uint32_t>(mixed[1]) << 8 |
               static_cast<uint32_t>(mixed[2]);
      continue;
    }
    const uint32_t den = own * (255 - da) + da * 255;
    uint32_t out = div255(den) << 24;
    for (int c = 0; c < 3; ++c) {
      if constexpr (std::is_same_v<Mix, Gamma>) {
        const uint32_t num = own * (255 - da) * static_cast<uint32_t>(cs[c]) +
                             da * (sa * static_cast<uint32_t>(mixed[c]) + (255 - sa) * static_cast<uint32_t>(cb[c]));
        out |= ((num + den / 2) / den) << (16 - 8 * c);
      } else {
        const double num = own * (255 - da) * Mix::decode(static_cast<uint32_t>(cs[c])) +
                           da * (sa * Mix::decode(static_cast<uint32_t>(mixed[c])) +
                                 (255 - sa) * Mix::decode(static_cast<uint32_t>(cb[c])));
        out |= Mix::encode(num / den) << (16 - 8 * c);
      }
    }
    dst[i] = out;
  }
}

// The backdrop colour moved towards the blend result by the coverage; the
// backdrop's alpha stays.
template <class Op, bool, class Mix>
void blendRowAtop(uint32_t* dst, const uint32_t* src, const uint8_t* cover, int n) {
  for (int i = 0; i < n; ++i) {
    const uint32_t sa = cover[i];
    const uint32_t d = dst[i];
    if (sa == 0 || d < 0x01000000u) continue;
    const uint32_t s = src[i];
    const int cb[3] = {static_cast<int>(d >> 16 & 0xFF), static_cast<int>(d >> 8 & 0xFF), static_cast<int>(d & 0xFF)};
    const int cs[4] = {static_cast<int>(s >> 16 & 0xFF), static_cast<int>(s >> 8 & 0xFF), static_cast<int>(s & 0xFF),
                       static_cast<int>(s >> 24)};
    int mixed[3];
    Op::apply(cb, cs, mixed);
    uint32_t out = d & 0xFF000000u;
    for (int c = 0; c < 3; ++c) {
      if constexpr (std::is_same_v<Mix, Gamma>)
        out |= div255(static_cast<uint32_t>(cb[c]) * (255 - sa) + static_cast<uint32_t>(mixed[c]) * sa) << (16 - 8 * c);
      else
        out |= Mix::encode((Mix::decode(static_cast<uint32_t>(cb[c])) * (255 - sa) +
                            Mix::decode(static_cast<uint32_t>(mixed[c])) * sa) / 255) << (16 - 8 * c);
    }
    dst[i] = out;
  }
}

// The row functions as types, to pick from one table.
template <class Mix>
struct Over {
  static constexpr bool kLinear = std::is_same_v<Mix, LinearLight>;
  template <class Op, bool kNormal>
  static void row(uint32_t* dst, const uint32_t* src, const uint8_t* cover, int n) {
    blendRow<Op, kNormal, Mix>(dst, src, cover, n);
  }
};
template <class Mix>
struct Atop {
  static constexpr bool kLinear = std::is_same_v<Mix, LinearLight>;
  template <class Op, bool kNormal>
  static void row(uint32_t* dst, const uint32_t* src, const uint8_t* cover, int n) {
    blendRowAtop<Op, kNormal, Mix>(dst, src, cover, n);
  }
};

template <class Row>
RowBlender pick(BlendMode mode) {
  if (Row::kLinear) {
    switch (mode) {
      case BlendMode::kLinearDodge: return Row::template row<SeparableLinear<lAdd>, false>;
      case BlendMode::kDifference: return Row::template row<SeparableLinear<lDifference>, false>;
      case BlendMode::kSubtract: return Row::template row<SeparableLinear<lSubtract>, false>;
      case BlendMode::kDarkerColor: return Row::template row<PickColor<false, Linear>, false>;
      case BlendMode::kLighterColor: return Row::template row<PickColor<true, Linear>, false>;
      case BlendMode::kHue: return Row::template row<NonSeparable<NonSep::kHue, Linear>, false>;
      case BlendMode::kSaturation: return Row::template row<NonSeparable<NonSep::kSaturation, Linear>, false>;
      case BlendMode::kColor: return Row::template row<NonSeparable<NonSep::kColor, Linear>, false>;
      case BlendMode::kLuminosity: return Row::template row<NonSeparable<NonSep::kLuminosity, Linear>, false>;
      default: break;
    }
  }
  switch (mode) {
    case BlendMode::kDarken: return Row::template row<Separable<fDarken>, false>;
    case BlendMode::kMultiply: return Row::template row<Separable<fMultiply>, false>;
    case BlendMode::kColorBurn: return Row::template row<Separable<fColorBurn>, false>;
    case BlendMode::kLinearBurn: return Row::template row<Separable<fLinearBurn>, false>;
    case BlendMode::kDarkerColor: return Row::template row<PickColor<false>, false>;
    case BlendMode::kLighten: return Row::template row<Separable<fLighten>, false>;
    case BlendMode::kScreen: return Row::template row<Separable<fScreen>, false>;
    case BlendMode::kColorDodge: return Row::template row<Separable<fColorDodge>, false>;
    case BlendMode::kLinearDodge: return Row::template row<Separable<fLinearDodge>, false>;
    case BlendMode::kLighterColor: return Row::template row<PickColor<true>, false>;
    case BlendMode::kOverlay: return Row::template row<Separable<fOverlay>, false>;
    case BlendMode::kSoftLight: return Row::template row<Separable<fSoftLight>, false>;
    case BlendMode::kHardLight: return Row::template row<Separable<fHardLight>, false>;
    case BlendMode::kVividLight: return Row::template row<Separable<fVividLight>, false>;
    case BlendMode::kLinearLight: return Row::template row<Separable<fLinearLight>, false>;
    case BlendMode::kPinLight: return Row::template row<Separable<fPinLight>, false>;
    case BlendMode::kHardMix: return Row::template row<Separable<fHardMix>, false>;
    case BlendMode::kDifference: return Row::template row<Separable<fDifference>, false>;
    case BlendMode::kExclusion: return Row::template row<Separable<fExclusion>, false>;
    case BlendMode::kSubtract: return Row::template row<Separable<fSubtract>, false>;
    case BlendMode::kDivide: return Row::template row<Separable<fDivide>, false>;
    case BlendMode::kHue: return Row::template row<NonSeparable<NonSep::kHue>, false>;
    case BlendMode::kSaturation: return Row::template row<NonSeparable<NonSep::kSaturation>, false>;
    case BlendMode::kColor: return Row::template row<NonSeparable<NonSep::kColor>, false>;
    case BlendMode::kLuminosity: return Row::template row<NonSeparable<NonSep::kLuminosity>, false>;
    default: return Row::template row<Separable<fNormal>, true>;  // normal, dissolve (after its coverage test), pass through
  }
}

template <int (*G)(int, int, int)>
RowBlender withFill(bool atop, bool linearLight) {
  if (linearLight) return atop ? blendRowAtop<WithFill<G>, false, LinearLight> : blendRow<WithFill<G>, false, LinearLight>;
  return atop ? blendRowAtop<WithFill<G>, false, Gamma> : blendRow<WithFill<G>, false, Gamma>;
}

template <class Mix>
void mixRowIn(uint32_t* dst, const uint32_t* src, const uint8_t* t, int n) {
  for (int i = 0; i < n; ++i) {
    const uint32_t w = t[i];
    if (w == 0) continue;
    const uint32_t d = dst[i], s = src[i];
    if (w == 255) {
      dst[i] = s;
      continue;
    }
    const uint32_t wd = (d >> 24) * (255 - w), ws = (s >> 24) * w;  // alpha * weight, scaled by 255
    const uint32_t den = wd + ws;
    if (den == 0) continue;
    uint32_t out = div255(den) << 24;
    for (int sh = 0; sh < 24; sh += 8) {
      if constexpr (std::is_same_v<Mix, Gamma>)
        out |= (((d >> sh & 0xFF) * wd + (s >> sh & 0xFF) * ws + den / 2) / den) << sh;
      else
        out |= Mix::encode((Mix::decode(d >> sh & 0xFF) * wd + Mix::decode(s >> sh & 0xFF) * ws) / den) << sh;
    }
    dst[i] = out;
  }
}

}  // namespace

RowBlender rowBlender(BlendMode mode, bool linearLight) {
  return linearLight ? pick<Over<LinearLight>>(mode) : pick<Over<Gamma>>(mode);
}
RowBlender rowBlenderAtop(BlendMode mode, bool linearLight) {
  return linearLight ? pick<Atop<LinearLight>>(mode) : pick<Atop<Gamma>>(mode);
}

bool fillActsInBlend(BlendMode mode) {
  switch (mode) {
    case BlendMode::kColorBurn:
    case BlendMode::kLinearBurn:
    case BlendMode::kColorDodge:
    case BlendMode::kLinearDodge:
    case BlendMode::kVividLight:
    case BlendMode::kLinearLight:
    case BlendMode::kHardMix:
    case BlendMode::kDifference: return true;
    default: return false;
  }
}

RowBlender rowBlenderWithFill(BlendMode mode, bool atop, bool linearLight) {
  switch (mode) {
    case BlendMode::kColorBurn: return withFill<gColorBurn>(atop, linearLight);
    case BlendMode::kLinearBurn: return withFill<gLinearBurn>(atop, linearLight);
    case BlendMode::kColorDodge: return withFill<gColorDodge>(atop, linearLight);
    case BlendMode::kLinearDodge: return withFill<gLinearDodge>(atop, linearLight);
    case BlendMode::kVividLight: return withFill<gVividLight>(atop, linearLight);
    case BlendMode::kLinearLight: return withFill<gLinearLight>(atop, linearLight);
    case BlendMode::kHardMix: return withFill<gHardMix>(atop, linearLight);
    case BlendMode::kDifference: return withFill<gDifference>(atop, linearLight);
    default: return atop ? rowBlenderAtop(mode, linearLight) : rowBlender(mode, linearLight);
  }
}

void mixRow(uint32_t* dst, const uint32_t* src, const uint8_t* t, int n, bool linearLight) {
  (linearLight ? mixRowIn<LinearLight> : mixRowIn<Gamma>)(dst, src, t, n);
}

}  // namespace korvex::psd::render
