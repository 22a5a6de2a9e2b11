// The PNG encoder behind write_png: an 8-bit RGBA PNG (IHDR, gAMA 1/2.2,
// IDAT at zlib level 9, IEND) from width x height B, G, R, A pixels, rows
// from the top, to an open file.
#pragma once

#include <cstdint>
#include <cstdio>

namespace korvex::png_stream {

// Filters the rows as libpng does by default (per row the filter with the
// least sum of absolute signed bytes) and deflates them in blocks of a fixed
// number of rows, each block primed with the 32 KiB before it, on `threads`
// threads (0: one per core). The bytes written depend only on the image,
// never on the thread count. False when zlib or the file fails.
bool writeParallel(std::FILE* file, const uint8_t* bgra, int32_t width, int32_t height,
                   unsigned threads = 0);

}  // namespace korvex::png_stream
