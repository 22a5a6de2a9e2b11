// The colour spaces documents blend in (see Plane in render.h) and the
// conversions into and out of them.
#include "psd/colour.h"
#include "psd/render.h"

namespace korvex::psd::render {

int planesOf(const Document& document, Plane out[2]) {
  switch (document.colorMode) {
    case 1: out[0] = Plane::kGrey; return 1;
    case 9: out[0] = Plane::kLab; return 1;
    case 4:
      out[0] = Plane::kInks;
      out[1] = Plane::kBlack;
      return 2;
    default: out[0] = Plane::kRgb; return 1;
  }
}

uint32_t toPlane(Plane plane, uint32_t argb) {
  const uint32_t alpha = argb & 0xFF000000u;
  uint32_t black;
  switch (plane) {
    case Plane::kGrey: {
      // The luminosity the blend modes use.
      const uint32_t v = (30 * (argb >> 16 & 0xFF) + 59 * (argb >> 8 & 0xFF) + 11 * (argb & 0xFF) + 50) / 100;
      return alpha | v * 0x010101u;
    }
    case Plane::kLab: return alpha | colour::rgbToLab8(argb);
    case Plane::kInks: return alpha | colour::rgbToInks(argb, black);
    case Plane::kBlack:
      colour::rgbToInks(argb, black);
      return alpha | black * 0x010101u;
    default: return argb;
  }
}

void toPlane(Plane plane, uint32_t* pixels, size_t n) {
  if (plane == Plane::kRgb) return;
  // Fills and effects repeat few colours: convert each run once.
  uint32_t from = 0, to = toPlane(plane, 0);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t p = pixels[i] & 0xFFFFFFu;
    if (p != from) {
      from = p;
      to = toPlane(plane, p) & 0xFFFFFFu;
    }
    pixels[i] = (pixels[i] & 0xFF000000u) | to;
  }
}

void planesToRgb(const Plane* planes, int count, const Image* canvases, const Surface& rgb, const Box& box) {
  const bool cmyk = count == 2 && planes[0] == Plane::kInks && planes[1] == Plane::kBlack;
  const bool lab = count == 1 && planes[0] == Plane::kLab;
  for (int32_t y = box.top; y < box.bottom; ++y) {
    const uint32_t* first = canvases[0].row(box.left, y);
    const uint32_t* second = cmyk ? canvases[1].row(box.left, y) : nullptr;
    uint32_t* out = rgb.row(box.left, y);
    uint32_t labFrom = 0, labTo = colour::lab8ToRgb(0, 0, 0);  // a run of one colour converts once
    for (int32_t i = 0; i < box.right - box.left; ++i) {
      const uint32_t p = first[i];
      if (p < 0x01000000u) {
        out[i] = kTransparentWhite;
      } else if (cmyk) {
        const uint32_t k = second[i] & 0xFF;
        out[i] = (p & 0xFF000000u) | colour::inkTimesBlack(p >> 16 & 0xFF, k) << 16 |
                 colour::inkTimesBlack(p >> 8 & 0xFF, k) << 8 | colour::inkTimesBlack(p & 0xFF, k);
      } else if (lab) {
        if ((p & 0xFFFFFFu) != labFrom) {
          labFrom = p & 0xFFFFFFu;
          labTo = colour::lab8ToRgb(p >> 16 & 0xFF, p >> 8 & 0xFF, p & 0xFF);
        }
        out[i] = (p & 0xFF000000u) | labTo;
      } else {
        out[i] = p;
      }
    }
  }
}

}  // namespace korvex::psd::render
