#include "pack/texture_pack.h"

#include <algorithm>
#include <utility>

#include "pack/fill_algorithm.h"
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

Status checkSetting(const char* name, int32_t value) {
  if (value < 0)
    return Status::failure(Status::Code::kInvalid,
                           std::string("error: ") + name + " must not be negative (" + std::to_string(value) + ")\n",
                           "");
  if (value > kMaxSetting)
    return Status::failure(Status::Code::kLimit,
                           std::string("error: ") + name + " must not exceed " + std::to_string(kMaxSetting) +
                               " (" + std::to_string(value) + ")\n",
                           "");
  return Status::ok();
}

Status checkSettings(const PackSettings& s) {
  const std::pair<const char*, int32_t> settings[] = {
      {"texture_width", s.textureWidth}, {"texture_height", s.textureHeight},
      {"texture_padding_shape", s.spacing}, {"pack_padding", s.packUnit},
      {"padding_border", s.border}, {"inner_padding", s.innerPadding}};
  for (const auto& setting : settings) {
    Status status = checkSetting(setting.first, setting.second);
    if (!status) return status;
  }
  return Status::ok();
}

// A packing failure: its catalogue lines are the message.
Status packingFailure(std::string message) {
  return Status::failure(Status::Code::kLimit, std::move(message), "");
}

Status noMemoryForAtlas() { return Status::failure(Status::Code::kLimit, "", "out of memory"); }

std::string messageLine(const char* label) { return formatMessage(label) + "\n"; }

// The orders of Pack, the values of the sortmode setting.
enum SortOrder : int32_t { kByName = 0, kByArea = 1, kByWidth = 2, kByHeight = 3 };

// The placeholder of a previous cell: 2 x 2 transparent pixels.
const CellImage& placeholderImage() {
  static const uint32_t pixels[4] = {0, 0, 0, 0};
  static const CellImage image = [] {
    CellImage placeholder;
    placeholder.pixels = pixels;
    placeholder.stride = 8;
    placeholder.width = placeholder.height = 2;
    placeholder.boxWidth = placeholder.boxHeight = 2;
    return placeholder;
  }();
  return image;
}

CellKind kindOf(const std::string& name) {
  if (!name.empty() && name[0] == '+') return kMarkerCell;
  return name == "root" ? kRootCell : kOrdinaryCell;
}

}  // namespace

Status VTTexturePack::PackCells(const PackSettings& settings, const CellTable& table,
                                const std::vector<std::string>& placeholderNames, const LineSink& lines) {
  Status valid = checkSettings(settings);
  if (!valid) return valid;
  cells.clear();
  if (!Configure(settings)) return noMemoryForAtlas();
  for (int32_t i = 0; i < table.cellCount(); ++i) {
    const std::string& name = table.cellNames[static_cast<size_t>(i)];
    AddCell(table.cells[static_cast<size_t>(i)].get(), name, kindOf(name));
  }
  for (const std::string& name : placeholderNames) AddCell(&placeholderImage(), name, kPlaceholderCell);
  return PackTexture(lines);
}

bool VTTexturePack::Configure(const PackSettings& settings) {
  settings_ = settings;
  return SetTextureSize(settings.textureWidth, settings.textureHeight);
}

void VTTexturePack::AddCell(const CellImage* image, const std::string& name, CellKind kind) {
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
  c.packed = kind == kOrdinaryCell || kind == kPlaceholderCell;
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
  c.width = right - left;
  c.height = bottom - top;

  // Even together with the spacing, then a footprint of whole pack units.
  auto padded = [&](int32_t size) {
    if ((size + settings_.spacing) % 2 != 0) ++size;
    if (settings_.packUnit > 1) {
      const int32_t rest = (settings_.spacing + 2 * settings_.innerPadding + size) % settings_.packUnit;
      if (rest > 0) size += settings_.packUnit - rest;
    }
    return size;
  };
  c.paddedWidth = padded(c.width);
  c.paddedHeight = padded(c.height);
  cells.push_back(std::move(c));
}

// Only the written areas and the one-pixel rim that bleeding may reach hold
// anything but 0, so clearing them leaves the whole buffer 0; a smaller
// atlas then uses it as it is, a larger one takes fresh pages (zeros).
bool VTTexturePack::SetTextureSize(int32_t width, int32_t height) {
  for (const Box& b : written_) {
    const int32_t x0 = std::max(b.left - 1, 0), x1 = std::min(b.right + 1, textureWidth_);
    for (int32_t y = std::max(b.top - 1, 0); y < std::min(b.bottom + 1, textureHeight_); ++y)
      std::fill_n(&atlas_[static_cast<size_t>(y) * static_cast<size_t>(textureWidth_) + static_cast<size_t>(x0)],
                  x1 - x0, 0u);
  }
  written_.clear();
  textureWidth_ = width;
  textureHeight_ = height;
  const size_t bytes = static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0)) * 4;
  if (bytes > atlasMemory_.size() && !atlasMemory_.allocate(bytes)) {
    textureWidth_ = textureHeight_ = 0;
    atlas_ = nullptr;
    return false;
  }
  atlas_ = reinterpret_cast<uint32_t*>(atlasMemory_.data());
  return true;
}

void VTTexturePack::Blit(const CellImage& image, int32_t left, int32_t top, int32_t right,
                         int32_t bottom, int32_t x, int32_t y) {
  // Destination area, clipped to the atlas_.
  const int64_t dx0 = std::max<int64_t>(x, 0), dy0 = std::max<int64_t>(y, 0);
  const int64_t dx1 = std::min<int64_t>(int64_t{x} + (int64_t{right} - left), textureWidth_);
  const int64_t dy1 = std::min<int64_t>(int64_t{y} + (int64_t{bottom} - top), textureHeight_);
  if (dx0 >= dx1 || dy0 >= dy1) return;
  written_.push_back({static_cast<int32_t>(dx0), static_cast<int32_t>(dy0),
                      static_cast<int32_t>(dx1), static_cast<int32_t>(dy1)});
  // Source columns that lie inside the image and its stored box.
  const int64_t sx0 = std::max<int64_t>({int64_t{left} + (dx0 - x), 0, image.boxLeft});
  const int64_t sx1 = std::min<int64_t>({int64_t{left} + (dx1 - x), image.width,
                                         int64_t{image.boxLeft} + image.boxWidth});
  for (int64_t dy = dy0; dy < dy1; ++dy) {
    uint32_t* dst = &atlas_[static_cast<size_t>(dy) * static_cast<size_t>(textureWidth_)];
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
  const int32_t w = textureWidth_, h = textureHeight_;
  for (const Box& b : written_) {
    const int32_t x0 = std::max(b.left - 1, 0), x1 = std::min(b.right + 1, w);
    const int32_t y0 = std::max(b.top - 1, 0), y1 = std::min(b.bottom + 1, h);
    for (int32_t y = y0; y < y1; ++y) {
      uint32_t* row = &atlas_[static_cast<size_t>(y) * static_cast<size_t>(w)];
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
    case kByName:
      sortBy([](const PackedCell& a, const PackedCell& b) { return a.name < b.name; });
      break;
    case kByArea:
      sortBy([](const PackedCell& a, const PackedCell& b) {
        return int64_t{a.paddedWidth} * a.paddedHeight > int64_t{b.paddedWidth} * b.paddedHeight;
      });
      break;
    case kByWidth:
      sortBy([](const PackedCell& a, const PackedCell& b) { return a.paddedWidth > b.paddedWidth; });
      break;
    case kByHeight:
      sortBy([](const PackedCell& a, const PackedCell& b) { return a.paddedHeight > b.paddedHeight; });
      break;
    default:
      break;
  }

  const int32_t inner = settings_.innerPadding;
  BLF blf;
  blf.border = settings_.border;
  blf.spacing = settings_.spacing;
  blf.Init(textureWidth_, textureHeight_, static_cast<int32_t>(2 * cells.size()));
  for (size_t i = 0; i < cells.size(); ++i) {
    PackedCell& c = cells[i];
    if (!c.packed) continue;
    c.innerPadding = inner;
    blf.AddRect(static_cast<int32_t>(i), c.paddedWidth + 2 * inner, c.paddedHeight + 2 * inner);
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
    if (textureWidth_ < c.paddedWidth || textureHeight_ < c.paddedHeight) return false;
    c.packRight = x + 2 * inner + c.width;
    c.packBottom = y + 2 * inner + c.height;
    // The padded footprint is copied (its margin as 0) and must fit.
    const int32_t right = x + 2 * inner + c.paddedWidth, bottom = y + 2 * inner + c.paddedHeight;
    Blit(*c.image, c.trimLeft - inner, c.trimTop - inner, c.trimLeft + c.paddedWidth + inner,
         c.trimTop + c.paddedHeight + inner, x, y);
    if (right > textureWidth_ || bottom > textureHeight_) fits = false;
  }
  return fits;
}

int32_t VTTexturePack::side(int32_t given, int32_t step) const {
  return given > 0 ? given : kTextureSizes[step];
}

Status VTTexturePack::chooseStartSize(LadderSteps& steps, const LineSink& lines) {
  int32_t maxW = 0, maxH = 0;
  int64_t area = 0;
  for (const PackedCell& c : cells) {
    if (!c.packed) continue;
    maxW = std::max(maxW, c.paddedWidth);
    maxH = std::max(maxH, c.paddedHeight);
    area += int64_t{c.paddedWidth} * c.paddedHeight;
  }

  const int32_t givenW = settings_.textureWidth, givenH = settings_.textureHeight;
  if (givenW == 0 && givenH == 0) {
    steps.width = fitIndex(maxW);
    steps.height = fitIndex(maxH);
    while (int64_t{kTextureSizes[steps.width]} * kTextureSizes[steps.height] < area) {
      int32_t& lower = steps.width < steps.height ? steps.height : steps.width;
      if (lower == 0) return packingFailure(messageLine("ERROR_0006"));
      --lower;
    }
  } else {
    // Both sides are checked; the message names each one that is too small.
    std::string tooSmall;
    if (givenW > 0 && givenW < maxW) tooSmall += messageLine("ERROR_0007");
    if (givenH > 0 && givenH < maxH) tooSmall += messageLine("ERROR_0008");
    if (!tooSmall.empty()) return packingFailure(std::move(tooSmall));
    // Both sides given: the atlas keeps the size it was configured with.
    if (givenW > 0 && givenH > 0) return Status::ok();
    // One side given: the other starts at 512 and doubles until the two
    // together hold the cells' area.
    int32_t& step = givenW == 0 ? steps.width : steps.height;
    const int64_t given = givenW == 0 ? givenH : givenW;
    for (step = 4; given * kTextureSizes[step] < area; --step) {
      if (step == 0) return packingFailure(messageLine("ERROR_0006"));
    }
  }
  const int32_t w = side(givenW, steps.width), h = side(givenH, steps.height);
  lines(formatMessage("INFO_0001", w, h));
  return SetTextureSize(w, h) ? Status::ok() : noMemoryForAtlas();
}

Status VTTexturePack::grow(LadderSteps& steps, const LineSink& lines) {
  const int32_t givenW = settings_.textureWidth, givenH = settings_.textureHeight;
  bool grown = false;  // both sides given: nothing can grow
  if ((givenW > 0) != (givenH > 0)) {
    int32_t& step = givenW > 0 ? steps.height : steps.width;
    grown = step > 0;
    if (grown) --step;
  } else if (givenW == 0) {
    grown = steps.width > 0 || steps.height > 0;
    if (grown) --(steps.width < steps.height ? steps.height : steps.width);
  }
  if (!grown) return packingFailure(messageLine("ERROT_0009"));
  const int32_t w = side(givenW, steps.width), h = side(givenH, steps.height);
  if (!SetTextureSize(w, h)) return noMemoryForAtlas();
  lines(formatMessage("INFO_0001", w, h));
  return Status::ok();
}

Status VTTexturePack::PackTexture(const LineSink& lines) {
  LadderSteps steps;
  Status status = chooseStartSize(steps, lines);
  if (!status) return status;
  while (!Pack(settings_.sortMode)) {
    lines(formatMessage("ERROR_0006"));
    status = grow(steps, lines);
    if (!status) return status;
  }
  lines(formatMessage("INFO_0002"));

  BleedEdges();
  return Status::ok();
}

}  // namespace korvex
