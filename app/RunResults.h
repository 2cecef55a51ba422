// What the window keeps of the last run: its options as it started, its photos in the run's
// order, its rows as records, the descriptor that a save writes beside the table, the sizes it
// started from and grew to, and whether its results have been saved since.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

#include "analysis/BatchRun.h"
#include "analysis/Dataset.h"
#include "app/RunTable.h"

namespace swelox::ui {

struct RunEnd;

// The width and height fields' texts.
using SizeTexts = std::pair<QString, QString>;

// The options of a run of `settings` over the chosen photos: capture times read during the
// decodes the rows need anyway (for the chart), and as many jobs as the machine has cores.
BatchOptions RunOptions(const RunSettings& settings, const QStringList& photos, bool keepGoing);

class RunResults {
 public:
  // A run of `options` over `photos` (as chosen) starts from the sizes `start`: the last run's
  // rows go.
  void Begin(const BatchOptions& options, const QStringList& photos, const SizeTexts& start);
  void Add(const std::vector<PhotoResult>& rows);
  // A watch's photos are those its rows came from, as they came.
  void AddWatchedPhotos(const std::vector<PhotoResult>& rows);
  // The run ended with the fields at `shown`: its photos in the order it took them, and its
  // outcome in the descriptor. A watch's rows are in its table already, unless an error ended it.
  void Finish(const RunEnd& end, const SizeTexts& shown, bool watch = false);

  const QStringList& photos() const { return photos_; }
  // The first photo of the last run (or chosen for it); empty before the first run.
  const QString& firstPhoto() const { return firstPhoto_; }
  const std::vector<PhotoResult>& rows() const { return rows_; }
  const std::optional<Dataset>& dataset() const { return dataset_; }
  // Once the run ended: the photos it measured itself (every run's row there), and those whose
  // rows a watch read back from its table.
  int64_t photosMeasuredNow() const { return measuredNow_; }
  int64_t heldPhotos() const { return heldPhotos_; }

  // Rows made, or the results area edited, since the last save.
  bool unsaved() const { return unsaved_; }
  // Writes `text` (the results area) to `path`, comma-separated when the name ends in ".csv",
  // and beside it the descriptor of the run that made the rows. A file is replaced whole or not
  // at all.
  void SaveTo(const QString& path, const QString& text);

  // The sizes to keep for the next start: those the last run started from while the fields
  // (`shown`) still show the sizes it grew to, else the fields'.
  SizeTexts SizesToStore(const SizeTexts& shown) const;
  // The sizes the last run started from when the fields still show those it grew to, and they
  // differ: what the next run starts from is worth telling then.
  std::optional<SizeTexts> GrownFrom(const SizeTexts& shown) const;

 private:
  void FinishDataset(const RunEnd& end);

  QStringList photos_;
  QString firstPhoto_;
  std::vector<PhotoResult> rows_;
  std::optional<Dataset> dataset_;  // none before the first run
  std::optional<SizeTexts> startSizes_, endSizes_;
  int64_t measuredNow_ = 0;
  int64_t heldPhotos_ = 0;
  bool unsaved_ = false;
};

}  // namespace swelox::ui
