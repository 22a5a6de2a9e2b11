// Korvex's layer compositor: blends a list of records of one document with
// Photoshop's blend modes, opacity, fill opacity, masks, clipping and group
// links into a reused working canvas.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "psd/box.h"
#include "psd/document.h"

namespace korvex::psd {

// Renders lists of records of one document into one reused canvas-size
// working buffer, which starts transparent white (0x00FFFFFF), as
// Photoshop draws them.
//
// The records form a tree by their group links: a list holding the layers of
// one group still draws them inside that group (and its enclosing groups),
// with the groups' blend modes, opacity and masks. Drawn: pixel layers,
// solid colour, gradient and pattern fill layers (shape and fill layers from
// Photoshop's stored rendering where the file has one), adjustment layers on
// what lies below them in their group or on their clipping base; every blend
// mode, opacity, fill opacity, raster and vector masks with their density
// and feather; groups isolated (any mode but pass-through) or passing
// through (with opacity and masks); clipping groups with "blend clipped
// layers as group" on or off; shallow and deep knockout; Blend If ranges;
// layer effects. Not drawn: hidden records, records of opacity 0,
// everything inside a group that is hidden or has opacity 0, adjustment
// kinds Korvex cannot apply, records whose fill, adjustment or vector mask
// block is damaged (LayerRecord::warning) unless their stored pixels draw
// them. Fill opacity acts like opacity except in the modes Photoshop takes
// it into the blend (colour and linear burn and dodge, vivid and linear
// light, hard mix, difference). Dissolve uses a fixed per-document table of
// random bytes (see layers.cpp),
// so results repeat exactly.
class Compositor {
 public:
  explicit Compositor(const Document& document);
  ~Compositor();
  Compositor(const Compositor&) = delete;
  Compositor& operator=(const Compositor&) = delete;

  // Blends `records` (records of the document, lowest first) onto the
  // working canvas. `touched` receives the canvas box outside which the
  // canvas is still transparent white. False when memory runs out.
  bool composite(const std::vector<const LayerRecord*>& records, Box& touched);
  // The same for every record: the whole document as Korvex draws it.
  bool compositeDocument(Box& touched);
  // The working canvas: width*height pixels, rows top first.
  const uint32_t* canvas() const;
  // Restores `box` to transparent white for the next composite.
  void clear(const Box& box);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace korvex::psd
