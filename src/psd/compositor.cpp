// The layer compositor: blends records into one reused working canvas with
// Photoshop's blend modes, straight alpha, 8 bits per component.
//
// For a source pixel of colour Cs and coverage as (its alpha times the
// layer's opacity, fill opacity, mask and clipping base) over a backdrop
// pixel Cb with alpha ab, the blend mode's result B(Cb, Cs) is mixed in
// where the backdrop is opaque and the source colour itself where it is
// transparent, then laid over the backdrop:
//
//   ao = as + ab - as*ab
//   co = (as*(1-ab)*Cs + as*ab*B + (1-as)*ab*Cb) / ao
//
// computed on integers scaled by 255 and rounded once. A source over an
// untouched (alpha 0) pixel therefore gives exactly its own colour and
// coverage, and a transparent source leaves the backdrop as it was.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "psd/compositor.h"

namespace korvex::psd {
namespace {

constexpr uint32_t kTransparentWhite = 0x00FFFFFFu;

inline uint32_t div255(uint32_t v) { return (v + 127) / 255; }

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
// Photoshop's soft light: 2bs + b^2(1-2s) below half, 2b(1-s) + sqrt(b)(2s-1) above.
inline int softLight(int b, int s) {
  const double fb = b / 255.0, fs = s / 255.0;
  const double r = fs <= 0.5 ? 2 * fb * fs + fb * fb * (1 - 2 * fs) : 2 * fb * (1 - fs) + std::sqrt(fb) * (2 * fs - 1);
  return static_cast<int>(std::lround(r * 255));
}

template <int (*F)(int, int)>
struct Separable {
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
int fVividLight(int b, int s) { return s < 128 ? burn(b, 2 * s) : dodge(b, 2 * s - 255); }
int fLinearLight(int b, int s) { return std::clamp(b + 2 * s - 255, 0, 255); }
int fPinLight(int b, int s) { return s < 128 ? std::min(b, 2 * s) : std::max(b, 2 * s - 255); }
int fHardMix(int b, int s) { return b + s >= 255 ? 255 : 0; }
int fDifference(int b, int s) { return std::abs(b - s); }
int fExclusion(int b, int s) { return b + s - static_cast<int>(div255(static_cast<uint32_t>(2 * b * s))); }
int fSubtract(int b, int s) { return std::max(0, b - s); }
int fDivide(int b, int s) { return s == 0 ? (b == 0 ? 0 : 255) : std::min(255, (b * 255 + s / 2) / s); }

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

template <NonSep M>
struct NonSeparable {
  static void apply(const int* b, const int* s, int* out) {
    double cb[3], cs[3], r[3];
    for (int i = 0; i < 3; ++i) {
      cb[i] = b[i] / 255.0;
      cs[i] = s[i] / 255.0;
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
    for (int i = 0; i < 3; ++i) out[i] = static_cast<int>(std::lround(std::clamp(r[i], 0.0, 1.0) * 255));
  }
};

// Darker and lighter colour pick the whole colour of lower or higher luminosity.
template <bool kLighter>
struct PickColor {
  static void apply(const int* b, const int* s, int* out) {
    const int lb = 30 * b[0] + 59 * b[1] + 11 * b[2];
    const int ls = 30 * s[0] + 59 * s[1] + 11 * s[2];
    const int* pick = (kLighter ? ls > lb : ls < lb) ? s : b;
    std::copy(pick, pick + 3, out);
  }
};

// Lays one row of source pixels over the canvas row with coverage `cover`.
// The shortcuts give what the general formula gives for those inputs.
template <class Op, bool kNormal>
void blendRow(uint32_t* dst, const uint32_t* src, const uint8_t* cover, int n) {
  for (int i = 0; i < n; ++i) {
    const uint32_t sa = cover[i];
    if (sa == 0) continue;
    const uint32_t d = dst[i];
    const uint32_t da = d >> 24;
    const uint32_t s = src[i];
    if (da == 0 || (kNormal && sa == 255)) {
      dst[i] = sa << 24 | (s & 0xFFFFFFu);
      continue;
    }
    const int cb[3] = {static_cast<int>(d >> 16 & 0xFF), static_cast<int>(d >> 8 & 0xFF), static_cast<int>(d & 0xFF)};
    const int cs[3] = {static_cast<int>(s >> 16 & 0xFF), static_cast<int>(s >> 8 & 0xFF), static_cast<int>(s & 0xFF)};
    int mixed[3];
    Op::apply(cb, cs, mixed);
    if (sa == 255 && da == 255) {
      dst[i] = 0xFF000000u | static_cast<uint32_t>(mixed[0]) << 16 | static_cast<uint32_t>(mixed[1]) << 8 |
               static_cast<uint32_t>(mixed[2]);
      continue;
    }
    const uint32_t den = sa * 255 + da * (255 - sa);
    uint32_t out = div255(den) << 24;
    for (int c = 0; c < 3; ++c) {
      const uint32_t num = sa * ((255 - da) * static_cast<uint32_t>(cs[c]) + da * static_cast<uint32_t>(mixed[c])) +
                           static_cast<uint32_t>(cb[c]) * da * (255 - sa);
      out |= ((num + den / 2) / den) << (16 - 8 * c);
    }
    dst[i] = out;
  }
}

using RowBlender = void (*)(uint32_t*, const uint32_t*, const uint8_t*, int);

RowBlender rowBlender(BlendMode mode) {
  switch (mode) {
    case BlendMode::kDarken: return blendRow<Separable<fDarken>, false>;
    case BlendMode::kMultiply: return blendRow<Separable<fMultiply>, false>;
    case BlendMode::kColorBurn: return blendRow<Separable<fColorBurn>, false>;
    case BlendMode::kLinearBurn: return blendRow<Separable<fLinearBurn>, false>;
    case BlendMode::kDarkerColor: return blendRow<PickColor<false>, false>;
    case BlendMode::kLighten: return blendRow<Separable<fLighten>, false>;
    case BlendMode::kScreen: return blendRow<Separable<fScreen>, false>;
    case BlendMode::kColorDodge: return blendRow<Separable<fColorDodge>, false>;
    case BlendMode::kLinearDodge: return blendRow<Separable<fLinearDodge>, false>;
    case BlendMode::kLighterColor: return blendRow<PickColor<true>, false>;
    case BlendMode::kOverlay: return blendRow<Separable<fOverlay>, false>;
    case BlendMode::kSoftLight: return blendRow<Separable<fSoftLight>, false>;
    case BlendMode::kHardLight: return blendRow<Separable<fHardLight>, false>;
    case BlendMode::kVividLight: return blendRow<Separable<fVividLight>, false>;
    case BlendMode::kLinearLight: return blendRow<Separable<fLinearLight>, false>;
    case BlendMode::kPinLight: return blendRow<Separable<fPinLight>, false>;
    case BlendMode::kHardMix: return blendRow<Separable<fHardMix>, false>;
    case BlendMode::kDifference: return blendRow<Separable<fDifference>, false>;
    case BlendMode::kExclusion: return blendRow<Separable<fExclusion>, false>;
    case BlendMode::kSubtract: return blendRow<Separable<fSubtract>, false>;
    case BlendMode::kDivide: return blendRow<Separable<fDivide>, false>;
    case BlendMode::kHue: return blendRow<NonSeparable<NonSep::kHue>, false>;
    case BlendMode::kSaturation: return blendRow<NonSeparable<NonSep::kSaturation>, false>;
    case BlendMode::kColor: return blendRow<NonSeparable<NonSep::kColor>, false>;
    case BlendMode::kLuminosity: return blendRow<NonSeparable<NonSep::kLuminosity>, false>;
    default: return blendRow<Separable<fNormal>, true>;  // normal, dissolve (after its coverage test), pass through
  }
}

// The mask's value at a canvas pixel: 255 shows, 0 hides.
inline uint32_t maskAt(const LayerMask& m, int x, int y) {
  uint32_t v = m.defaultColor;
  const int64_t mx = static_cast<int64_t>(x) - m.left, my = static_cast<int64_t>(y) - m.top;
  if (mx >= 0 && my >= 0 && mx < m.width && my < m.height && !m.data.empty())
    v = m.data[static_cast<size_t>(my) * static_cast<size_t>(m.width) + static_cast<size_t>(mx)];
  return m.inverted ? 255 - v : v;
}

bool drawsPixels(const LayerRecord& r) { return r.layerType == kLayerNormal || r.layerType == kLayerSolidColor; }

}  // namespace

struct Compositor::State {
  explicit State(const Document& d) : document(d) {}
  const Document& document;
  std::unique_ptr<uint32_t[]> canvas;
  std::vector<uint8_t> random;   // dissolve's table, one byte per canvas pixel
  std::vector<uint8_t> cover;    // coverage of one row
  std::vector<uint32_t> source;  // one row of a fill layer's colour
  // Areas drawn since they were last cleared: clearing touches only these,
  // not the whole (often mostly untouched) box the caller names.
  std::vector<Box> dirty;

  size_t pixelCount() const {
    return static_cast<size_t>(document.width) * static_cast<size_t>(document.height);
  }
  bool ensureCanvas();
  void makeRandomTable();
  // Opacity of the groups around `r` (0 when one of them is hidden or fully
  // transparent).
  uint32_t groupOpacity(const LayerRecord& r) const;
  // The coverage a record gives a canvas pixel before its own opacity: its
  // pixel alpha times its mask (a clipping base's shape).
  uint32_t shapeAt(const LayerRecord& r, int x, int y) const;
  void draw(const LayerRecord& r, uint32_t opacity, const LayerRecord* base, Box& touched);
};

bool Compositor::State::ensureCanvas() {
  if (canvas) return true;
  const size_t n = pixelCount();
  canvas.reset(new (std::nothrow) uint32_t[n]);
  if (!canvas) return false;
  std::fill(canvas.get(), canvas.get() + n, kTransparentWhite);
  return true;
}

// Dissolve draws a pixel fully or not at all: fully where the table's byte
// is below the pixel's coverage. The table is made once per document from
// the linear congruential generator of the Microsoft C library (state =
// state * 214013 + 2531011, value = bits 16..30 of the state) seeded with
// 0, one value modulo 255 per pixel, so every run and machine gets the same
// table and full coverage always draws.
void Compositor::State::makeRandomTable() {
  if (!random.empty()) return;
  random.resize(pixelCount());
  uint32_t state = 0;
  for (uint8_t& v : random) {
    state = state * 214013u + 2531011u;
    v = static_cast<uint8_t>(((state >> 16) & 0x7FFFu) % 255u);
  }
}

uint32_t Compositor::State::groupOpacity(const LayerRecord& r) const {
  uint32_t opacity = 255;
  const auto& records = document.layerRecords;
  // Links always point upwards in the file, so the chain ends.
  for (int32_t i = r.groupHeader; i >= 0 && static_cast<size_t>(i) < records.size(); i = records[static_cast<size_t>(i)].groupHeader) {
    const LayerRecord& header = records[static_cast<size_t>(i)];
    if (!header.visible || header.opacity == 0) return 0;
    opacity = div255(opacity * header.opacity);
    if (header.groupHeader <= i) break;
  }
  return opacity;
}

uint32_t Compositor::State::shapeAt(const LayerRecord& r, int x, int y) const {
  uint32_t a = 255;
  if (r.layerType == kLayerNormal) {
    const int64_t lx = static_cast<int64_t>(x) - r.left, ly = static_cast<int64_t>(y) - r.top;
    if (lx < 0 || ly < 0 || lx >= r.width || ly >= r.height) return 0;
    a = r.imageData[static_cast<size_t>(ly) * static_cast<size_t>(r.width) + static_cast<size_t>(lx)] >> 24;
  }
  return r.mask.present() ? div255(a * maskAt(r.mask, x, y)) : a;
}

void Compositor::State::draw(const LayerRecord& r, uint32_t opacity, const LayerRecord* base, Box& touched) {
  const int32_t width = document.width, height = document.height;
  Box area{0, 0, width, height};
  if (r.layerType == kLayerNormal) {
    if (r.imageData.empty()) return;
    area = Box{std::max(0, r.left), std::max(0, r.top),
               static_cast<int32_t>(std::min<int64_t>(width, static_cast<int64_t>(r.left) + r.width)),
               static_cast<int32_t>(std::min<int64_t>(height, static_cast<int64_t>(r.top) + r.height))};
  } else if (r.mask.present() && r.mask.defaultColor == 0 && !r.mask.inverted) {
    area = Box{std::max(0, r.mask.left), std::max(0, r.mask.top),
               static_cast<int32_t>(std::min<int64_t>(width, static_cast<int64_t>(r.mask.left) + r.mask.width)),
               static_cast<int32_t>(std::min<int64_t>(height, static_cast<int64_t>(r.mask.top) + r.mask.height))};
  }
  if (area.empty()) return;
  dirty.push_back(area);
  if (touched.empty()) {
    touched = area;
  } else {
    touched = Box{std::min(touched.left, area.left), std::min(touched.top, area.top),
                  std::max(touched.right, area.right), std::max(touched.bottom, area.bottom)};
  }
  const int n = area.right - area.left;
  // Coverage = alpha * opacity * fill opacity [* mask] [* base shape], scaled by 255^3.
  const uint32_t opacityFill = opacity * r.fillOpacity;
  uint8_t lut[256];
  for (uint32_t a = 0; a < 256; ++a) lut[a] = static_cast<uint8_t>((a * opacityFill + 32512) / 65025);
  const bool masked = r.mask.present();
  const bool dissolve = r.blendMode == BlendMode::kDissolve;
  if (dissolve) makeRandomTable();
  const RowBlender blend = rowBlender(r.blendMode);
  cover.resize(static_cast<size_t>(n));
  if (r.layerType != kLayerNormal) source.assign(static_cast<size_t>(n), 0xFF000000u | r.fillColor);
  for (int y = area.top; y < area.bottom; ++y) {
    const uint32_t* src = source.data();
    if (r.layerType == kLayerNormal) {
      src = r.imageData.data() + static_cast<size_t>(y - r.top) * static_cast<size_t>(r.width) +
            static_cast<size_t>(area.left - r.left);
    }
    for (int i = 0; i < n; ++i) {
      const uint32_t a = src[i] >> 24;
      if (!masked && !base) {
        cover[static_cast<size_t>(i)] = lut[a];
        continue;
      }
      uint32_t c = a * opacityFill;  // <= 255^3
      if (masked) c = div255(c * maskAt(r.mask, area.left + i, y));
      if (base) c = div255(c * shapeAt(*base, area.left + i, y));
      cover[static_cast<size_t>(i)] = static_cast<uint8_t>((c + 32512) / 65025);
    }
    const size_t rowStart = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(area.left);
    if (dissolve) {
      const uint8_t* rnd = random.data() + rowStart;
      for (int i = 0; i < n; ++i) cover[static_cast<size_t>(i)] = rnd[i] < cover[static_cast<size_t>(i)] ? 255 : 0;
    }
    blend(canvas.get() + rowStart, src, cover.data(), n);
  }
}

Compositor::Compositor(const Document& document) : state_(std::make_unique<State>(document)) {}
Compositor::~Compositor() = default;

bool Compositor::composite(const std::vector<const LayerRecord*>& records, Box& touched) {
  touched = Box{};
  State& s = *state_;
  if (s.pixelCount() == 0 || !s.ensureCanvas()) return false;
  // Clipped records draw inside the shape of the nearest lower unclipped
  // record (their base) and not at all when the base is not drawn.
  // The base's opacity acts on its whole clipping group.
  const LayerRecord* base = nullptr;
  uint32_t baseOpacity = 0;
  for (const LayerRecord* r : records) {
    if (!drawsPixels(*r)) {
      if (r->layerType == kLayerGroupHeader || r->layerType == kLayerSectionDivider) base = nullptr;
      continue;
    }
    const uint32_t opacity = r->visible ? div255(r->opacity * s.groupOpacity(*r)) : 0;
    if (!r->clipping || !base) {
      base = r;
      baseOpacity = opacity;
      if (opacity > 0) s.draw(*r, opacity, nullptr, touched);
      continue;
    }
    const uint32_t clippedOpacity = div255(opacity * baseOpacity);
    if (clippedOpacity > 0) s.draw(*r, clippedOpacity, base, touched);
  }
  return true;
}

const uint32_t* Compositor::canvas() const { return state_->canvas.get(); }

void Compositor::clear(const Box& box) {
  State& s = *state_;
  if (!s.canvas) return;
  std::vector<Box> kept;
  for (const Box& d : s.dirty) {
    const int32_t left = std::max(d.left, box.left), top = std::max(d.top, box.top);
    const int32_t right = std::min(d.right, box.right), bottom = std::min(d.bottom, box.bottom);
    for (int32_t y = top; y < bottom && left < right; ++y) {
      uint32_t* row = s.canvas.get() + static_cast<size_t>(y) * static_cast<size_t>(s.document.width);
      std::fill(row + left, row + right, kTransparentWhite);
    }
    const bool whole = left == d.left && top == d.top && right == d.right && bottom == d.bottom;
    if (!whole) kept.push_back(d);
  }
  s.dirty.swap(kept);
}

}  // namespace korvex::psd
