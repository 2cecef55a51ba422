// Test pictures: in-memory rasters, PNM files, and the cjpeg / djpeg reference tools.
#include "toolkit/TestImages.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace swelox::test {

Raster SolidRaster(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b) {
  Raster raster{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
  for (size_t i = 0; i < raster.rgb.size(); i += 3) {
    raster.rgb[i] = r;
    raster.rgb[i + 1] = g;
    raster.rgb[i + 2] = b;
  }
  return raster;
}

Raster RandomRaster(int32_t width, int32_t height, uint32_t seed, bool smooth) {
  std::mt19937 random(seed);
  Raster raster{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
  if (!smooth) {
    for (auto& v : raster.rgb) v = static_cast<uint8_t>(random());
    return raster;
  }
  std::uniform_real_distribution<double> phase(0, 6.28), noise(-12, 12);
  const double px = phase(random), py = phase(random);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = raster.pixel(x, y);
      const double base = 110 + 60 * std::sin(x * 0.05 + px) * std::cos(y * 0.09 + py);
      for (int c = 0; c < 3; ++c) {
        const double v = base + c * 25 - 25 + noise(random);
        p[c] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
      }
    }
  }
  return raster;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "swelox-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string RunCommand(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run: " + command);
  std::string out;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
  const int status = ::pclose(pipe);
  if (status != 0) throw std::runtime_error("command failed: " + command);
  return out;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const std::string& path, const std::string& text) {
  WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void WritePpm(const std::string& path, const Raster& raster) {
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << raster.width << " " << raster.height << "\n255\n";
  out.write(reinterpret_cast<const char*>(raster.rgb.data()), std::streamsize(raster.rgb.size()));
}

void WritePgm(const std::string& path, const Raster& raster) {
  std::ofstream out(path, std::ios::binary);
  out << "P5\n" << raster.width << " " << raster.height << "\n255\n";
  for (size_t i = 0; i < raster.rgb.size(); i += 3) out.put(static_cast<char>(raster.rgb[i]));
}

Raster ReadPnm(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int width = 0, height = 0, maxval = 0;
  in >> magic >> width >> height >> maxval;
  in.get();
  Raster raster{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
  if (magic == "P6") {
    in.read(reinterpret_cast<char*>(raster.rgb.data()), std::streamsize(raster.rgb.size()));
  } else if (magic == "P5") {
    for (size_t i = 0; i < raster.rgb.size(); i += 3) {
      raster.rgb[i] = raster.rgb[i + 1] = raster.rgb[i + 2] = static_cast<uint8_t>(in.get());
    }
  } else {
    throw std::runtime_error("not a PNM file: " + path);
  }
  return raster;
}

std::string EncodeWithCjpeg(const TempDir& dir, const std::string& name, const Raster& raster,
                            const std::string& options, bool greyscale) {
  const std::string source = dir.File(name + (greyscale ? ".pgm" : ".ppm"));
  if (greyscale) {
    WritePgm(source, raster);
  } else {
    WritePpm(source, raster);
  }
  const std::string jpeg = dir.File(name);
  RunCommand(std::string(SWELOX_CJPEG) + " " + options + " -outfile " + ShellQuote(jpeg) + " " +
             ShellQuote(source));
  return jpeg;
}

Raster DecodeWithDjpeg(const std::string& jpegPath, const std::string& options) {
  const TempDir scratch;
  const std::string out = scratch.File("djpeg.pnm");
  RunCommand(std::string(SWELOX_DJPEG) + " -dct float -pnm " + options + " -outfile " +
             ShellQuote(out) + " " + ShellQuote(jpegPath));
  return ReadPnm(out);
}

}  // namespace swelox::test
