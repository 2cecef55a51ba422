// The TZif format (RFC 8536) read directly: version 1 with 32-bit moments, version 2 and later
// with 64-bit moments and a footer holding the POSIX TZ rule for the years after the last
// transition.
#include "analysis/TimeZone.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>

#include "core/Errors.h"

namespace swelox {
namespace {

constexpr int64_t kDay = 86400;

[[noreturn]] void Refuse(std::string_view text, const std::string& why) {
  throw Error("the time zone '" + std::string(text) + "' " + why, ErrorScope::Settings);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsNameByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || IsDigit(c) || c == '_' || c == '-' ||
         c == '+';
}

// Database names only: no absolute path, no "." or ".." part, nothing that leaves the folder.
bool IsZoneName(std::string_view text) {
  if (text.empty() || text.size() > 255) return false;
  size_t start = 0;
  for (;;) {
    const size_t slash = text.find('/', start);
    const std::string_view part = text.substr(start, slash - start);
    if (part.empty() || part.front() == '-' || !std::all_of(part.begin(), part.end(), IsNameByte)) {
      return false;
    }
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

// Reads big-endian numbers from a byte buffer, failing rather than reading past its end.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool Has(size_t count) const { return bytes_.size() - at_ >= count; }
  void Skip(size_t count) { at_ += count; }
  size_t at() const { return at_; }
  int64_t Signed(size_t width) {
    uint64_t value = 0;
    for (size_t k = 0; k < width; ++k) value = value << 8 | static_cast<uint8_t>(bytes_[at_ + k]);
    at_ += width;
    if (width < 8 && (value >> (width * 8 - 1)) != 0) value |= ~uint64_t{0} << (width * 8);
    return static_cast<int64_t>(value);
  }
  std::string_view Rest() const { return bytes_.substr(at_); }

 private:
  std::string_view bytes_;
  size_t at_ = 0;
};

// A POSIX offset or change time, "[+-]hh[:mm[:ss]]", in seconds; nullopt when malformed.
std::optional<int64_t> PosixSeconds(std::string_view& t) {
  int sign = 1;
  if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
    sign = t.front() == '-' ? -1 : 1;
    t.remove_prefix(1);
  }
  int64_t total = 0;
  for (int part = 0; part < 3; ++part) {
    if (part > 0) {
      if (t.empty() || t.front() != ':') break;
      t.remove_prefix(1);
    }
    if (t.empty() || !IsDigit(t.front())) return std::nullopt;
    int64_t value = 0;
    for (int digits = 0; !t.empty() && IsDigit(t.front()) && digits < 3; ++digits) {
      value = value * 10 + (t.front() - '0');
      t.remove_prefix(1);
    }
    total += value * (part == 0 ? 3600 : part == 1 ? 60 : 1);
  }
  return sign * total;
}

// A zone abbreviation: letters, or anything but '>' between '<' and '>'.
bool SkipAbbreviation(std::string_view& t) {
  if (!t.empty() && t.front() == '<') {
    const size_t close = t.find('>');
    if (close == std::string_view::npos) return false;
    t.remove_prefix(close + 1);
    return true;
  }
  size_t n = 0;
  while (n < t.size() && ((t[n] >= 'A' && t[n] <= 'Z') || (t[n] >= 'a' && t[n] <= 'z'))) ++n;
  t.remove_prefix(n);
  return n >= 3;
}

int64_t DaysFromCivil(int year, int month, int day) {
  using namespace std::chrono;
  return sys_days{std::chrono::year{year} / month / day}.time_since_epoch().count();
}

}  // namespace

TimeZone TimeZone::Parse(std::string_view text) {
  TimeZone zone;
  zone.text_ = std::string(text);
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    const bool shaped = text.size() == 6 && IsDigit(text[1]) && IsDigit(text[2]) &&
                        text[3] == ':' && IsDigit(text[4]) && IsDigit(text[5]);
    const int hours = shaped ? (text[1] - '0') * 10 + (text[2] - '0') : 99;
    const int minutes = shaped ? (text[4] - '0') * 10 + (text[5] - '0') : 99;
    if (hours > 23 || minutes > 59) Refuse(text, "is no offset +HH:MM or -HH:MM");
    zone.fixed_ = (text.front() == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
    return zone;
  }
  if (!IsZoneName(text)) Refuse(text, "is no offset (+HH:MM) and no zone name (Europe/Lisbon)");
  const char* folder = std::getenv("TZDIR");
  const std::string path =
      std::string(folder != nullptr && *folder != '\0' ? folder : "/usr/share/zoneinfo") + "/" +
      std::string(text);
  zone.ReadFile(path);
  return zone;
}

void TimeZone::ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes;
  if (in) {
    // A zone's file is a few kilobytes; nothing larger is one.
    bytes.resize(1 << 20);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
  }
  if (!in.eof() && !bytes.empty()) bytes.clear();
  if (bytes.empty()) Refuse(text_, "is not in the time-zone database");

  Reader r(bytes);
  const auto header = [&](int64_t counts[6]) {
    if (!r.Has(44) || bytes.compare(r.at(), 4, "TZif") != 0) return false;
    r.Skip(20);
    for (int k = 0; k < 6; ++k) counts[k] = r.Signed(4);
    return std::all_of(counts, counts + 6, [](int64_t c) { return c >= 0 && c < (1 << 20); });
  };
  const auto notAZone = [&] { Refuse(text_, "has no valid time-zone file"); };
  int64_t counts[6];
  if (!header(counts)) notAZone();
  const char version = bytes[4];
  size_t width = 4;
  if (version >= '2') {
    // Skip the 32-bit block: the 64-bit one follows with a header of its own.
    const int64_t v1 =
        counts[3] * 5 + counts[4] * 6 + counts[5] + counts[2] * 8 + counts[1] + counts[0];
    if (!r.Has(static_cast<size_t>(v1))) notAZone();
    r.Skip(static_cast<size_t>(v1));
    if (!header(counts)) notAZone();
    width = 8;
  }
  const int64_t isut = counts[0], isstd = counts[1], leaps = counts[2], times = counts[3],
                types = counts[4], chars = counts[5];
  const int64_t block = times * static_cast<int64_t>(width + 1) + types * 6 + chars +
                        leaps * static_cast<int64_t>(width + 4) + isstd + isut;
  if (types < 1 || !r.Has(static_cast<size_t>(block))) notAZone();
  std::vector<int64_t> moments(static_cast<size_t>(times));
  for (int64_t& m : moments) m = r.Signed(width);
  std::vector<size_t> indices(static_cast<size_t>(times));
  for (size_t& i : indices) i = static_cast<size_t>(r.Signed(1) & 0xFF);
  std::vector<int64_t> typeOffsets(static_cast<size_t>(types));
  for (int64_t& o : typeOffsets) {
    o = r.Signed(4);
    r.Skip(2);
  }
  r.Skip(static_cast<size_t>(chars + leaps * static_cast<int64_t>(width + 4) + isstd + isut));
  for (size_t k = 0; k < moments.size(); ++k) {
    if (indices[k] >= typeOffsets.size() || (k > 0 && moments[k] <= moments[k - 1])) notAZone();
    transitions_.push_back(moments[k]);
    offsets_.push_back(typeOffsets[indices[k]]);
  }
  firstOffset_ = typeOffsets.front();
  fixed_ = offsets_.empty() ? firstOffset_ : offsets_.back();
  if (width == 8) {
    std::string_view footer = r.Rest();
    if (footer.size() >= 2 && footer.front() == '\n') {
      footer.remove_prefix(1);
      footer = footer.substr(0, footer.find('\n'));
      if (!ReadFooter(footer)) hasRule_ = false;
    }
  }
}

bool TimeZone::ReadFooter(std::string_view t) {
  if (!SkipAbbreviation(t)) return false;
  const std::optional<int64_t> standardWest = PosixSeconds(t);
  if (!standardWest) return false;
  standard_ = -*standardWest;
  if (t.empty()) {
    fixed_ = standard_;
    return true;
  }
  if (!SkipAbbreviation(t)) return false;
  summer_ = standard_ + 3600;
  if (!t.empty() && t.front() != ',') {
    const std::optional<int64_t> summerWest = PosixSeconds(t);
    if (!summerWest) return false;
    summer_ = -*summerWest;
  }
  // Only the Mm.w.d form of the change days, which every zone of the database now uses.
  const auto change = [&](Change& c) {
    if (t.size() < 2 || t[0] != ',' || t[1] != 'M') return false;
    t.remove_prefix(2);
    int fields[3] = {0, 0, 0};
    for (int k = 0; k < 3; ++k) {
      if (k > 0) {
        if (t.empty() || t.front() != '.') return false;
        t.remove_prefix(1);
      }
      if (t.empty() || !IsDigit(t.front())) return false;
      while (!t.empty() && IsDigit(t.front()) && fields[k] < 100) {
        fields[k] = fields[k] * 10 + (t.front() - '0');
        t.remove_prefix(1);
      }
    }
    c = {fields[0], fields[1], fields[2], 7200};
    if (c.month < 1 || c.month > 12 || c.week < 1 || c.week > 5 || c.weekday > 6) return false;
    if (!t.empty() && t.front() == '/') {
      t.remove_prefix(1);
      const std::optional<int64_t> time = PosixSeconds(t);
      if (!time) return false;
      c.time = *time;
    }
    return true;
  };
  if (!change(start_) || !change(end_) || !t.empty()) return false;
  hasRule_ = true;
  return true;
}

int64_t TimeZone::RuleOffsetAt(int64_t utcSeconds) const {
  using namespace std::chrono;
  // The day a change falls on: weekday d of week w (5: the last) of the month, as seconds.
  const auto changeDay = [](int yearNumber, const Change& c) {
    const int64_t first = DaysFromCivil(yearNumber, c.month, 1);
    const int firstWeekday = static_cast<int>(weekday{sys_days{days{first}}}.c_encoding());
    int64_t day = 1 + (c.weekday - firstWeekday + 7) % 7 + 7 * (c.week - 1);
    const auto last = year_month_day_last{
        std::chrono::year{yearNumber} / month{static_cast<unsigned>(c.month)} / std::chrono::last};
    while (day > static_cast<int64_t>(static_cast<unsigned>(last.day()))) day -= 7;
    return (first + day - 1) * kDay;
  };
  const int64_t localDays = (utcSeconds + standard_) / kDay - ((utcSeconds + standard_) % kDay < 0);
  const int yearNumber = static_cast<int>(year_month_day{sys_days{days{localDays}}}.year());
  const int64_t start = changeDay(yearNumber, start_) + start_.time - standard_;
  const int64_t end = changeDay(yearNumber, end_) + end_.time - summer_;
  const bool summer = start < end ? utcSeconds >= start && utcSeconds < end
                                  : utcSeconds < end || utcSeconds >= start;
  return summer ? summer_ : standard_;
}

int64_t TimeZone::OffsetAt(int64_t utcSeconds) const {
  if (transitions_.empty()) return hasRule_ ? RuleOffsetAt(utcSeconds) : fixed_;
  if (utcSeconds < transitions_.front()) return firstOffset_;
  if (utcSeconds >= transitions_.back() && hasRule_) return RuleOffsetAt(utcSeconds);
  const auto after = std::upper_bound(transitions_.begin(), transitions_.end(), utcSeconds);
  return offsets_[static_cast<size_t>(std::distance(transitions_.begin(), after) - 1)];
}

int64_t TimeZone::FromLocal(int64_t localSeconds) const {
  // Offsets change at most once within two days: the offsets a day either side are the only
  // ones a reading can be shown with.
  const int64_t before = OffsetAt(localSeconds - kDay);
  const int64_t after = OffsetAt(localSeconds + kDay);
  const bool beforeShows = OffsetAt(localSeconds - before) == before;
  const bool afterShows = OffsetAt(localSeconds - after) == after;
  if (beforeShows && afterShows) return std::min(localSeconds - before, localSeconds - after);
  if (afterShows && !beforeShows) return localSeconds - after;
  return localSeconds - before;
}

}  // namespace swelox
