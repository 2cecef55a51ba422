#include "analysis/OutputTable.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "analysis/CameraClock.h"
#include "analysis/Columns.h"
#include "analysis/RunPlan.h"
#include "core/IntegerText.h"
#include "core/PrintableText.h"
#include "imaging/FileReading.h"
#include "imaging/JpegDecoder.h"

namespace swelox {

OutputTable::OutputTable(const std::string& path, const BatchOptions& batch, const PartOfList& part,
                         const std::string& version, BatchListener& next, std::stop_source stop,
                         bool passRows)
    : path_(path), batch_(batch), next_(next), passRows_(passRows), stop_(std::move(stop)) {
  const std::string now = UtcTime(std::chrono::system_clock::now());
  const size_t slash = path.find_last_of('/');
  dataset_.tablePath = slash == std::string::npos ? path : path.substr(slash + 1);
  dataset_.format = FormatForName(path);
  dataset_.settings = batch.settings;
  dataset_.photoColumns = true;
  dataset_.program = "swelox " + version;
  dataset_.decoder = DecoderLibrary();
  dataset_.idct = DecoderIdct();
  dataset_.created = now;
  dataset_.started = now;
  dataset_.part = part;

  TableContents contents;
  struct stat status {};
  const bool exists = ::stat(path.c_str(), &status) == 0;
  if (exists) {
    contents = ReadTable(path);
    const std::string difference = DatasetDifference(contents.dataset, dataset_);
    if (!difference.empty() && contents.rows > 0) {
      throw Error(EscapeControlBytes(path, Backslash::AsItIs) +
                      " was made with other settings: " + difference,
                  ErrorScope::Settings);
    }
    // A table of no rows (a command that failed at once, a mistyped setting) loses nothing when
    // it starts afresh with the settings given now.
    if (!difference.empty()) contents = TableContents{};
    if (difference.empty()) dataset_.created = contents.dataset.created;
    if (contents.rows > 0) {
      heldDataset_ = contents.dataset;
      heldEnd_ = contents.end;
      heldRows_ = contents.rows;
    }
    held_ = std::move(contents.held);
  }

  try {
    runCount_ = RunCount(batch.settings);
  } catch (const Error&) {
    runCount_ = -1;  // the run reports it
  }
  // Each photo's key once, as a hash, to count how often the command names it; then only the
  // photos that lack rows keep their identity, and the rows the table holds of them (to be
  // skipped when their runs come again).
  std::vector<HeldRows::Hash> keys;
  keys.reserve(batch.files.size());
  for (const std::string& file : batch.files) {
    keys.push_back(HeldRows::HashKey(IdentityKey(IdentifyPhoto(file))));
    named_.Add(keys.back(), 0, false);
  }
  size_t index = 0;
  for (const std::string& file : batch.files) {
    const HeldRows::Hash key = keys[index++];
    if (Measured(key) || photos_.count(file) != 0) continue;
    Remember(IdentityKey(photos_[file] = IdentifyPhoto(file)));
  }

  dataset_.end.photos = static_cast<int64_t>(batch.files.size());
  // A table that exists is locked (and its cut record removed) before its descriptor is
  // replaced; a new one gets its descriptor first, so that no table is ever without one.
  const auto open = [&] {
    table_ =
        std::make_unique<GrowingTable>(path, dataset_.format, TableHeader(dataset_.settings, true),
                                       contents.end, contents.headerWhole);
  };
  if (exists) {
    open();
    WriteDescriptor();
  } else {
    WriteDescriptor();
    open();
  }
}

OutputTable::~OutputTable() = default;

void OutputTable::Remember(const std::string& key) {
  if (!remembered_.insert(key).second) return;
  for (int64_t run = 0; run < runCount_; ++run) {
    for (int64_t k = held_.Count(key, run); k > 0; --k) before_.Add(key, run, false);
  }
}

bool OutputTable::Measured(const HeldRows::Hash& key) const {
  if (runCount_ < 0) return false;
  const int64_t times = named_.Count(key, 0);
  for (int64_t run = 0; run < runCount_; ++run) {
    if (held_.Count(key, run) < times) return false;
  }
  return true;
}

BatchOptions OutputTable::Remaining() const {
  BatchOptions remaining = batch_;
  remaining.files.clear();
  for (const std::string& file : batch_.files) {
    const auto photo = photos_.find(file);
    if (photo != photos_.end() && !Measured(IdentityKey(photo->second))) {
      remaining.files.push_back(file);
    }
  }
  return remaining;
}

BatchOptions OutputTable::Arrived(const BatchOptions& arrived) {
  watching_ = true;
  BatchOptions remaining = arrived;
  remaining.files.clear();
  for (const std::string& file : arrived.files) {
    // A photo written again is another version of it, with a key of its own.
    PhotoIdentity& photo = photos_[file];
    photo = IdentifyPhoto(file);
    const std::string key = IdentityKey(photo);
    if (named_.Count(key, 0) == 0) named_.Add(key, 0, false);
    if (!Measured(key)) {
      Remember(key);
      remaining.files.push_back(file);
    }
  }
  dataset_.end.photos = static_cast<int64_t>(photos_.size());
  return remaining;
}

void OutputTable::Checkpoint() { WriteDescriptor(); }

namespace {

// The capture time of the photo at `path` as a decode of it would give the record: from its header,
// corrected by `clock`; empty when it records none or cannot be read.
std::string HeaderCaptureTime(const std::string& path, const CameraClock& clock) {
  try {
    PictureFile file(path);
    if (const std::optional<CaptureTime> recorded = ReadCaptureTime(file)) {
      if (std::optional<CameraClock::Corrected> time = clock.Correct(*recorded)) {
        return std::move(time->text);
      }
    }
  } catch (const Error&) {
  }
  return {};
}

}  // namespace

size_t OutputTable::ShowHeld() {
  if (!passRows_ || !heldDataset_) return 0;
  const Dataset& held = *heldDataset_;
  const std::vector<Column>& columns = batch_.settings.columns;
  const auto time = std::find(columns.begin(), columns.end(), Column::Time);
  const size_t timeField =
      time == columns.end() ? 0 : 8 + static_cast<size_t>(time - columns.begin());
  std::optional<CameraClock> clock;
  if (timeField == 0) {
    try {
      clock.emplace(batch_.settings.time);
    } catch (const Error&) {
    }
  }

  // Each photo (a version of it: its key) gets its place where its first row stands.
  struct Photo {
    size_t index = 0;
    std::string captureTime;
  };
  std::unordered_map<std::string, Photo> photos;
  PathList paths;
  std::vector<RowRecord> records;
  TableRows rows(path_, held);
  const size_t photoFields = std::size(kPhotoColumns);
  int64_t skip = heldRows_ - kMostHeldShown;
  for (TableRows::Row row; rows.Next(row) && rows.end() <= heldEnd_;) {
    if (batch_.stop.stop_requested()) return 0;
    if (skip-- > 0) continue;
    const std::vector<std::string>& fields = row.split.fields;
    const std::string* photo = &fields[fields.size() - photoFields];
    const std::string key = IdentityKey({photo[1], photo[2], photo[3]});
    if (remembered_.count(key) != 0) continue;  // measured again, all its rows shown then
    RowRecord record;
    record.held = true;
    record.path = UnescapeControlBytes(photo[1]);
    if (record.path.find('\0') != std::string::npos) record.path = photo[1];  // no path
    record.run = row.run;
    const auto [place, added] = photos.try_emplace(key);
    if (added) {
      place->second.index = paths.size();
      paths.push_back(record.path);
      if (timeField != 0) {
        place->second.captureTime = fields[timeField];
      } else if (clock && IdentityKey(IdentifyPhoto(record.path)) == key) {
        place->second.captureTime = HeaderCaptureTime(record.path, *clock);
      }
    }
    record.index = place->second.index;
    const size_t shown = fields.size() - photoFields;
    for (size_t k = 0; k < shown; ++k) {
      if (k > 0) record.text += '\t';
      record.text += fields[k];
    }
    RowValues& values = record.values;
    try {
      values.width = ParseInteger(fields[0]);
      values.height = ParseInteger(fields[1]);
      values.rectangleWidth = ParseInteger(fields[2]);
      values.rectangleHeight = ParseInteger(fields[3]);
      values.figures.meanDiff = ParseInteger(fields[4]);
      values.figures.rms = ParseInteger(fields[5]);
      values.figures.nDiffs = ParseInteger(fields[6]);
    } catch (const Error&) {
      values = {};  // a row edited by hand: its text is shown, no figures drawn
    }
    values.captureTime = place->second.captureTime;
    values.quality = RowQuality(values.figures.nDiffs, photo[4] == "true");
    records.push_back(std::move(record));
  }
  if (records.empty()) return 0;
  next_.FilesOrdered(paths);
  next_.Line(HeaderLine(columns));
  for (const RowRecord& record : records) next_.Record(record);
  return paths.size();
}

void OutputTable::FilesOrdered(const PathList& files) {
  if (passRows_) next_.FilesOrdered(files);
}

// The header line: the table has its own, with the photo columns.
void OutputTable::Line(const std::string& line) {
  if (passRows_) next_.Line(line);
}

void OutputTable::Record(const RowRecord& record) {
  Row(record.path, record.run, record.text);
  if (passRows_) next_.Record(record);
}

void OutputTable::SizesGrown(const RectangleTexts& sizes) {
  if (passRows_) next_.SizesGrown(sizes);
}

void OutputTable::Row(const std::string& path, int64_t run, const std::string& row) {
  const PhotoIdentity& photo = photos_.at(path);
  const std::string key = IdentityKey(photo);
  // A row that a run before this one wrote already: a photo started again after a stop.
  if (before_.Take(key, run)) return;
  const bool damaged = warned_.count(path) != 0;
  const std::string line = row + "\t" + FormatInteger(run + 1) + "\t" + photo.source + "\t" +
                           photo.bytes + "\t" + photo.modified + "\t" +
                           (damaged ? "true" : "false");
  if (!table_->Append(line)) {
    stop_.request_stop();
    return;
  }
  held_.Add(key, run, damaged);
  failed_.erase(key);
}

void OutputTable::Progress(const std::string& caption) { next_.Progress(caption); }

void OutputTable::FileFailed(const std::string& path, const Error& error) {
  next_.FileFailed(path, error);
  failed_.insert(IdentityKey(photos_.at(path)));
}

void OutputTable::FileWarned(const std::string& path, const std::string& warning) {
  next_.FileWarned(path, warning);
  warned_.insert(path);
}

void OutputTable::Waiting() { next_.Waiting(); }

int OutputTable::writeError() const { return table_->error(); }

void OutputTable::Finish(const BatchResult& result) {
  table_->Sync();
  RunEnd& end = dataset_.end;
  end.photosMeasured = 0;
  if (watching_) {
    for (const auto& [file, photo] : photos_) {
      if (Measured(IdentityKey(photo))) ++end.photosMeasured;
    }
  } else {
    for (const std::string& file : batch_.files) {
      // A photo without an identity was measured when the command started.
      const auto photo = photos_.find(file);
      if (photo == photos_.end() || Measured(IdentityKey(photo->second))) ++end.photosMeasured;
    }
  }
  end.photosFailed = static_cast<int64_t>(failed_.size());
  if (writeError() != 0) {
    end.status = RunEnd::Status::Failed;
    end.error = std::string("cannot write the results: ") + std::strerror(writeError());
  } else {
    SetOutcome(end, result);
  }
  dataset_.ended = UtcTime(std::chrono::system_clock::now());
  WriteDescriptor();
}

void OutputTable::WriteDescriptor() {
  dataset_.end.rows = held_.rows();
  dataset_.end.photosDamaged = held_.damagedPhotos();
  ReplaceFile(DescriptorPathFor(path_), DescriptorText(dataset_));
}

}  // namespace swelox
