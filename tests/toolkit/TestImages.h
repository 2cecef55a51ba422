// Pictures for tests: rasters made in memory, written as PPM, encoded with cjpeg and decoded with
// djpeg, the reference decoder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace swelox::test {

struct Raster {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes per pixel, rows top to bottom
  const uint8_t* pixel(int32_t x, int32_t y) const { return &rgb[(size_t(y) * width + x) * 3]; }
  uint8_t* pixel(int32_t x, int32_t y) { return &rgb[(size_t(y) * width + x) * 3]; }
  bool operator==(const Raster&) const = default;
};

Raster SolidRaster(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b);
// Repeatable pseudo-random pixels; `smooth` makes gentle gradients that compress like photographs.
Raster RandomRaster(int32_t width, int32_t height, uint32_t seed, bool smooth = false);

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Runs a shell command; raises std::runtime_error when it exits non-zero. Returns its output.
std::string RunCommand(const std::string& command);
std::string ShellQuote(const std::string& text);

void WritePpm(const std::string& path, const Raster& raster);
// A greyscale PGM from the red channel.
void WritePgm(const std::string& path, const Raster& raster);
Raster ReadPnm(const std::string& path);  // P5 or P6; P5 comes back with R = G = B

// cjpeg on the raster with the given options (e.g. "-quality 90 -sample 2x2"); returns the path.
std::string EncodeWithCjpeg(const TempDir& dir, const std::string& name, const Raster& raster,
                            const std::string& options = "", bool greyscale = false);
// djpeg -dct float (with extra options, e.g. "-colors 236") on the file.
Raster DecodeWithDjpeg(const std::string& jpegPath, const std::string& options = "");

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);  // empty when it cannot be read
// The same for text: a table, a descriptor, a log.
void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);

}  // namespace swelox::test
