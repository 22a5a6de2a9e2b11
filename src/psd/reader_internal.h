// What the PSD reader's files share: the limits, the file header, and the
// steps parseDocument and readMergedImage chain. Not an interface: callers
// use reader.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
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
  bool large = false;  // version 2 (PSB): wider length fields
  std::vector<uint8_t> palette;  // 768 bytes: 256 reds, 256 greens, 256 blues
  GlobalLight light;             // image resources 1037 and 1049
};

// A length field: 4 bytes, or 8 in a large document. A length beyond the
// address space reads as SIZE_MAX, which no section can hold.
inline bool readLength(ByteReader& c, bool large, uint64_t& v) {
  if (large) {
    if (!c.u64(v)) return false;
  } else {
    uint32_t v32;
    if (!c.u32(v32)) return false;
    v = v32;
  }
  if (static_cast<uint64_t>(static_cast<size_t>(v)) != v) v = SIZE_MAX;
  return true;
}

// The colour channels a mode needs.
int colorChannels(int mode);

// header.cpp: header, colour mode data and image resources; leaves `c` at
// the layer and mask information.
bool readPrologue(ByteReader& c, Header& h, std::string& error);

// layer_records.cpp: the layer and mask information section, records and
// their decoded channels (on up to `threads` threads, see decodeRecords)
// into `doc`.
bool readLayers(ByteReader& c, const Header& h, unsigned threads, Document& doc, std::string& error);

// channels.cpp: decoding and colour conversion.

struct ChannelInfo {
  int16_t id = 0;
  uint64_t length = 0;
  size_t offset = 0;  // of the compression field, within the layer info
};

struct RecordInfo {
  std::vector<ChannelInfo> channels;
};

// Bytes of one row of `width` samples at `depth` bits.
size_t rowBytesOf(int width, int depth);

// One channel's rows, decoded one at a time into 8-bit values. RLE data
// starts with the byte counts of every row (2 bytes each, 4 in a large
// document); ZIP data is inflated whole by start().
class RowSource {
 public:
  // Checks that `size` bytes at `data` (compression field already read)
  // can hold `rows` rows of `width` samples at `depth` bits. `linear` marks
  // transparency and masks, which are not gamma-encoded.
  bool start(const uint8_t* data, size_t size, int compression, int width, int rows, int depth, bool linear,
             bool large, std::string& error);
  // Decodes the next row into `out` (`width` values); at most `rows` calls.
  bool next(uint8_t* out, std::string& error);

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0, pos_ = 0, rowBytes_ = 0;
  int compression_ = 0, width_ = 0, depth_ = 8, row_ = 0;
  bool linear_ = false, large_ = false;
  std::vector<uint8_t> bytes_;  // one row (RLE) or the whole channel (ZIP)
  std::vector<uint8_t> tmp_;
};

// Buffers the decoder reuses from record to record.
struct Scratch {
  RowSource sources[5];       // colour channels 0..3, transparency
  RowSource mask;
  std::vector<uint8_t> rows;  // one row of each source
};

// Decodes `rows` rows of `width` samples (`channels` planes stacked one
// after another) from `data` into 8-bit values at `out`.
bool decodeSamples(const uint8_t* data, size_t size, int compression, int width, int rows, int depth,
                   bool linear, bool large, uint8_t* out, RowSource& source, std::string& error);

// Combines colour channels (colorChannels(mode) pointers) and transparency
// into 0xAARRGGBB. A null colour channel reads as 0, a null alpha as 255.
void combine(const Header& h, const uint8_t* const* color, const uint8_t* alpha, size_t count, uint32_t* out);

// The document's pixel memory, shared by the decoding threads.
class PixelMemory {
 public:
  explicit PixelMemory(platform::PageArena& arena) : arena_(arena) {}
  // Room for `count` pixels; null when memory runs out.
  uint32_t* take(size_t count);

 private:
  platform::PageArena& arena_;
  std::mutex lock_;
};

// Whether records of a document of `colorMode` keep their pixels in its own
// colour space as well (CMYK, Lab; see LayerRecord::ownColour).
bool keepsOwnColour(int colorMode);
// The same colour channels in that space: 0xAA and three stored values
// into `own`, a CMYK document's stored black into `black` (null for Lab).
void combineOwn(const Header& h, const uint8_t* const* color, const uint8_t* alpha, size_t count, uint32_t* own,
                uint8_t* black);

// Decodes one record's channels (at `info` + their offsets) straight into
// its imageData, taken from `memory`, and its mask.
bool decodeRecord(const Header& h, const uint8_t* info, LayerRecord& r, const RecordInfo& ri, Scratch& s,
                  PixelMemory& memory, std::string& error);

// Decodes every record with decodeRecord, on `threads` threads (0: the
// machine's cores, at most kMaxDecodeThreads) when the layers hold enough
// pixels to pay for them. Records are independent, so the result is the
// same on any number of threads; on failure `error` names the first
// failing record in file order.
constexpr unsigned kMaxDecodeThreads = 4;
bool decodeRecords(const Header& h, const uint8_t* info, std::vector<LayerRecord>& records,
                   const std::vector<RecordInfo>& infos, unsigned threads, platform::PageArena& memory,
                   std::string& error);

}  // namespace korvex::psd::detail
