#include "analysis/CameraClock.h"

#include <chrono>
#include <cstdio>

#include "core/Errors.h"

namespace swelox {
namespace {

constexpr int64_t kDay = 86400;
// Seconds from 0001-01-01 to 1970-01-01, and a day more: every sort key is then positive.
constexpr int64_t kKeyBase = 62135596800 + kDay;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number written by `count` digits at the front of `t`, which they leave; -1 when they are
// not all digits.
int64_t TakeNumber(std::string_view& t, size_t count) {
  if (t.size() < count) return -1;
  int64_t value = 0;
  for (size_t k = 0; k < count; ++k) {
    if (!IsDigit(t[k])) return -1;
    value = value * 10 + (t[k] - '0');
  }
  t.remove_prefix(count);
  return value;
}

bool Take(std::string_view& t, char c) {
  if (t.empty() || t.front() != c) return false;
  t.remove_prefix(1);
  return true;
}

int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  using namespace std::chrono;
  return sys_days{std::chrono::year{static_cast<int>(year)} / static_cast<int>(month) /
                  static_cast<int>(day)}
      .time_since_epoch()
      .count();
}

}  // namespace

std::optional<IsoTime> ParseIsoTime(std::string_view t) {
  const int64_t year = TakeNumber(t, 4);
  if (year < 0 || !Take(t, '-')) return std::nullopt;
  const int64_t month = TakeNumber(t, 2);
  if (month < 0 || !Take(t, '-')) return std::nullopt;
  const int64_t day = TakeNumber(t, 2);
  if (day < 0 || !(Take(t, 'T') || Take(t, ' '))) return std::nullopt;
  const int64_t hour = TakeNumber(t, 2);
  if (hour < 0 || !Take(t, ':')) return std::nullopt;
  const int64_t minute = TakeNumber(t, 2);
  if (minute < 0) return std::nullopt;
  int64_t second = 0;
  IsoTime time;
  if (Take(t, ':')) {
    second = TakeNumber(t, 2);
    if (second < 0) return std::nullopt;
    if (Take(t, '.') || Take(t, ',')) {
      size_t n = 0;
      while (n < t.size() && IsDigit(t[n])) ++n;
      if (n == 0) return std::nullopt;
      time.fraction = std::string(t.substr(0, n));
      t.remove_prefix(n);
    }
  }
  if (year < 1 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  using namespace std::chrono;
  const year_month_day date{std::chrono::year{static_cast<int>(year)} / static_cast<int>(month) /
                            static_cast<int>(day)};
  if (!date.ok()) return std::nullopt;
  time.seconds = DaysFromCivil(year, month, day) * kDay + hour * 3600 + minute * 60 + second;

  if (Take(t, 'Z')) {
    time.offset = 0;
  } else if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
    const int64_t sign = t.front() == '-' ? -1 : 1;
    t.remove_prefix(1);
    const int64_t hours = TakeNumber(t, 2);
    int64_t minutes = 0;
    if (Take(t, ':') || (!t.empty() && IsDigit(t.front()))) minutes = TakeNumber(t, 2);
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59) return std::nullopt;
    time.offset = sign * (hours * 3600 + minutes * 60);
  }
  if (!t.empty()) return std::nullopt;
  return time;
}

std::string FormatReading(int64_t seconds, std::string_view fraction) {
  using namespace std::chrono;
  const int64_t days = seconds / kDay - (seconds % kDay < 0 ? 1 : 0);
  const int64_t inDay = seconds - days * kDay;
  const year_month_day date{sys_days{std::chrono::days{days}}};
  const int year = static_cast<int>(date.year());
  if (year < 1 || year > 9999) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", year,
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60),
                static_cast<int>(inDay % 60));
  std::string result = text;
  if (!fraction.empty()) result += "." + std::string(fraction);
  return result;
}

std::string FormatOffset(int64_t seconds) {
  const char sign = seconds < 0 ? '-' : '+';
  const int64_t size = seconds < 0 ? -seconds : seconds;
  char text[16];
  if (size % 60 != 0) {
    std::snprintf(text, sizeof text, "%c%02d:%02d:%02d", sign, static_cast<int>(size / 3600),
                  static_cast<int>(size / 60 % 60), static_cast<int>(size % 60));
  } else {
    std::snprintf(text, sizeof text, "%c%02d:%02d", sign, static_cast<int>(size / 3600),
                  static_cast<int>(size / 60 % 60));
  }
  return text;
}

int64_t ParseClockShift(std::string_view text) {
  std::string_view t = text;
  int64_t sign = 1;
  if (Take(t, '-')) {
    sign = -1;
  } else {
    Take(t, '+');
  }
  size_t hourDigits = 0;
  while (hourDigits < t.size() && IsDigit(t[hourDigits])) ++hourDigits;
  const int64_t hours = hourDigits >= 1 && hourDigits <= 6 ? TakeNumber(t, hourDigits) : -1;
  const int64_t minutes = hours >= 0 && Take(t, ':') ? TakeNumber(t, 2) : -1;
  const int64_t seconds = minutes >= 0 && Take(t, ':') ? TakeNumber(t, 2) : -1;
  if (seconds < 0 || minutes > 59 || seconds > 59 || !t.empty()) {
    throw Error("the clock shift '" + std::string(text) + "' is not [-]HH:MM:SS",
                ErrorScope::Settings);
  }
  return sign * (hours * 3600 + minutes * 60 + seconds);
}

CameraClock::CameraClock(const TimeSettings& settings)
    : active_(settings != TimeSettings{}), utc_(settings.utc) {
  if (!settings.shift.empty()) shift_ = ParseClockShift(settings.shift);
  if (!settings.zone.empty()) zone_ = TimeZone::Parse(settings.zone);
}

std::optional<CameraClock::Corrected> CameraClock::Correct(const CaptureTime& recorded) const {
  if (!active_) return Corrected{recorded.text, recorded.sortKey};
  std::optional<IsoTime> time = ParseIsoTime(recorded.text);
  if (!time) return std::nullopt;
  time->seconds += shift_;
  if (FormatReading(time->seconds, "").empty()) return std::nullopt;
  // The photo's own offset stands; the camera's zone is asked for the corrected reading.
  if (!time->offset && zone_) time->offset = time->seconds - zone_->FromLocal(time->seconds);

  Corrected corrected;
  if (!utc_) {
    corrected.text = FormatReading(time->seconds, time->fraction);
    if (time->offset) corrected.text += FormatOffset(*time->offset);
  } else if (time->offset) {
    corrected.text = FormatReading(time->Utc(), time->fraction);
    if (!corrected.text.empty()) corrected.text += "Z";
  }
  std::string fraction = time->fraction;
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  char key[24];
  std::snprintf(key, sizeof key, "%012lld", static_cast<long long>(time->Utc() + kKeyBase));
  corrected.sortKey = key + fraction;
  return corrected;
}

}  // namespace swelox
