// Reading the capture time: the few directories of the EXIF structure that can hold it are read
// here, each once and only as far as the data goes; the values are checked, since cameras and
// editors write blanks, zeros and nonsense into them.
#include "imaging/CaptureTime.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

namespace swelox {
namespace {

std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number written by the digits text[at, at + count), or -1 when they are not all digits.
int Number(std::string_view text, size_t at, size_t count) {
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!IsDigit(text[i])) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// "YYYY:MM:DD HH:MM:SS" naming a moment that exists.
bool IsValidDateTime(std::string_view t) {
  static constexpr std::string_view kShape = "dddd:dd:dd dd:dd:dd";
  if (t.size() != kShape.size()) return false;
  for (size_t i = 0; i < kShape.size(); ++i) {
    if (kShape[i] == 'd' ? !IsDigit(t[i]) : t[i] != kShape[i]) return false;
  }
  const int year = Number(t, 0, 4), month = Number(t, 5, 2), day = Number(t, 8, 2);
  const int hour = Number(t, 11, 2), minute = Number(t, 14, 2), second = Number(t, 17, 2);
  return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month) &&
         hour <= 23 && minute <= 59 && second <= 59;
}

bool IsWellFormedOffset(std::string_view t) {
  return t.size() == 6 && (t[0] == '+' || t[0] == '-') && t[3] == ':' && Number(t, 1, 2) >= 0 &&
         Number(t, 1, 2) <= 23 && Number(t, 4, 2) >= 0 && Number(t, 4, 2) <= 59;
}

// The TIFF structure after "Exif\0\0", in either byte order; offsets count from its start.
class Tiff {
 public:
  explicit Tiff(std::span<const uint8_t> data) : data_(data) {
    if (data_.size() < 8) return;
    if (data_[0] == 'I' && data_[1] == 'I') {
      bigEndian_ = false;
    } else if (data_[0] == 'M' && data_[1] == 'M') {
      bigEndian_ = true;
    } else {
      return;
    }
    valid_ = U16(2) == 42;
  }

  // False for data that does not begin as a TIFF structure does.
  bool valid() const { return valid_; }
  size_t size() const { return data_.size(); }
  // The bytes [at, at + count), or nothing when they are not all there.
  std::optional<std::string_view> Bytes(uint64_t at, uint64_t count) const {
    if (at > data_.size() || count > data_.size() - at) return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(data_.data() + at), count);
  }
  // Callers check that the bytes are there.
  uint16_t U16(size_t at) const {
    return static_cast<uint16_t>(bigEndian_ ? data_[at] << 8 | data_[at + 1]
                                            : data_[at + 1] << 8 | data_[at]);
  }
  uint32_t U32(size_t at) const {
    const uint32_t high = U16(bigEndian_ ? at : at + 2);
    const uint32_t low = U16(bigEndian_ ? at + 2 : at);
    return high << 16 | low;
  }

 private:
  std::span<const uint8_t> data_;
  bool bigEndian_ = false;
  bool valid_ = false;
};

constexpr uint16_t kExifIfdPointer = 0x8769;
constexpr uint16_t kAscii = 2;
constexpr uint16_t kUndefined = 7;
constexpr size_t kEntrySize = 12;

// The directories that can lead to the time: IFD0, the IFD1 that IFD0 links to, and the Exif IFD
// that the first Exif IFD pointer of those two leads to. The walk reads nothing else, follows no
// other pointer and no further link, so whatever the data holds (directories pointing at
// themselves or at each other, chains that lead back) it reads at most three directories once
// each, at most 5,461 entries of 12 bytes each for a segment of 64 KiB: a few microseconds.
class ExifDirectories {
 public:
  explicit ExifDirectories(const Tiff& tiff) : tiff_(tiff) {}

  // The entry count that fits in the data (a directory cut short keeps the entries that are
  // whole), or nothing when not even the count is there.
  std::optional<size_t> EntryCount(uint32_t offset, bool* whole = nullptr) const {
    if (!tiff_.Bytes(offset, 2)) return std::nullopt;
    const size_t stated = tiff_.U16(offset);
    const size_t room = (tiff_.size() - offset - 2) / kEntrySize;
    if (whole != nullptr) *whole = stated <= room;
    return std::min(stated, room);
  }
  size_t EntryAt(uint32_t offset, size_t index) const {
    return size_t{offset} + 2 + index * kEntrySize;
  }

  // The Exif IFD's offset: from the first Exif IFD pointer in IFD0, else in IFD1, that points
  // inside the data.
  std::optional<uint32_t> ExifIfd() const {
    if (!tiff_.valid()) return std::nullopt;
    const uint32_t ifd0 = tiff_.U32(4);
    if (auto exif = ExifPointerIn(ifd0)) return exif;
    bool whole = false;
    const std::optional<size_t> count = EntryCount(ifd0, &whole);
    // IFD0's link to IFD1 is read only where IFD0 is whole.
    if (!count || !whole || !tiff_.Bytes(EntryAt(ifd0, *count), 4)) return std::nullopt;
    const uint32_t ifd1 = tiff_.U32(EntryAt(ifd0, *count));
    if (ifd1 == 0 || ifd1 == ifd0) return std::nullopt;
    return ExifPointerIn(ifd1);
  }

  // The text of the first entry with `tag` in the directory at `offset`, where it is ASCII or
  // undefined and wholly inside the data; empty otherwise.
  std::string_view Text(uint32_t offset, uint16_t tag) const {
    const size_t count = EntryCount(offset).value_or(0);
    for (size_t i = 0; i < count; ++i) {
      const size_t entry = EntryAt(offset, i);
      if (tiff_.U16(entry) != tag) continue;
      const uint16_t format = tiff_.U16(entry + 2);
      const uint32_t size = tiff_.U32(entry + 4);
      if (format != kAscii && format != kUndefined) return {};
      const uint64_t at = size <= 4 ? entry + 8 : tiff_.U32(entry + 8);
      return tiff_.Bytes(at, size).value_or(std::string_view{});
    }
    return {};
  }

 private:
  std::optional<uint32_t> ExifPointerIn(uint32_t offset) const {
    const size_t count = EntryCount(offset).value_or(0);
    for (size_t i = 0; i < count; ++i) {
      const size_t entry = EntryAt(offset, i);
      if (tiff_.U16(entry) != kExifIfdPointer) continue;
      const uint32_t target = tiff_.U32(entry + 8);
      if (target < tiff_.size()) return target;
    }
    return std::nullopt;
  }

  const Tiff& tiff_;
};

}  // namespace

std::optional<CaptureTime> CaptureTimeFromFields(std::string_view dateTime,
                                                 std::string_view subSeconds,
                                                 std::string_view offset) {
  dateTime = UpToNul(dateTime);
  if (!IsValidDateTime(dateTime)) return std::nullopt;
  CaptureTime time;
  time.text = std::string(dateTime.substr(0, 4)) + "-" + std::string(dateTime.substr(5, 2)) + "-" +
              std::string(dateTime.substr(8, 2)) + "T" + std::string(dateTime.substr(11, 8));
  for (const char c : dateTime) {
    if (IsDigit(c)) time.sortKey += c;
  }

  subSeconds = UpToNul(subSeconds);
  // EXIF pads text fields with spaces.
  while (!subSeconds.empty() && subSeconds.back() == ' ') subSeconds.remove_suffix(1);
  if (!subSeconds.empty() && Number(subSeconds, 0, subSeconds.size()) >= 0) {
    time.text += "." + std::string(subSeconds);
    std::string_view fraction = subSeconds;
    while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
    time.sortKey += fraction;
  }

  offset = UpToNul(offset);
  if (IsWellFormedOffset(offset)) time.text += offset;
  return time;
}

namespace {
std::atomic<uint64_t> exifReads{0};
}  // namespace

uint64_t ExifReadCount() { return exifReads.load(std::memory_order_relaxed); }

std::optional<CaptureTime> CaptureTimeFromExif(std::span<const uint8_t> segment) {
  exifReads.fetch_add(1, std::memory_order_relaxed);
  static constexpr std::array<uint8_t, 6> kExifHeader = {'E', 'x', 'i', 'f', 0, 0};
  if (segment.size() < kExifHeader.size() ||
      std::memcmp(segment.data(), kExifHeader.data(), kExifHeader.size()) != 0) {
    return std::nullopt;
  }
  const Tiff tiff(segment.subspan(kExifHeader.size()));
  const ExifDirectories directories(tiff);
  const std::optional<uint32_t> exif = directories.ExifIfd();
  if (!exif) return std::nullopt;

  const struct {
    uint16_t dateTime, subSeconds, offset;
  } kTrios[] = {
      {0x9003, 0x9291, 0x9011},  // DateTimeOriginal, SubSecTimeOriginal, OffsetTimeOriginal
      {0x9004, 0x9292, 0x9012},  // DateTimeDigitized and its two
  };
  for (const auto& trio : kTrios) {
    if (auto time = CaptureTimeFromFields(directories.Text(*exif, trio.dateTime),
                                          directories.Text(*exif, trio.subSeconds),
                                          directories.Text(*exif, trio.offset))) {
      return time;
    }
  }
  return std::nullopt;
}

}  // namespace swelox
