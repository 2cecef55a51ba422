// Brightness of a pixel: 0.299 R + 0.587 G + 0.114 B formed in extended precision, rounded to the
// nearest integer with ties to even.
#pragma once

#include <cstdint>

namespace swelox {

// The computation itself, one x87 step after another: the reference for every other path.
int32_t ExtendedBrightness(int red, int green, int blue);

// The same values without floating point. Only colours whose exact sum 299R + 587G + 114B ends
// in 500 (mod 1000) depend on the precision; those ties are settled once, in extended precision.
int32_t Brightness(uint8_t red, uint8_t green, uint8_t blue);

// Adds the brightness of `count` pixels to totals[0 .. count - 1], a whole row at a time. A pixel
// is `bytesPerPixel` bytes, red, green and blue first: 3 for RGB, 4 for RGB and a pad byte.
void AddBrightness(const uint8_t* pixels, int bytesPerPixel, int32_t count, int32_t* totals);

}  // namespace swelox
