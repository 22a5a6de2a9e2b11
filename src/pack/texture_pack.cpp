#include "pack/texture_pack.h"

#include <algorithm>

#include "config/settings.h"
#include "pack/fill_algorithm.h"
#include "pack/prev_cell_map.h"
#include "text/messages.h"

namespace korvex {
namespace {

// Largest texture side and padding the packer accepts; keeps every size sum
// far inside 32 bits and the atlas within 1 GiB.
constexpr int32_t kMaxSetting = 16384;

constexpr uint32_t kAlphaMask = 0xff000000u;

bool visible(uint32_t pixel) { return (pixel & kAlphaMask) != 0; }

// Index in kTextureSizes of the smallest of 512 ... 4096 holding v; 8192 above.
int32_t fitIndex(int64_t v) {
  for (int32_t i = 4; i >= 1; --i)
    if (kTextureSizes[i] >= v) return i;
  return 0;
}

bool checkSetting(const char* name, int32_t value) {
  if (value < 0) {
    printLine(std::string("error: ") + name + " must not be negative (" + std::to_string(value) + ")");
    return false;
  }
  if (value > kMaxSetting) {
    printLine(std::string("error: ") + name + " must not exceed " + std::to_string(kMaxSetting) +
              " (" + std::to_string(value) + ")");
    return false;
  }
  return true;
}

bool checkSettings(const ConversionSettings& s) {
  return checkSetting("texture_width", s.texture_width) &&
         checkSetting("texture_height", s.texture_height) &&
         checkSetting("texture_padding_shape", s.texture_padding_shape) &&
         checkSetting("pack_padding", s.pack_padding) &&
         checkSetting("padding_border", s.padding_border) &&
         checkSetting("inner_padding", s.inner_padding);
}

// The placeholder of a previous cell: 2 x 2 transparent pixels.
const uint32_t kPlaceholderPixels[4] = {0, 0, 0, 0};

// A side of the texture: the size given in the settings, or the ladder's.
int32_t sizeOf(int32_t given, int32_t index) { return given > 0 ? given : kTextureSizes[index]; }

}  // namespace

void VTTexturePack::AddCell(const CellImage* image, const std::string& name, int32_t kind) {
  static const CellImage kNoImage{};  // a missing image packs as an empty one
  if (!image) image = &kNoImage;
  PackedCell c;
  c.image = image;
  c.imageWidth = image->width;
  c.imageHeight = image->height;
  c.canvasX = image->canvasX;
  c.canvasY = image->canvasY;
  c.priority = image->priority;
  c.kind = kind;
  c.packed = kind < 2;
  c.name = name;

  // Trim: only the stored box can hold visible pixels.
  const int32_t x0 = std::max(image->boxLeft, 0), y0 = std::max(image->boxTop, 0);
  const int32_t x1 = std::min<int64_t>(int64_t{image->boxLeft} + image->boxWidth, image->width);
  const int32_t y1 = std::min<int64_t>(int64_t{image->boxTop} + image->boxHeight, image->height);
  int32_t left = x1, right = x0, top = y1, bottom = y0;
  if (image->pixels) {
    for (int32_t y = y0; y < y1; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(
          reinterpret_cast<const uint8_t*>(image->pixels) +
          static_cast<size_t>(y - image->boxTop) * static_cast<size_t>(image->stride));
      int32_t first = x0;
      while (first < x1 && !visible(row[first - image->boxLeft])) ++first;
      if (first == x1) continue;
      int32_t last = x1 - 1;
      while (!visible(row[last - image->boxLeft])) --last;
      left = std::min(left, first);
      right = std::max(right, last + 1);
      top = std::min(top, y);
      bottom = y + 1;
    }
  }
  if (left >= right) {
    c.empty = true;
    left = top = 0;
    right = bottom = 16;
  }
  c.trimLeft = left;
  c.trimRight = right;
  c.trimTop = top;
  c.trimBottom = bottom;
  c.width = c.trimWidth = right - left;
  c.height = c.trimHeight = bottom - top;

  // Even size with the spacing, then a footprint in whole pack units.
  if ((c.width + spacing) % 2 != 0) {
    ++c.width;
    ++c.trimRight;
  }
  if ((c.height + spacing) % 2 != 0) {
    ++c.height;
    ++c.trimBottom;
  }
  if (packUnit > 1) {
    const int32_t rw = (spacing + 2 * innerPadding + c.width) % packUnit;
    if (rw > 0) {
      c.width += packUnit - rw;
      c.trimRight += packUnit - rw;
    }
    const int32_t rh = (spacing + 2 * innerPadding + c.height) % packUnit;
    if (rh > 0) {
      c.height += packUnit - rh;
      c.trimBottom += packUnit - rh;
    }
  }
  cells.push_back(std::move(c));
}

// Only the written areas and the one-pixel rim that bleeding may reach hold
// anything but 0, so clearing them leaves the whole buffer 0; it is then
// resized, new pixels 0, instead of being filled anew.
void VTTexturePack::SetTextureSize(int32_t width, int32_t height) {
  for (const Box& b : written_) {
    const int32_t x0 = std::max(b.left - 1, 0), x1 = std::min(b.right + 1, textureWidth);
    for (int32_t y = std::max(b.top - 1, 0); y < std::min(b.bottom + 1, textureHeight); ++y)
      std::fill_n(&atlas[static_cast<size_t>(y) * static_cast<size_t>(textureWidth) + static_cast<size_t>(x0)],
                  x1 - x0, 0u);
  }
  written_.clear();
  atlas.resize(static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0)));
  textureWidth = width;
  textureHeight = height;
}

void VTTexturePack::Blit(const CellImage& image, int32_t left, int32_t top, int32_t right,
                         int32_t bottom, int32_t x, int32_t y) {
  // Destination area, clipped to the atlas.
  const int64_t dx0 = std::max<int64_t>(x, 0), dy0 = std::max<int64_t>(y, 0);
  const int64_t dx1 = std::min<int64_t>(int64_t{x} + (int64_t{right} - left), textureWidth);
  const int64_t dy1 = std::min<int64_t>(int64_t{y} + (int64_t{bottom} - top), textureHeight);
  if (dx0 >= dx1 || dy0 >= dy1) return;
  written_.push_back({static_cast<int32_t>(dx0), static_cast<int32_t>(dy0),
                      static_cast<int32_t>(dx1), static_cast<int32_t>(dy1)});
  // Source columns that lie inside the image and its stored box.
  const int64_t sx0 = std::max<int64_t>({int64_t{left} + (dx0 - x), 0, image.boxLeft});
  const int64_t sx1 = std::min<int64_t>({int64_t{left} + (dx1 - x), image.width,
                                         int64_t{image.boxLeft} + image.boxWidth});
  for (int64_t dy = dy0; dy < dy1; ++dy) {
    uint32_t* dst = &atlas[static_cast<size_t>(dy) * static_cast<size_t>(textureWidth)];
    std::fill(dst + dx0, dst + dx1, 0u);
    const int64_t sy = int64_t{top} + (dy - y);
    if (!image.pixels || sy < 0 || sy >= image.height || sy < image.boxTop ||
        sy >= int64_t{image.boxTop} + image.boxHeight || sx0 >= sx1)
      continue;
    const auto* src = reinterpret_cast<const uint32_t*>(
        reinterpret_cast<const uint8_t*>(image.pixels) +
        static_cast<size_t>(sy - image.boxTop) * static_cast<size_t>(image.stride));
    for (int64_t sx = sx0; sx < sx1; ++sx) {
      const uint32_t p = src[sx - image.boxLeft];
      dst[x + (sx - left)] = visible(p) ? p : 0u;
    }
  }
}

// A transparent pixel takes, with alpha 0, the colour of its visible
// neighbour: below before right before above before left. Written pixels
// stay transparent and visible ones never change, so working in place reads
// the same as reading a copy made before bleeding. Only the written areas
// and a one-pixel rim around them can change.
void VTTexturePack::BleedEdges() {
  const int32_t w = textureWidth, h = textureHeight;
  for (const Box& b : written_) {
    const int32_t x0 = std::max(b.left - 1, 0), x1 = std::min(b.right + 1, w);
    const int32_t y0 = std::max(b.top - 1, 0), y1 = std::min(b.bottom + 1, h);
    for (int32_t y = y0; y < y1; ++y) {
      uint32_t* row = &atlas[static_cast<size_t>(y) * static_cast<size_t>(w)];
      const uint32_t* above = y > 0 ? row - w : nullptr;
      const uint32_t* below = y + 1 < h ? row + w : nullptr;
      for (int32_t x = x0; x < x1; ++x) {
        if (visible(row[x])) continue;
        uint32_t from;
        if (below && visible(below[x])) from = below[x];
        else if (x + 1 < w && visible(row[x + 1])) from = row[x + 1];
        else if (above && visible(above[x])) from = above[x];
        else if (x > 0 && visible(row[x - 1])) from = row[x - 1];
        else continue;
        row[x] = from & ~kAlphaMask;
      }
    }
  }
}

bool VTTexturePack::Pack(int32_t sortMode) {
  auto sortBy = [&](auto less) { std::stable_sort(cells.begin(), cells.end(), less); };
  switch (sortMode) {
    case kSortByName:
      sortBy([](const PackedCell& a, const PackedCell& b) { return a.name < b.name; });
      break;
    case kSortRectMax:
      sortBy([](const PackedCell& a, const PackedCell& b) {
        return int64_t{a.width} * a.height > int64_t{b.width} * b.height;
      });
      break;
    case kSortWMax:
      sortBy([](const PackedCell& a, const PackedCell& b) { return a.width > b.width; });
      break;
    case kSortHMax:
      sortBy([](const PackedCell& a, const PackedCell& b) { return a.height > b.height; });
      break;
    default:
      break;
  }
  for (PackedCell& c : cells) c.mark = false;

  BLF blf;
  blf.border = border;
  blf.spacing = spacing;
  blf.Init(textureWidth, textureHeight, static_cast<int32_t>(2 * cells.size()));
  for (size_t i = 0; i < cells.size(); ++i) {
    PackedCell& c = cells[i];
    if (!c.packed) continue;
    c.innerPadding = innerPadding;
    blf.AddRect(static_cast<int32_t>(i), c.trimRight - c.trimLeft + 2 * innerPadding,
                c.trimBottom - c.trimTop + 2 * innerPadding);
  }
  blf.Execute();

  bool fits = true;
  for (size_t i = 0; i < cells.size(); ++i) {
    PackedCell& c = cells[i];
    if (!c.packed) continue;
    int32_t x = 0, y = 0;
    blf.GetPos(static_cast<int32_t>(i), x, y);
    if (x < 0) return false;
    c.packX = x;
    c.packY = y;
    if (textureWidth < c.width || textureHeight < c.height) return false;
    c.packRight = x + 2 * innerPadding + (c.trimRight - c.trimLeft);
    c.packBottom = y + 2 * innerPadding + (c.trimBottom - c.trimTop);
    Blit(*c.image, c.trimLeft - innerPadding, c.trimTop - innerPadding, c.trimRight + innerPadding,
         c.trimBottom + innerPadding, x, y);
    if (c.packRight > textureWidth || c.packBottom > textureHeight) fits = false;
  }
  return fits;
}

bool VTTexturePack::PackTexture(const ConversionSettings& settings) {
  int32_t maxW = 0, maxH = 0;
  int64_t area = 0;
  for (const PackedCell& c : cells) {
    if (!c.packed) continue;
    maxW = std::max(maxW, c.width);
    maxH = std::max(maxH, c.height);
    area += int64_t{c.width} * c.height;
  }

  const int32_t givenW = settings.texture_width, givenH = settings.texture_height;
  int32_t iW = 0, iH = 0;
  if (givenW == 0 && givenH == 0) {
    iW = fitIndex(maxW);
    iH = fitIndex(maxH);
    while (int64_t{kTextureSizes[iW]} * kTextureSizes[iH] < area) {
      int32_t& lower = iW < iH ? iH : iW;
      if (lower == 0) {
        printMessage("ERROR_0006");
        return false;
      }
      --lower;
    }
    printMessage("INFO_0001", kTextureSizes[iW], kTextureSizes[iH]);
    SetTextureSize(kTextureSizes[iW], kTextureSizes[iH]);
  } else {
    bool tooWide = false;
    if (givenW > 0 && givenW < maxW) {
      printMessage("ERROR_0007");
      tooWide = true;
    }
    if (givenH > 0 && givenH < maxH) {
      printMessage("ERROR_0008");
      return false;
    }
    if (tooWide) return false;
    if (givenW == 0 || givenH == 0) {
      // One side given: the other starts at 512 and doubles until the two
      // together hold the cells' area.
      int32_t& index = givenW == 0 ? iW : iH;
      const int64_t given = givenW == 0 ? givenH : givenW;
      for (index = 4; given * kTextureSizes[index] < area; --index) {
        if (index == 0) {
          printMessage("ERROR_0006");
          return false;
        }
      }
      printMessage("INFO_0001", sizeOf(givenW, iW), sizeOf(givenH, iH));
      SetTextureSize(sizeOf(givenW, iW), sizeOf(givenH, iH));
    }
  }

  while (!Pack(settings.sortmode)) {
    printMessage("ERROR_0006");
    if (givenW > 0 && givenH > 0) {
      printMessage("ERROT_0009");
      return false;
    }
    if (givenW > 0 || givenH > 0) {
      int32_t& index = givenW > 0 ? iH : iW;
      if (index == 0) {
        printMessage("ERROT_0009");
        return false;
      }
      --index;
    } else {
      if (iW == 0 && iH == 0) {
        printMessage("ERROT_0009");
        return false;
      }
      --(iW < iH ? iH : iW);
    }
    const int32_t w = sizeOf(givenW, iW);
    const int32_t h = sizeOf(givenH, iH);
    SetTextureSize(w, h);
    printMessage("INFO_0001", w, h);
  }
  printMessage("INFO_0002");

  BleedEdges();
  return true;
}

bool PackCells(const ConversionSettings& settings, const CellTable& table, PrevCellMap& prev,
               const std::string& cellMapPath, VTTexturePack& pack) {
  if (!checkSettings(settings)) return false;
  pack.cells.clear();
  pack.placeholders.clear();
  pack.innerPadding = settings.inner_padding;
  pack.SetTextureSize(settings.texture_width, settings.texture_height);
  pack.spacing = settings.texture_padding_shape;
  pack.packUnit = settings.pack_padding;
  pack.border = settings.padding_border;

  for (int32_t i = 0; i < table.cellCount(); ++i) {
    const std::string& name = table.cellNames[static_cast<size_t>(i)];
    const int32_t kind = (!name.empty() && name[0] == '+') ? 2 : name == "root" ? 3 : 0;
    pack.AddCell(table.cells[static_cast<size_t>(i)].get(), name, kind);
  }
  if (settings.is_oldPivotUse && !ImportPrevCellMap(cellMapPath, pack.cells, prev)) return false;
  for (const PackedCell& old : prev.prevPackedCells) {
    if (old.kind != 1) continue;
    auto image = std::make_unique<CellImage>();
    image->pixels = kPlaceholderPixels;
    image->stride = 8;
    image->width = image->height = 2;
    image->boxWidth = image->boxHeight = 2;
    pack.AddCell(image.get(), old.name, 1);
    pack.placeholders.push_back(std::move(image));
  }

  if (!pack.PackTexture(settings)) return false;

  for (PackedCell& c : pack.cells) {
    c.trimRight = c.trimLeft + c.trimWidth;
    c.trimBottom = c.trimTop + c.trimHeight;
    c.packRight = c.packX + 2 * pack.innerPadding + c.trimWidth;
    c.packBottom = c.packY + 2 * pack.innerPadding + c.trimHeight;
    c.width = c.trimWidth;
    c.height = c.trimHeight;
  }
  return true;
}

}  // namespace korvex
