// JPEG decoding with libjpeg: a file, or its bytes in memory, becomes RGB rows, top to bottom.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "core/Errors.h"
#include "imaging/CaptureTime.h"
#include "imaging/FileReading.h"
#include "imaging/MemoryBudget.h"
#include "imaging/PixelRegion.h"

namespace swelox {

// Receives a decoded picture row by row. Begin comes once, before the first row.
class RgbRowSink {
 public:
  virtual ~RgbRowSink() = default;
  virtual void Begin(int32_t width, int32_t height) = 0;
  // One row of `width` pixels of BytesPerPixel() bytes each: red, green, blue, and with 4 a pad
  // byte of no meaning.
  virtual void Row(const uint8_t* rgb) = 0;
  // 3, or 4 for rows that a vectorised reader takes a word per pixel.
  virtual int BytesPerPixel() const { return 3; }
};

// What a decode is asked for beside the pixels of the whole picture; the defaults decode them all
// within the process's memory budget, never stopped, reading no EXIF data.
struct DecodeRequest {
  // Only these pixels reach the sink; none: the whole picture.
  std::optional<PixelRegion> region = std::nullopt;
  // What the picture takes of it before decoding starts, waiting while other decodes hold it.
  std::reference_wrapper<MemoryBudget> budget = MemoryBudget::Process();
  std::stop_token stop = {};
  // Read the capture time from the EXIF data into the notes.
  bool wantCaptureTime = false;
  // With `read` set, this file's capture time as its header already gave it: the notes carry it
  // and no EXIF data is read again.
  KnownCaptureTime knownCaptureTime = {};
};

// What a decode notes about a picture beside its pixels.
struct DecodeNotes {
  // When the capture time was wanted: as recorded, nothing when none is.
  std::optional<CaptureTime> captureTime;
  // libjpeg's first warning, for data it found corrupt or missing (a file that ends early) and
  // decoded around; empty for a sound file.
  std::string warning;
};

// The decoder that makes the pixels, for a result's provenance: the library and version it was
// built with ("libjpeg-turbo 2.1.5, libjpeg API 62"), and the inverse DCT it is set to
// ("JDCT_FLOAT"). Another library, version or IDCT may change the digits.
std::string DecoderLibrary();
const char* DecoderIdct();

// Raised by a decode that was asked to stop: it ends the decode without a message.
class DecodeStopped : public SilentAbort {};

// Decodes with the floating-point inverse DCT at scale 1/1, fancy upsampling and block smoothing.
// Colour files reach the sink as libjpeg's RGB; grayscale ones quantized to 236 levels with
// libjpeg's Floyd-Steinberg dither and read through its colormap; CMYK and YCCK ones converted to
// RGB. Raises "JPEG error #%d" with libjpeg's message code, "Out of memory", or the refusals of
// files with unsupported component counts or too many scans.
// With a region the sink receives only its pixels, exactly as the whole decode gives them, and
// only what they need is decoded; a region not wholly inside the picture is refused with a message
// that names it and the picture's size. Once the request's stop is requested the decode ends
// within a row group or a scan's band of rows, raising DecodeStopped.
DecodeNotes DecodeJpeg(std::span<const uint8_t> data, RgbRowSink& sink,
                       const DecodeRequest& request = {});

// The same, reading the file a block at a time from where it stands; also raises
// kStreamReadError when the file ends before the size it had when opened.
DecodeNotes DecodeJpeg(PictureFile& file, RgbRowSink& sink, const DecodeRequest& request = {});

// The capture time from the EXIF data, reading the file only up to its first scan and decoding
// nothing; nothing when the file records none or its header cannot be read.
std::optional<CaptureTime> ReadCaptureTime(PictureFile& file);
// The same, saying whether the header was read at all.
KnownCaptureTime ReadKnownCaptureTime(PictureFile& file);

// The most scans a file may have (encoders write up to a few dozen); one with more fails with
// "JPEG files with more than 256 scans are not supported". Every scan of a progressive file is a
// pass over the whole picture, so without a limit a small crafted file could decode for hours.
inline constexpr int kMaxJpegScans = 256;

// The work of a file's scans is bounded too: the blocks that its scans cover together may come to
// kMaxScanPasses times the picture's blocks (cjpeg's progressive scripts take 5 to 6, and 16
// leaves room for encoders with longer ones), or kFreeScanBlocks when that is more, so that a
// small picture may have up to kMaxJpegScans scans. A file whose scans would pass over its picture
// more often is refused with "JPEG files whose scans pass over the picture more than %d times are
// not supported", before those scans are decoded: 256 scans with no data over a large picture would
// otherwise cost many times its decode.
inline constexpr int kMaxScanPasses = 16;
inline constexpr uint64_t kFreeScanBlocks = uint64_t{1} << 20;
constexpr uint64_t ScanBlockLimit(uint64_t pictureBlocks) {
  return pictureBlocks * kMaxScanPasses > kFreeScanBlocks ? pictureBlocks * kMaxScanPasses
                                                          : kFreeScanBlocks;
}

}  // namespace swelox
