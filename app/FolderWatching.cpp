#include "app/FolderWatching.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "analysis/FolderWatch.h"
#include "analysis/OutputTable.h"
#include "analysis/Watch.h"

namespace swelox::ui {
namespace {

// How much nicer than the window's thread the watch's threads are: a weight a tenth of its own.
constexpr int kWatchNiceness = 10;

// A watch works beside the window for hours. Its thread, and the workers it starts (a thread takes
// the niceness of the one that starts it), give way to the window's thread, so that the window
// turns at once however busy the watch is; with nothing else to run they still have every core.
void GiveWayToTheWindow() {
  const auto self = static_cast<id_t>(::gettid());
  errno = 0;
  const int now = ::getpriority(PRIO_PROCESS, self);
  if (errno != 0) return;
  ::setpriority(PRIO_PROCESS, self, std::min(now + kWatchNiceness, 19));  // best effort
}

}  // namespace

WatchDialogs QtWatchDialogs() {
  WatchDialogs dialogs;
  dialogs.folder = [](QWidget* owner, const QString& prefill) {
    return QFileDialog::getExistingDirectory(owner, QStringLiteral("Watch folder"), prefill);
  };
  dialogs.table = [](QWidget* owner, const QString& suggested) {
    return QFileDialog::getSaveFileName(owner, QStringLiteral("Table of the watch"), suggested,
                                        QStringLiteral("Tab-separated text (*.tsv *.txt);;"
                                                       "Comma-separated values (*.csv);;"
                                                       "All files (*)"),
                                        nullptr, QFileDialog::DontConfirmOverwrite);
  };
  return dialogs;
}

std::optional<WatchPlaces> ChooseWatchPlaces(QWidget* owner, const WatchDialogs& dialogs,
                                             const QString& prefill) {
  WatchPlaces places;
  places.folder = dialogs.folder(owner, prefill);
  if (places.folder.isEmpty()) return std::nullopt;
  // Beside the folder and named after it: a day's folder gives the day's table.
  const QString folder = QDir::cleanPath(places.folder);
  places.table = dialogs.table(owner, folder + QStringLiteral(".tsv"));
  if (places.table.isEmpty()) return std::nullopt;
  return places;
}

RunController::Job WatchJob(const WatchPlaces& places) {
  const std::string folder = QFile::encodeName(places.folder).toStdString();
  const std::string table = QFile::encodeName(places.table).toStdString();
  return [folder, table](const BatchOptions& options, const RunThread& thread) {
    GiveWayToTheWindow();
    // The folder first: one that cannot be watched leaves the table untouched.
    FolderWatch watch(folder, false);
    OutputTable output(table, options, PartOfList{}, SWELOX_VERSION, thread.listener, thread.stop,
                       true);
    // The rows the table holds come first, so that the window shows the whole day.
    BatchResult result = RunWatch(watch, options, output, &output, thread.notice, true);
    output.Finish(result);
    // A failed write stopped the watch: it is an error, not a stop the user asked for.
    if (const int error = output.writeError(); error != 0) {
      result.stopped = false;
      result.fatal = Error("Cannot write the results to " + table + ": " + std::strerror(error));
      result.fatalFile.clear();
    }
    return result;
  };
}

QString WatchingText(const WatchPlaces& places) {
  return QStringLiteral("Watching %1; the rows go to %2.")
      .arg(QDir::toNativeSeparators(places.folder), QFileInfo(places.table).fileName());
}

QString WatchEndText(const WatchPlaces& places, int64_t photosMeasured, int64_t photosHeld) {
  const auto photos = [](int64_t n) {
    return QString::number(n) + (n == 1 ? QStringLiteral(" photo") : QStringLiteral(" photos"));
  };
  const QString table = QFileInfo(places.table).fileName();
  if (photosHeld == 0) {
    return QStringLiteral("The watch was stopped after %1; the rows are in %2.")
        .arg(photos(photosMeasured), table);
  }
  return QStringLiteral("The watch was stopped after %1; the rows are in %2, which held %3 before.")
      .arg(photos(photosMeasured), table, photos(photosHeld));
}

}  // namespace swelox::ui
