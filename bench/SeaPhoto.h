// The benchmarks' sea-like photo: grey ripples and some noise, coded at quality 90. The watch
// bench's camera sends such photos; the picture view's bench opens the first of them.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <algorithm>
#include <cstdint>

namespace swelox::bench {

inline QByteArray SeaJpeg(int width, int height, uint32_t seed) {
  QImage image(width, height, QImage::Format_Grayscale8);
  uint32_t noise = seed;
  for (int y = 0; y < height; ++y) {
    uchar* line = image.scanLine(y);
    for (int x = 0; x < width; ++x) {
      noise = noise * 1664525u + 1013904223u;
      const int ripple = ((x * 7 + y * 13) % 64) + ((y * 3) % 40);
      line[x] = uchar(std::clamp(90 + ripple + int(noise >> 28), 0, 255));
    }
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPEG", 90);
  return bytes;
}

}  // namespace swelox::bench
