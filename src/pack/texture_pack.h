// The texture packer: cells are trimmed, placed into one atlas, bled at
// their edges and written as a PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/cell_image.h"
#include "platform/platform.h"
#include "platform/status.h"

namespace korvex {

// What the packer takes from the conversion settings (named after them in
// its messages).
struct PackSettings {
  int32_t textureWidth = 0;   // texture_width; 0: chosen from the size ladder
  int32_t textureHeight = 0;  // texture_height; 0: chosen from the size ladder
  int32_t spacing = 0;        // texture_padding_shape
  int32_t packUnit = 0;       // pack_padding
  int32_t border = 4;         // padding_border
  int32_t innerPadding = 0;   // inner_padding
  // sortmode: 0 by name, 1 by area, 2 by width, 3 by height; others: as added.
  int32_t sortMode = 1;
};

// What a packing record stands for.
enum CellKind : int32_t {
  kOrdinaryCell = 0,
  kPlaceholderCell = 1,  // a cell only the previous cell map has, packed empty
  kMarkerCell = 2,       // a layer whose name begins with "+": never placed
  kRootCell = 3,         // the layer named "root": never placed
  kAliasCell = 4,        // previous cell map only: shares an earlier cell's place
};

struct PackedCell {
  bool packed = false;  // kind kOrdinaryCell or kPlaceholderCell
  CellKind kind = kOrdinaryCell;
  bool empty = false;   // no pixel with alpha != 0
  int32_t imageWidth = 0, imageHeight = 0;
  int32_t canvasX = 0, canvasY = 0;
  // The visible pixels in the bitmap (right and bottom exclusive) and their size.
  int32_t trimLeft = 0, trimRight = 0, trimTop = 0, trimBottom = 0;
  int32_t width = 0, height = 0;
  // The size that is placed and sorted by: width and height made even
  // together with the spacing, then rounded so that the footprint (with
  // inner padding and spacing) is a whole number of pack units.
  int32_t paddedWidth = 0, paddedHeight = 0;
  // The atlas rectangle: the visible pixels with the inner padding on all sides.
  int32_t packX = 0, packRight = 0, packY = 0, packBottom = 0;
  int32_t priority = 0;
  std::string name;
  std::vector<std::string> aliasNames;
  const CellImage* image = nullptr;  // not owned
  int32_t innerPadding = 0;
};

// The texture size ladder, largest first. Automatic sizing starts at 512 or
// below it in the ladder, so 256 is never chosen.
constexpr int32_t kTextureSizes[] = {8192, 4096, 2048, 1024, 512, 256};

// The packer of one conversion: PackCells does it all; the steps are
// public for the tests and measurements.
class VTTexturePack {
 public:
  virtual ~VTTexturePack() = default;

  // Packs every cell of `table`, then an empty 16 x 16 placeholder under
  // each of `placeholderNames` (cells only an earlier cell map has), into the
  // atlas, which the caller then writes. The packing progress lines (sizes
  // tried, cells that did not fit) go to `lines` as they happen; a setting
  // out of range or a failed packing comes back with its message.
  // Afterwards `cells` holds every record with its final atlas rectangle.
  Status PackCells(const PackSettings& settings, const CellTable& table,
                   const std::vector<std::string>& placeholderNames, const LineSink& lines);

  // Keeps the settings for the cells added next and for PackTexture; the
  // atlas takes the given size. False as for SetTextureSize.
  bool Configure(const PackSettings& settings);
  // Builds the record of one cell, trimmed to its visible pixels, with its
  // padded size, and appends it. Markers and root are kept but never placed.
  void AddCell(const CellImage* image, const std::string& name, CellKind kind);
  // Stores the size; the atlas becomes width x height pixels, all 0. False,
  // with an empty atlas, when there is no memory for it.
  bool SetTextureSize(int32_t width, int32_t height);
  // Chooses the texture size, places and copies the cells, growing the
  // texture until they fit, and bleeds the edges; the atlas is then ready to
  // be written. Progress lines go to `lines`; a failure (the cells do not
  // fit) comes back with its message.
  Status PackTexture(const LineSink& lines);
  // One placement attempt at the current texture size: sorts the cells by
  // `sortMode` (stable), places them bottom-left first and copies them into
  // the atlas. False when a cell found no place or reaches past the texture.
  bool Pack(int32_t sortMode);
  // Copies image rows top..bottom-1, columns left..right-1 to the atlas at
  // (x, y): pixels outside the image and transparent ones are written as 0;
  // rows and columns past the atlas are skipped.
  void Blit(const CellImage& image, int32_t left, int32_t top, int32_t right, int32_t bottom,
            int32_t x, int32_t y);
  // Gives every transparent atlas pixel next to a visible one that
  // neighbour's colour with alpha 0: the pixel below wins over the one on the
  // right, then above, then left. Alpha stays 0.
  void BleedEdges();

  int32_t textureWidth() const { return textureWidth_; }
  int32_t textureHeight() const { return textureHeight_; }
  // textureWidth*textureHeight pixels 0xAARRGGBB, top row first.
  const uint32_t* atlas() const { return atlas_; }

  // The packing records, in packing order after a run; the cell map writer
  // moves their canvas positions by the pivots.
  std::vector<PackedCell> cells;

 private:
  struct Box {
    int32_t left, top, right, bottom;
  };
  // Positions in the size ladder of an automatic width and height.
  struct LadderSteps {
    int32_t width = 0, height = 0;
  };
  // The texture size before the first attempt (announced on `lines`); a
  // failure when the cells cannot fit.
  Status chooseStartSize(LadderSteps& steps, const LineSink& lines);
  // The next larger texture after a failed attempt (announced on `lines`);
  // a failure when no side can grow.
  Status grow(LadderSteps& steps, const LineSink& lines);
  // A side of the texture: the size given in the settings, or the ladder's.
  int32_t side(int32_t given, int32_t step) const;

  PackSettings settings_;
  int32_t textureWidth_ = 0;
  int32_t textureHeight_ = 0;
  // The atlas in page memory: a large one is otherwise zero-filled page by
  // page. Beyond the size in use it holds zeros too.
  platform::PageBlock atlasMemory_;
  uint32_t* atlas_ = nullptr;
  // Atlas areas written since the atlas was last cleared: the only places
  // that can hold a visible pixel.
  std::vector<Box> written_;
};

}  // namespace korvex
