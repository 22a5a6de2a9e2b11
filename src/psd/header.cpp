// The PSD reader's first sections: the file header, the colour mode data
// and the image resources.
//
// File layout (all integers big-endian):
//
//   header (26 bytes): "8BPS", version (2) = 1 (2: a large document, PSB),
//     reserved (6), channels (2),
//     height (4), width (4), depth (2), colour mode (2)
//   colour mode data: length (4) + data (the 768-byte palette of indexed files)
//   image resources: length (4) + resource blocks:
//     "8BIM", id (2), name (Pascal string padded to an even length),
//     data length (4), data padded to an even length; read here: 1037
//     global light angle (4), 1049 global light altitude (4)
//   layer and mask information: length (4; 8 in a PSB) +
//     layer info: length (4; 8 in a PSB) + layer count (2, negative when the merged
//       image's first extra channel is its transparency) + layer records +
//       channel image data, record after record, channel after channel
//     global layer mask info: length (4) + data
//     tagged blocks; 16- and 32-bit documents keep their layer info in an
//       "Lr16" / "Lr32" block here and leave the layer info above empty
//   merged image: compression (2) + planar channel data
//
// A PSB also widens the channel data lengths of layer records, the lengths
// of some tagged blocks (see taggedBlockLengthIsWide) and RLE row byte
// counts (4 bytes each).
//
// Every length, count and offset is checked against the bytes that hold it
// before use, and no buffer is allocated beyond what the data can decode to.
#include <algorithm>
#include <string>

#include "psd/reader_internal.h"

namespace korvex::psd::detail {
namespace {

// The largest canvas side: 30000 in a PSD, 300000 in a PSB.
constexpr int64_t kMaxCanvasSide = 30000;
constexpr int64_t kMaxLargeCanvasSide = 300000;

bool readHeader(ByteReader& c, Header& h, std::string& error) {
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
  if (version != 1 && version != 2) {
    error = "file header: version " + std::to_string(version) + " is not a PSD version";
    return false;
  }
  const int64_t maxSide = version == 2 ? kMaxLargeCanvasSide : kMaxCanvasSide;
  if (channels < 1 || channels > kMaxChannels) {
    error = "file header: channel count " + std::to_string(channels) + " out of range";
    return false;
  }
  if (width < 1 || height < 1 || width > maxSide || height > maxSide) {
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
  h.large = version == 2;
  return true;
}

// The global light of the image resources. A resource list that does not
// parse ends the search: the light keeps Photoshop's defaults.
void readGlobalLight(ByteReader c, GlobalLight& light) {
  std::string signature;
  uint16_t id;
  uint8_t nameLength;
  uint32_t length;
  ByteReader data;
  while (c.key(signature) && signature == "8BIM" && c.u16(id) && c.u8(nameLength) &&
         c.skip(nameLength + (nameLength + 1) % 2) && c.u32(length) && c.sub(length, data)) {
    c.skip(std::min<size_t>(c.remaining(), length % 2));
    int32_t value;
    if ((id == 1037 || id == 1049) && data.i32(value)) (id == 1037 ? light.angle : light.altitude) = value;
  }
}

}  // namespace

int colorChannels(int mode) {
  switch (mode) {
    case 3: case 9: return 3;  // RGB, Lab
    case 4: return 4;          // CMYK
    default: return 1;         // bitmap, grayscale, indexed, duotone, multichannel (first channel)
  }
}

bool readPrologue(ByteReader& c, Header& h, std::string& error) {
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
  ByteReader colorData;
  if (!c.u32(length) || !c.sub(length, colorData)) {
    error = "colour mode data: length runs past the end of the file" + c.where();
    return false;
  }
  if (h.colorMode == 2) {
    if (length < 768) {
      error = "colour mode data: an indexed document needs a 768-byte palette";
      return false;
    }
    h.palette.assign(colorData.here(), colorData.here() + 768);
  }
  ByteReader resources;
  if (!c.u32(length) || !c.sub(length, resources)) {
    error = "image resources: length runs past the end of the file" + c.where();
    return false;
  }
  readGlobalLight(resources, h.light);
  return true;
}

}  // namespace korvex::psd::detail
