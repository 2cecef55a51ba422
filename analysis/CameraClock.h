// Capture times corrected: a camera clock known to be off is shifted, a photo without an offset
// from UTC is given its camera's zone, and the time is written in UTC when asked. The same
// reading of ISO 8601 times serves the join of rows to sightings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/Settings.h"
#include "analysis/TimeZone.h"
#include "imaging/CaptureTime.h"

namespace swelox {

// A time as ISO 8601 text writes it.
struct IsoTime {
  int64_t seconds = 0;   // the clock's reading, counted in seconds from 1970-01-01T00:00:00
  std::string fraction;  // the digits after the seconds' ".", as written
  std::optional<int64_t> offset;  // seconds east of UTC where written ("Z": 0)
  // The moment in seconds since 1970 UTC; the reading itself when no offset is known.
  int64_t Utc() const { return seconds - offset.value_or(0); }
};

// "YYYY-MM-DDTHH:MM[:SS[.fraction]]" (or a space for the "T"), then nothing, "Z", "+HH:MM",
// "+HHMM" or "+HH" (or "-"); a date that does not exist, a field out of range or anything else
// gives nothing.
std::optional<IsoTime> ParseIsoTime(std::string_view text);

// "2026-07-14T09:31:07" and ".fraction" when there is one; empty for a year outside 1 .. 9999.
std::string FormatReading(int64_t seconds, std::string_view fraction);
// "+01:00", "-05:30", "+00:00"; with ":SS" for an offset of odd seconds (the zones' oldest).
std::string FormatOffset(int64_t seconds);

// "[+-]HH:MM:SS" (one to six digits of hours) as seconds; raises a settings Error naming the
// text otherwise.
int64_t ParseClockShift(std::string_view text);

class CameraClock {
 public:
  // The times as recorded.
  CameraClock() = default;
  // Raises a settings Error for a shift or a zone it cannot read (the zone's file is read here).
  explicit CameraClock(const TimeSettings& settings);

  // Any setting given: otherwise times and their order stay as the camera recorded them.
  bool active() const { return active_; }

  struct Corrected {
    // For the Time column: the corrected reading with its offset (the photo's own, else the
    // camera zone's), or in UTC with "Z"; empty when UTC is asked for and no offset is known.
    std::string text;
    // Compared as text, earlier is less: the moment in UTC where the offset is known, the
    // reading as though it were UTC where it is not; without settings, the recorded clock.
    std::string sortKey;
  };
  // Nothing when the shifted time leaves the years 1 .. 9999.
  std::optional<Corrected> Correct(const CaptureTime& recorded) const;

 private:
  bool active_ = false;
  int64_t shift_ = 0;
  std::optional<TimeZone> zone_;
  bool utc_ = false;
};

}  // namespace swelox
