#include "analysis/OutputTable.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "analysis/RunPlan.h"
#include "core/IntegerText.h"
#include "core/PrintableText.h"
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
