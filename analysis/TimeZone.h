// A camera's time zone: a fixed offset from UTC ("+02:00") or a zone of the system's time-zone
// database ("Europe/Lisbon") with its summer time, read from its TZif file. No process-wide TZ is
// touched, so that the worker threads may convert times at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace swelox {

class TimeZone {
 public:
  // "+HH:MM" or "-HH:MM" (at most 23:59), or a zone name: letters, digits, '_', '-', '+' and
  // '/' between the parts, as the database names them. A name is looked up in $TZDIR, else in
  // /usr/share/zoneinfo. Raises a settings Error naming the text for any other text and for a
  // name the database lacks or whose file is not a time-zone file.
  static TimeZone Parse(std::string_view text);

  // The offset from UTC, in seconds east, in force at `utcSeconds` (seconds since 1970, UTC).
  int64_t OffsetAt(int64_t utcSeconds) const;

  // The moment (seconds since 1970, UTC) at which a clock in this zone shows `localSeconds` (the
  // clock's reading counted as if it were UTC). A reading shown twice, in the hour repeated when
  // summer time ends, is taken as the first of the two (still in summer time); a reading never
  // shown, in the hour skipped when summer time begins, is read with the offset in force before
  // the change, as a clock not yet put forward would show it.
  int64_t FromLocal(int64_t localSeconds) const;

  const std::string& text() const { return text_; }

 private:
  std::string text_;
  int64_t fixed_ = 0;                 // a fixed offset, when there are no transitions
  std::vector<int64_t> transitions_;  // the moments the offset changes, in order
  std::vector<int64_t> offsets_;      // the offset from each transition on
  int64_t firstOffset_ = 0;           // the offset before the first transition
  // From the file's footer: standard offset, summer offset, and the rule's change days; used
  // after the last transition. hasRule_ false: the last offset stays.
  bool hasRule_ = false;
  int64_t standard_ = 0, summer_ = 0;
  struct Change {
    int month = 0, week = 0, weekday = 0;  // Mm.w.d
    int64_t time = 7200;                   // seconds after local midnight, local time
  } start_, end_;

  void ReadFile(const std::string& path);
  bool ReadFooter(std::string_view footer);
  int64_t RuleOffsetAt(int64_t utcSeconds) const;
};

}  // namespace swelox
