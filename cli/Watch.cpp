#include "cli/Watch.h"

#include <cstdint>
#include <vector>

#include "core/PrintableText.h"

namespace swelox::cli {
namespace {

// The most photos of a burst measured in one batch: enough to keep every job busy, few enough
// that the folder's news is read in between.
constexpr size_t kBurstPhotos = 256;

// Passes every batch's rows and messages on, but the header line only once.
class OneHeader : public BatchListener {
 public:
  explicit OneHeader(BatchListener& to) : to_(to) {}
  void FilesOrdered(const PathList& files) override { to_.FilesOrdered(files); }
  void Line(const std::string& line) override {
    if (headerWritten_) return;
    headerWritten_ = true;
    to_.Line(line);
  }
  void Row(const std::string& path, int64_t run, const std::string& row) override {
    to_.Row(path, run, row);
  }
  void Progress(const std::string& caption) override { to_.Progress(caption); }
  void FileFailed(const std::string& path, const Error& error) override {
    to_.FileFailed(path, error);
  }
  void FileWarned(const std::string& path, const std::string& warning) override {
    to_.FileWarned(path, warning);
  }

 private:
  BatchListener& to_;
  bool headerWritten_ = false;
};

}  // namespace

BatchResult RunWatch(FolderWatch& watch, const BatchOptions& batch, ConsoleListener& console,
                     OutputTable* table) {
  OneHeader rows(table != nullptr ? static_cast<BatchListener&>(*table) : console);
  BatchResult total;
  for (bool first = true;; first = false) {
    BatchOptions options = batch;
    options.files.clear();
    // The photos found at the start are ordered as the settings ask; later ones as they came.
    if (!first) options.settings.order = FileOrder::AsGiven;
    for (FolderChange& change : watch.Take(first ? SIZE_MAX : kBurstPhotos)) {
      if (change.kind == FolderChange::Kind::Notice) {
        console.Note("swelox-cli: " + EscapeControlBytes(change.text, Backslash::AsItIs));
      } else {
        options.files.push_back(change.text);
      }
    }
    if (first || !options.files.empty()) {
      if (table != nullptr) options = table->Arrived(options);
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
    if (!watch.Wait(batch.stop)) {
      total.stopped = true;
      return total;
    }
  }
}

}  // namespace swelox::cli
