// The time a photo was taken, as its camera recorded it in the EXIF data of the JPEG file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace swelox {

struct CaptureTime {
  // ISO 8601 as recorded: 2026-07-14T09:31:07, then "." and the sub-second digits where they
  // were recorded, then the offset from UTC where it was recorded (+01:00).
  std::string text;
  // The date and time as 14 digits, then the sub-second digits without trailing zeros: compared
  // as text, earlier is less. The offset plays no part, as it plays none in the recorded clock.
  std::string sortKey;
};

// From the recorded fields: a date and time "YYYY:MM:DD HH:MM:SS" that must name a real moment
// (not blank, not all zeros, no 31 June), sub-seconds that count only when they are all digits
// (trailing spaces aside), and an offset that counts only when it reads "+HH:MM" or "-HH:MM".
// Each field ends at its first NUL byte, as EXIF text does.
std::optional<CaptureTime> CaptureTimeFromFields(std::string_view dateTime,
                                                 std::string_view subSeconds,
                                                 std::string_view offset);

// From an APP1 segment's payload ("Exif\0\0" and the TIFF structure), in either byte order:
// DateTimeOriginal with SubSecTimeOriginal and OffsetTimeOriginal, or, where that date is missing
// or not valid, DateTimeDigitized with its own two, from the Exif IFD that IFD0 (or else IFD1)
// points to. Nothing for data that is not EXIF, is broken or records neither time. Reads at most
// three directories, each once, whatever the data holds; raises nothing.
std::optional<CaptureTime> CaptureTimeFromExif(std::span<const uint8_t> segment);

// How often CaptureTimeFromExif has run in this process (from any thread): a photo's EXIF data
// should be read once however many steps of a run need its time.
uint64_t ExifReadCount();

// A photo's capture time as a step before its decode read it from the header, so that the decode
// need not read it again.
struct KnownCaptureTime {
  bool read = false;  // false: the header was not (or could not be) read; the decode reads it
  std::optional<CaptureTime> time;  // as recorded, not corrected; nothing when none is recorded
};

}  // namespace swelox
