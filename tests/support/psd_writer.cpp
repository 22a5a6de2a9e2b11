// The test PSD writer. It writes the same layout Photoshop writes for a
// version-1 document (or, with PsdOptions::psb, a version-2 large document:
// 8-byte section, layer info, channel and "Lr16"/"Lr32" lengths, 4-byte RLE
// row counts):
//
//   file header (26 bytes): "8BPS", version 1, 6 reserved, channels (2),
//     height (4), width (4), depth (2), colour mode (2)
//   colour mode data: length 0
//   image resources: length 0
//   layer and mask section: length (4)
//     layer info: length (4), record count (2), records, channel data
//       (8-bit documents; 16- and 32-bit ones write an empty layer info and
//       put the same bytes into an "Lr16"/"Lr32" tagged block)
//     global mask info: length 0
//     tagged blocks of the document (globalBlocks)
//   merged image: compression (2) and the planar colour channels
//
// All integers are big-endian.
#include "support/psd_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

namespace korvex::test {
namespace {

class Bytes {
 public:
  void u8(uint32_t v) { out_.push_back(static_cast<char>(v & 0xFF)); }
  void u16(uint32_t v) { u8(v >> 8); u8(v); }
  void u32(uint32_t v) { u16(v >> 16); u16(v); }
  void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
  void raw(const std::string& s) { out_ += s; }
  void raw(const uint8_t* p, size_t n) { out_.append(reinterpret_cast<const char*>(p), n); }
  void zeros(size_t n) { out_.append(n, '\0'); }
  void pad(size_t multiple) {
    while (out_.size() % multiple != 0) u8(0);
  }
  void f64(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    u32(static_cast<uint32_t>(bits >> 32));
    u32(static_cast<uint32_t>(bits));
  }
  // A length of 4 bytes, or 8 when `wide`.
  void length(uint64_t v, bool wide) {
    if (wide) u32(static_cast<uint32_t>(v >> 32));
    u32(static_cast<uint32_t>(v));
  }
  // A 4-byte (8 when `wide`) length followed by `body`.
  void block(const std::string& body, bool wide = false) {
    length(body.size(), wide);
    raw(body);
  }
  size_t size() const { return out_.size(); }
  const std::string& str() const { return out_; }

 private:
  std::string out_;
};

// PackBits: a header byte n in 0..127 copies n+1 literal bytes, n in
// -127..-1 repeats the next byte 1-n times.
void packBits(const uint8_t* p, size_t n, std::string& out) {
  size_t i = 0;
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 128 && p[i + run] == p[i]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<char>(static_cast<int8_t>(1 - static_cast<int>(run))));
      out.push_back(static_cast<char>(p[i]));
      i += run;
      continue;
    }
    size_t start = i;
    while (i < n && i - start < 128) {
      if (i + 1 < n && p[i + 1] == p[i]) break;
      ++i;
    }
    if (i == start) ++i;  // a lone byte before a run
    out.push_back(static_cast<char>(i - start - 1));
    out.append(reinterpret_cast<const char*>(p + start), i - start);
  }
}

std::string deflateBytes(const std::vector<uint8_t>& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(&out[0]), &size, data.data(),
            static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION);
  out.resize(size);
  return out;
}

// Photoshop's prediction: 8 and 16 bits store each sample as the difference
// to its left neighbour; 32 bits first split each row into four byte planes
// (all first bytes, then all second bytes...) and store byte differences.
void predict(std::vector<uint8_t>& data, int width, int height, int depth) {
  size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(depth / 8);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = data.data() + rowBytes * static_cast<size_t>(y);
    if (depth == 16) {
      for (int x = width - 1; x > 0; --x) {
        uint16_t cur = static_cast<uint16_t>(row[2 * x] << 8 | row[2 * x + 1]);
        uint16_t prev = static_cast<uint16_t>(row[2 * x - 2] << 8 | row[2 * x - 1]);
        uint16_t d = static_cast<uint16_t>(cur - prev);
        row[2 * x] = static_cast<uint8_t>(d >> 8);
        row[2 * x + 1] = static_cast<uint8_t>(d);
      }
      continue;
    }
    if (depth == 32) {
      std::vector<uint8_t> planes(rowBytes);
      for (int x = 0; x < width; ++x)
        for (int b = 0; b < 4; ++b) planes[static_cast<size_t>(b * width + x)] = row[4 * x + b];
      std::copy(planes.begin(), planes.end(), row);
    }
    for (size_t i = rowBytes - 1; i > 0 && rowBytes > 0; --i) row[i] = static_cast<uint8_t>(row[i] - row[i - 1]);
  }
}

// One channel's samples as big-endian bytes at the document depth. 32-bit
// colour is linear light: v is written as (v/255)^2.2; transparency and
// masks as v/255.
std::vector<uint8_t> channelSamples(const std::vector<uint8_t>& values, int depth, bool linear) {
  std::vector<uint8_t> out;
  out.reserve(values.size() * static_cast<size_t>(depth / 8));
  for (uint8_t v : values) {
    if (depth == 8) {
      out.push_back(v);
    } else if (depth == 16) {
      out.push_back(v);
      out.push_back(v);  // v * 257: the high byte is v
    } else {
      float f = linear ? static_cast<float>(v) / 255.0f : static_cast<float>(std::pow(v / 255.0, 2.2));
      uint32_t bits;
      std::memcpy(&bits, &f, 4);
      for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(bits >> s));
    }
  }
  return out;
}

// Compression field and data of one layer channel.
std::string encodeChannel(const std::vector<uint8_t>& values, int width, int height, int depth,
                          PsdCompression compression, bool linear, bool psb) {
  Bytes b;
  b.u16(static_cast<uint32_t>(compression));
  std::vector<uint8_t> data = channelSamples(values, depth, linear);
  size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(depth / 8);
  switch (compression) {
    case PsdCompression::kRaw:
      b.raw(data.data(), data.size());
      break;
    case PsdCompression::kRle: {
      std::string rows;
      for (int y = 0; y < height; ++y) {
        std::string row;
        packBits(data.data() + rowBytes * static_cast<size_t>(y), rowBytes, row);
        if (psb) b.u16(static_cast<uint32_t>(row.size()) >> 16);
        b.u16(static_cast<uint32_t>(row.size()));
        rows += row;
      }
      b.raw(rows);
      break;
    }
    case PsdCompression::kZip:
      if (!data.empty()) b.raw(deflateBytes(data));
      break;
    case PsdCompression::kZipPrediction:
      if (!data.empty()) {
        predict(data, width, height, depth);
        b.raw(deflateBytes(data));
      }
      break;
  }
  return b.str();
}

uint8_t component(uint32_t argb, int shift) { return static_cast<uint8_t>(argb >> shift); }

int colorChannelCount(int colorMode) { return colorMode == 3 || colorMode == 9 ? 3 : colorMode == 4 ? 4 : 1; }

// The colour channels of the mode from 0xAARRGGBB pixels: RGB (and Lab's
// stored L, a, b) as is, Grayscale takes the red component, CMYK stores R,
// G, B as C, M, Y (PSD stores 255 - ink) and K from `black` (255, no black
// ink, when empty).
std::vector<std::vector<uint8_t>> colorPlanes(const std::vector<uint32_t>& pixels, int colorMode,
                                              const std::vector<uint8_t>& black = {}) {
  int count = colorChannelCount(colorMode);
  std::vector<std::vector<uint8_t>> planes(static_cast<size_t>(count), std::vector<uint8_t>(pixels.size()));
  for (size_t i = 0; i < pixels.size(); ++i) {
    for (int c = 0; c < count; ++c) {
      planes[static_cast<size_t>(c)][i] =
          c == 3 ? (i < black.size() ? black[i] : 255) : component(pixels[i], 16 - 8 * c);
    }
  }
  return planes;
}

std::string pascalName(const std::string& name, size_t multiple) {
  std::string n = name.substr(0, 255);
  std::string out(1, static_cast<char>(n.size()));
  out += n;
  while (out.size() % multiple != 0) out.push_back('\0');
  return out;
}

void taggedBlock(Bytes& b, const char* key, const std::string& body, bool wide = false) {
  b.raw("8BIM");
  b.raw(key);
  std::string padded = body;
  if (padded.size() % 2) padded.push_back('\0');
  b.block(padded, wide);
}

// A descriptor's Unicode string: a 4-byte count of UTF-16 units, then the units.
void unicodeString(Bytes& b, const std::u16string& s) {
  b.u32(static_cast<uint32_t>(s.size()));
  for (char16_t c : s) b.u16(c);
}

// A descriptor key or class id: length 0 and a 4-character code, or a length and the text.
void descriptorKey(Bytes& b, const std::string& key) {
  if (key.size() == 4) {
    b.u32(0);
  } else {
    b.u32(static_cast<uint32_t>(key.size()));
  }
  b.raw(key);
}

// "SoCo": descriptor version 16 and a descriptor {Clr : RGBC {Rd, Grn, Bl}}.
std::string solidColorBlock(uint32_t rgb) {
  Bytes b;
  b.u32(16);
  unicodeString(b, u"");
  descriptorKey(b, "null");
  b.u32(1);
  descriptorKey(b, "Clr ");
  b.raw("Objc");
  unicodeString(b, u"");
  descriptorKey(b, "RGBC");
  b.u32(3);
  const char* keys[3] = {"Rd  ", "Grn ", "Bl  "};
  for (int c = 0; c < 3; ++c) {
    descriptorKey(b, keys[c]);
    b.raw("doub");
    b.f64(static_cast<double>(component(rgb, 16 - 8 * c)));
  }
  return b.str();
}

// "levl": version 2 and 29 level records of five 2-byte values (input
// floor, input ceiling, output floor, output ceiling, gamma x 100).
std::string levelsBlock() {
  Bytes b;
  b.u16(2);
  for (int i = 0; i < 29; ++i) {
    b.u16(0);
    b.u16(255);
    b.u16(0);
    b.u16(255);
    b.u16(100);
  }
  return b.str();
}

struct ChannelOut {
  int16_t id;
  std::string data;  // compression field and data
};

std::vector<ChannelOut> layerChannels(const PsdOptions& o, const PsdRecord& r) {
  std::vector<ChannelOut> out;
  const bool hasPixels = r.kind == PsdRecordKind::kPixel && r.width > 0 && r.height > 0 &&
                         r.pixels.size() == static_cast<size_t>(r.width) * static_cast<size_t>(r.height);
  const int w = hasPixels ? r.width : 0;
  const int h = hasPixels ? r.height : 0;
  const std::vector<uint32_t> none;
  const std::vector<uint32_t>& px = hasPixels ? r.pixels : none;
  if (r.transparency) {
    std::vector<uint8_t> alpha(px.size());
    for (size_t i = 0; i < px.size(); ++i) alpha[i] = component(px[i], 24);
    out.push_back({-1, encodeChannel(alpha, w, h, o.depth, o.compression, true, o.psb)});
  }
  auto planes = colorPlanes(px, o.colorMode, r.black);
  for (size_t c = 0; c < planes.size(); ++c)
    out.push_back({static_cast<int16_t>(c), encodeChannel(planes[c], w, h, o.depth, o.compression, false, o.psb)});
  if (r.hasMask) {
    const PsdMask& m = r.mask;
    std::vector<uint8_t> values = m.pixels;
    values.resize(static_cast<size_t>(std::max(0, m.width)) * static_cast<size_t>(std::max(0, m.height)), 0);
    out.push_back({-2, encodeChannel(values, m.width, m.height, o.depth, o.compression, true, o.psb)});
  }
  return out;
}

bool isGroupRecord(const PsdRecord& r) {
  return r.kind == PsdRecordKind::kGroupHeader || r.kind == PsdRecordKind::kDivider;
}

std::string layerRecord(const PsdRecord& r, const std::vector<ChannelOut>& channels, bool psb) {
  Bytes b;
  const bool pixel = r.kind == PsdRecordKind::kPixel;
  b.i32(pixel ? r.top : 0);
  b.i32(pixel ? r.left : 0);
  b.i32(pixel ? r.top + r.height : 0);
  b.i32(pixel ? r.left + r.width : 0);
  b.u16(static_cast<uint32_t>(channels.size()));
  for (const ChannelOut& c : channels) {
    b.u16(static_cast<uint16_t>(c.id));
    b.length(c.data.size(), psb);
  }
  b.raw("8BIM");
  b.raw(r.blendMode.substr(0, 4) + std::string(4 - std::min<size_t>(4, r.blendMode.size()), ' '));
  b.u8(r.opacity);
  b.u8(r.clipping ? 1 : 0);
  // Flags: bit 0 transparency protected, bit 1 hidden, bit 3 and bit 4 say
  // that bit 4 ("pixel data irrelevant to appearance") is meaningful.
  uint32_t flags = (r.hidden ? 2u : 0u) | 8u;
  if (isGroupRecord(r)) flags |= 16u;
  b.u8(flags);
  b.u8(0);

  Bytes extra;
  if (r.hasMask) {
    // Mask data: rectangle, default colour, flags (bit 1 disabled, bit 2
    // invert when blending, bit 4 parameters follow), the parameters,
    // padding to at least 20 bytes.
    Bytes m;
    m.i32(r.mask.top);
    m.i32(r.mask.left);
    m.i32(r.mask.top + r.mask.height);
    m.i32(r.mask.left + r.mask.width);
    m.u8(r.mask.defaultColor);
    m.u8((r.mask.disabled ? 2u : 0u) | (r.mask.invert ? 4u : 0u) | (r.mask.parameters.empty() ? 0u : 16u));
    m.raw(r.mask.parameters);
    if (r.mask.parameters.size() < 2) m.raw(std::string(2 - r.mask.parameters.size(), '\0'));
    extra.block(m.str());
  } else {
    extra.u32(0);
  }
  extra.block(r.blendingRanges);
  const std::string& name = r.kind == PsdRecordKind::kDivider ? r.dividerName : r.name;
  extra.raw(pascalName(name, 4));
  if (!r.unicodeName.empty()) {
    Bytes u;
    unicodeString(u, r.unicodeName);
    taggedBlock(extra, "luni", u.str());
  }
  if (isGroupRecord(r)) {
    // Section divider setting: type (1 open folder, 2 closed folder,
    // 3 bounding divider), "8BIM" and the group's blend key.
    Bytes s;
    s.u32(r.kind == PsdRecordKind::kDivider ? 3u : r.closedFolder ? 2u : 1u);
    s.raw("8BIM");
    s.raw(r.kind == PsdRecordKind::kDivider ? std::string("pass") : r.blendMode.substr(0, 4));
    taggedBlock(extra, "lsct", s.str());
  }
  if (r.fillOpacity < 255) {
    Bytes f;
    f.u8(r.fillOpacity);
    f.zeros(3);
    taggedBlock(extra, "iOpa", f.str());
  }
  if (r.kind == PsdRecordKind::kSolidFill) taggedBlock(extra, "SoCo", solidColorBlock(r.fillColor));
  if (r.kind == PsdRecordKind::kAdjustment) taggedBlock(extra, "levl", levelsBlock());
  for (const auto& [key, data] : r.blocks) taggedBlock(extra, key.c_str(), data);
  b.block(extra.str());
  return b.str();
}

// Count (2), records and channel data, padded to a multiple of 4.
std::string layerInfo(const PsdOptions& o, const std::vector<PsdRecord>& records) {
  Bytes b;
  b.u16(static_cast<uint32_t>(records.size()));
  std::vector<std::vector<ChannelOut>> channels;
  channels.reserve(records.size());
  for (const PsdRecord& r : records) {
    channels.push_back(layerChannels(o, r));
    b.raw(layerRecord(r, channels.back(), o.psb));
  }
  for (const auto& list : channels)
    for (const ChannelOut& c : list) b.raw(c.data);
  b.pad(4);
  return records.empty() ? std::string() : b.str();
}

// Visible pixel layers blended in normal mode with their opacity, then
// flattened onto white: the merged image a reader would show.
std::vector<uint32_t> mergedPixels(const PsdOptions& o, const std::vector<PsdRecord>& records) {
  const size_t count = static_cast<size_t>(o.width) * static_cast<size_t>(o.height);
  std::vector<double> r(count, 0), g(count, 0), bl(count, 0), a(count, 0);
  // A record is shown when it and every group around it are visible.
  std::vector<bool> shown(records.size());
  std::vector<bool> hiddenStack;
  for (size_t i = records.size(); i-- > 0;) {
    const PsdRecord& rec = records[i];
    bool outerHidden = std::find(hiddenStack.begin(), hiddenStack.end(), true) != hiddenStack.end();
    shown[i] = !rec.hidden && !outerHidden;
    if (rec.kind == PsdRecordKind::kGroupHeader) hiddenStack.push_back(rec.hidden);
    if (rec.kind == PsdRecordKind::kDivider && !hiddenStack.empty()) hiddenStack.pop_back();
  }
  for (size_t i = 0; i < records.size(); ++i) {
    const PsdRecord& rec = records[i];
    if (!shown[i] || rec.kind != PsdRecordKind::kPixel) continue;
    if (rec.pixels.size() != static_cast<size_t>(rec.width) * static_cast<size_t>(rec.height)) continue;
    for (int y = std::max(0, rec.top); y < std::min(o.height, rec.top + rec.height); ++y) {
      for (int x = std::max(0, rec.left); x < std::min(o.width, rec.left + rec.width); ++x) {
        uint32_t p = rec.pixels[static_cast<size_t>(y - rec.top) * static_cast<size_t>(rec.width) +
                                static_cast<size_t>(x - rec.left)];
        double sa = (rec.transparency ? component(p, 24) : 255) / 255.0 * rec.opacity / 255.0;
        size_t k = static_cast<size_t>(y) * static_cast<size_t>(o.width) + static_cast<size_t>(x);
        double oa = sa + a[k] * (1 - sa);
        if (oa <= 0) continue;
        r[k] = (component(p, 16) * sa + r[k] * a[k] * (1 - sa)) / oa;
        g[k] = (component(p, 8) * sa + g[k] * a[k] * (1 - sa)) / oa;
        bl[k] = (component(p, 0) * sa + bl[k] * a[k] * (1 - sa)) / oa;
        a[k] = oa;
      }
    }
  }
  std::vector<uint32_t> out(count);
  for (size_t k = 0; k < count; ++k) {
    auto flat = [&](double c) { return static_cast<uint32_t>(c * a[k] + 255.0 * (1 - a[k]) + 0.5); };
    out[k] = 0xFF000000u | flat(r[k]) << 16 | flat(g[k]) << 8 | flat(bl[k]);
  }
  return out;
}

// Compression (2) and the planar colour channels: RLE at 8 and 16 bits
// (row byte counts of every channel first), raw at 32 bits and for bitmaps.
std::string mergedImage(const PsdOptions& o, const std::vector<PsdRecord>& records) {
  Bytes b;
  const size_t count = static_cast<size_t>(o.width) * static_cast<size_t>(o.height);
  if (o.colorMode == 0) {
    b.u16(0);
    size_t rowBytes = (static_cast<size_t>(o.width) + 7) / 8;
    b.zeros(rowBytes * static_cast<size_t>(o.height));  // all white
    return b.str();
  }
  std::vector<uint32_t> merged =
      o.withMergedImage ? mergedPixels(o, records) : std::vector<uint32_t>(count, 0xFFFFFFFFu);
  auto planes = colorPlanes(merged, o.colorMode);
  if (o.depth == 32) {
    b.u16(0);
    for (const auto& p : planes) {
      auto s = channelSamples(p, 32, false);
      b.raw(s.data(), s.size());
    }
    return b.str();
  }
  b.u16(1);
  size_t rowBytes = static_cast<size_t>(o.width) * static_cast<size_t>(o.depth / 8);
  std::string rows;
  for (const auto& p : planes) {
    auto s = channelSamples(p, o.depth, false);
    for (int y = 0; y < o.height; ++y) {
      std::string row;
      packBits(s.data() + rowBytes * static_cast<size_t>(y), rowBytes, row);
      if (o.psb) b.u16(static_cast<uint32_t>(row.size()) >> 16);
      b.u16(static_cast<uint32_t>(row.size()));
      rows += row;
    }
  }
  b.raw(rows);
  return b.str();
}

}  // namespace

PsdRecord solidLayer(const std::string& name, int32_t left, int32_t top, int32_t width,
                     int32_t height, uint32_t argb) {
  PsdRecord r;
  r.name = name;
  r.left = left;
  r.top = top;
  r.width = width;
  r.height = height;
  r.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), argb);
  return r;
}

std::vector<PsdRecord> group(const std::string& name, const std::vector<PsdRecord>& children, bool hidden) {
  std::vector<PsdRecord> out;
  PsdRecord divider;
  divider.kind = PsdRecordKind::kDivider;
  divider.blendMode = "norm";
  out.push_back(divider);
  out.insert(out.end(), children.begin(), children.end());
  PsdRecord header;
  header.kind = PsdRecordKind::kGroupHeader;
  header.name = name;
  header.blendMode = "pass";
  header.hidden = hidden;
  out.push_back(header);
  return out;
}

void append(std::vector<PsdRecord>& records, const std::vector<PsdRecord>& more) {
  records.insert(records.end(), more.begin(), more.end());
}

std::string makePsd(const PsdOptions& o, const std::vector<PsdRecord>& records) {
  Bytes b;
  b.raw("8BPS");
  b.u16(o.psb ? 2 : 1);
  b.zeros(6);
  b.u16(static_cast<uint32_t>(colorChannelCount(o.colorMode)));
  b.u32(static_cast<uint32_t>(o.height));
  b.u32(static_cast<uint32_t>(o.width));
  b.u16(static_cast<uint32_t>(o.depth));
  b.u16(static_cast<uint32_t>(o.colorMode));
  b.u32(0);  // colour mode data
  Bytes resources;
  for (const auto& [id, data] : o.resources) {
    resources.raw("8BIM");
    resources.u16(id);
    resources.u16(0);  // empty name, padded
    resources.u32(static_cast<uint32_t>(data.size()));
    resources.raw(data + std::string(data.size() % 2, '\0'));
  }
  b.block(resources.str());  // image resources

  std::string info = layerInfo(o, records);
  Bytes section;
  if (o.depth == 8 || info.empty()) {
    section.block(info, o.psb);
    section.u32(0);  // global mask info
  } else {
    section.length(0, o.psb);
    section.u32(0);
    taggedBlock(section, o.depth == 16 ? "Lr16" : "Lr32", info, o.psb);
  }
  for (const auto& [key, data] : o.globalBlocks) taggedBlock(section, key.c_str(), data, o.psb);
  b.block(section.str(), o.psb);
  b.raw(mergedImage(o, records));
  return b.str();
}

bool writePsd(const std::string& path, const PsdOptions& options, const std::vector<PsdRecord>& records) {
  std::string bytes = makePsd(options, records);
  std::ofstream out(path, std::ios::binary);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

}  // namespace korvex::test
