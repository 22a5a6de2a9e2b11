// Layer effects benchmark: a soft-edged disc of 3600 pixels on a 4096 x
// 4096 canvas, drawn with each effect at its largest sizes (a 250-pixel
// drop shadow, glows and satin, a 250-pixel stroke, a bevel), and a 32 x 32
// shape with the same effects, whose work must stay small, and the shadow
// and glow of a layer filling the canvas. Prints the time of each render.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "psd/effects_render.h"

namespace {

using korvex::psd::BlendMode;
using korvex::psd::EffectKind;
using korvex::psd::LayerEffect;
using korvex::psd::LayerEffects;

constexpr int kCanvas = 4096;

// A disc of `side` pixels centred in its box, its edge soft over 2 pixels.
std::vector<uint32_t> disc(int side) {
  std::vector<uint32_t> pixels(static_cast<size_t>(side) * static_cast<size_t>(side));
  const double r = side / 2.0 - 2;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      const double d = std::hypot(x + 0.5 - side / 2.0, y + 0.5 - side / 2.0);
      const double a = std::fmin(1, std::fmax(0, (r - d) / 2 + 0.5));
      pixels[static_cast<size_t>(y) * static_cast<size_t>(side) + static_cast<size_t>(x)] =
          static_cast<uint32_t>(std::lround(a * 255)) << 24 | 0x3366AA;
    }
  return pixels;
}

LayerEffect effect(EffectKind kind, double size, double distance) {
  LayerEffect e;
  e.kind = kind;
  e.mode = BlendMode::kMultiply;
  e.shadowMode = BlendMode::kMultiply;
  e.size = size;
  e.distance = distance;
  e.spread = 0.1;
  return e;
}

void run(const char* name, const LayerEffect& e, int side) {
  const std::vector<uint32_t> pixels = disc(side);
  korvex::psd::EffectSource source;
  source.shape = pixels.data();
  const int at = (kCanvas - side) / 2;
  source.shapeBox = {at, at, at + side, at + side};
  source.canvasWidth = kCanvas;
  source.canvasHeight = kCanvas;
  LayerEffects effects;
  effects.effects.push_back(e);
  std::vector<korvex::psd::EffectImage> out;
  const auto start = std::chrono::steady_clock::now();
  const bool ok = korvex::psd::renderEffects(effects, source, out);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  size_t pixelsOut = 0;
  for (const auto& image : out) pixelsOut += image.pixels.size();
  std::printf("%-28s shape %4d: %8.1f ms, %zu image pixels%s\n", name, side, ms, pixelsOut, ok ? "" : " (out of memory)");
}

}  // namespace

int main() {
  const struct {
    const char* name;
    LayerEffect e;
  } kEffects[] = {
      {"drop shadow 250 px", effect(EffectKind::kDropShadow, 250, 30)},
      {"outer glow 250 px", effect(EffectKind::kOuterGlow, 250, 0)},
      {"inner shadow 250 px", effect(EffectKind::kInnerShadow, 250, 30)},
      {"inner glow 250 px", effect(EffectKind::kInnerGlow, 250, 0)},
      {"satin 250 px", effect(EffectKind::kSatin, 250, 40)},
      {"stroke 250 px", effect(EffectKind::kStroke, 250, 0)},
      {"bevel 250 px", effect(EffectKind::kBevel, 250, 0)},
      {"colour overlay", effect(EffectKind::kColorOverlay, 0, 0)},
  };
  for (int side : {3600, 32})
    for (const auto& k : kEffects) run(k.name, k.e, side);
  // A layer as large as the canvas: the shadow's work is the canvas and the
  // blur's reach beyond it.
  for (const auto& k : kEffects)
    if (k.e.kind == EffectKind::kDropShadow || k.e.kind == EffectKind::kOuterGlow) run(k.name, k.e, kCanvas);
  return 0;
}
