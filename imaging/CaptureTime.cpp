// Reading the capture time: libexif parses the EXIF structure (either byte order, with its
// checks against offsets that point outside the data or back into it); the values are checked
// here, since cameras and editors write blanks, zeros and nonsense into them.
#include "imaging/CaptureTime.h"

#include <libexif/exif-data.h>

#include <memory>
#include <new>

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

struct ExifDataFree {
  void operator()(ExifData* data) const { exif_data_unref(data); }
};

// The raw text of a tag of the EXIF sub-IFD, empty when it is missing or not text.
std::string_view TagText(ExifData* data, ExifTag tag) {
  ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_EXIF], tag);
  if (entry == nullptr || entry->data == nullptr ||
      (entry->format != EXIF_FORMAT_ASCII && entry->format != EXIF_FORMAT_UNDEFINED)) {
    return {};
  }
  return {reinterpret_cast<const char*>(entry->data), entry->size};
}

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

std::optional<CaptureTime> CaptureTimeFromExif(std::span<const uint8_t> segment) {
  // An APP1 segment holds at most 65533 bytes, but the caller's buffer need not be one.
  if (segment.empty() || segment.size() > 0xFFFFFF) return std::nullopt;
  const std::unique_ptr<ExifData, ExifDataFree> data(exif_data_new());
  if (!data) throw std::bad_alloc();
  // By default libexif "repairs" what it loads to what the standard demands (it adds missing
  // mandatory tags with made-up values and changes entries it finds wrong) and drops tags it does
  // not know in an IFD: the time must be what the camera wrote, or nothing.
  exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_unset_option(data.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
  exif_data_load_data(data.get(), segment.data(), static_cast<unsigned int>(segment.size()));

  const struct {
    ExifTag dateTime, subSeconds, offset;
  } kTrios[] = {
      {EXIF_TAG_DATE_TIME_ORIGINAL, EXIF_TAG_SUB_SEC_TIME_ORIGINAL, EXIF_TAG_OFFSET_TIME_ORIGINAL},
      {EXIF_TAG_DATE_TIME_DIGITIZED, EXIF_TAG_SUB_SEC_TIME_DIGITIZED,
       EXIF_TAG_OFFSET_TIME_DIGITIZED},
  };
  for (const auto& trio : kTrios) {
    if (auto time = CaptureTimeFromFields(TagText(data.get(), trio.dateTime),
                                          TagText(data.get(), trio.subSeconds),
                                          TagText(data.get(), trio.offset))) {
      return time;
    }
  }
  return std::nullopt;
}

}  // namespace swelox
