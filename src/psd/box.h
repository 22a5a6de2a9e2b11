// A rectangle on the canvas: what the compositor and the pixel functions of
// masks, fills and adjustments work on.
#pragma once

#include <cstdint>

namespace korvex::psd {

// A rectangle on the canvas, right and bottom exclusive.
struct Box {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool empty() const { return right <= left || bottom <= top; }
};

}  // namespace korvex::psd
