// Channel data: decompression and conversion to 0xAARRGGBB.
//
// Channel data: compression (2) then 0 raw, 1 RLE (a 2-byte byte count per
// row, then PackBits rows), 2 ZIP (zlib), 3 ZIP of the rows with
// prediction (see undoPrediction).
//
// Every decoder is bounded by its input and its output: no buffer is
// allocated beyond what the data can decode to.
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "psd/colour.h"
#include "psd/reader_internal.h"

namespace korvex::psd::detail {
namespace {

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
      // The high byte: layer cells carry exactly the stored samples' top bits.
      for (int x = 0; x < width; ++x) out[x] = row[2 * x];
      break;
    default:
      for (int x = 0; x < width; ++x) {
        const uint8_t* p = row + 4 * x;
        out[x] = floatTo8(static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
                          static_cast<uint32_t>(p[2]) << 8 | p[3], linear);
      }
  }
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

}  // namespace

size_t rowBytesOf(int width, int depth) {
  return depth == 1 ? (static_cast<size_t>(width) + 7) / 8 : static_cast<size_t>(width) * static_cast<size_t>(depth / 8);
}

bool RowSource::start(const uint8_t* data, size_t size, int compression, int width, int rows, int depth,
                      bool linear, bool large, std::string& error) {
  data_ = data;
  size_ = size;
  compression_ = compression;
  width_ = width;
  depth_ = depth;
  linear_ = linear;
  large_ = large;
  row_ = 0;
  rowBytes_ = rowBytesOf(width, depth);
  const size_t total = rowBytes_ * static_cast<size_t>(rows);
  switch (compression) {
    case 0:
      if (size < total) {
        error = "raw data is " + std::to_string(size) + " bytes, " + std::to_string(total) + " needed";
        return false;
      }
      return true;
    case 1: {
      const size_t countBytes = (large ? 4 : 2) * static_cast<size_t>(rows);
      if (size < countBytes) {
        error = "RLE row counts run past the data";
        return false;
      }
      if ((size - countBytes) * kMaxPackBitsRatio < total) {
        error = "RLE data is too short for its rows";
        return false;
      }
      pos_ = countBytes;
      bytes_.resize(rowBytes_);
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
      bytes_.resize(total);
      z_stream z{};
      if (inflateInit(&z) != Z_OK) {
        error = "zlib could not start";
        return false;
      }
      z.next_in = const_cast<Bytef*>(data);
      z.avail_in = static_cast<uInt>(std::min<size_t>(size, std::numeric_limits<uInt>::max()));
      z.next_out = bytes_.data();
      z.avail_out = static_cast<uInt>(total);
      const int status = inflate(&z, Z_FINISH);
      const size_t produced = total - z.avail_out;
      inflateEnd(&z);
      if (produced < total || (status != Z_STREAM_END && status != Z_BUF_ERROR && status != Z_OK)) {
        error = "ZIP data is damaged or ends early";
        return false;
      }
      return true;
    }
    default:
      error = "compression " + std::to_string(compression) + " is unknown";
      return false;
  }
}

bool RowSource::next(uint8_t* out, std::string& error) {
  const int y = row_++;
  switch (compression_) {
    case 0:
      samplesTo8(data_ + rowBytes_ * static_cast<size_t>(y), width_, depth_, linear_, out);
      return true;
    case 1: {
      const uint8_t* field = data_ + (large_ ? 4 : 2) * static_cast<size_t>(y);
      const size_t count = large_ ? static_cast<size_t>(field[0]) << 24 | static_cast<size_t>(field[1]) << 16 |
                                        static_cast<size_t>(field[2]) << 8 | field[3]
                                  : static_cast<size_t>(field[0] << 8 | field[1]);
      if (count > size_ - pos_) {
        error = "RLE row " + std::to_string(y) + " runs past the data";
        return false;
      }
      // 8-bit rows decode straight into `out`.
      uint8_t* row = depth_ == 8 ? out : bytes_.data();
      if (!unpackBits(data_ + pos_, count, row, rowBytes_)) {
        error = "RLE row " + std::to_string(y) + " does not decode to its width";
        return false;
      }
      pos_ += count;
      if (depth_ != 8) samplesTo8(row, width_, depth_, linear_, out);
      return true;
    }
    default: {
      uint8_t* row = bytes_.data() + rowBytes_ * static_cast<size_t>(y);
      if (compression_ == 3) undoPrediction(row, width_, depth_, tmp_);
      samplesTo8(row, width_, depth_, linear_, out);
      return true;
    }
  }
}

bool decodeSamples(const uint8_t* data, size_t size, int compression, int width, int rows, int depth,
                   bool linear, bool large, uint8_t* out, RowSource& source, std::string& error) {
  if (!source.start(data, size, compression, width, rows, depth, linear, large, error)) return false;
  for (int y = 0; y < rows; ++y)
    if (!source.next(out + static_cast<size_t>(width) * static_cast<size_t>(y), error)) return false;
  return true;
}

void combine(const Header& h, const uint8_t* const* color, const uint8_t* a, size_t count, uint32_t* out) {
  static const uint8_t zero[1] = {0};
  auto plane = [&](int i) { return color[i]; };
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
        out[k] = alphaAt(k) << 24 | colour::inkTimesBlack(at(c, k), key) << 16 |
                 colour::inkTimesBlack(at(m, k), key) << 8 | colour::inkTimesBlack(at(y, k), key);
      }
      break;
    }
    case 9: {
      const uint8_t *l = plane(0), *pa = plane(1), *pb = plane(2);
      for (size_t k = 0; k < count; ++k)
        out[k] = alphaAt(k) << 24 |
                 colour::lab8ToRgb(at(l, k), pa ? pa[k] : 128u, pb ? pb[k] : 128u);
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

uint32_t* PixelMemory::take(size_t count) {
  if (count > SIZE_MAX / sizeof(uint32_t)) return nullptr;
  const std::lock_guard<std::mutex> hold(lock_);
  return reinterpret_cast<uint32_t*>(arena_.allocate(count * sizeof(uint32_t)));
}

bool keepsOwnColour(int colorMode) { return colorMode == 4 || colorMode == 9; }

void combineOwn(const Header& h, const uint8_t* const* color, const uint8_t* a, size_t count, uint32_t* own,
                uint8_t* black) {
  // A missing colour channel reads as the reader's 0; Lab's a and b as neutral.
  const uint32_t missing = h.colorMode == 9 ? 128 : 0;
  auto at = [&](int i, size_t k, uint32_t none) -> uint32_t { return color[i] ? color[i][k] : none; };
  for (size_t k = 0; k < count; ++k)
    own[k] = (a ? a[k] : 255u) << 24 | at(0, k, 0) << 16 | at(1, k, missing) << 8 | at(2, k, missing);
  if (black)
    for (size_t k = 0; k < count; ++k) black[k] = static_cast<uint8_t>(at(3, k, 255));
}

bool decodeRecord(const Header& h, const uint8_t* info, LayerRecord& r, const RecordInfo& ri, Scratch& s,
                  PixelMemory& memory, std::string& error) {
  const int colorCount = colorChannels(h.colorMode);
  // Slots 0..3 colour, 4 transparency: the channel that feeds each, if any.
  constexpr int kAlphaSlot = 4;
  RowSource* sources[5] = {};
  const size_t count = static_cast<size_t>(r.width) * static_cast<size_t>(r.height);
  for (const ChannelInfo& ch : ri.channels) {
    const bool isMask = ch.id == -2;
    const int slot = ch.id == -1 ? kAlphaSlot : (ch.id >= 0 && ch.id < colorCount) ? ch.id : -1;
    if (slot < 0 && !isMask) continue;  // spot colours, the real user mask
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
    // Bound the allocation by what the channel's bytes can decode to.
    const uint64_t ratio = compression == 0 ? 1 : compression == 1 ? kMaxPackBitsRatio : kMaxInflateRatio;
    if (rowBytesOf(w, h.depth) * static_cast<uint64_t>(hgt) > static_cast<uint64_t>(ch.length) * ratio + 64) {
      error = "channel " + std::to_string(ch.id) + ": " + std::to_string(ch.length) +
              " bytes cannot hold " + std::to_string(w) + "x" + std::to_string(hgt) + " pixels";
      return false;
    }
    std::string why;
    bool ok;
    if (isMask) {
      r.mask.data.resize(n);
      ok = decodeSamples(data + 2, ch.length - 2, compression, w, hgt, h.depth, true, h.large, r.mask.data.data(),
                         s.mask, why);
    } else {
      // Colour and transparency are decoded row by row below, straight
      // into the layer's pixels.
      ok = s.sources[slot].start(data + 2, ch.length - 2, compression, w, hgt, h.depth, ch.id < 0, h.large, why);
      sources[slot] = &s.sources[slot];
    }
    if (!ok) {
      error = "channel " + std::to_string(ch.id) + ": " + why;
      return false;
    }
  }
  if (count == 0) return true;
  if (std::none_of(std::begin(sources), std::end(sources), [](const RowSource* p) { return p != nullptr; })) {
    // Nothing backs the rectangle: the layer has no pixels.
    r.width = r.height = 0;
    return true;
  }
  const size_t w = static_cast<size_t>(r.width);
  s.rows.resize(w * 5);
  const uint8_t* rows[5] = {};
  for (int slot = 0; slot < 5; ++slot)
    if (sources[slot]) rows[slot] = s.rows.data() + w * static_cast<size_t>(slot);
  uint32_t* pixels = memory.take(count);
  if (!pixels) {
    error = "no memory for " + std::to_string(r.width) + "x" + std::to_string(r.height) + " pixels";
    return false;
  }
  if (keepsOwnColour(h.colorMode)) r.ownColour.resize(count);
  if (h.colorMode == 4) r.ownBlack.resize(count);
  for (int32_t y = 0; y < r.height; ++y) {
    for (int slot = 0; slot < 5; ++slot) {
      std::string why;
      if (sources[slot] && !sources[slot]->next(s.rows.data() + w * static_cast<size_t>(slot), why)) {
        error = "channel " + std::to_string(slot == kAlphaSlot ? -1 : slot) + ": " + why;
        r.ownColour = {};
        r.ownBlack = {};
        return false;
      }
    }
    const size_t at = w * static_cast<size_t>(y);
    combine(h, rows, rows[kAlphaSlot], w, pixels + at);
    if (!r.ownColour.empty())
      combineOwn(h, rows, rows[kAlphaSlot], w, r.ownColour.data() + at, r.ownBlack.empty() ? nullptr : r.ownBlack.data() + at);
  }
  r.imageData = LayerPixels(pixels, count);
  return true;
}

}  // namespace korvex::psd::detail

namespace korvex::psd::detail {

bool decodeRecords(const Header& h, const uint8_t* info, std::vector<LayerRecord>& records,
                   const std::vector<RecordInfo>& infos, unsigned threads, platform::PageArena& memory,
                   std::string& error) {
  // Below this many layer pixels a second thread costs more than it saves.
  constexpr uint64_t kPixelsPerExtraThread = 1 << 18;
  uint64_t pixels = 0;
  for (const LayerRecord& r : records) pixels += static_cast<uint64_t>(r.width) * static_cast<uint64_t>(r.height);
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  threads = static_cast<unsigned>(std::min<uint64_t>({threads, kMaxDecodeThreads, records.size(),
                                                      1 + pixels / kPixelsPerExtraThread}));
  // Workers take records in file order; after a failure no record above it
  // is started, so every record below the first failure is decoded and the
  // failure reported is the same on any number of threads.
  const size_t count = records.size();
  std::atomic<size_t> nextRecord{0};
  std::atomic<size_t> firstFailure{count};
  std::vector<std::string> errors(count);
  PixelMemory shared(memory);
  auto work = [&] {
    Scratch scratch;
    for (size_t i; (i = nextRecord.fetch_add(1)) < count && i < firstFailure.load();) {
      if (decodeRecord(h, info, records[i], infos[i], scratch, shared, errors[i])) continue;
      for (size_t seen = firstFailure.load(); i < seen && !firstFailure.compare_exchange_weak(seen, i);) {
      }
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  const size_t failed = firstFailure.load();
  if (failed == count) return true;
  error = "layer record " + std::to_string(failed) + " (" + records[failed].layerName + "): " + errors[failed];
  return false;
}

}  // namespace korvex::psd::detail
