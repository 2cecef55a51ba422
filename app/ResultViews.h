// The windows that show the last run's results beside the main window: the picture view and the
// chart, each made on first use, and what connects them (a point of the chart opens its photo in
// the view at the row's size).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <vector>

#include "app/RunTable.h"

class QWidget;

namespace swelox::ui {

class DayChartWindow;
class PictureView;
class SettingsModel;

class ResultViews : public QObject {
  Q_OBJECT

 public:
  // The windows are children of `window` and follow `settings`.
  ResultViews(SettingsModel& settings, QWidget* window);

  PictureView* view() const { return view_; }
  DayChartWindow* chart() const { return chart_; }
  PictureView& EnsureView();
  // Shows the view on `path`, at the size of the row given, or of the settings.
  void ShowPhoto(const QString& path);
  void ShowPhotoAt(const QString& path, int width, int height);
  // Shows the chart of the results shared last.
  void ShowChart();
  // The photos and rows of the last run, for stepping through them and for the chart.
  void Share(const QStringList& photos, const std::vector<PhotoResult>& rows);
  // Nothing of the last run stays on view: a new run begins.
  void Clear();
  // Closes the windows (which keep their places and the view its opacity).
  void Close();

 private:
  SettingsModel& settings_;
  QWidget* window_;
  PictureView* view_ = nullptr;
  DayChartWindow* chart_ = nullptr;
  QStringList photos_;
  std::vector<PhotoResult> rows_;
};

}  // namespace swelox::ui
