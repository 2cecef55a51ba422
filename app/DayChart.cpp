// The day chart and its window.
#include "app/DayChart.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QSvgGenerator>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/ElidedLabel.h"
#include "app/Placement.h"

namespace swelox::ui {
namespace {

// Many points on a pixel device (a watch's day of thousands) are stamped from one drawn dot:
// an antialiased ellipse apiece would take a tenth of a second for ten thousand, on every new row.
// Fewer, or on a vector device (SVG), each is drawn as an ellipse.
constexpr size_t kStampedAbove = 500;

void DrawDots(QPainter& painter, const std::vector<QPointF>& dots, QColor colour) {
  const bool raster =
      painter.paintEngine() != nullptr && painter.paintEngine()->type() == QPaintEngine::Raster;
  if (dots.size() <= kStampedAbove || !raster) {
    for (const QPointF& at : dots) painter.drawEllipse(at, 3.5, 3.5);
    return;
  }
  const qreal ratio = painter.device()->devicePixelRatioF();
  QImage dot(QSize(9, 9) * ratio, QImage::Format_ARGB32_Premultiplied);
  dot.setDevicePixelRatio(ratio);
  dot.fill(Qt::transparent);
  {
    QPainter stamp(&dot);
    stamp.setRenderHint(QPainter::Antialiasing);
    stamp.setPen(painter.pen());
    stamp.setBrush(colour);
    stamp.drawEllipse(QPointF(4.5, 4.5), 3.5, 3.5);
  }
  for (const QPointF& at : dots) painter.drawImage(at - QPointF(4.5, 4.5), dot);
}

// Okabe and Ito's colours, told apart with every common colour vision deficiency.
constexpr QRgb kSeriesColours[] = {0x0072B2, 0xE69F00, 0x009E73, 0xCC79A7,
                                   0x56B4E9, 0xD55E00, 0xF0E442, 0x000000};
constexpr double kReach = 8;  // how near a point the pointer takes it, in points
const QString kGeometryKey = QStringLiteral("chart/geometry");
const QString kPointHint = QStringLiteral("Point at a photo for its figures; click it to see it.");

QColor SeriesColour(int series) {
  return QColor(kSeriesColours[size_t(series) % std::size(kSeriesColours)]);
}

// A step of 1, 2 or 5 times a power of ten giving at most about `count` steps over `span`.
double NiceStep(double span, int count) {
  const double rough = std::max(span, 1e-9) / count;
  const double power = std::pow(10, std::floor(std::log10(rough)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * power >= rough) return m * power;
  }
  return 10 * power;
}

// Steps of time that read well: seconds to days.
qint64 TimeStep(qint64 spanMs, int count) {
  static constexpr qint64 kSteps[] = {1000,     5000,     15000,     60000,    300000,   600000,
                                      900000,   1800000,  3600000,   7200000,  10800000, 21600000,
                                      43200000, 86400000, 172800000, 604800000};
  for (qint64 step : kSteps) {
    if (spanMs / step <= count) return step;
  }
  return kSteps[std::size(kSteps) - 1] * (spanMs / count / kSteps[std::size(kSteps) - 1] + 1);
}

// How far apart on the x axis two neighbouring points of a series may be and still be joined:
// several times the usual (median) interval; none (0) for fewer than three points.
double GapLimit(const std::vector<QPointF>& sorted) {
  std::vector<double> intervals;
  for (size_t k = 1; k < sorted.size(); ++k) {
    const double d = sorted[k].x() - sorted[k - 1].x();
    if (d > 0) intervals.push_back(d);
  }
  if (intervals.size() < 2) return 0;
  std::nth_element(intervals.begin(), intervals.begin() + intervals.size() / 2, intervals.end());
  return 6 * intervals[intervals.size() / 2];
}

}  // namespace

DayChart::DayChart(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setMinimumSize(320, 200);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void DayChart::SetResults(std::vector<PhotoResult> results) {
  const auto none = std::remove_if(results.begin(), results.end(),
                                   [](const PhotoResult& r) { return r.quality == Quality::None; });
  leftOut_ = int(results.end() - none);
  results.erase(none, results.end());
  results_ = std::move(results);
  series_.clear();
  seriesOf_.clear();
  timeAxis_ = !results_.empty();
  for (const PhotoResult& r : results_) {
    const QSize size(r.rectangleWidth, r.rectangleHeight);
    auto at = std::find(series_.begin(), series_.end(), size);
    if (at == series_.end()) at = series_.insert(series_.end(), size);
    seriesOf_.push_back(int(at - series_.begin()));
    if (!r.time) timeAxis_ = false;
  }
  hovered_ = -1;
  drawn_ = QPixmap();
  update();
  Q_EMIT resultsChanged();
}

QString DayChart::LeftOutText() const {
  if (leftOut_ == 0) return QString();
  return leftOut_ == 1 ? QStringLiteral("1 row without comparisons (nDiffs 0) is not drawn.")
                       : QStringLiteral("%1 rows without comparisons (nDiffs 0) are not drawn.")
                             .arg(leftOut_);
}

void DayChart::SetMeasure(Measure measure) {
  measure_ = measure;
  drawn_ = QPixmap();
  update();
}

void DayChart::SetNewestMarked(bool marked) {
  if (newestMarked_ == marked) return;
  newestMarked_ = marked;
  drawn_ = QPixmap();
  update();
}

QString DayChart::xAxisTitle() const {
  return timeAxis_ ? QStringLiteral("Capture time")
                   : QStringLiteral(
                         "Photo in the run's order (not every photo has a capture "
                         "time)");
}

long long DayChart::Value(const PhotoResult& r) const {
  return measure_ == Measure::MeanDiff ? r.meanDiff : r.rms;
}

double DayChart::X(const PhotoResult& r) const {
  return timeAxis_ ? double(r.time->toMSecsSinceEpoch()) : double(r.order + 1);
}

std::vector<DayChart::Point> DayChart::Paint(QPainter& painter, QRectF area) const {
  std::vector<Point> points;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(area, Qt::white);
  const QFontMetricsF metrics(painter.font());
  const double line = metrics.height();
  const QString yTitle =
      measure_ == Measure::MeanDiff ? QStringLiteral("meanDiff") : QStringLiteral("RMS");
  if (results_.empty()) {
    painter.setPen(Qt::darkGray);
    painter.drawText(area, Qt::AlignCenter, QStringLiteral("No rows yet: run an analysis."));
    painter.restore();
    return points;
  }

  // The ranges: y from 0, x over the rows, each widened to whole steps.
  long long top = 0;
  double left = X(results_.front()), right = left;
  for (const PhotoResult& r : results_) {
    top = std::max(top, Value(r));
    left = std::min(left, X(r));
    right = std::max(right, X(r));
  }
  // The photos' own span: the margins added below may cross midnight, the photos do not.
  const double firstPhoto = left, lastPhoto = right;
  // Room above the highest point, so that neither it nor its ring touches the frame.
  const double yStep = NiceStep(double(std::max(top, 1LL)) * 1.08, 5);
  const double yTop = std::ceil(double(std::max(top, 1LL)) * 1.08 / yStep) * yStep;
  if (timeAxis_) {
    if (right - left < 60000) {  // one moment: a minute either side
      left -= 60000;
      right += 60000;
    }
    const double margin = (right - left) * 0.04;  // no point on the frame
    left -= margin;
    right += margin;
  } else {
    left = std::min(left, 1.0) - 0.5;
    right += 0.5;
  }

  // The plot's frame: tick labels left and below, the legend above.
  double yLabelWidth = metrics.horizontalAdvance(QString::number(qint64(yTop)));
  const double legendHeight = line * 1.6;
  const QRectF plot(area.left() + yLabelWidth + line * 2.2, area.top() + legendHeight + line * 0.5,
                    area.width() - yLabelWidth - line * 3.4,
                    area.height() - legendHeight - line * 3.8);
  if (plot.width() < 20 || plot.height() < 20) {
    painter.restore();
    return points;
  }
  // As many x ticks as their labels have room for. Across more than one day they carry the date.
  const bool manyDays =
      timeAxis_ && QDateTime::fromMSecsSinceEpoch(qint64(firstPhoto), Qt::UTC).date() !=
                       QDateTime::fromMSecsSinceEpoch(qint64(lastPhoto), Qt::UTC).date();
  const QString widest = !timeAxis_ ? QString::number(qint64(right))
                         : manyDays ? QStringLiteral("28 May 00:00")
                                    : QStringLiteral("00:00:00");
  const int tickRoom =
      std::max(2, int(plot.width() / (metrics.horizontalAdvance(widest) + line * 1.5)));
  const double xStep = timeAxis_ ? double(TimeStep(qint64(right - left), std::min(8, tickRoom)))
                                 : std::max(1.0, NiceStep(right - left, std::min(10, tickRoom)));
  auto toX = [&](double x) { return plot.left() + (x - left) / (right - left) * plot.width(); };
  auto toY = [&](double y) { return plot.bottom() - y / yTop * plot.height(); };

  painter.setPen(QPen(QColor(225, 225, 225), 1));
  for (double y = 0; y <= yTop + yStep / 2; y += yStep)
    painter.drawLine(QPointF(plot.left(), toY(y)), QPointF(plot.right(), toY(y)));
  painter.setPen(Qt::black);
  painter.drawRect(plot);
  for (double y = 0; y <= yTop + yStep / 2; y += yStep) {
    painter.drawText(
        QRectF(area.left() + line * 1.4, toY(y) - line / 2, yLabelWidth + line * 0.4, line),
        Qt::AlignRight | Qt::AlignVCenter, QString::number(qint64(y)));
  }
  // The y title, turned to read upwards.
  painter.save();
  painter.translate(area.left() + line * 0.2, plot.center().y());
  painter.rotate(-90);
  painter.drawText(QRectF(-plot.height() / 2, 0, plot.height(), line), Qt::AlignCenter, yTitle);
  painter.restore();

  // x ticks: times of day (with the date where the span passes midnight), or photo numbers.
  const double firstTick = std::ceil(left / xStep) * xStep;
  for (double x = firstTick; x <= right; x += xStep) {
    const QString label = timeAxis_ ? QDateTime::fromMSecsSinceEpoch(qint64(x), Qt::UTC)
                                          .toString(manyDays        ? QStringLiteral("d MMM HH:mm")
                                                    : xStep < 60000 ? QStringLiteral("HH:mm:ss")
                                                                    : QStringLiteral("HH:mm"))
                                    : QString::number(qint64(x));
    const double px = toX(x);
    painter.drawLine(QPointF(px, plot.bottom()), QPointF(px, plot.bottom() + 4));
    const double half = metrics.horizontalAdvance(label) / 2 + 2;
    // A label at either end stays whole inside the chart.
    const double labelLeft = std::clamp(px - half, area.left(), area.right() - 2 * half);
    painter.drawText(QRectF(labelLeft, plot.bottom() + 5, 2 * half, line), Qt::AlignCenter, label);
  }
  QString xTitle = xAxisTitle();
  if (timeAxis_) {
    // The days the photos span, first and last, so that the title never names one day alone.
    const auto day = [](double at) {
      return QDateTime::fromMSecsSinceEpoch(qint64(at), Qt::UTC)
          .toString(QStringLiteral("d MMM yyyy"));
    };
    xTitle += QStringLiteral(" (") + day(firstPhoto) +
              (manyDays ? QStringLiteral(" to ") + day(lastPhoto) : QString()) +
              QStringLiteral(")");
  }
  painter.drawText(QRectF(plot.left(), plot.bottom() + line * 1.6, plot.width(), line * 1.2),
                   Qt::AlignCenter, metrics.elidedText(xTitle, Qt::ElideRight, plot.width()));

  // The points, each series joined in the order of its x.
  points.resize(results_.size());
  for (size_t k = 0; k < results_.size(); ++k) {
    points[k] = {seriesOf_[k], QPointF(toX(X(results_[k])), toY(double(Value(results_[k])))),
                 Value(results_[k])};
  }
  for (int s = 0; s < int(series_.size()); ++s) {
    std::vector<QPointF> joined;
    for (const Point& p : points) {
      if (p.series == s) joined.push_back(p.at);
    }
    std::stable_sort(joined.begin(), joined.end(),
                     [](QPointF a, QPointF b) { return a.x() < b.x(); });
    painter.setPen(QPen(SeriesColour(s), 1.5));
    // No line across a gap much longer than the usual interval (the night between two days).
    const double gap = timeAxis_ ? GapLimit(joined) : 0;
    size_t begin = 0;
    for (size_t k = 1; k <= joined.size(); ++k) {
      if (k < joined.size() && (gap <= 0 || joined[k].x() - joined[k - 1].x() <= gap)) continue;
      painter.drawPolyline(joined.data() + begin, int(k - begin));
      begin = k;
    }
    painter.setBrush(SeriesColour(s));
    DrawDots(painter, joined, SeriesColour(s));
  }
  // A damaged photo's point is hollow, in a red ring: its figures come from filled-in data.
  for (size_t k = 0; k < points.size(); ++k) {
    if (results_[k].quality != Quality::Damaged) continue;
    painter.setBrush(Qt::white);
    painter.setPen(QPen(SeriesColour(points[k].series), 1.5));
    painter.drawEllipse(points[k].at, 3.5, 3.5);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0xD5, 0x00, 0x00), 1.5));
    painter.drawEllipse(points[k].at, 6, 6);
  }

  // The newest point: a ring in the colour of the plot's frame, larger than a damaged one's.
  if (newestMarked_ && !points.empty()) {
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0xE6, 0x7E, 0x00), 2.5));
    painter.drawEllipse(points.back().at, 8, 8);
  }

  // The legend: one entry per rectangle size.
  double x = plot.left();
  for (int s = 0; s < int(series_.size()); ++s) {
    const QString text = QStringLiteral("%1 x %2").arg(series_[s].width()).arg(series_[s].height());
    const double width = metrics.horizontalAdvance(text) + line * 2;
    if (x + width > area.right()) break;
    painter.setPen(QPen(SeriesColour(s), 1.5));
    painter.setBrush(SeriesColour(s));
    const double y = area.top() + legendHeight / 2 + line * 0.2;
    painter.drawLine(QPointF(x, y), QPointF(x + line, y));
    painter.drawEllipse(QPointF(x + line / 2, y), 3.5, 3.5);
    painter.setPen(Qt::black);
    painter.drawText(QRectF(x + line * 1.3, y - line / 2, width, line),
                     Qt::AlignLeft | Qt::AlignVCenter, text);
    x += width + line;
  }
  painter.restore();
  return points;
}

void DayChart::paintEvent(QPaintEvent*) {
  if (drawn_.isNull()) {
    const qreal ratio = devicePixelRatioF();
    drawn_ = QPixmap(size() * ratio);
    drawn_.setDevicePixelRatio(ratio);
    QPainter chart(&drawn_);
    chart.setFont(font());  // as a painter on the widget would have it
    points_ = Paint(chart, rect());
  }
  QPainter painter(this);
  painter.drawPixmap(0, 0, drawn_);
  if (hovered_ >= 0 && size_t(hovered_) < points_.size()) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(points_[size_t(hovered_)].at, 7, 7);
  }
}

int DayChart::RowAt(QPointF at) const {
  int best = -1;
  double nearest = kReach * kReach;
  for (size_t k = 0; k < points_.size(); ++k) {
    const QPointF d = points_[k].at - at;
    const double distance = QPointF::dotProduct(d, d);
    if (distance <= nearest) {
      nearest = distance;
      best = int(k);
    }
  }
  return best;
}

QString DayChart::Describe(int row) const {
  if (row < 0 || size_t(row) >= results_.size()) return QString();
  const PhotoResult& r = results_[size_t(row)];
  return QStringLiteral("%1   %2   meanDiff %3   RMS %4   nDiffs %5   rectangle %6 x %7%8")
      .arg(r.name, r.time
                       ? r.time->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                       : QStringLiteral("no capture time (photo %1 of the run)").arg(r.order + 1))
      .arg(r.meanDiff)
      .arg(r.rms)
      .arg(r.nDiffs)
      .arg(r.rectangleWidth)
      .arg(r.rectangleHeight)
      .arg(r.quality == Quality::Damaged
               ? QStringLiteral("   damaged: its data was cut or corrupt and filled in")
               : QString());
}

void DayChart::mouseMoveEvent(QMouseEvent* event) {
  const int row = RowAt(event->position());
  if (row != hovered_) {
    hovered_ = row;
    update();
  }
  const QString text = Describe(row);
  if (text.isEmpty()) {
    QToolTip::hideText();
  } else {
    QToolTip::showText(event->globalPosition().toPoint(), text, this);
  }
  Q_EMIT pointed(text);
}

void DayChart::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const int row = RowAt(event->position());
  if (row < 0) return;
  const PhotoResult& r = results_[size_t(row)];
  if (!r.path.isEmpty()) Q_EMIT pointOpened(r.path, r.rectangleWidth, r.rectangleHeight);
}

void DayChart::leaveEvent(QEvent*) {
  hovered_ = -1;
  update();
}

void DayChart::resizeEvent(QResizeEvent*) { drawn_ = QPixmap(); }

DayChartWindow::DayChartWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Swelox day chart"));
  chart_ = new DayChart(this);
  measure_ = new QComboBox(this);
  measure_->addItems({QStringLiteral("meanDiff"), QStringLiteral("RMS")});
  auto* save = new QPushButton(QStringLiteral("Save image..."), this);
  status_ = new ElidedLabel(this);
  status_->setText(kPointHint);
  leftOut_ = new QLabel(this);
  leftOut_->hide();
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("Show"), this));
  top->addWidget(measure_);
  top->addStretch(1);
  top->addWidget(save);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(chart_, 1);
  layout->addWidget(leftOut_);
  layout->addWidget(status_);
  connect(chart_, &DayChart::resultsChanged, this, [this] {
    leftOut_->setText(chart_->LeftOutText());
    leftOut_->setVisible(chart_->leftOut() > 0);
  });
  connect(measure_, &QComboBox::currentIndexChanged, this, [this](int index) {
    chart_->SetMeasure(index == 1 ? DayChart::Measure::Rms : DayChart::Measure::MeanDiff);
  });
  connect(chart_, &DayChart::pointed, this, [this](const QString& text) {
    if (!text.isEmpty()) status_->setText(text);
  });
  connect(save, &QPushButton::clicked, this, [this] {
    QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save image"), QStringLiteral("day.png"),
                                     QStringLiteral("PNG image (*.png);;SVG drawing (*.svg)"));
    if (!path.isEmpty()) SaveImage(path);
  });
}

void DayChartWindow::Clear() {
  chart_->SetResults({});
  status_->setText(kPointHint);
}

bool DayChartWindow::SaveImage(const QString& path, QSize size) {
  bool saved = false;
  if (path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(windowTitle());
    QPainter painter;
    if (painter.begin(&svg)) {
      painter.setFont(font());
      chart_->Paint(painter, QRectF(QPointF(0, 0), size));
      saved = painter.end();
    }
  } else {
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setFont(font());
    chart_->Paint(painter, QRectF(QPointF(0, 0), size));
    painter.end();
    saved = image.save(path, "PNG");
  }
  status_->setText(saved ? QStringLiteral("Saved %1.").arg(path)
                         : QStringLiteral("Could not write %1.").arg(path));
  return saved;
}

void DayChartWindow::showEvent(QShowEvent* event) {
  if (!placed_) {
    placed_ = true;
    PlaceSecondaryWindow(this, QSize(900, 520), kGeometryKey);
  }
  QWidget::showEvent(event);
}

void DayChartWindow::hideEvent(QHideEvent* event) {
  RememberPlace(this, kGeometryKey);
  QWidget::hideEvent(event);
}

}  // namespace swelox::ui
