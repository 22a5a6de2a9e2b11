// The parallel PNG encoder. The image data of a PNG is one zlib stream over
// the filtered rows (one filter-type byte, then the row's filtered bytes).
// Here the filtered rows are cut into blocks of a fixed number of rows, taken
// from the row size alone. Each block is deflated on its own as raw deflate,
// with the 32 KiB of filtered data before it as preset dictionary, and ended
// with a sync flush (the last one with the final block), so the blocks
// concatenate into one deflate stream. The Adler-32 checksums of the blocks
// are combined into the stream's own. Filtering a block needs only its rows
// and the raw row above it, so every block is independent of the others and
// the output is the same whatever the number of threads.

#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "image/png_write_stream.h"

namespace korvex::png_stream {
namespace {

constexpr size_t kBlockBytes = 1 << 20;      // filtered bytes per deflate block, about
constexpr size_t kWindowBytes = 32 * 1024;   // deflate's window: the preset dictionary
constexpr size_t kMaxChunkBytes = 1 << 20;   // IDAT chunk payload
constexpr size_t kBytesPerPixel = 4;

// libpng's measure of a filtered byte: its distance from 0 as a signed byte.
inline uint32_t magnitude(uint8_t v) { return v < 128 ? v : 256u - v; }

inline uint8_t paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  return static_cast<uint8_t>(pb <= pc ? b : c);
}

// The sum of magnitudes of t[0..n), stopping early once it reaches `limit`.
uint64_t magnitudeSum(const uint8_t* t, size_t n, uint64_t limit) {
  uint64_t sum = 0;
  for (size_t start = 0; start < n && sum < limit; start += 1024) {
    const size_t end = std::min(n, start + 1024);
    uint32_t part = 0;
    for (size_t i = start; i < end; ++i) part += magnitude(t[i]);
    sum += part;
  }
  return sum;
}

// Filters one row of n bytes (prev: the row above, zeros for the first row)
// into out[0] = filter type, out[1..n] = filtered bytes. Like libpng at its
// defaults: every filter is tried, and the one whose bytes have the least
// sum of magnitudes wins, the earlier filter (None, Sub, Up, Average, Paeth)
// on a tie. `trial` is scratch space of n + 1 bytes.
void filterRow(const uint8_t* row, const uint8_t* prev, size_t n, uint8_t* out, uint8_t* trial) {
  const size_t bpp = kBytesPerPixel;
  out[0] = 0;
  std::memcpy(out + 1, row, n);
  uint64_t best = magnitudeSum(out + 1, n, ~uint64_t{0});
  uint8_t* t = trial + 1;
  auto keep = [&](uint8_t type) {
    const uint64_t sum = magnitudeSum(t, n, best);
    if (sum >= best) return;
    best = sum;
    trial[0] = type;
    std::memcpy(out, trial, n + 1);
  };
  const size_t lead = std::min(bpp, n);
  for (size_t i = 0; i < lead; ++i) t[i] = row[i];
  for (size_t i = bpp; i < n; ++i) t[i] = static_cast<uint8_t>(row[i] - row[i - bpp]);
  keep(1);
  for (size_t i = 0; i < n; ++i) t[i] = static_cast<uint8_t>(row[i] - prev[i]);
  keep(2);
  for (size_t i = 0; i < lead; ++i) t[i] = static_cast<uint8_t>(row[i] - (prev[i] >> 1));
  for (size_t i = bpp; i < n; ++i) t[i] = static_cast<uint8_t>(row[i] - ((row[i - bpp] + prev[i]) >> 1));
  keep(3);
  for (size_t i = 0; i < lead; ++i) t[i] = static_cast<uint8_t>(row[i] - prev[i]);
  for (size_t i = bpp; i < n; ++i)
    t[i] = static_cast<uint8_t>(row[i] - paeth(row[i - bpp], prev[i], prev[i - bpp]));
  keep(4);
}

// PNG samples are R, G, B, A; the buffer holds B, G, R, A.
void toRgba(const uint8_t* bgra, size_t n, uint8_t* rgba) {
  for (size_t i = 0; i < n; i += 4) {
    rgba[i] = bgra[i + 2];
    rgba[i + 1] = bgra[i + 1];
    rgba[i + 2] = bgra[i];
    rgba[i + 3] = bgra[i + 3];
  }
}

struct Image {
  const uint8_t* bgra;
  size_t rowBytes;
  int64_t height;
};

struct Block {
  std::vector<uint8_t> deflated;
  uLong adler = 1;
  uLong length = 0;  // filtered bytes
  bool done = false;
  bool ok = false;
};

// Filters rows first..last-1 into out (rowBytes + 1 bytes each).
void filterRows(const Image& img, int64_t first, int64_t last, uint8_t* out) {
  const size_t n = img.rowBytes;
  std::vector<uint8_t> prev(n, 0), cur(n), trial(n + 1);
  if (first > 0) toRgba(img.bgra + static_cast<size_t>(first - 1) * n, n, prev.data());
  for (int64_t r = first; r < last; ++r, out += n + 1) {
    toRgba(img.bgra + static_cast<size_t>(r) * n, n, cur.data());
    filterRow(cur.data(), prev.data(), n, out, trial.data());
    std::swap(prev, cur);
  }
}

// Deflates rows first..last-1, primed with the filtered rows just above them.
void compressBlock(const Image& img, int64_t first, int64_t last, bool final, Block& block) {
  const size_t filteredRow = img.rowBytes + 1;
  const int64_t primeRows =
      std::min<int64_t>(first, static_cast<int64_t>((kWindowBytes + filteredRow - 1) / filteredRow));
  std::vector<uint8_t> filtered(static_cast<size_t>(last - first + primeRows) * filteredRow);
  filterRows(img, first - primeRows, last, filtered.data());
  const size_t primeBytes = static_cast<size_t>(primeRows) * filteredRow;
  const uint8_t* input = filtered.data() + primeBytes;
  const size_t inputBytes = filtered.size() - primeBytes;

  z_stream zs{};
  // libpng's settings for filtered image data: level 9, 32 KiB window,
  // memLevel 8, the filtered strategy.
  if (deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_FILTERED) != Z_OK) return;
  bool ok = true;
  if (primeBytes > 0) {
    const size_t dict = std::min(primeBytes, kWindowBytes);
    ok = deflateSetDictionary(&zs, input - dict, static_cast<uInt>(dict)) == Z_OK;
  }
  block.deflated.resize(deflateBound(&zs, static_cast<uLong>(inputBytes)) + 64);
  zs.next_in = const_cast<Bytef*>(input);
  zs.avail_in = static_cast<uInt>(inputBytes);
  const int flush = final ? Z_FINISH : Z_SYNC_FLUSH;
  size_t produced = 0;
  while (ok) {
    if (produced == block.deflated.size()) block.deflated.resize(block.deflated.size() * 2);
    zs.next_out = block.deflated.data() + produced;
    zs.avail_out = static_cast<uInt>(block.deflated.size() - produced);
    const int status = deflate(&zs, flush);
    produced = block.deflated.size() - zs.avail_out;
    if (status == Z_STREAM_END) break;
    if (status != Z_OK && status != Z_BUF_ERROR) ok = false;
    // A sync flush is complete once deflate leaves output space unused.
    if (!final && zs.avail_in == 0 && zs.avail_out > 0) break;
  }
  deflateEnd(&zs);
  block.deflated.resize(produced);
  block.adler = adler32(1, input, static_cast<uInt>(inputBytes));
  block.length = static_cast<uLong>(inputBytes);
  block.ok = ok;
}

// Writes chunks to the file, keeping the CRC of each.
class ChunkWriter {
 public:
  explicit ChunkWriter(std::FILE* file) : file_(file) {}

  void chunk(const char type[4], const uint8_t* data, size_t length) {
    uint8_t head[8];
    putBigEndian(head, static_cast<uint32_t>(length));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0, head + 4, 4);
    if (length > 0) crc = crc32(crc, data, static_cast<uInt>(length));
    uint8_t tail[4];
    putBigEndian(tail, static_cast<uint32_t>(crc));
    write(head, 8);
    if (length > 0) write(data, length);
    write(tail, 4);
  }

  // Image data goes out in IDAT chunks of kMaxChunkBytes, the rest at flush.
  void imageData(const uint8_t* data, size_t length) {
    pending_.insert(pending_.end(), data, data + length);
    size_t start = 0;
    for (; pending_.size() - start >= kMaxChunkBytes; start += kMaxChunkBytes)
      chunk("IDAT", pending_.data() + start, kMaxChunkBytes);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(start));
  }
  void flushImageData() {
    if (!pending_.empty()) chunk("IDAT", pending_.data(), pending_.size());
    pending_.clear();
  }

  void raw(const uint8_t* data, size_t length) { write(data, length); }
  bool ok() const { return ok_; }

  static void putBigEndian(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
  }

 private:
  void write(const uint8_t* data, size_t length) {
    if (ok_ && std::fwrite(data, 1, length, file_) != length) ok_ = false;
  }
  std::FILE* file_;
  std::vector<uint8_t> pending_;
  bool ok_ = true;
};

}  // namespace

bool writeParallel(std::FILE* file, const uint8_t* bgra, int32_t width, int32_t height,
                   unsigned threads) {
  if (width <= 0 || height <= 0 || width > 0x7fffffff / 4 - 1) return false;
  const Image img{bgra, static_cast<size_t>(width) * kBytesPerPixel, height};
  const size_t filteredRow = img.rowBytes + 1;
  const int64_t rowsPerBlock =
      std::max<int64_t>(1, static_cast<int64_t>((kBlockBytes + filteredRow - 1) / filteredRow));
  const int64_t blockCount = (img.height + rowsPerBlock - 1) / rowsPerBlock;

  ChunkWriter out(file);
  static const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  out.raw(kSignature, sizeof kSignature);
  uint8_t ihdr[13] = {};
  ChunkWriter::putBigEndian(ihdr, static_cast<uint32_t>(width));
  ChunkWriter::putBigEndian(ihdr + 4, static_cast<uint32_t>(height));
  ihdr[8] = 8;  // bit depth
  ihdr[9] = 6;  // RGBA; compression, filter and interlace methods 0
  out.chunk("IHDR", ihdr, sizeof ihdr);
  uint8_t gamma[4];
  ChunkWriter::putBigEndian(gamma, 45455);
  out.chunk("gAMA", gamma, sizeof gamma);
  static const uint8_t kZlibHeader[2] = {0x78, 0xda};  // deflate, 32 KiB window, level 9
  out.imageData(kZlibHeader, sizeof kZlibHeader);

  // Workers take blocks in order, at most `window` ahead of the writer.
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  const int64_t workers = std::min<int64_t>(threads, blockCount);
  const int64_t window = 2 * workers + 2;
  std::vector<Block> blocks(static_cast<size_t>(blockCount));
  std::mutex mutex;
  std::condition_variable changed;
  int64_t nextBlock = 0, written = 0;
  bool abort = false;

  auto work = [&] {
    for (;;) {
      int64_t b;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return abort || nextBlock >= blockCount || nextBlock < written + window; });
        if (abort || nextBlock >= blockCount) return;
        b = nextBlock++;
      }
      Block& block = blocks[static_cast<size_t>(b)];
      const int64_t first = b * rowsPerBlock;
      compressBlock(img, first, std::min(img.height, first + rowsPerBlock), b + 1 == blockCount, block);
      std::lock_guard<std::mutex> lock(mutex);
      block.done = true;
      changed.notify_all();
    }
  };
  std::vector<std::thread> pool;
  for (int64_t i = 0; i < workers; ++i) pool.emplace_back(work);

  uLong adler = 1;
  bool ok = true;
  for (int64_t b = 0; b < blockCount && ok; ++b) {
    Block& block = blocks[static_cast<size_t>(b)];
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return block.done; });
    }
    ok = block.ok;
    if (ok) {
      out.imageData(block.deflated.data(), block.deflated.size());
      adler = adler32_combine(adler, block.adler, static_cast<z_off_t>(block.length));
    }
    std::vector<uint8_t>().swap(block.deflated);
    std::lock_guard<std::mutex> lock(mutex);
    written = b + 1;
    abort = !ok;
    changed.notify_all();
  }
  for (std::thread& t : pool) t.join();
  if (!ok) return false;

  uint8_t checksum[4];
  ChunkWriter::putBigEndian(checksum, static_cast<uint32_t>(adler));
  out.imageData(checksum, sizeof checksum);
  out.flushImageData();
  out.chunk("IEND", nullptr, 0);
  return out.ok();
}

}  // namespace korvex::png_stream
