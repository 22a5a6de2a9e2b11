// The PSD reader's entry points: a file or bytes to a Document, and the
// merged image at the end of the file.
#include "psd/reader.h"

#include <algorithm>

#include "platform/platform.h"
#include "psd/reader_internal.h"

namespace korvex::psd {

using namespace detail;

bool parseDocument(const uint8_t* data, size_t size, Document& document, std::string& error, unsigned threads) {
  ByteReader c(data, size, 0);
  Header h;
  Document doc;
  if (!readPrologue(c, h, error) || !readLayers(c, h, threads, doc, error)) return false;
  doc.pixelMemory.trim();
  doc.width = h.width;
  doc.height = h.height;
  doc.depth = static_cast<int16_t>(h.depth);
  doc.colorMode = static_cast<int16_t>(h.colorMode);
  document = std::move(doc);
  return true;
}

bool loadDocument(const std::string& path, Document& document, std::string& error) {
  platform::FileBytes bytes;
  return bytes.open(path, error) && parseDocument(bytes.data(), bytes.size(), document, error);
}

bool readMergedImage(const uint8_t* data, size_t size, std::vector<uint32_t>& pixels, std::string& error) {
  ByteReader c(data, size, 0);
  Header h;
  uint64_t length = 0;
  if (!readPrologue(c, h, error)) return false;
  if (!readLength(c, h.large, length) || !c.skip(length)) {
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
  RowSource s;
  // Raw and RLE store the channels one after another (RLE with the row
  // counts of every channel first); ZIP compresses them all in one stream.
  std::vector<uint8_t> all(count * static_cast<size_t>(colorCount));
  if (compression == 1) {
    const size_t countSize = h.large ? 4 : 2;
    const size_t channelCounts = countSize * static_cast<size_t>(h.height);
    const size_t countBytes = channelCounts * static_cast<size_t>(h.channels);
    if (!c.has(countBytes)) {
      error = "merged image: row counts run past the end of the file";
      return false;
    }
    const uint8_t* counts = c.here();
    size_t pos = countBytes;
    for (int ch = 0; ch < colorCount; ++ch) {
      // Rebuild this channel's counts + rows as one RLE block.
      std::vector<uint8_t> block(counts + channelCounts * static_cast<size_t>(ch),
                                 counts + channelCounts * static_cast<size_t>(ch + 1));
      size_t bytes = 0;
      ByteReader field(block.data(), block.size());
      for (int y = 0; y < h.height; ++y) {
        uint32_t rowCount = 0;
        uint16_t narrow = 0;
        if (h.large) {
          field.u32(rowCount);
        } else if (field.u16(narrow)) {
          rowCount = narrow;
        }
        bytes += rowCount;
      }
      if (bytes > c.remaining() - std::min(c.remaining(), pos)) {
        error = "merged image: channel " + std::to_string(ch) + " runs past the end of the file";
        return false;
      }
      block.insert(block.end(), c.here() + pos, c.here() + pos + bytes);
      pos += bytes;
      if (!decodeSamples(block.data(), block.size(), 1, h.width, h.height, h.depth, false, h.large,
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
      decodeSamples(c.here() + plane * static_cast<size_t>(ch), plane, 0, h.width, h.height, h.depth, false, h.large,
                    all.data() + count * static_cast<size_t>(ch), s, error);
    }
  } else if (!decodeSamples(c.here(), c.remaining(), compression, h.width, h.height * colorCount, h.depth, false,
                            h.large, all.data(), s, error)) {
    error = "merged image: " + error;
    return false;
  }
  const uint8_t* color[4] = {};
  for (int ch = 0; ch < colorCount; ++ch) color[ch] = all.data() + count * static_cast<size_t>(ch);
  pixels.resize(count);
  combine(h, color, nullptr, count, pixels.data());
  return true;
}

}  // namespace korvex::psd
