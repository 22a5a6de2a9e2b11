// Photoshop's colour gradients: the stop lists that gradient fills, gradient
// maps and gradient effects share, and the ramp that turns a position along
// the gradient into a colour the way Photoshop draws it (dither off).
//
// How Photoshop mixes, as measured on its own renderings:
// - colour and opacity are interpolated separately, each over its own stops;
//   before the first stop and after the last the end stop holds;
// - between two stops the local position p (0..1) is bent by the later
//   stop's midpoint m so that p = m mixes half and half:
//   w = p/(2m) below m, 1/2 + (p-m)/(2(1-m)) above;
// - smoothness s ("Intr" / 4096) eases each transition:
//   w += s/2 * (smoothstep(w) - w);
// - the interpolation method says in which space colours mix: classic mixes
//   the stored values, linear mixes in linear light (sRGB curve),
//   perceptual mixes in Oklab;
// - in a 32-bit document the stored values 0..255 are linear light: they
//   mix as they are and show gamma-encoded with 1/2.2, as the reader shows
//   every 32-bit pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvex::psd {

struct GradientColorStop {
  int32_t location = 0;   // 0..4096 along the gradient
  int32_t midpoint = 50;  // 0..100: where between the previous stop and this one the mix is half
  double red = 0, green = 0, blue = 0;  // 0..255
};

struct GradientOpacityStop {
  int32_t location = 0;
  int32_t midpoint = 50;
  double opacity = 1;  // 0..1
};

enum class GradientMethod : uint8_t {
  kClassic,     // the stored values mix directly ("Gcls", and files older than the choice)
  kPerceptual,  // "Perc": mixed in Oklab
  kLinear,      // "Lnr ": mixed in linear light
};

struct Gradient {
  std::vector<GradientColorStop> colors;       // in any order; none means black
  std::vector<GradientOpacityStop> opacities;  // in any order; none means opaque
  double smoothness = 1;                       // 0..1
  GradientMethod method = GradientMethod::kClassic;
  bool linearDocument = false;  // the stops belong to a 32-bit document
};

// Samples `gradient` at n >= 2 evenly spaced positions: ramp[i] is the
// colour at i / (n - 1) of the way, 0xAARRGGBB with straight alpha.
// Stops at one location keep their list order: the later one wins beyond.
void buildRamp(const Gradient& gradient, uint32_t* ramp, int n);

struct DescriptorValue;  // descriptor.h

// Reads a gradient object ("Grdn", the "Grad" item of fills and effects).
// False with `error` when it is not one, has no colour stops, or is a
// noise gradient (not drawn).
bool parseGradient(const DescriptorValue& grad, Gradient& gradient, std::string& error);

// A gradient map adjustment ("grdm"): each pixel's luminosity picks the
// colour at that position of the gradient.
struct GradientMap {
  Gradient gradient;
  bool reverse = false;
};

// Reads a "grdm" block. False with `error` on damaged data, a colour space
// other than RGB, HSB, CMYK and grey, or a noise gradient.
bool parseGradientMap(const uint8_t* data, size_t size, GradientMap& map, std::string& error);

// Maps `n` pixels (0xAARRGGBB) in place: the luminosity
// 0.3 R + 0.59 G + 0.11 B (rounded, 0..255) picks the ramp entry, counted
// from the end when reversed. Colour only: alpha stays, and so do the
// gradient's opacity stops.
void applyGradientMap(const GradientMap& map, uint32_t* pixels, size_t n);

}  // namespace korvex::psd
