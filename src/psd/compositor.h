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

// Blends lists of records of one document into one reused canvas-size
// working buffer, which starts transparent white (0x00FFFFFF).
//
// Drawn: pixel layers and solid colour fill layers, with every blend mode,
// opacity times fill opacity, layer masks and clipping to the nearest lower
// unclipped record. Not drawn: hidden records, records of opacity 0, and
// records inside a group (at any depth) whose header is hidden or has
// opacity 0. Every enclosing group's opacity scales its layers (a group
// cell shows its layers as the document shows them). Left undrawn: gradient
// and pattern fills and adjustment layers. Simplified: nested groups are
// blended as pass-through (their own blend mode and mask are not applied),
// clipped layers are laid on the canvas one by one inside the base's shape
// with the base's opacity (its blend mode does not act on them), and fill opacity
// acts like opacity in every mode. Dissolve uses a fixed per-document table
// of random bytes (see compositor.cpp), so results repeat exactly.
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
  // The working canvas: width*height pixels, rows top first.
  const uint32_t* canvas() const;
  // Restores `box` to transparent white for the next composite.
  void clear(const Box& box);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace korvex::psd
