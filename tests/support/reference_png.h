// The plain libpng encoder that the parallel PNG writer is checked and
// measured against.
#pragma once

#include <cstdint>
#include <cstdio>

namespace korvex::test {

// Writes the image write_png writes (8-bit RGBA, gAMA 1/2.2, zlib level 9)
// from width x height B, G, R, A pixels through libpng in one zlib stream.
// False on a libpng error.
bool writeSingleStream(std::FILE* file, const uint8_t* bgra, int32_t width, int32_t height);

}  // namespace korvex::test
