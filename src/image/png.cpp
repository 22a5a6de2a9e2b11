// PNG reading through libpng.
//
// read_png accepts 8-bit PNGs: RGBA is copied as it is, RGB gets alpha 255,
// and grey, grey with alpha and palette images are expanded to RGBA by libpng
// (a tRNS chunk becomes alpha for grey and palette images). Every other bit
// depth is refused. The result is width x height pixels, bytes B, G, R, A,
// top row first.
#include "image/png.h"

#include <png.h>

#include <csetjmp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace korvex {

void ImageBuffer::resize(int32_t newWidth, int32_t newHeight) {
  width = newWidth;
  height = newHeight;
  pixels.resize(static_cast<size_t>(newWidth) * static_cast<size_t>(newHeight) * 4);
}

namespace {

// The largest image read_png accepts: 16384 x 16384 pixels (1 GiB of RGBA),
// twice the side of the largest atlas. A PNG header can claim far more.
constexpr uint64_t kMaxPngPixels = uint64_t{1} << 28;

// Messages about libpng itself are shown twice (once through C standard I/O
// and once on the console stream, both standard error).
std::string twice(const std::string& message) { return message + message; }

// What libpng has to say during one read.
struct LibpngMessages {
  std::string error;         // the error that ended the read
  const LineSink* warnings;  // where its warnings go
};

// libpng's error handler: keeps the error's text, which libpng's default
// handler would print as "libpng error: TEXT", and returns to the setjmp.
void keepError(png_structp png, png_const_charp text) {
  auto* messages = static_cast<LibpngMessages*>(png_get_error_ptr(png));
  if (messages) messages->error = text ? text : "undefined";
  png_longjmp(png, 1);
}

// libpng's warning handler: passes the warning on, worded as libpng's
// default handler words it.
void passWarning(png_structp png, png_const_charp text) {
  auto* messages = static_cast<LibpngMessages*>(png_get_error_ptr(png));
  if (messages) (*messages->warnings)(std::string("libpng warning: ") + (text ? text : "undefined"));
}

// Everything one read holds; released in every case when it goes out of scope.
struct PngReadResources {
  std::FILE* file = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  png_infop endInfo = nullptr;
  png_bytep block = nullptr;   // the decoded rows
  png_bytepp rows = nullptr;   // one pointer per row into block

  PngReadResources() = default;
  PngReadResources(const PngReadResources&) = delete;
  PngReadResources& operator=(const PngReadResources&) = delete;
  ~PngReadResources() {
    std::free(rows);
    std::free(block);
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, endInfo ? &endInfo : nullptr);
    if (file) std::fclose(file);
  }
};

// What decodeRows found in the header.
struct PngHeader {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colorType = 0;
  size_t rowSize = 0;  // bytes per decoded row, rounded up to a multiple of 4
};

enum class DecodeResult { kOk, kLibpngError, kNotEightBit, kNoImageMemory, kNoRowMemory };

// Reads the header, sets up the expansions and decodes every row into
// r.block. libpng reports errors by longjmp back here, so this function
// holds nothing that needs a destructor; r owns every resource.
DecodeResult decodeRows(PngReadResources& r, PngHeader& header, const LineSink& warnings) {
  if (setjmp(png_jmpbuf(r.png))) return DecodeResult::kLibpngError;

  png_init_io(r.png, r.file);
  png_set_sig_bytes(r.png, 8);
  png_read_info(r.png, r.info);

  int colorType = 0;
  png_get_IHDR(r.png, r.info, &header.width, &header.height, &header.bitDepth, &colorType, nullptr,
               nullptr, nullptr);
  if (header.bitDepth != 8) return DecodeResult::kNotEightBit;
  if (static_cast<uint64_t>(header.width) * header.height > kMaxPngPixels)
    png_error(r.png, "image too large");

  if (colorType == PNG_COLOR_TYPE_RGB) {
    warnings("warning:24bit image");
  } else if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_PALETTE ||
             colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r.png);
    else png_set_gray_to_rgb(r.png);
    if (colorType != PNG_COLOR_TYPE_GRAY_ALPHA) {
      if (png_get_valid(r.png, r.info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(r.png);
      else png_set_add_alpha(r.png, 0xFF, PNG_FILLER_AFTER);
    }
  }
  // No interlace handling is asked for: libpng's whole-image read turns it
  // on by itself for an interlaced file and says so with its own warning.
  png_read_update_info(r.png, r.info);
  header.colorType = png_get_color_type(r.png, r.info);

  const size_t rowBytes = png_get_rowbytes(r.png, r.info);
  header.rowSize = (rowBytes + 3) / 4 * 4;
  // rowSize <= 16384 * 4 * 4 after the pixel cap, so this cannot overflow.
  const size_t blockSize = header.rowSize * header.height + 15;
  r.block = static_cast<png_bytep>(std::malloc(blockSize));
  if (!r.block) return DecodeResult::kNoImageMemory;
  r.rows = static_cast<png_bytepp>(std::malloc(sizeof(png_bytep) * (header.height ? header.height : 1)));
  if (!r.rows) return DecodeResult::kNoRowMemory;
  for (png_uint_32 y = 0; y < header.height; ++y) r.rows[y] = r.block + header.rowSize * y;

  png_read_image(r.png, r.rows);
  return DecodeResult::kOk;
}

}  // namespace

Status read_png(ImageBuffer& image, const std::string& path, const LineSink& warnings) {
  using Code = Status::Code;
  const std::string notPng = "error: " + path + " is not a PNG.\n";
  // A folder, pipe or device is never opened: a pipe would block the read.
  Status regular = platform::checkRegularFile(path);
  if (!regular) return regular.withMessage(notPng);
  PngReadResources r;
  r.file = std::fopen(path.c_str(), "rb");
  if (!r.file)
    return Status::failure(Code::kSystem, notPng, "cannot open " + path + ": " + platform::systemReason(errno));
  png_byte signature[8] = {};
  if (std::fread(signature, 1, 8, r.file) != 8 || png_sig_cmp(signature, 0, 8) != 0)
    return Status::failure(Code::kInvalid, notPng, path + " does not begin with the PNG signature");

  const std::string outOfMemory = "out of memory while reading " + path;
  LibpngMessages libpng{"", &warnings};
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &libpng, keepError, passWarning);
  if (!r.png)
    return Status::failure(Code::kLimit, twice("error: png_create_read_struct returned 0.\n"), outOfMemory);
  r.info = png_create_info_struct(r.png);
  if (!r.info)
    return Status::failure(Code::kLimit, twice("error: png_create_info_struct returned 0.\n"), outOfMemory);
  png_set_chunk_malloc_max(r.png, 0);
  r.endInfo = png_create_info_struct(r.png);
  if (!r.endInfo)
    return Status::failure(Code::kLimit, twice("error: png_create_info_struct returned 0.\n"), outOfMemory);

  PngHeader header;
  switch (decodeRows(r, header, warnings)) {
    case DecodeResult::kOk:
      break;
    case DecodeResult::kLibpngError:
      return Status::failure(Code::kInvalid,
                             "libpng error: " + libpng.error + "\n" + twice("error from libpng\n"),
                             path + ": " + libpng.error);
    case DecodeResult::kNotEightBit:
      return Status::failure(Code::kUnsupported, "error:Not a 32bit image\n",
                             path + " has " + std::to_string(header.bitDepth) +
                                 " bits per sample; Korvex reads 8-bit PNGs only");
    case DecodeResult::kNoImageMemory:
      return Status::failure(Code::kLimit, twice("error: could not allocate memory for PNG image data\n"),
                             outOfMemory);
    case DecodeResult::kNoRowMemory:
      return Status::failure(Code::kLimit, twice("error: could not allocate memory for PNG row pointers\n"),
                             outOfMemory);
  }

  image.resize(static_cast<int32_t>(header.width), static_cast<int32_t>(header.height));
  const bool rgb = header.colorType == PNG_COLOR_TYPE_RGB;
  const size_t sourceStep = rgb ? 3 : 4;
  uint8_t* out = image.pixels.data();
  for (png_uint_32 y = 0; y < header.height; ++y) {
    const png_byte* in = r.rows[y];
    for (png_uint_32 x = 0; x < header.width; ++x, in += sourceStep, out += 4) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
      out[3] = rgb ? 0xFF : in[3];
    }
  }
  return Status::ok();
}

}  // namespace korvex
