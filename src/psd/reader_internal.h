// What the PSD reader's files share: the limits, the file header, and the
// steps parseDocument and readMergedImage chain. Not an interface: callers
// use reader.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "psd/byte_reader.h"
#include "psd/document.h"

namespace korvex::psd::detail {

// Photoshop allows 56 channels per document and per layer.
constexpr uint32_t kMaxChannels = 56;
// Deflate expands at most 1032 times; PackBits at most 64 times (2 bytes
// give 128).
constexpr uint64_t kMaxInflateRatio = 1032;
constexpr uint64_t kMaxPackBitsRatio = 64;

struct Header {
  int32_t width = 0, height = 0;
  int depth = 8;
  int colorMode = 3;
  int channels = 3;
  std::vector<uint8_t> palette;  // 768 bytes: 256 reds, 256 greens, 256 blues
  GlobalLight light;             // image resources 1037 and 1049
};

// The colour channels a mode needs.
int colorChannels(int mode);

// header.cpp: header, colour mode data and image resources; leaves `c` at
// the layer and mask information.
bool readPrologue(ByteReader& c, Header& h, std::string& error);

// layer_records.cpp: the layer and mask information section, records and
// their decoded channels into `doc`.
bool readLayers(ByteReader& c, const Header& h, Document& doc, std::string& error);

// channels.cpp: decoding and colour conversion.

struct ChannelInfo {
  int16_t id = 0;
  uint32_t length = 0;
  size_t offset = 0;  // of the compression field, within the layer info
};

struct RecordInfo {
  std::vector<ChannelInfo> channels;
};

// One channel's samples as bytes: the decoder's output before conversion.
struct Plane {
  std::vector<uint8_t> values;  // width*height, 8 bits
  bool present = false;
};

// Buffers the decoder reuses from channel to channel.
struct Scratch {
  std::vector<uint8_t> bytes;  // a whole channel (ZIP) or one row
  std::vector<uint8_t> tmp;
};

// Bytes of one row of `width` samples at `depth` bits.
size_t rowBytesOf(int width, int depth);

// Decodes `rows` rows of `width` samples (`channels` planes stacked one
// after another) from `data` (compression field already read) into 8-bit
// values. RLE data starts with the 2-byte byte counts of every row.
// `linear` marks transparency and masks, which are not gamma-encoded.
bool decodeSamples(const uint8_t* data, size_t size, int compression, int width, int rows, int depth,
                   bool linear, uint8_t* out, Scratch& s, std::string& error);

// Combines the decoded planes (colour channels 0.., alpha) into 0xAARRGGBB.
// Missing colour channels read as 0, a missing alpha as 255.
void combine(const Header& h, const Plane* color, const Plane& alpha, size_t count, uint32_t* out);

// Decodes one record's channels (at `info` + their offsets) into its
// imageData and mask.
bool decodeRecord(const Header& h, const uint8_t* info, LayerRecord& r, const RecordInfo& ri, Scratch& s,
                  Plane* color, Plane& alpha, std::string& error);

}  // namespace korvex::psd::detail
