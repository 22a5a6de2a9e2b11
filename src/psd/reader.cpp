// The PSD reader's entry points: a file or bytes to a Document, and the
// merged image at the end of the file.
#include "psd/reader.h"

#include <algorithm>
#include <fstream>

#include "psd/reader_internal.h"

namespace korvex::psd {

using namespace detail;

bool parseDocument(const uint8_t* data, size_t size, Document& document, std::string& error) {
  ByteReader c(data, size, 0);
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
  ByteReader c(data, size, 0);
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
