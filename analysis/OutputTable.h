// The rows go to a table that only grows, with its descriptor beside it (swelox-cli --output, the
// window's watch). A command run again measures only the photos (and runs) that the table does
// not hold yet, so a killed run started again ends with the table an uninterrupted one makes.
#pragma once

#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "analysis/BatchRun.h"
#include "analysis/GrowingTable.h"

namespace swelox {

class OutputTable : public BatchListener {
 public:
  // Reads the table at `path` back, or begins it, and writes its descriptor as running. Raises
  // Error (settings) for a table that cannot be read, one made with other settings (naming the
  // difference) or an existing file that is no such table. `batch` is the whole command; messages
  // and the caption go to `next`, and with `passRows` the header, the records and the grown sizes
  // too (for a front end that shows the rows it writes); a failed write requests `stop`. `part`
  // says which part of a job's list `batch` is (part 0: the whole list).
  OutputTable(const std::string& path, const BatchOptions& batch, const PartOfList& part,
              const std::string& version, BatchListener& next, std::stop_source stop,
              bool passRows = false);
  ~OutputTable() override;

  // The command with only the photos that still lack rows, in the order given.
  BatchOptions Remaining() const;
  // A watch's newly arrived photos (`arrived.files`) join the command, each once: the options
  // with those the table lacks, in the order given.
  BatchOptions Arrived(const BatchOptions& arrived);
  // Between a watch's batches: the descriptor says what the table holds so far.
  void Checkpoint();
  // For a front end that shows the whole table (with `passRows`), after the watch's first
  // Arrived: the rows the table held when it was opened go on to `next` as records marked held,
  // numbered by their photo's place from 0 (FilesOrdered first, in the order of the photos' first
  // rows), after the header line; nothing when it held none. A photo that Arrived gives to be
  // measured again (its runs cut short by a stop) is left out, since all its rows come again as
  // it is measured. The capture time is the Time column's or, without one, read from the photo's
  // header while the photo is the one its rows were measured from. Of a table longer than
  // kMostHeldShown rows (a season's), only its last kMostHeldShown rows are passed on. Returns the
  // photos passed on.
  size_t ShowHeld();
  static constexpr int64_t kMostHeldShown = 50000;

  void FilesOrdered(const PathList& files) override;
  void Line(const std::string& line) override;
  void Record(const RowRecord& record) override;
  void SizesGrown(const RectangleTexts& sizes) override;
  void Row(const std::string& path, int64_t run, const std::string& row) override;
  void Progress(const std::string& caption) override;
  void FileFailed(const std::string& path, const Error& error) override;
  void FileWarned(const std::string& path, const std::string& warning) override;
  void Waiting() override;

  // After the runs: the last sync, and the descriptor saying how they ended. Raises Error when
  // the descriptor cannot be written.
  void Finish(const BatchResult& result);

  // The errno of a failed write or sync of the table; 0 while all went well.
  int writeError() const;

 private:
  // Whether the table holds every run's rows of `key`, as often as the command names it.
  bool Measured(const std::string& key) const { return Measured(HeldRows::HashKey(key)); }
  bool Measured(const HeldRows::Hash& key) const;
  // The rows the table held of a photo about to be measured, once: a resumed photo's runs that
  // are there already are not written again.
  void Remember(const std::string& key);
  void WriteDescriptor();

  std::string path_;
  const BatchOptions& batch_;
  BatchListener& next_;
  const bool passRows_;
  std::stop_source stop_;
  Dataset dataset_;
  int64_t runCount_ = -1;  // -1: unknown (the repeats are no number), so no photo is measured
  // By path as given: the photos that lack rows (all of a watch's); a photo the table held whole
  // when the command started keeps no more than its hash in held_ and named_.
  std::unordered_map<std::string, PhotoIdentity> photos_;
  HeldRows named_;   // how often the command names each key (as run 0)
  HeldRows held_;    // the table's rows, this run's included
  HeldRows before_;  // the rows the table held at the start and that this run has not met again
  std::unordered_set<std::string> remembered_;  // the keys whose rows before_ took
  std::unordered_set<std::string> warned_;      // paths whose decode warned in this run
  std::unordered_set<std::string> failed_;      // keys that failed in this run
  std::unique_ptr<GrowingTable> table_;
  // The table's descriptor as read back, while it held rows, where its last whole row ended, and
  // how many rows it held.
  std::optional<Dataset> heldDataset_;
  off_t heldEnd_ = 0;
  int64_t heldRows_ = 0;
  bool watching_ = false;  // the photos are those of a watch (photos_), not the command's
};

}  // namespace swelox
