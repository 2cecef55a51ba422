// A rectangle of a picture's pixels, in the geometry syntax of djpeg -crop and ImageMagick:
// WxH+X+Y is W x H pixels whose top-left corner is X pixels from the left edge and Y from the top.
#pragma once

#include <cstdint>
#include <string>

namespace swelox {

struct PixelRegion {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const PixelRegion&) const = default;

  std::string Text() const {
    return std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(x) + "+" +
           std::to_string(y);
  }
  // Wholly inside a picture of the given size (and not empty).
  bool Inside(int64_t pictureWidth, int64_t pictureHeight) const {
    return x >= 0 && y >= 0 && width > 0 && height > 0 && int64_t{x} + width <= pictureWidth &&
           int64_t{y} + height <= pictureHeight;
  }
  std::string OutsideMessage(int64_t pictureWidth, int64_t pictureHeight) const {
    return "The region " + Text() + " does not lie inside the picture of " +
           std::to_string(pictureWidth) + " x " + std::to_string(pictureHeight) + " pixels";
  }
};

}  // namespace swelox
