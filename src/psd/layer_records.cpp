// Layer records, their tagged blocks, and the layer and mask information
// section that holds them.
//
// A layer record:
//   top, left, bottom, right (4 each), channel count (2),
//   per channel: id (2: 0.. colour, -1 transparency, -2 layer mask,
//     -3 real user mask) and data length (4, compression field included),
//   "8BIM", blend key (4), opacity (1), clipping (1), flags (1), filler (1),
//   extra data length (4) + extra data:
//     mask data: length (4) + [rectangle (16), default colour (1), flags (1), ...]
//     blending ranges: length (4) + data
//     legacy name: Pascal string padded to a multiple of 4 bytes
//     tagged blocks: "8BIM" or "8B64", key (4), length (4), data (the
//       vector mask blocks are read in vector_mask.cpp)
//
// Every length, count and offset is checked against the bytes that hold it
// before use.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "psd/adjustments.h"
#include "psd/descriptor.h"
#include "psd/reader_internal.h"

namespace korvex::psd::detail {
namespace {

// The largest layer side: layers may reach beyond the canvas, so their
// sides get ten times the largest canvas side.
constexpr int64_t kMaxLayerSide = 300000;

BlendMode blendModeOf(const std::string& key) {
  static const struct {
    const char* key;
    BlendMode mode;
  } kModes[] = {
      {"pass", BlendMode::kPassThrough}, {"norm", BlendMode::kNormal},      {"diss", BlendMode::kDissolve},
      {"dark", BlendMode::kDarken},      {"mul ", BlendMode::kMultiply},    {"idiv", BlendMode::kColorBurn},
      {"lbrn", BlendMode::kLinearBurn},  {"dkCl", BlendMode::kDarkerColor}, {"lite", BlendMode::kLighten},
      {"scrn", BlendMode::kScreen},      {"div ", BlendMode::kColorDodge},  {"lddg", BlendMode::kLinearDodge},
      {"lgCl", BlendMode::kLighterColor}, {"over", BlendMode::kOverlay},    {"sLit", BlendMode::kSoftLight},
      {"hLit", BlendMode::kHardLight},   {"vLit", BlendMode::kVividLight},  {"lLit", BlendMode::kLinearLight},
      {"pLit", BlendMode::kPinLight},    {"hMix", BlendMode::kHardMix},     {"diff", BlendMode::kDifference},
      {"smud", BlendMode::kExclusion},   {"fsub", BlendMode::kSubtract},    {"fdiv", BlendMode::kDivide},
      {"hue ", BlendMode::kHue},         {"sat ", BlendMode::kSaturation},  {"colr", BlendMode::kColor},
      {"lum ", BlendMode::kLuminosity},
  };
  for (const auto& m : kModes)
    if (key == m.key) return m.mode;
  return BlendMode::kNormal;
}

// Damaged feature blocks (a fill, an adjustment, a vector mask) leave the
// file readable: the record keeps why in its warning and is not drawn, as
// it cannot be drawn the way it was made. Lengths that run past their
// record or section are a damaged file.

// Keeps the first reason the record cannot be drawn.
void cannotDraw(LayerRecord& r, const std::string& why) {
  if (r.warning.empty()) r.warning = why;
}

// The colour of a "SoCo" block: a versioned descriptor whose "Clr " item
// is a colour object. A block that does not parse, or a colour of another
// kind, leaves the layer undrawn with the reason. A CMYK colour ("CMYC",
// inks in percent) keeps its stored values as well.
void readSolidColor(ByteReader data, LayerRecord& r) {
  r.layerType = kLayerSolidColor;
  DescriptorValue block;
  std::string error;
  const DescriptorValue* color = nullptr;
  double v[3];
  if (!readVersionedDescriptor(data, block, error)) {
    cannotDraw(r, "solid colour fill: " + error);
  } else if (!(color = block.find("Clr ")) || !descriptorColor(*color, v)) {
    cannotDraw(r, "solid colour fill: no colour it can read");
  } else {
    r.fillColor = 0;
    for (int c = 0; c < 3; ++c) r.fillColor |= static_cast<uint32_t>(std::lround(v[c])) << (16 - 8 * c);
    if (color->classId == "CMYC") {
      uint32_t stored = 0;
      for (const char* key : {"Cyn ", "Mgnt", "Ylw ", "Blck"}) {
        const double ink = clampNumber(color->number(key), 0, 100) * 2.55;
        stored = stored << 8 | (255 - static_cast<uint32_t>(std::lround(ink)));
      }
      r.fillCmyk = stored;
    }
  }
}

// A gradient or pattern fill block: a versioned descriptor (fills.h has
// its items). A block that does not parse, or a fill that cannot be drawn
// (a noise gradient), keeps the reason as the record's warning.
void readFillBlock(const std::string& key, ByteReader data, LayerRecord& r) {
  const bool gradient = key == "GdFl";
  r.layerType = gradient ? kLayerGradientFill : kLayerPatternFill;
  DescriptorValue block;
  std::string error;
  if (!readVersionedDescriptor(data, block, error)) {
    cannotDraw(r, (gradient ? "gradient fill: " : "pattern fill: ") + error);
    return;
  }
  const bool drawn = gradient ? parseGradientFill(block, r.gradientFill, error)
                              : parsePatternFill(block, r.patternFill, error);
  if (!drawn) cannotDraw(r, error);
}

// A shape layer's stroke ("vstk"): a versioned descriptor (effects.h has
// its items). A damaged one leaves the layer drawn without it.
void readShapeStroke(ByteReader data, LayerRecord& r) {
  DescriptorValue block;
  ShapeStroke stroke;
  std::string error;
  if (readVersionedDescriptor(data, block, error) && parseShapeStroke(block, stroke, error))
    r.shapeStroke = std::move(stroke);
  else
    r.leftOut.push_back("shape stroke (" + error + data.where() + ")");
}

// The effects of an "lfx2" or "lmfx" block: version (4) = 0, then a
// versioned descriptor (effects_parse.cpp has its items). A damaged block
// leaves the layer without effects and says why in effects.warning: the
// layer itself still draws.
void readEffects(ByteReader data, const GlobalLight& light, LayerEffects& effects) {
  uint32_t version = 0;
  DescriptorValue block;
  std::string error;
  if (!data.u32(version)) {
    error = "layer effects: the block ends early";
  } else if (version != 0) {
    error = "layer effects: version " + std::to_string(version) + " is not 0";
  } else if (readVersionedDescriptor(data, block, error)) {
    parseLayerEffects(block, light, effects, error);
  }
  if (!error.empty()) {
    effects = LayerEffects();
    effects.warning = error;
  }
}

// Mask parameters: a flag byte (bit 0 raster mask density, bit 1 raster
// mask feather, bit 2 vector mask density, bit 3 vector mask feather), then
// each value it names in that order: a density byte, a feather as an 8-byte
// double. False with `why` when they are damaged; the mask then keeps none.
bool readMaskParameters(ByteReader& c, LayerMask& mask, std::string& why) {
  uint8_t which = 0;
  MaskSoftness soft[2];
  bool ok = c.u8(which);
  for (int i = 0; ok && i < 2; ++i) {
    if ((which & (1 << (2 * i))) != 0) ok = c.u8(soft[i].density);
    if (ok && (which & (2 << (2 * i))) != 0) {
      ok = c.f64(soft[i].feather);
      if (ok && !(soft[i].feather >= 0 && soft[i].feather <= MaskSoftness::kMaxFeather)) {
        why = "feather " + std::to_string(soft[i].feather) + " out of range";
        return false;
      }
    }
  }
  if (!ok) {
    why = "the parameters run past the mask data";
    return false;
  }
  mask.user = soft[0];
  mask.vector = soft[1];
  return true;
}

// A tagged block: signature "8BIM" or "8B64" (4), key (4), length (4), data.
struct TaggedBlock {
  std::string key;
  ByteReader data;
};

enum class BlockStep { kBlock, kEnd, kOverrun };

// Blocks whose length field takes 8 bytes in a large document.
bool taggedBlockLengthIsWide(const std::string& key) {
  static const char* const kKeys[] = {"LMsk", "Lr16", "Lr32", "Layr", "Mt16", "Mt32", "Mtrn",
                                      "Alph", "FMsk", "lnk2", "FEid", "FXid", "PxSD"};
  for (const char* k : kKeys)
    if (key == k) return true;
  return false;
}

// Reads the next tagged block of `c`. kEnd when fewer than 12 bytes are
// left or they do not start with a block signature (the rest is padding);
// kOverrun when the block's data runs past `c` (block.key names it, `c`
// stands after its length). The blocks of the layer and mask section are
// padded to an even length, which `evenPadded` skips. In a `large`
// document some blocks have 8-byte lengths.
BlockStep nextTaggedBlock(ByteReader& c, bool evenPadded, bool large, TaggedBlock& block) {
  if (c.remaining() < 12) return BlockStep::kEnd;
  std::string signature;
  uint64_t length = 0;
  c.key(signature);
  if (signature != "8BIM" && signature != "8B64") return BlockStep::kEnd;
  c.key(block.key);
  if (!readLength(c, large && taggedBlockLengthIsWide(block.key), length) || !c.sub(length, block.data))
    return BlockStep::kOverrun;
  if (evenPadded) c.skip(std::min<size_t>(c.remaining(), length % 2));
  return BlockStep::kBlock;
}

// A rectangle as records store it: top, left, bottom, right (4 bytes each).
struct StoredRectangle {
  int32_t top = 0, left = 0, bottom = 0, right = 0;

  bool read(ByteReader& c) { return c.i32(top) && c.i32(left) && c.i32(bottom) && c.i32(right); }
  // Width and height, both 0 when either is (the position stays). False
  // with `error` naming `what` when a side is negative or beyond
  // kMaxLayerSide.
  bool size(const char* what, int32_t& width, int32_t& height, std::string& error) const {
    const int64_t w = static_cast<int64_t>(right) - left;
    const int64_t h = static_cast<int64_t>(bottom) - top;
    if (w < 0 || h < 0 || w > kMaxLayerSide || h > kMaxLayerSide) {
      error = std::string(what) + " " + std::to_string(w) + "x" + std::to_string(h) + " out of range";
      return false;
    }
    width = w > 0 && h > 0 ? static_cast<int32_t>(w) : 0;
    height = w > 0 && h > 0 ? static_cast<int32_t>(h) : 0;
    return true;
  }
};

// The tagged blocks after a record's name.
bool readTaggedBlocks(ByteReader& c, const Header& h, LayerRecord& r, std::string& error) {
  TaggedBlock block;
  bool multiEffects = false;  // an "lmfx" block holds every effect of "lfx2" and more
  for (BlockStep step; (step = nextTaggedBlock(c, false, h.large, block)) != BlockStep::kEnd;) {
    const std::string& key = block.key;
    ByteReader& data = block.data;
    if (step == BlockStep::kOverrun) {
      error = "tagged block " + key + " runs past its layer record" + c.where();
      return false;
    }
    if (key == "luni") {
      uint32_t count;
      if (!data.u32(count) || count > data.remaining() / 2) {
        // Only the legacy name is used: a damaged Unicode name is dropped.
        r.leftOut.push_back("Unicode name (it runs past its block" + data.where() + ")");
        continue;
      }
      r.unicodeName.resize(count);
      for (uint32_t i = 0; i < count; ++i) {
        uint16_t unit = 0;
        data.u16(unit);
        r.unicodeName[i] = static_cast<char16_t>(unit);
      }
      while (!r.unicodeName.empty() && r.unicodeName.back() == u'\0') r.unicodeName.pop_back();
    } else if (key == "lsct" || key == "lsdk") {
      uint32_t type = 0;
      if (!data.u32(type) || type > 3) {
        error = "section divider setting: type " + std::to_string(type) + " is not 0 to 3" + data.where();
        return false;
      }
      r.sectionType = static_cast<int32_t>(type);
      std::string sig, blend;
      if (data.key(sig) && data.key(blend)) r.blendMode = blendModeOf(blend);
    } else if (key == "lmfx" || (key == "lfx2" && !multiEffects)) {
      multiEffects = key == "lmfx";
      readEffects(data, h.light, r.effects);
    } else if (key == "iOpa") {
      data.u8(r.fillOpacity);
    } else if (key == "clbl") {
      // A flag byte and three bytes of padding.
      uint8_t flag = 1;
      data.u8(flag);
      r.blendClippedAsGroup = flag != 0;
    } else if (key == "knko") {
      // A flag byte (0 none, 1 shallow, 2 deep) and three bytes of padding.
      uint8_t flag = 0;
      data.u8(flag);
      r.knockout = flag == 0 ? Knockout::kNone : flag == 1 ? Knockout::kShallow : Knockout::kDeep;
    } else if (key == "infx" || key == "tsly" || key == "lmgm" || key == "vmgm") {
      // A flag byte and three bytes of padding.
      uint8_t flag = key == "tsly" ? 1 : 0;
      data.u8(flag);
      bool& setting = key == "infx"   ? r.blendInteriorEffects
                      : key == "tsly" ? r.transparencyShapesLayer
                      : key == "lmgm" ? r.layerMaskHidesEffects
                                      : r.vectorMaskHidesEffects;
      setting = flag != 0;
    } else if (key == "vscg") {
      r.shapeLayer = true;
    } else if (key == "vstk") {
      readShapeStroke(data, r);
    } else if (key == "SoCo") {
      readSolidColor(data, r);
    } else if (key == "GdFl" || key == "PtFl") {
      readFillBlock(key, data, r);
    } else if (isAdjustmentKey(key) || (key == "CgEd" && r.adjustment)) {
      // "CgEd" follows "brit" and refines it.
      if (!r.adjustment) r.adjustment.emplace();
      std::string why;
      if (!parseAdjustment(key, data.here(), data.remaining(), *r.adjustment, why)) cannotDraw(r, why + data.where());
      r.layerType = kLayerAdjustment;
    } else if (key == "vmsk" || key == "vsms") {
      VectorMask mask;
      std::string why;
      if (parseVectorMask(data.here(), data.remaining(), h.width, h.height, mask, why))
        r.vectorMask = std::move(mask);
      else
        cannotDraw(r, "vector mask: " + why + data.where());
    }
  }
  return true;
}

bool readLayerRecord(ByteReader& c, const Header& h, LayerRecord& r, RecordInfo& info, std::string& error) {
  StoredRectangle rect;
  uint16_t channelCount;
  if (!rect.read(c) || !c.u16(channelCount)) {
    error = "the record ends early" + c.where();
    return false;
  }
  if (!rect.size("rectangle", r.width, r.height, error)) return false;
  if (channelCount > kMaxChannels) {
    error = "channel count " + std::to_string(channelCount) + " out of range";
    return false;
  }
  r.top = rect.top;
  r.left = rect.left;
  r.numberOfChannels = static_cast<int16_t>(channelCount);
  info.channels.resize(channelCount);
  for (ChannelInfo& ch : info.channels) {
    if (!c.i16(ch.id) || !readLength(c, h.large, ch.length)) {
      error = "channel list ends early" + c.where();
      return false;
    }
    if (ch.id == -1) r.transparencyChannel = true;
  }
  std::string signature, blend;
  uint8_t clipping, filler;
  uint32_t extraLength;
  if (!c.key(signature) || !c.key(blend) || !c.u8(r.opacity) || !c.u8(clipping) || !c.u8(r.flags) ||
      !c.u8(filler) || !c.u32(extraLength)) {
    error = "the record ends early" + c.where();
    return false;
  }
  if (signature != "8BIM" && signature != "8B64") {
    error = "blend mode signature is not 8BIM" + c.where();
    return false;
  }
  r.blendMode = blendModeOf(blend);
  r.clipping = clipping != 0;
  r.visible = (r.flags & 2) == 0;

  ByteReader extra;
  if (!c.sub(extraLength, extra)) {
    error = "extra data runs past the layer info" + c.where();
    return false;
  }
  // Mask data: rectangle, default colour, flags (bit 1 disabled, bit 2
  // inverted when blending, bit 3 rendered from the vector mask, bit 4
  // parameters follow); when a channel -3 holds the real user mask, its
  // flags, background and rectangle (18 bytes, not needed: channel -2 is
  // Photoshop's rendering of both masks then); the parameters.
  uint32_t length = 0;
  ByteReader maskData;
  if (!extra.u32(length) || !extra.sub(length, maskData)) {
    error = "mask data runs past the record" + extra.where();
    return false;
  }
  if (length >= 18) {
    StoredRectangle rect;
    uint8_t maskFlags = 0;
    rect.read(maskData);
    maskData.u8(r.mask.defaultColor);
    maskData.u8(maskFlags);
    if (!rect.size("mask rectangle", r.mask.width, r.mask.height, error)) return false;
    r.mask.top = rect.top;
    r.mask.left = rect.left;
    r.mask.disabled = (maskFlags & 2) != 0;
    r.mask.inverted = (maskFlags & 4) != 0;
    r.mask.fromVectorMask = (maskFlags & 8) != 0;
    const bool realUserMask = std::any_of(info.channels.begin(), info.channels.end(),
                                          [](const ChannelInfo& ch) { return ch.id == -3; });
    if (realUserMask) maskData.skip(std::min<size_t>(maskData.remaining(), 18));
    std::string why;
    if ((maskFlags & 16) != 0 && !readMaskParameters(maskData, r.mask, why))
      r.leftOut.push_back("mask density and feather (" + why + ")");
  }
  // Blending ranges: 4 bytes each (black low, black high, white low, white
  // high), the grey composite's pair (this layer, the layer below), then
  // one pair per channel.
  ByteReader ranges;
  if (!extra.u32(length) || !extra.sub(length, ranges)) {
    error = "blending ranges run past the record" + extra.where();
    return false;
  }
  for (int i = 0; i < 4 && ranges.remaining() >= 8; ++i)
    for (BlendRange* range : {&r.blendIf.own[i], &r.blendIf.below[i]}) {
      ranges.u8(range->blackLow);
      ranges.u8(range->blackHigh);
      ranges.u8(range->whiteLow);
      ranges.u8(range->whiteHigh);
    }
  uint8_t nameLength;
  if (!extra.u8(nameLength) || !extra.has(nameLength)) {
    error = "layer name runs past the record" + extra.where();
    return false;
  }
  r.layerName.assign(reinterpret_cast<const char*>(extra.here()), nameLength);
  extra.skip(nameLength);
  // The Pascal string is padded to a multiple of 4 bytes, length byte included.
  extra.skip(std::min<size_t>(extra.remaining(), (4 - (nameLength + 1) % 4) % 4));
  if (!readTaggedBlocks(extra, h, r, error)) return false;
  if (r.sectionType == 1 || r.sectionType == 2) r.layerType = kLayerGroupHeader;
  if (r.sectionType == 3) r.layerType = kLayerSectionDivider;
  return true;
}

// Records the innermost enclosing group header of every record, walking
// from the topmost record down: a header opens a group, a divider closes it.
void linkGroups(std::vector<LayerRecord>& records) {
  std::vector<int32_t> open;
  for (size_t i = records.size(); i-- > 0;) {
    LayerRecord& r = records[i];
    r.groupHeader = open.empty() ? -1 : open.back();
    if (r.layerType == kLayerGroupHeader) open.push_back(static_cast<int32_t>(i));
    if (r.layerType == kLayerSectionDivider && !open.empty()) open.pop_back();
  }
}

// Layer info: count, records, channel data. `c` covers exactly the layer info.
bool readLayerInfo(ByteReader c, const Header& h, unsigned threads, Document& doc, std::string& error) {
  int16_t signedCount;
  if (!c.i16(signedCount)) {
    error = "layer info: the layer count is missing";
    return false;
  }
  const size_t count = static_cast<size_t>(std::abs(static_cast<int>(signedCount)));
  // A record takes at least 43 bytes (no channels, empty name, no blocks):
  // bound the count before reserving.
  if (count > c.remaining() / 43) {
    error = "layer info: " + std::to_string(count) + " records cannot fit in " + std::to_string(c.remaining()) + " bytes";
    return false;
  }
  const uint8_t* base = c.here() - 2;
  const size_t baseOffset = c.offset() - 2;
  std::vector<LayerRecord> records(count);
  std::vector<RecordInfo> infos(count);
  for (size_t i = 0; i < count; ++i) {
    if (!readLayerRecord(c, h, records[i], infos[i], error)) {
      error = "layer record " + std::to_string(i) + ": " + error;
      return false;
    }
  }
  // Channel data follows the records, in record and channel order.
  for (size_t i = 0; i < count; ++i) {
    for (ChannelInfo& ch : infos[i].channels) {
      ch.offset = c.offset() - baseOffset;
      if (!c.skip(ch.length)) {
        error = "layer record " + std::to_string(i) + ": channel " + std::to_string(ch.id) + " data (" +
                std::to_string(ch.length) + " bytes) runs past the layer info" + c.where();
        return false;
      }
    }
  }
  if (!decodeRecords(h, base, records, infos, threads, doc.pixelMemory, error)) return false;
  // The gradients of a 32-bit document mix in its linear light.
  for (LayerRecord& r : records) r.gradientFill.gradient.linearDocument = h.depth == 32;
  linkGroups(records);
  doc.layerRecords = std::move(records);
  return true;
}

// The tagged blocks after the global layer mask info: the layer info of
// 16- and 32-bit documents (when the section held none), the document's
// patterns. A damaged pattern block is left out and named in
// `patternDamage`; a block running past the section is a damaged file.
bool readGlobalBlocks(ByteReader& section, const Header& h, unsigned threads, bool layersRead, Document& doc,
                      std::string& patternDamage, std::string& error) {
  TaggedBlock block;
  for (BlockStep step; (step = nextTaggedBlock(section, true, h.large, block)) != BlockStep::kEnd;) {
    const std::string& key = block.key;
    if (step == BlockStep::kOverrun) {
      error = "layer and mask section: block " + key + " runs past its section" + section.where();
      return false;
    }
    if (!layersRead && (key == "Lr16" || key == "Lr32" || key == "Layr")) {
      if (!readLayerInfo(block.data, h, threads, doc, error)) return false;
    } else if (key == "Patt" || key == "Pat2" || key == "Pat3") {
      std::vector<Pattern> patterns;
      std::string why;
      if (parsePatterns(block.data.here(), block.data.remaining(), patterns, why))
        doc.patterns.insert(doc.patterns.end(), patterns.begin(), patterns.end());
      else if (patternDamage.empty())
        patternDamage = "pattern block " + key + ": " + why;
    }
  }
  return true;
}

}  // namespace

bool readLayers(ByteReader& c, const Header& h, unsigned threads, Document& doc, std::string& error) {
  uint64_t length = 0;
  ByteReader section;
  if (!readLength(c, h.large, length) || !c.sub(length, section)) {
    error = "layer and mask section: length " + std::to_string(length) + " runs past the end of the file" + c.where();
    return false;
  }
  if (length == 0) return true;
  ByteReader info;
  if (!readLength(section, h.large, length) || !section.sub(length, info)) {
    error = "layer info: length runs past its section" + section.where();
    return false;
  }
  const bool layersRead = length > 0;
  if (layersRead && !readLayerInfo(info, h, threads, doc, error)) return false;
  // The global layer mask info, then tagged blocks: the layer info of 16-
  // and 32-bit documents, and the document's patterns. Anything that is not
  // a block ends the walk. A damaged pattern block leaves its patterns out.
  uint32_t globalMaskLength = 0;
  std::string patternDamage;
  if (section.u32(globalMaskLength) && section.skip(globalMaskLength) &&
      !readGlobalBlocks(section, h, threads, layersRead, doc, patternDamage, error))
    return false;
  // A pattern fill whose pattern the document lacks cannot be drawn.
  for (LayerRecord& r : doc.layerRecords) {
    const std::string& id = r.patternFill.patternId;
    if (r.layerType != kLayerPatternFill || !r.warning.empty() ||
        std::any_of(doc.patterns.begin(), doc.patterns.end(), [&id](const Pattern& p) { return p.id == id; }))
      continue;
    r.warning = "pattern fill: the document holds no pattern " + id;
    if (!patternDamage.empty()) r.warning += " (" + patternDamage + ")";
  }
  return true;
}

}  // namespace korvex::psd::detail
