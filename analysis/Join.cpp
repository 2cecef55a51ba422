#include "analysis/Join.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>

#include "analysis/CameraClock.h"
#include "analysis/TableFormat.h"
#include "analysis/TimeZone.h"
#include "core/Errors.h"
#include "core/IntegerText.h"

namespace swelox {
namespace {

[[noreturn]] void Refuse(const std::string& message) { throw Error(message, ErrorScope::Settings); }

struct Record {
  std::string text;  // without its end
  std::string end;   // "\n", "\r\n" or "" for a last record without one
};

// The records of a file; a CSV record's quoted fields may hold line ends.
std::vector<Record> ReadRecords(const std::string& path, TableFormat format) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Refuse("cannot open " + path);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Record> records;
  bool quoted = false;
  size_t start = 0;
  for (size_t k = 0; k < bytes.size(); ++k) {
    if (format == TableFormat::Csv && bytes[k] == '"') quoted = !quoted;
    if (bytes[k] != '\n' || quoted) continue;
    const bool cr = k > start && bytes[k - 1] == '\r';
    records.push_back({bytes.substr(start, k - start - (cr ? 1 : 0)), cr ? "\r\n" : "\n"});
    start = k + 1;
  }
  if (start < bytes.size()) records.push_back({bytes.substr(start), ""});
  return records;
}

size_t ColumnIndex(const std::vector<std::string>& header, const std::string& name,
                   const std::string& path) {
  const auto at = std::find(header.begin(), header.end(), name);
  if (at == header.end()) Refuse(path + " has no column '" + name + "'");
  return static_cast<size_t>(at - header.begin());
}

// Nanoseconds since 1970 UTC.
__extension__ typedef __int128 Moment;

struct Photo {
  Moment when;
  std::string pic, time, quality;
  int64_t meanDiff, rms;
};

// Reads times, noting whether they had offsets; those without are read in the zone when given.
class TimeReader {
 public:
  explicit TimeReader(const std::string& zone) {
    if (!zone.empty()) zone_ = TimeZone::Parse(zone);
  }
  std::optional<Moment> Read(const std::string& text) {
    const std::optional<IsoTime> time = ParseIsoTime(text);
    if (!time) return std::nullopt;
    int64_t utc = time->Utc();
    if (time->offset) {
      withOffset_ = true;
    } else if (zone_) {
      utc = zone_->FromLocal(time->seconds);
    } else {
      withoutOffset_ = true;
    }
    std::string digits = time->fraction.substr(0, 9);
    digits.resize(9, '0');
    return Moment{utc} * 1000000000 + std::stoll(digits);
  }
  // Times with and without offsets cannot be compared without a zone for the latter.
  void CheckMixed() const {
    if (withOffset_ && withoutOffset_) {
      Refuse(
          "some times have an offset from UTC and some have none: give --camera-zone for "
          "those without");
    }
  }

 private:
  std::optional<TimeZone> zone_;
  bool withOffset_ = false, withoutOffset_ = false;
};

// Seconds, with the fraction's digits as needed: "-12", "0.5".
std::string SecondsText(Moment nanoseconds) {
  const bool negative = nanoseconds < 0;
  const Moment size = negative ? -nanoseconds : nanoseconds;
  std::string text = (negative ? "-" : "") + FormatInteger(static_cast<int64_t>(size / 1000000000));
  std::string fraction = std::to_string(static_cast<int64_t>(size % 1000000000));
  fraction.insert(0, 9 - fraction.size(), '0');
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  return fraction.empty() ? text : text + "." + fraction;
}

// sum / count to two decimals, halves to even, exactly.
std::string MeanText(int64_t sum, int64_t count) {
  const int64_t scaled = sum * 100;
  int64_t q = scaled / count;
  const int64_t r = scaled % count;
  if (2 * r > count || (2 * r == count && q % 2 != 0)) ++q;
  const int64_t value = q;
  std::string cents = std::to_string(value % 100);
  cents.insert(0, 2 - cents.size(), '0');
  return FormatInteger(value / 100) + "." + cents;
}

}  // namespace

std::string JoinTables(const JoinSettings& settings, const std::vector<std::string>& tables,
                       std::vector<std::string>& problems) {
  const bool segments = settings.timeColumn.empty();
  TimeReader reader(settings.zone);

  // The photos of the chosen size that were measured, from every table, in time order.
  std::vector<Photo> photos;
  std::set<std::pair<std::string, std::string>> sizes;
  std::vector<std::vector<std::string>> rows;
  for (const std::string& table : tables) {
    const TableFormat format = FormatForName(table);
    const std::vector<Record> records = ReadRecords(table, format);
    if (records.empty()) Refuse(table + " is empty");
    const std::vector<std::string> header = SplitRecord(records.front().text, format).fields;
    const size_t time = ColumnIndex(header, "Time", table);
    const size_t bwide = ColumnIndex(header, "Bwide", table),
                 bhigh = ColumnIndex(header, "Bhigh", table);
    const size_t mean = ColumnIndex(header, "meanDiff", table),
                 rms = ColumnIndex(header, "RMS", table);
    const size_t pic = ColumnIndex(header, "Pic", table),
                 ndiffs = ColumnIndex(header, "nDiffs", table);
    const auto quality = std::find(header.begin(), header.end(), "Quality");
    for (size_t k = 1; k < records.size(); ++k) {
      const std::vector<std::string> f = SplitRecord(records[k].text, format).fields;
      if (f.size() != header.size() || f[ndiffs] == "0") continue;  // nDiffs 0: no measurement
      sizes.insert({f[bwide], f[bhigh]});
      if (!settings.width.empty() && (f[bwide] != settings.width || f[bhigh] != settings.height)) {
        continue;
      }
      const std::optional<Moment> when = reader.Read(f[time]);
      if (!when) continue;
      photos.push_back(
          {*when, f[pic], f[time],
           quality == header.end() ? "" : f[static_cast<size_t>(quality - header.begin())],
           ParseInteger(f[mean]), ParseInteger(f[rms])});
    }
  }
  if (settings.width.empty() && sizes.size() > 1) {
    std::string listed;
    for (const auto& [w, h] : sizes) listed += (listed.empty() ? "" : ", ") + w + "x" + h;
    Refuse("the tables hold several rectangle sizes (" + listed + "): choose one with --size");
  }
  std::stable_sort(photos.begin(), photos.end(),
                   [](const Photo& a, const Photo& b) { return a.when < b.when; });

  const TableFormat format = FormatForName(settings.log);
  const std::vector<Record> log = ReadRecords(settings.log, format);
  if (log.empty()) Refuse(settings.log + " is empty");
  const std::vector<std::string> header = SplitRecord(log.front().text, format).fields;
  const std::vector<size_t> timeColumns =
      segments ? std::vector<size_t>{ColumnIndex(header, settings.startColumn, settings.log),
                                     ColumnIndex(header, settings.endColumn, settings.log)}
               : std::vector<size_t>{ColumnIndex(header, settings.timeColumn, settings.log)};
  std::vector<std::vector<std::optional<Moment>>> times(log.size());
  for (size_t k = 1; k < log.size(); ++k) {
    const std::vector<std::string> f = SplitRecord(log[k].text, format).fields;
    for (const size_t c : timeColumns) {
      times[k].push_back(c < f.size() ? reader.Read(f[c]) : std::nullopt);
      if (!times[k].back()) {
        problems.push_back(settings.log + ", record " + std::to_string(k + 1) + ": the time '" +
                           (c < f.size() ? f[c] : "") + "' is not ISO 8601");
      }
    }
  }
  reader.CheckMixed();

  const auto fields = [](const std::vector<std::string>& values) {
    std::string line;
    for (const std::string& v : values) line += "\t" + v;
    return line;
  };
  const auto record = [&](const Record& r, const std::vector<std::string>& values) {
    std::string added = TableRecord(fields(values), format);
    added.resize(added.size() - RecordEnd(format).size());
    return r.text + added + r.end;
  };

  std::string out = record(
      log.front(),
      segments
          ? std::vector<std::string>{"Photos", "meanDiffMean", "meanDiffMax", "RMSMean", "RMSMax"}
          : std::vector<std::string>{"Pic", "PhotoTime", "Gap", "meanDiff", "RMS", "Quality"});
  const Moment tolerance = Moment{settings.toleranceSeconds} * 1000000000;
  for (size_t k = 1; k < log.size(); ++k) {
    const auto& t = times[k];
    if (!std::all_of(t.begin(), t.end(), [](const auto& m) { return m.has_value(); })) {
      out += record(log[k], std::vector<std::string>(segments ? 5 : 6));
      continue;
    }
    if (segments) {
      // Inside: from the start on, up to but not including the end.
      const auto first = std::lower_bound(photos.begin(), photos.end(), *t[0],
                                          [](const Photo& p, Moment m) { return p.when < m; });
      int64_t count = 0, sumMean = 0, sumRms = 0, maxMean = 0, maxRms = 0;
      for (auto p = first; p != photos.end() && p->when < *t[1]; ++p) {
        ++count;
        sumMean += p->meanDiff;
        sumRms += p->rms;
        maxMean = count == 1 ? p->meanDiff : std::max(maxMean, p->meanDiff);
        maxRms = count == 1 ? p->rms : std::max(maxRms, p->rms);
      }
      out += count == 0 ? record(log[k], {"0", "", "", "", ""})
                        : record(log[k], {FormatInteger(count), MeanText(sumMean, count),
                                          FormatInteger(maxMean), MeanText(sumRms, count),
                                          FormatInteger(maxRms)});
      continue;
    }
    const Moment when = *t[0];
    // The first photo after the sighting, and the last at or before it.
    const auto after = std::upper_bound(photos.begin(), photos.end(), when,
                                        [](Moment m, const Photo& p) { return m < p.when; });
    const Photo* chosen = nullptr;
    if (after != photos.begin()) {
      chosen = &*std::prev(after);
    }
    if (!settings.before && after != photos.end() &&
        (chosen == nullptr || after->when - when < when - chosen->when)) {
      chosen = &*after;
    }
    const Moment gap = chosen == nullptr ? 0 : chosen->when - when;
    if (chosen == nullptr || (gap < 0 ? -gap : gap) > tolerance) {
      out += record(log[k], std::vector<std::string>(6));
      continue;
    }
    out += record(log[k],
                  {chosen->pic, chosen->time, SecondsText(gap), FormatInteger(chosen->meanDiff),
                   FormatInteger(chosen->rms), chosen->quality});
  }
  return out;
}

}  // namespace swelox
