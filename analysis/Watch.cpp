#include "analysis/Watch.h"

#include <cstdint>
#include <vector>

namespace swelox {
namespace {

// The most photos of a burst measured in one batch: enough to keep every job busy, few enough
// that the folder's news is read in between.
constexpr size_t kBurstPhotos = 256;

// Passes every batch's rows and messages on, but the header line only once, and numbers the
// photos on from one batch to the next.
class OneHeader : public BatchListener {
 public:
  explicit OneHeader(BatchListener& to) : to_(to) {}
  void FilesOrdered(const PathList& files) override {
    firstOfBatch_ += batchPhotos_;
    batchPhotos_ = files.size();
    to_.FilesOrdered(files);
  }
  void Line(const std::string& line) override {
    if (headerWritten_) return;
    headerWritten_ = true;
    to_.Line(line);
  }
  void Record(const RowRecord& record) override {
    RowRecord numbered = record;
    numbered.index += firstOfBatch_;
    to_.Record(numbered);
  }
  void Progress(const std::string& caption) override { to_.Progress(caption); }
  void FileFailed(const std::string& path, const Error& error) override {
    to_.FileFailed(path, error);
  }
  void FileWarned(const std::string& path, const std::string& warning) override {
    to_.FileWarned(path, warning);
  }
  void SizesGrown(const RectangleTexts& sizes) override { to_.SizesGrown(sizes); }
  void Waiting() override { to_.Waiting(); }
  // The table's rows shown before the first batch: their header, and `photos` photos numbered
  // from 0, before this watch's.
  void Held(size_t photos) {
    if (photos == 0) return;
    headerWritten_ = true;
    batchPhotos_ = photos;
  }

 private:
  BatchListener& to_;
  bool headerWritten_ = false;
  size_t firstOfBatch_ = 0;  // the index of the batch's first photo in the whole watch
  size_t batchPhotos_ = 0;
};

}  // namespace

BatchResult RunWatch(FolderWatch& watch, const BatchOptions& batch, BatchListener& to,
                     OutputTable* table, const std::function<void(const std::string&)>& notice,
                     bool showHeld) {
  OneHeader rows(to);
  BatchResult total;
  for (bool first = true;; first = false) {
    BatchOptions options = batch;
    options.files.clear();
    // A photo that fails (deleted before it was read, damaged beyond decoding) must not end a
    // watch that nobody may be looking at.
    options.keepGoing = true;
    // The photos found at the start are ordered as the settings ask; later ones as they came.
    if (!first) options.settings.order = FileOrder::AsGiven;
    const size_t limit = first ? SIZE_MAX : kBurstPhotos;
    std::vector<FolderChange> changes = watch.Take(limit);
    size_t photos = 0;
    for (FolderChange& change : changes) {
      if (change.kind == FolderChange::Kind::Notice) {
        notice(change.text);
      } else {
        options.files.push_back(change.text);
        ++photos;
      }
    }
    if (first || !options.files.empty()) {
      if (table != nullptr) options = table->Arrived(options);
      if (first && showHeld && table != nullptr) rows.Held(table->ShowHeld());
      const BatchResult result = RunBatch(options, rows);
      if (table != nullptr) table->Checkpoint();
      total.anyFileFailed = total.anyFileFailed || result.anyFileFailed;
      if (result.fatal || result.stopped) {
        total.fatal = result.fatal;
        total.fatalFile = result.fatalFile;
        total.stopped = result.stopped;
        return total;
      }
    }
    // A burst's next photos are waiting already: no pause to tell.
    if (photos < limit) rows.Waiting();
    if (!watch.Wait(batch.stop)) {
      total.stopped = true;
      return total;
    }
  }
}

}  // namespace swelox
