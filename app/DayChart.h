// The day at a glance: meanDiff (or RMS) of every row of a run against the photo's capture time,
// one series per rectangle size. Pointing at a point tells its photo, time and figures; clicking
// it asks for the picture view on that photo at that size. Drawn with QPainter, so that the chart
// looks the same on the screen, in a PNG and in an SVG.
#pragma once

#include <QPixmap>
#include <QWidget>
#include <vector>

#include "app/RunTable.h"

class QComboBox;
class QLabel;

namespace swelox::ui {

class ElidedLabel;

class DayChart : public QWidget {
  Q_OBJECT

 public:
  enum class Measure { MeanDiff, Rms };

  explicit DayChart(QWidget* parent = nullptr);

  // The rows drawn are those with comparisons; a row of quality `none` (nDiffs 0) is no
  // measurement, and is only counted.
  void SetResults(std::vector<PhotoResult> results);
  const std::vector<PhotoResult>& results() const { return results_; }
  int leftOut() const { return leftOut_; }
  // "2 rows without comparisons (nDiffs 0) are not drawn."; empty when none is left out.
  QString LeftOutText() const;
  void SetMeasure(Measure measure);
  // Whether the newest row's point (the last given) wears a ring of its own, as in a watch.
  void SetNewestMarked(bool marked);
  bool newestMarked() const { return newestMarked_; }
  Measure measure() const { return measure_; }

  // The x axis is the capture time when every row has one, else the photos' order in the run.
  bool timeAxis() const { return timeAxis_; }
  QString xAxisTitle() const;
  // The rectangle sizes, one series each, in the order they first come.
  const std::vector<QSize>& series() const { return series_; }

  // Where each row's point is drawn on this widget, in row order.
  struct Point {
    int series;
    QPointF at;
    long long value;
  };
  const std::vector<Point>& points() const { return points_; }
  // The row whose point is within reach of `at` (the nearest), or -1.
  int RowAt(QPointF at) const;
  QString Describe(int row) const;

  // Draws the chart into `area` of any paint device; returns where each row's point went.
  std::vector<Point> Paint(QPainter& painter, QRectF area) const;

 Q_SIGNALS:
  void pointed(const QString& text);
  // New results were set.
  void resultsChanged();
  // A point was clicked: the picture view should show `path` with this rectangle size.
  void pointOpened(const QString& path, int width, int height);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  long long Value(const PhotoResult& r) const;
  double X(const PhotoResult& r) const;

  std::vector<PhotoResult> results_;
  std::vector<QSize> series_;
  std::vector<int> seriesOf_;  // per row
  int leftOut_ = 0;
  Measure measure_ = Measure::MeanDiff;
  bool timeAxis_ = false;
  std::vector<Point> points_;
  int hovered_ = -1;
  bool newestMarked_ = false;
  // The chart as last drawn, so that pointing at a point redraws only its ring; null when the
  // results, the measure or the size changed since.
  QPixmap drawn_;
};

// The chart in its own window, with the choice of measure and "Save image...".
class DayChartWindow : public QWidget {
  Q_OBJECT

 public:
  explicit DayChartWindow(QWidget* parent = nullptr);
  DayChart* chart() const { return chart_; }
  QComboBox* measureChoice() const { return measure_; }
  ElidedLabel* status() const { return status_; }
  // Under the chart: how many rows it leaves out.
  QLabel* leftOut() const { return leftOut_; }
  // Empties the chart and its status line, as a new run begins.
  void Clear();
  // Writes the chart as PNG, or as SVG when the name ends in .svg; false and a message in the
  // status line when it cannot.
  bool SaveImage(const QString& path, QSize size = QSize(1200, 700));

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  DayChart* chart_;
  QComboBox* measure_;
  ElidedLabel* status_;
  QLabel* leftOut_;
  bool placed_ = false;
};

}  // namespace swelox::ui
