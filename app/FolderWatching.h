// The window's watch of a folder: the folder and the table chosen by the user, and the job that
// the run's thread does, the engine's watch writing the table that only grows (the one swelox-cli
// --watch --output writes), so that a watch started again on the same table goes on from it.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "app/RunController.h"

class QWidget;

namespace swelox::ui {

struct WatchPlaces {
  QString folder;  // watched for photos
  QString table;   // where the rows go, the descriptor beside it
};

// The two questions asked before a watch; tests script their own answers. Each answers an empty
// text for a cancel.
struct WatchDialogs {
  std::function<QString(QWidget* owner, const QString& prefill)> folder;
  // `suggested`: a name beside the folder, after it.
  std::function<QString(QWidget* owner, const QString& suggested)> table;
};
// Qt's dialogs: an existing folder; a table file, new or one to go on with (no question about
// replacing it: the watch appends).
WatchDialogs QtWatchDialogs();

// Asks for the folder, then for the table: nothing when either is cancelled.
std::optional<WatchPlaces> ChooseWatchPlaces(QWidget* owner, const WatchDialogs& dialogs,
                                             const QString& prefill);

// What the watch's thread does: the photos of `places.folder`, those there first, then each new
// one once it is whole, measured with the options' settings until a stop, each photo's rows
// appended to `places.table` (unless it holds them already) and passed on to the window. Failing
// photos are listed and the watch goes on; a table that cannot be written ends it with an error.
RunController::Job WatchJob(const WatchPlaces& places);

// The line under the results while a watch is under way, and once it was stopped: the photos it
// measured, and those the table held before it when it went on with one.
QString WatchingText(const WatchPlaces& places);
QString WatchEndText(const WatchPlaces& places, int64_t photosMeasured, int64_t photosHeld = 0);

}  // namespace swelox::ui
