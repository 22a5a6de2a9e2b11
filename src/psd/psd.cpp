// The PSD reader: version-1 documents of every colour mode and depth,
// layer records with their channels decoded to 0xAARRGGBB.
//
// File layout (all integers big-endian):
//
//   header (26 bytes): "8BPS", version (2) = 1, reserved (6), channels (2),
//     height (4), width (4), depth (2), colour mode (2)
//   colour mode data: length (4) + data (the 768-byte palette of indexed files)
//   image resources: length (4) + data (not needed here)
//   layer and mask information: length (4) +
//     layer info: length (4) + layer count (2, negative when the merged
//       image's first extra channel is its transparency) + layer records +
//       channel image data, record after record, channel after channel
//     global layer mask info: length (4) + data
//     tagged blocks; 16- and 32-bit documents keep their layer info in an
//       "Lr16" / "Lr32" block here and leave the layer info above empty
//   merged image: compression (2) + planar channel data
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
//     tagged blocks: "8BIM" or "8B64", key (4), length (4), data
//
// Channel data: compression (2) then 0 raw, 1 RLE (a 2-byte byte count per
// row, then PackBits rows), 2 ZIP (zlib), 3 ZIP of the rows with
// prediction (see undoPrediction).
//
// Every length, count and offset is checked against the bytes that hold it
// before use, and no buffer is allocated beyond what the data can decode to.
#include "psd/psd.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

namespace korvex::psd {
namespace {

// The largest canvas and layer side. Version-1 canvases stop at 30000;
// layers may reach beyond the canvas, so their sides get ten times more.
constexpr int64_t kMaxCanvasSide = 30000;
constexpr int64_t kMaxLayerSide = 300000;
// Photoshop allows 56 channels per document and per layer.
constexpr uint32_t kMaxChannels = 56;
// Deflate expands at most 1032 times; PackBits at most 64 times (2 bytes
// give 128).
constexpr uint64_t kMaxInflateRatio = 1032;
constexpr uint64_t kMaxPackBitsRatio = 64;

// A bounded view of the file: every read checks the bytes are there.
class Cursor {
 public:
  Cursor(const uint8_t* data, size_t size, size_t base) : data_(data), size_(size), base_(base) {}

  size_t remaining() const { return size_ - pos_; }
  size_t offset() const { return base_ + pos_; }  // position in the file
  const uint8_t* here() const { return data_ + pos_; }
  bool has(size_t n) const { return n <= remaining(); }

  bool skip(size_t n) {
    if (!has(n)) return false;
    pos_ += n;
    return true;
  }
  bool u8(uint8_t& v) {
    if (!has(1)) return false;
    v = data_[pos_++];
    return true;
  }
  bool u16(uint16_t& v) {
    if (!has(2)) return false;
    v = static_cast<uint16_t>(data_[pos_] << 8 | data_[pos_ + 1]);
    pos_ += 2;
    return true;
  }
  bool i16(int16_t& v) {
    uint16_t u;
    if (!u16(u)) return false;
    v = static_cast<int16_t>(u);
    return true;
  }
  bool u32(uint32_t& v) {
    if (!has(4)) return false;
    v = static_cast<uint32_t>(data_[pos_]) << 24 | static_cast<uint32_t>(data_[pos_ + 1]) << 16 |
        static_cast<uint32_t>(data_[pos_ + 2]) << 8 | data_[pos_ + 3];
    pos_ += 4;
    return true;
  }
  bool i32(int32_t& v) {
    uint32_t u;
    if (!u32(u)) return false;
    v = static_cast<int32_t>(u);
    return true;
  }
  bool key(std::string& v) {
    if (!has(4)) return false;
    v.assign(reinterpret_cast<const char*>(here()), 4);
    pos_ += 4;
    return true;
  }
  // The next `n` bytes as their own cursor.
  bool sub(size_t n, Cursor& out) {
    if (!has(n)) return false;
    out = Cursor(data_ + pos_, n, offset());
    pos_ += n;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t base_;
  size_t pos_ = 0;
};

std::string at(const Cursor& c) { return " at offset " + std::to_string(c.offset()); }

struct Header {
  int32_t width = 0, height = 0;
  int depth = 8;
  int colorMode = 3;
  int channels = 3;
  std::vector<uint8_t> palette;  // 768 bytes: 256 reds, 256 greens, 256 blues
};

// The colour channels a mode needs.
int colorChannels(int mode) {
  switch (mode) {
    case 3: case 9: return 3;  // RGB, Lab
    case 4: return 4;          // CMYK
    default: return 1;         // bitmap, grayscale, indexed, duotone, multichannel (first channel)
  }
}

bool readHeader(Cursor& c, Header& h, std::string& error) {
  std::string signature;
  uint16_t version, channels, depth, mode;
  uint32_t height, width;
  if (!c.key(signature) || !c.u16(version) || !c.skip(6) || !c.u16(channels) || !c.u32(height) ||
      !c.u32(width) || !c.u16(depth) || !c.u16(mode)) {
    error = "file header: the file ends within its 26 bytes";
    return false;
  }
  if (signature != "8BPS") {
    error = "file header: signature is not 8BPS";
    return false;
  }
  if (version != 1) {
    error = "file header: version " + std::to_string(version) +
            (version == 2 ? " (large document format) is not supported" : " is not a PSD version");
    return false;
  }
  if (channels < 1 || channels > kMaxChannels) {
    error = "file header: channel count " + std::to_string(channels) + " out of range";
    return false;
  }
  if (width < 1 || height < 1 || width > kMaxCanvasSide || height > kMaxCanvasSide) {
    error = "file header: canvas " + std::to_string(width) + "x" + std::to_string(height) + " out of range";
    return false;
  }
  const bool modeKnown = mode == 0 || mode == 1 || mode == 2 || mode == 3 || mode == 4 || mode == 7 ||
                         mode == 8 || mode == 9;
  if (!modeKnown) {
    error = "file header: colour mode " + std::to_string(mode) + " is not supported";
    return false;
  }
  const bool depthOk = mode == 0 ? depth == 1 : (depth == 8 || depth == 16 || (depth == 32 && mode != 2));
  if (!depthOk) {
    error = "file header: depth " + std::to_string(depth) + " is not supported in colour mode " +
            std::to_string(mode);
    return false;
  }
  if (channels < colorChannels(mode)) {
    error = "file header: " + std::to_string(channels) + " channels are too few for colour mode " +
            std::to_string(mode);
    return false;
  }
  h.width = static_cast<int32_t>(width);
  h.height = static_cast<int32_t>(height);
  h.depth = depth;
  h.colorMode = mode;
  h.channels = channels;
  return true;
}

// Header, colour mode data and image resources; leaves `c` at the layer
// and mask information.
bool readPrologue(Cursor& c, Header& h, std::string& error) {
  const size_t size = c.remaining();
  if (!readHeader(c, h, error)) return false;
  // Even its merged image, deflated, needs this many bytes: a tiny file
  // cannot claim a canvas that would take gigabytes to composite.
  const uint64_t pixels = static_cast<uint64_t>(h.width) * static_cast<uint64_t>(h.height);
  if (pixels / 8 > static_cast<uint64_t>(size) * kMaxInflateRatio) {
    error = "file header: a " + std::to_string(size) + "-byte file cannot hold a " + std::to_string(h.width) +
            "x" + std::to_string(h.height) + " canvas";
    return false;
  }
  uint32_t length = 0;
  Cursor colorData(nullptr, 0, 0);
  if (!c.u32(length) || !c.sub(length, colorData)) {
    error = "colour mode data: length runs past the end of the file" + at(c);
    return false;
  }
  if (h.colorMode == 2) {
    if (length < 768) {
      error = "colour mode data: an indexed document needs a 768-byte palette";
      return false;
    }
    h.palette.assign(colorData.here(), colorData.here() + 768);
  }
  if (!c.u32(length) || !c.skip(length)) {
    error = "image resources: length runs past the end of the file" + at(c);
    return false;
  }
  return true;
}

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

// Tagged block keys of adjustment layers.
bool isAdjustmentKey(const std::string& key) {
  static const char* const kKeys[] = {"levl", "curv", "brit", "blnc", "hue ", "hue2", "selc", "mixr",
                                      "grdm", "phfl", "expA", "vibA", "thrs", "nvrt", "post", "clrL",
                                      "blwh", "brst"};
  for (const char* k : kKeys)
    if (key == k) return true;
  return false;
}

// The colour of a "SoCo" block: a descriptor whose "Clr " item is an RGBC
// object with "Rd  ", "Grn " and "Bl  " doubles (0..255). The doubles are
// found by their keys and type ("doub") inside the block's own bytes.
uint32_t solidColor(const uint8_t* p, size_t n) {
  static const char* const kKeys[3] = {"Rd  doub", "Grn doub", "Bl  doub"};
  uint32_t rgb = 0;
  for (int c = 0; c < 3; ++c) {
    const uint8_t* end = p + n;
    const uint8_t* hit = std::search(p, end, kKeys[c], kKeys[c] + 8);
    if (end - hit < 16) continue;
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = bits << 8 | hit[8 + i];
    double v;
    std::memcpy(&v, &bits, 8);
    if (!(v > 0)) v = 0;  // NaN too
    if (v > 255) v = 255;
    rgb |= static_cast<uint32_t>(std::lround(v)) << (16 - 8 * c);
  }
  return rgb;
}

struct ChannelInfo {
  int16_t id = 0;
  uint32_t length = 0;
  size_t offset = 0;  // of the compression field, within the layer info
};

struct RecordInfo {
  std::vector<ChannelInfo> channels;
};

bool readTaggedBlocks(Cursor& c, LayerRecord& r, std::string& error) {
  while (c.remaining() >= 12) {
    std::string signature, key;
    uint32_t length = 0;
    c.key(signature);
    if (signature != "8BIM" && signature != "8B64") return true;  // not a block: the rest is padding
    c.key(key);
    c.u32(length);
    Cursor data(nullptr, 0, 0);
    if (!c.sub(length, data)) {
      error = "tagged block " + key + " runs past its layer record" + at(c);
      return false;
    }
    if (key == "luni") {
      uint32_t count;
      if (!data.u32(count) || count > data.remaining() / 2) {
        error = "Unicode name runs past its block" + at(data);
        return false;
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
        error = "section divider setting: type " + std::to_string(type) + " is not 0 to 3" + at(data);
        return false;
      }
      r.sectionType = static_cast<int32_t>(type);
      std::string sig, blend;
      if (data.key(sig) && data.key(blend)) r.blendMode = blendModeOf(blend);
    } else if (key == "iOpa") {
      data.u8(r.fillOpacity);
    } else if (key == "SoCo") {
      r.layerType = kLayerSolidColor;
      r.fillColor = solidColor(data.here(), data.remaining());
    } else if (key == "GdFl") {
      r.layerType = kLayerGradientFill;
    } else if (key == "PtFl") {
      r.layerType = kLayerPatternFill;
    } else if (isAdjustmentKey(key)) {
      r.layerType = kLayerAdjustment;
    }
  }
  return true;
}

bool readLayerRecord(Cursor& c, LayerRecord& r, RecordInfo& info, std::string& error) {
  int32_t top, left, bottom, right;
  uint16_t channelCount;
  if (!c.i32(top) || !c.i32(left) || !c.i32(bottom) || !c.i32(right) || !c.u16(channelCount)) {
    error = "the record ends early" + at(c);
    return false;
  }
  const int64_t width = static_cast<int64_t>(right) - left;
  const int64_t height = static_cast<int64_t>(bottom) - top;
  if (width < 0 || height < 0 || width > kMaxLayerSide || height > kMaxLayerSide) {
    error = "rectangle " + std::to_string(width) + "x" + std::to_string(height) + " out of range";
    return false;
  }
  if (channelCount > kMaxChannels) {
    error = "channel count " + std::to_string(channelCount) + " out of range";
    return false;
  }
  r.top = top;
  r.left = left;
  r.width = width > 0 && height > 0 ? static_cast<int32_t>(width) : 0;
  r.height = width > 0 && height > 0 ? static_cast<int32_t>(height) : 0;
  r.numberOfChannels = static_cast<int16_t>(channelCount);
  info.channels.resize(channelCount);
  for (ChannelInfo& ch : info.channels) {
    if (!c.i16(ch.id) || !c.u32(ch.length)) {
      error = "channel list ends early" + at(c);
      return false;
    }
  }
  std::string signature, blend;
  uint8_t clipping, filler;
  uint32_t extraLength;
  if (!c.key(signature) || !c.key(blend) || !c.u8(r.opacity) || !c.u8(clipping) || !c.u8(r.flags) ||
      !c.u8(filler) || !c.u32(extraLength)) {
    error = "the record ends early" + at(c);
    return false;
  }
  if (signature != "8BIM" && signature != "8B64") {
    error = "blend mode signature is not 8BIM" + at(c);
    return false;
  }
  r.blendMode = blendModeOf(blend);
  r.clipping = clipping != 0;
  r.visible = (r.flags & 2) == 0;

  Cursor extra(nullptr, 0, 0);
  if (!c.sub(extraLength, extra)) {
    error = "extra data runs past the layer info" + at(c);
    return false;
  }
  // Mask data: rectangle, default colour, flags (bit 1 disabled, bit 2
  // inverted when blending), then parameters and the real user mask that
  // this reader does not need.
  uint32_t length = 0;
  Cursor maskData(nullptr, 0, 0);
  if (!extra.u32(length) || !extra.sub(length, maskData)) {
    error = "mask data runs past the record" + at(extra);
    return false;
  }
  if (length >= 18) {
    int32_t mt = 0, ml = 0, mb = 0, mr = 0;
    uint8_t maskFlags = 0;
    maskData.i32(mt);
    maskData.i32(ml);
    maskData.i32(mb);
    maskData.i32(mr);
    maskData.u8(r.mask.defaultColor);
    maskData.u8(maskFlags);
    const int64_t mw = static_cast<int64_t>(mr) - ml;
    const int64_t mh = static_cast<int64_t>(mb) - mt;
    if (mw < 0 || mh < 0 || mw > kMaxLayerSide || mh > kMaxLayerSide) {
      error = "mask rectangle out of range";
      return false;
    }
    r.mask.top = mt;
    r.mask.left = ml;
    r.mask.width = mw > 0 && mh > 0 ? static_cast<int32_t>(mw) : 0;
    r.mask.height = mw > 0 && mh > 0 ? static_cast<int32_t>(mh) : 0;
    r.mask.disabled = (maskFlags & 2) != 0;
    r.mask.inverted = (maskFlags & 4) != 0;
  }
  if (!extra.u32(length) || !extra.skip(length)) {
    error = "blending ranges run past the record" + at(extra);
    return false;
  }
  uint8_t nameLength;
  if (!extra.u8(nameLength) || !extra.has(nameLength)) {
    error = "layer name runs past the record" + at(extra);
    return false;
  }
  r.layerName.assign(reinterpret_cast<const char*>(extra.here()), nameLength);
  extra.skip(nameLength);
  // The Pascal string is padded to a multiple of 4 bytes, length byte included.
  extra.skip(std::min<size_t>(extra.remaining(), (4 - (nameLength + 1) % 4) % 4));
  if (!readTaggedBlocks(extra, r, error)) return false;
  if (r.sectionType == 1 || r.sectionType == 2) r.layerType = kLayerGroupHeader;
  if (r.sectionType == 3) r.layerType = kLayerSectionDivider;
  return true;
}

// One channel's samples as bytes: the decoder's output before conversion.
struct Plane {
  std::vector<uint8_t> values;  // width*height, 8 bits
  bool present = false;
};

// 32-bit samples are floats in linear light. Colour is clamped to [0, 1]
// and gamma-encoded with 1/2.2, the way Photoshop shows such a document in
// 8 bits (the reference decodes of oov/psd agree within 1); transparency
// and masks are not gamma-encoded, only clamped and scaled.
uint8_t floatTo8(uint32_t bits, bool linear) {
  float f;
  std::memcpy(&f, &bits, 4);
  if (!(f > 0.0f)) return 0;
  if (f >= 1.0f) return 255;
  const double v = linear ? f : std::pow(static_cast<double>(f), 1 / 2.2);
  return static_cast<uint8_t>(v * 255 + 0.5);
}

// Converts one row of samples at `depth` into 8-bit values.
void samplesTo8(const uint8_t* row, int width, int depth, bool linear, uint8_t* out) {
  switch (depth) {
    case 1:
      // Bitmap: bit set = black.
      for (int x = 0; x < width; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7)) & 1) ? 0 : 255;
      break;
    case 8:
      std::memcpy(out, row, static_cast<size_t>(width));
      break;
    case 16:
      for (int x = 0; x < width; ++x) out[x] = row[2 * x];  // the high byte
      break;
    default:
      for (int x = 0; x < width; ++x) {
        const uint8_t* p = row + 4 * x;
        out[x] = floatTo8(static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
                          static_cast<uint32_t>(p[2]) << 8 | p[3], linear);
      }
  }
}

size_t rowBytesOf(int width, int depth) {
  return depth == 1 ? (static_cast<size_t>(width) + 7) / 8 : static_cast<size_t>(width) * static_cast<size_t>(depth / 8);
}

// Undoes ZIP prediction on one row: 8 and 16 bits store each sample as the
// difference to its left neighbour; 32 bits store byte differences over the
// row split into four byte planes (all first bytes, then all second bytes...).
void undoPrediction(uint8_t* row, int width, int depth, std::vector<uint8_t>& tmp) {
  if (depth == 16) {
    for (int x = 1; x < width; ++x) {
      uint16_t prev = static_cast<uint16_t>(row[2 * x - 2] << 8 | row[2 * x - 1]);
      uint16_t cur = static_cast<uint16_t>((row[2 * x] << 8 | row[2 * x + 1]) + prev);
      row[2 * x] = static_cast<uint8_t>(cur >> 8);
      row[2 * x + 1] = static_cast<uint8_t>(cur);
    }
    return;
  }
  const size_t n = rowBytesOf(width, depth);
  for (size_t i = 1; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - 1]);
  if (depth == 32) {
    tmp.assign(row, row + n);
    const size_t w = static_cast<size_t>(width);
    for (size_t x = 0; x < w; ++x)
      for (size_t b = 0; b < 4; ++b) row[4 * x + b] = tmp[b * w + x];
  }
}

// PackBits: a header byte n in 0..127 copies the next n+1 bytes, n in
// -127..-1 repeats the next byte 1-n times, -128 does nothing.
bool unpackBits(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
  size_t i = 0, o = 0;
  while (o < outSize) {
    if (i >= inSize) return false;
    const int n = static_cast<int8_t>(in[i++]);
    if (n >= 0) {
      const size_t count = static_cast<size_t>(n) + 1;
      if (count > inSize - i || count > outSize - o) return false;
      std::memcpy(out + o, in + i, count);
      i += count;
      o += count;
    } else if (n != -128) {
      const size_t count = static_cast<size_t>(1 - n);
      if (i >= inSize || count > outSize - o) return false;
      std::memset(out + o, in[i++], count);
      o += count;
    }
  }
  return true;
}

struct Scratch {
  std::vector<uint8_t> bytes;  // a whole channel (ZIP) or one row
  std::vector<uint8_t> tmp;
};

// Decodes `rows` rows of `width` samples (`channels` planes stacked one
// after another) from `data` (compression field already read) into 8-bit
// values. RLE data starts with the 2-byte byte counts of every row.
bool decodeSamples(const uint8_t* data, size_t size, int compression, int width, int rows, int depth,
                   bool linear, uint8_t* out, Scratch& s, std::string& error) {
  const size_t rowBytes = rowBytesOf(width, depth);
  const size_t total = rowBytes * static_cast<size_t>(rows);
  const size_t w = static_cast<size_t>(width);
  switch (compression) {
    case 0:
      if (size < total) {
        error = "raw data is " + std::to_string(size) + " bytes, " + std::to_string(total) + " needed";
        return false;
      }
      for (int y = 0; y < rows; ++y) samplesTo8(data + rowBytes * static_cast<size_t>(y), width, depth, linear, out + w * static_cast<size_t>(y));
      return true;
    case 1: {
      const size_t countBytes = 2 * static_cast<size_t>(rows);
      if (size < countBytes) {
        error = "RLE row counts run past the data";
        return false;
      }
      if ((size - countBytes) * kMaxPackBitsRatio < total) {
        error = "RLE data is too short for its rows";
        return false;
      }
      s.bytes.resize(rowBytes);
      size_t pos = countBytes;
      for (int y = 0; y < rows; ++y) {
        const size_t count = static_cast<size_t>(data[2 * y] << 8 | data[2 * y + 1]);
        if (count > size - pos) {
          error = "RLE row " + std::to_string(y) + " runs past the data";
          return false;
        }
        if (!unpackBits(data + pos, count, s.bytes.data(), rowBytes)) {
          error = "RLE row " + std::to_string(y) + " does not decode to its width";
          return false;
        }
        pos += count;
        samplesTo8(s.bytes.data(), width, depth, linear, out + w * static_cast<size_t>(y));
      }
      return true;
    }
    case 2:
    case 3: {
      if (static_cast<uint64_t>(size) * kMaxInflateRatio + 64 < total) {
        error = "ZIP data is too short for its pixels";
        return false;
      }
      if (total > std::numeric_limits<uInt>::max()) {
        error = "ZIP data of more than 4 GiB is not supported";
        return false;
      }
      s.bytes.resize(total);
      z_stream z{};
      if (inflateInit(&z) != Z_OK) {
        error = "zlib could not start";
        return false;
      }
      z.next_in = const_cast<Bytef*>(data);
      z.avail_in = static_cast<uInt>(std::min<size_t>(size, std::numeric_limits<uInt>::max()));
      z.next_out = s.bytes.data();
      z.avail_out = static_cast<uInt>(total);
      const int status = inflate(&z, Z_FINISH);
      const size_t produced = total - z.avail_out;
      inflateEnd(&z);
      if (produced < total || (status != Z_STREAM_END && status != Z_BUF_ERROR && status != Z_OK)) {
        error = "ZIP data is damaged or ends early";
        return false;
      }
      for (int y = 0; y < rows; ++y) {
        uint8_t* row = s.bytes.data() + rowBytes * static_cast<size_t>(y);
        if (compression == 3) undoPrediction(row, width, depth, s.tmp);
        samplesTo8(row, width, depth, linear, out + w * static_cast<size_t>(y));
      }
      return true;
    }
    default:
      error = "compression " + std::to_string(compression) + " is unknown";
      return false;
  }
}

uint8_t mul255(uint32_t a, uint32_t b) { return static_cast<uint8_t>((a * b + 127) / 255); }

// sRGB value (0..255) of a linear component.
uint8_t srgb(double linear) {
  double v = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
  return static_cast<uint8_t>(std::lround(std::min(1.0, std::max(0.0, v)) * 255));
}

// CIE Lab (D50, as Photoshop stores it: L 0..255 for 0..100, a and b
// offset by 128) to sRGB.
uint32_t labToRgb(uint8_t l8, uint8_t a8, uint8_t b8) {
  const double l = l8 * 100.0 / 255.0, a = a8 - 128.0, b = b8 - 128.0;
  const double fy = (l + 16) / 116, fx = fy + a / 500, fz = fy - b / 200;
  auto f = [](double t) { return t > 6.0 / 29 ? t * t * t : 3 * (6.0 / 29) * (6.0 / 29) * (t - 4.0 / 29); };
  const double x = 0.96422 * f(fx), y = f(fy), z = 0.82521 * f(fz);
  const double r = 3.1338561 * x - 1.6168667 * y - 0.4906146 * z;
  const double g = -0.9787684 * x + 1.9161415 * y + 0.0334540 * z;
  const double bl = 0.0719453 * x - 0.2289914 * y + 1.4052427 * z;
  return static_cast<uint32_t>(srgb(r)) << 16 | static_cast<uint32_t>(srgb(g)) << 8 | srgb(bl);
}

// Combines the decoded planes (colour channels 0.., alpha) into 0xAARRGGBB.
// Missing colour channels read as 0, a missing alpha as 255.
void combine(const Header& h, const Plane* color, const Plane& alpha, size_t count, uint32_t* out) {
  static const uint8_t zero[1] = {0};
  auto plane = [&](int i) { return color[i].present ? color[i].values.data() : nullptr; };
  const uint8_t* a = alpha.present ? alpha.values.data() : nullptr;
  auto alphaAt = [&](size_t k) -> uint32_t { return a ? a[k] : 255u; };
  auto at = [&](const uint8_t* p, size_t k) -> uint32_t { return p ? p[k] : zero[0]; };
  switch (h.colorMode) {
    case 3: {
      const uint8_t *r = plane(0), *g = plane(1), *b = plane(2);
      if (r && g && b && a) {
        for (size_t k = 0; k < count; ++k)
          out[k] = static_cast<uint32_t>(a[k]) << 24 | static_cast<uint32_t>(r[k]) << 16 |
                   static_cast<uint32_t>(g[k]) << 8 | b[k];
      } else {
        for (size_t k = 0; k < count; ++k)
          out[k] = alphaAt(k) << 24 | at(r, k) << 16 | at(g, k) << 8 | at(b, k);
      }
      break;
    }
    case 4: {
      // Stored CMYK values are 255 - ink: red = C * K / 255 and so on.
      const uint8_t *c = plane(0), *m = plane(1), *y = plane(2), *k4 = plane(3);
      for (size_t k = 0; k < count; ++k) {
        const uint32_t key = k4 ? k4[k] : 255;
        out[k] = alphaAt(k) << 24 | static_cast<uint32_t>(mul255(at(c, k), key)) << 16 |
                 static_cast<uint32_t>(mul255(at(m, k), key)) << 8 | mul255(at(y, k), key);
      }
      break;
    }
    case 9: {
      const uint8_t *l = plane(0), *pa = plane(1), *pb = plane(2);
      for (size_t k = 0; k < count; ++k)
        out[k] = alphaAt(k) << 24 |
                 labToRgb(static_cast<uint8_t>(at(l, k)), pa ? pa[k] : 128, pb ? pb[k] : 128);
      break;
    }
    case 2: {
      const uint8_t* idx = plane(0);
      for (size_t k = 0; k < count; ++k) {
        const uint32_t i = at(idx, k);
        out[k] = alphaAt(k) << 24 | static_cast<uint32_t>(h.palette[i]) << 16 |
                 static_cast<uint32_t>(h.palette[256 + i]) << 8 | h.palette[512 + i];
      }
      break;
    }
    default: {  // one grey channel
      const uint8_t* g = plane(0);
      for (size_t k = 0; k < count; ++k) {
        const uint32_t v = at(g, k);
        out[k] = alphaAt(k) << 24 | v << 16 | v << 8 | v;
      }
    }
  }
}

// Decodes one record's channels into its imageData and mask.
bool decodeRecord(const Header& h, const uint8_t* info, LayerRecord& r, const RecordInfo& ri,
                  Scratch& s, Plane* color, Plane& alpha, std::string& error) {
  const int colorCount = colorChannels(h.colorMode);
  for (int i = 0; i < colorCount; ++i) color[i].present = false;
  alpha.present = false;
  const size_t count = static_cast<size_t>(r.width) * static_cast<size_t>(r.height);
  for (const ChannelInfo& ch : ri.channels) {
    const bool isMask = ch.id == -2;
    Plane* target = ch.id == -1 ? &alpha : (ch.id >= 0 && ch.id < colorCount) ? &color[ch.id] : nullptr;
    if (!target && !isMask) continue;  // spot colours, the real user mask
    // A channel without even its compression field holds nothing.
    if (ch.length < 2) continue;
    const uint8_t* data = info + ch.offset;
    const int compression = data[0] << 8 | data[1];
    const int w = isMask ? r.mask.width : r.width;
    const int hgt = isMask ? r.mask.height : r.height;
    const size_t n = static_cast<size_t>(w) * static_cast<size_t>(hgt);
    if (compression > 3) {
      error = "channel " + std::to_string(ch.id) + ": compression " + std::to_string(compression) + " is unknown";
      return false;
    }
    if (n == 0) continue;
    std::vector<uint8_t>& values = isMask ? r.mask.data : target->values;
    // Bound the allocation by what the channel's bytes can decode to.
    const uint64_t ratio = compression == 0 ? 1 : compression == 1 ? kMaxPackBitsRatio : kMaxInflateRatio;
    if (rowBytesOf(w, h.depth) * static_cast<uint64_t>(hgt) > static_cast<uint64_t>(ch.length) * ratio + 64) {
      error = "channel " + std::to_string(ch.id) + ": " + std::to_string(ch.length) +
              " bytes cannot hold " + std::to_string(w) + "x" + std::to_string(hgt) + " pixels";
      return false;
    }
    values.resize(n);
    std::string why;
    if (!decodeSamples(data + 2, ch.length - 2, compression, w, hgt, h.depth, ch.id < 0, values.data(), s, why)) {
      error = "channel " + std::to_string(ch.id) + ": " + why;
      return false;
    }
    if (target) target->present = true;
  }
  if (count == 0) return true;
  bool anyData = alpha.present;
  for (int i = 0; i < colorCount; ++i) anyData = anyData || color[i].present;
  if (!anyData) {
    // Nothing backs the rectangle: the layer has no pixels.
    r.width = r.height = 0;
    return true;
  }
  r.imageData.resize(count);
  combine(h, color, alpha, count, r.imageData.data());
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
bool readLayerInfo(Cursor c, const Header& h, Document& doc, std::string& error) {
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
    if (!readLayerRecord(c, records[i], infos[i], error)) {
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
                std::to_string(ch.length) + " bytes) runs past the layer info" + at(c);
        return false;
      }
    }
  }
  Scratch scratch;
  Plane color[4];
  Plane alpha;
  for (size_t i = 0; i < count; ++i) {
    if (!decodeRecord(h, base, records[i], infos[i], scratch, color, alpha, error)) {
      error = "layer record " + std::to_string(i) + " (" + records[i].layerName + "): " + error;
      return false;
    }
  }
  linkGroups(records);
  doc.layerRecords = std::move(records);
  return true;
}

// The layer and mask information section.
bool readLayers(Cursor& c, const Header& h, Document& doc, std::string& error) {
  uint32_t length = 0;
  Cursor section(nullptr, 0, 0);
  if (!c.u32(length) || !c.sub(length, section)) {
    error = "layer and mask section: length " + std::to_string(length) + " runs past the end of the file" + at(c);
    return false;
  }
  if (length == 0) return true;
  Cursor info(nullptr, 0, 0);
  if (!section.u32(length) || !section.sub(length, info)) {
    error = "layer info: length runs past its section" + at(section);
    return false;
  }
  if (length > 0) return readLayerInfo(info, h, doc, error);
  // 16- and 32-bit documents: the layer info is a tagged block after the
  // global layer mask info. Anything that is not a block ends the search.
  if (!section.u32(length) || !section.skip(length)) return true;
  while (section.remaining() >= 12) {
    std::string signature, key;
    section.key(signature);
    section.key(key);
    if (signature != "8BIM" && signature != "8B64") return true;
    section.u32(length);
    Cursor block(nullptr, 0, 0);
    if (!section.sub(length, block)) {
      error = "layer and mask section: block " + key + " runs past its section" + at(section);
      return false;
    }
    if (key == "Lr16" || key == "Lr32" || key == "Layr") return readLayerInfo(block, h, doc, error);
    section.skip(std::min<size_t>(section.remaining(), length % 2));
  }
  return true;
}

}  // namespace

bool parseDocument(const uint8_t* data, size_t size, Document& document, std::string& error) {
  Cursor c(data, size, 0);
  Header h;
  Document doc;
  if (!readPrologue(c, h, error) || !readLayers(c, h, doc, error)) return false;
  doc.width = h.width;
  doc.height = h.height;
  doc.depth = static_cast<int16_t>(h.depth);
  doc.colorMode = static_cast<int16_t>(h.colorMode);
  document = std::move(doc);
  return true;
}

bool loadDocument(const std::string& path, Document& document, std::string& error) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  const std::streamoff size = in.tellg();
  if (size < 0) {
    error = "cannot read " + path;
    return false;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) {
    error = "cannot read " + path;
    return false;
  }
  return parseDocument(bytes.data(), bytes.size(), document, error);
}

bool readMergedImage(const uint8_t* data, size_t size, std::vector<uint32_t>& pixels, std::string& error) {
  Cursor c(data, size, 0);
  Header h;
  uint32_t length = 0;
  if (!readPrologue(c, h, error)) return false;
  if (!c.u32(length) || !c.skip(length)) {
    error = "layer and mask section runs past the end of the file";
    return false;
  }
  uint16_t compression;
  if (!c.u16(compression) || compression > 3) {
    error = "merged image: compression missing or unknown";
    return false;
  }
  const int colorCount = colorChannels(h.colorMode);
  const size_t count = static_cast<size_t>(h.width) * static_cast<size_t>(h.height);
  const size_t rowBytes = rowBytesOf(h.width, h.depth);
  const uint64_t ratio = compression == 0 ? 1 : compression == 1 ? kMaxPackBitsRatio : kMaxInflateRatio;
  if (static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(h.height) * static_cast<uint64_t>(colorCount) >
      static_cast<uint64_t>(c.remaining()) * ratio) {
    error = "merged image: " + std::to_string(c.remaining()) + " bytes cannot hold the canvas";
    return false;
  }
  Plane color[4];
  Plane alpha;
  Scratch s;
  // Raw and RLE store the channels one after another (RLE with the row
  // counts of every channel first); ZIP compresses them all in one stream.
  std::vector<uint8_t> all(count * static_cast<size_t>(colorCount));
  if (compression == 1) {
    const size_t countBytes = 2 * static_cast<size_t>(h.height) * static_cast<size_t>(h.channels);
    if (!c.has(countBytes)) {
      error = "merged image: row counts run past the end of the file";
      return false;
    }
    const uint8_t* counts = c.here();
    size_t pos = countBytes;
    for (int ch = 0; ch < colorCount; ++ch) {
      // Rebuild this channel's counts + rows as one RLE block.
      std::vector<uint8_t> block(counts + 2 * static_cast<size_t>(h.height) * static_cast<size_t>(ch),
                                 counts + 2 * static_cast<size_t>(h.height) * static_cast<size_t>(ch + 1));
      size_t bytes = 0;
      for (int y = 0; y < h.height; ++y) bytes += static_cast<size_t>(block[2 * y] << 8 | block[2 * y + 1]);
      if (bytes > c.remaining() - std::min(c.remaining(), pos)) {
        error = "merged image: channel " + std::to_string(ch) + " runs past the end of the file";
        return false;
      }
      block.insert(block.end(), c.here() + pos, c.here() + pos + bytes);
      pos += bytes;
      if (!decodeSamples(block.data(), block.size(), 1, h.width, h.height, h.depth, false,
                         all.data() + count * static_cast<size_t>(ch), s, error)) {
        error = "merged image: " + error;
        return false;
      }
    }
  } else if (compression == 0) {
    const size_t plane = rowBytes * static_cast<size_t>(h.height);
    for (int ch = 0; ch < colorCount; ++ch) {
      if (!c.has(plane * static_cast<size_t>(ch + 1))) {
        error = "merged image: data ends early";
        return false;
      }
      decodeSamples(c.here() + plane * static_cast<size_t>(ch), plane, 0, h.width, h.height, h.depth, false,
                    all.data() + count * static_cast<size_t>(ch), s, error);
    }
  } else if (!decodeSamples(c.here(), c.remaining(), compression, h.width, h.height * colorCount, h.depth, false,
                            all.data(), s, error)) {
    error = "merged image: " + error;
    return false;
  }
  for (int ch = 0; ch < colorCount; ++ch) {
    color[ch].values.assign(all.begin() + static_cast<std::ptrdiff_t>(count * static_cast<size_t>(ch)),
                            all.begin() + static_cast<std::ptrdiff_t>(count * static_cast<size_t>(ch + 1)));
    color[ch].present = true;
  }
  pixels.resize(count);
  combine(h, color, alpha, count, pixels.data());
  return true;
}

}  // namespace korvex::psd
