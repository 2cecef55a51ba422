#include "app/RunResults.h"

#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "analysis/RunPlan.h"
#include "analysis/TableFormat.h"
#include "app/RunController.h"
#include "imaging/JpegDecoder.h"

namespace swelox::ui {
namespace {

// Replaces the file at `path` whole, or leaves it as it was and raises the error.
void ReplaceWhole(const QString& path, const QByteArray& bytes) {
  QSaveFile file(path);
  // QSaveFile commits a file whose last buffered write failed in the commit's own flush (a full
  // disk): every write, the flush and the sync to disk are checked first, and any failure cancels
  // the save, which leaves the old file as it was.
  QString reason;
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()) {
    reason = file.errorString();
  } else if (::fsync(file.handle()) != 0) {
    reason = QString::fromLocal8Bit(std::strerror(errno));
  } else if (file.commit()) {
    return;
  } else {
    reason = file.errorString();
  }
  file.cancelWriting();
  throw Error("Cannot save the results to " + QFile::encodeName(path).toStdString() + ": " +
              reason.toStdString());
}

}  // namespace

BatchOptions RunOptions(const RunSettings& settings, const QStringList& photos, bool keepGoing) {
  BatchOptions options;
  options.settings = settings;
  options.keepGoing = keepGoing;
  for (const QString& photo : photos)
    options.files.push_back(QFile::encodeName(photo).toStdString());
  options.captureTimes = true;
  options.jobs = std::max(1, QThread::idealThreadCount());
  return options;
}

void RunResults::Begin(const BatchOptions& options, const QStringList& photos,
                       const SizeTexts& start) {
  firstPhoto_ = photos.isEmpty() ? QString() : photos.front();
  photos_ = photos;
  rows_.clear();
  dataset_ = Dataset{};
  dataset_->settings = options.settings;
  dataset_->program = "swelox " SWELOX_VERSION;
  dataset_->decoder = DecoderLibrary();
  dataset_->idct = DecoderIdct();
  dataset_->created = dataset_->started = UtcTime(std::chrono::system_clock::now());
  dataset_->end.photos = static_cast<int64_t>(options.files.size());
  startSizes_ = start;
  endSizes_.reset();
  measuredNow_ = heldPhotos_ = 0;
}

void RunResults::Add(const std::vector<PhotoResult>& rows) {
  rows_.insert(rows_.end(), rows.begin(), rows.end());
  unsaved_ = true;
}

void RunResults::AddWatchedPhotos(const std::vector<PhotoResult>& rows) {
  for (const PhotoResult& row : rows) {
    if (photos_.isEmpty() || photos_.back() != row.path) photos_ << row.path;
  }
  if (firstPhoto_.isEmpty() && !photos_.isEmpty()) firstPhoto_ = photos_.front();
}

void RunResults::Finish(const RunEnd& end, const SizeTexts& shown, bool watch) {
  endSizes_ = shown;
  // Sorted by name or time, the run's order is the one to show and step through.
  if (!end.files.isEmpty()) {
    photos_ = end.files;
    firstPhoto_ = end.files.front();
  }
  if (watch && dataset_) dataset_->end.photos = photos_.size();  // as they came
  FinishDataset(end);
  if (watch) unsaved_ = end.fatal.has_value() && !rows_.empty();
}

void RunResults::FinishDataset(const RunEnd& end) {
  if (!dataset_) return;
  swelox::RunEnd& outcome = dataset_->end;
  SetOutcome(outcome, end.result);
  dataset_->ended = UtcTime(std::chrono::system_clock::now());
  outcome.rows = static_cast<int64_t>(rows_.size());
  outcome.photosFailed = static_cast<int64_t>(end.failures.size());
  outcome.photosDamaged = static_cast<int64_t>(end.warnings.size());
  // A photo is measured once the rows of every run are there.
  int64_t runs = 0;
  try {
    runs = RunCount(dataset_->settings);
  } catch (const Error&) {
  }
  std::vector<int64_t> rowsOf(static_cast<size_t>(outcome.photos), 0);
  std::vector<bool> held(rowsOf.size(), false);
  for (const PhotoResult& r : rows_) {
    if (size_t(r.order) >= rowsOf.size()) continue;
    ++rowsOf[size_t(r.order)];
    if (r.held) held[size_t(r.order)] = true;
  }
  outcome.photosMeasured = runs > 0 ? std::count(rowsOf.begin(), rowsOf.end(), runs) : int64_t{0};
  heldPhotos_ = std::count(held.begin(), held.end(), true);
  measuredNow_ = 0;
  for (size_t k = 0; k < rowsOf.size(); ++k) {
    if (runs > 0 && rowsOf[k] == runs && !held[k]) ++measuredNow_;
  }
}

void RunResults::SaveTo(const QString& path, const QString& text) {
  const std::string local = QFile::encodeName(path).toStdString();
  const TableFormat format = FormatForName(local);
  ReplaceWhole(path, QByteArray::fromStdString(TableText(text.toStdString(), format)));
  if (dataset_) {
    Dataset dataset = *dataset_;
    dataset.tablePath = QFile::encodeName(QFileInfo(path).fileName()).toStdString();
    dataset.format = format;
    ReplaceWhole(QFile::decodeName(QByteArray::fromStdString(DescriptorPathFor(local))),
                 QByteArray::fromStdString(DescriptorText(dataset)));
  }
  unsaved_ = false;
}

SizeTexts RunResults::SizesToStore(const SizeTexts& shown) const {
  if (startSizes_ && endSizes_ && shown == *endSizes_) return *startSizes_;
  return shown;
}

std::optional<SizeTexts> RunResults::GrownFrom(const SizeTexts& shown) const {
  if (!startSizes_ || !endSizes_ || shown != *endSizes_ || shown == *startSizes_) {
    return std::nullopt;
  }
  return startSizes_;
}

}  // namespace swelox::ui
