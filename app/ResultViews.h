// The windows that show the last run's results beside the main window: the picture view and the
// chart, each made on first use, and what connects them (a point of the chart opens its photo in
// the view at the row's size).
#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace swelox::ui {

class DayChartWindow;
class PictureView;
class RunResults;
class SettingsModel;

class ResultViews : public QObject {
  Q_OBJECT

 public:
  // The windows are children of `window`, follow `settings` and show `results`.
  ResultViews(SettingsModel& settings, const RunResults& results, QWidget* window);

  PictureView* view() const { return view_; }
  DayChartWindow* chart() const { return chart_; }
  PictureView& EnsureView();
  // Shows the view on `path`, at the size of the row given, or of the settings.
  void ShowPhoto(const QString& path);
  void ShowPhotoAt(const QString& path, int width, int height);
  void ShowChart();
  // The results have grown or the run has ended: the view steps through its photos, and the
  // chart shows its rows, the newest ringed during a watch.
  void Share(bool newestMarked);
  // Nothing of the last run stays on view: a new run begins.
  void Clear();
  // The run has ended (after Share): the view says so unless it shows a photo.
  void RunEnded();
  // Closes the windows (which keep their places and the view its opacity).
  void Close();

 private:
  SettingsModel& settings_;
  const RunResults& results_;
  QWidget* window_;
  PictureView* view_ = nullptr;
  DayChartWindow* chart_ = nullptr;
  bool newestMarked_ = false;
};

}  // namespace swelox::ui
