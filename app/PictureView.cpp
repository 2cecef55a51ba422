// The picture view and its canvas.
#include "app/PictureView.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "analysis/Region.h"
#include "app/ErrorBox.h"
#include "app/SettingsModel.h"
#include "core/Errors.h"
#include "core/IntegerText.h"

namespace swelox::ui {
namespace {

constexpr int kLegendHeight = 28;
constexpr double kGrip = 6;  // how near a side the pointer takes hold of it, in screen pixels
// The photo is shown from a scaled decode no larger than this; the analysis uses every pixel.
const QSize kShownLimit(1600, 1200);

// Blue for no difference through green and yellow to red for the largest.
QColor Tint(double share, double alpha) {
  return QColor::fromHsvF(static_cast<float>((1 - std::clamp(share, 0.0, 1.0)) * 240 / 360), 0.9f,
                          1.0f, static_cast<float>(alpha));
}

}  // namespace

PictureCanvas::PictureCanvas(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setMinimumSize(320, 240);
}

void PictureCanvas::SetPicture(const QImage& shown, QSize full) {
  shown_ = shown;
  full_ = full;
  update();
}

void PictureCanvas::SetOverlay(const PixelRegion& region, std::optional<RectangleSize> size,
                               const NoiseMap* map) {
  region_ = region;
  size_ = size;
  mapImage_ = QImage();
  differences_.clear();
  largest_ = 0;
  if (map != nullptr && size && map->columns > 0 && map->rows > 0) {
    for (const ComparedRectangle& c : map->comparisons) {
      largest_ = std::max(largest_, std::abs(c.difference));
    }
    // A million rectangles must tint in a few milliseconds: 256 steps of the scale, set directly.
    QRgb scale[256];
    for (int k = 0; k < 256; ++k) scale[k] = Tint(k / 255.0, 0.45).rgba();
    mapImage_ = QImage(map->columns, map->rows, QImage::Format_ARGB32);
    mapImage_.fill(Qt::transparent);
    differences_.assign(size_t(map->columns) * size_t(map->rows), kNoDifference);
    for (const ComparedRectangle& c : map->comparisons) {
      const int column = (c.x - 1) / size->width, row = (c.y - 1) / size->height;
      const int64_t step = largest_ > 0 ? int64_t{std::abs(c.difference)} * 255 / largest_ : 0;
      reinterpret_cast<QRgb*>(mapImage_.scanLine(row))[column] = scale[step];
      differences_[size_t(row) * size_t(map->columns) + size_t(column)] = c.difference;
    }
  }
  update();
}

QPointF PictureCanvas::ToView(QPointF picture) const {
  if (full_.isEmpty()) return picture;
  const double scale =
      std::min(double(width()) / full_.width(), double(height() - kLegendHeight) / full_.height());
  const QPointF origin((width() - full_.width() * scale) / 2,
                       (height() - kLegendHeight - full_.height() * scale) / 2);
  return origin + picture * scale;
}

QPointF PictureCanvas::ToPicture(QPointF view) const {
  const QPointF origin = ToView(QPointF(0, 0));
  const double scale = ToView(QPointF(1, 0)).x() - origin.x();
  return scale > 0 ? (view - origin) / scale : view;
}

std::optional<int32_t> PictureCanvas::DifferenceAt(QPoint pixel) const {
  if (!size_ || mapImage_.isNull()) return std::nullopt;
  // A rectangle's corner pixel is one right of and below the region's first pixel.
  const int x = pixel.x() - region_.x - 1, y = pixel.y() - region_.y - 1;
  if (x < 0 || y < 0) return std::nullopt;
  const int column = x / size_->width, row = y / size_->height;
  if (column >= mapImage_.width() || row >= mapImage_.height()) return std::nullopt;
  const int32_t difference = differences_[size_t(row) * size_t(mapImage_.width()) + size_t(column)];
  if (difference == kNoDifference) return std::nullopt;
  return difference;
}

void PictureCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(40, 40, 40));
  if (full_.isEmpty()) return;
  const QRectF picture(ToView(QPointF(0, 0)), ToView(QPointF(full_.width(), full_.height())));
  painter.drawImage(picture, shown_);

  const QRectF region(ToView(QPointF(region_.x, region_.y)),
                      ToView(QPointF(region_.x + region_.width, region_.y + region_.height)));
  // Outside the region the photo is dimmed.
  QPainterPath outside;
  outside.addRect(picture);
  outside.addRect(region);
  painter.fillPath(outside, QColor(0, 0, 0, 110));

  if (!mapImage_.isNull()) {
    const QPointF corner(region_.x + 1, region_.y + 1);
    painter.drawImage(
        QRectF(ToView(corner), ToView(corner + QPointF(mapImage_.width() * size_->width,
                                                       mapImage_.height() * size_->height))),
        mapImage_);
  }
  DrawLattice(painter);
  painter.setPen(QPen(QColor(255, 220, 0), 2));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(region);
  DrawLegend(painter);
}

// Every rectangle of the lattice where they are far enough apart to tell, else the first one
// alone: either way the rectangle's size can be matched with what is on the photo.
void PictureCanvas::DrawLattice(QPainter& painter) const {
  if (!size_) return;
  const int columns = std::max(mapImage_.width(), 1), rows = std::max(mapImage_.height(), 1);
  const QPointF corner(region_.x + 1, region_.y + 1);
  const double scale = ToView(QPointF(1, 0)).x() - ToView(QPointF(0, 0)).x();
  painter.setPen(QPen(QColor(255, 255, 255, 150), 1));
  painter.setBrush(Qt::NoBrush);
  if (size_->width * scale < 4 || size_->height * scale < 4 || mapImage_.isNull()) {
    painter.drawRect(QRectF(ToView(corner), ToView(corner + QPointF(size_->width, size_->height))));
    return;
  }
  const QPointF end = corner + QPointF(columns * size_->width, rows * size_->height);
  for (int j = 0; j <= columns; ++j) {
    const double x = corner.x() + double(j) * size_->width;
    painter.drawLine(ToView(QPointF(x, corner.y())), ToView(QPointF(x, end.y())));
  }
  for (int i = 0; i <= rows; ++i) {
    const double y = corner.y() + double(i) * size_->height;
    painter.drawLine(ToView(QPointF(corner.x(), y)), ToView(QPointF(end.x(), y)));
  }
}

void PictureCanvas::DrawLegend(QPainter& painter) const {
  const QRectF bar(60, height() - kLegendHeight + 8, 200, 12);
  QLinearGradient gradient(bar.topLeft(), bar.topRight());
  for (int k = 0; k <= 4; ++k) gradient.setColorAt(k / 4.0, Tint(k / 4.0, 1.0));
  painter.fillRect(bar, gradient);
  painter.setPen(Qt::white);
  painter.drawText(QRectF(4, bar.top() - 3, 52, 18), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("|diff| 0"));
  painter.drawText(QRectF(bar.right() + 6, bar.top() - 3, 80, 18), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::number(largest_));
}

int PictureCanvas::SidesAt(QPointF view) const {
  const QPointF a = ToView(QPointF(region_.x, region_.y));
  const QPointF b = ToView(QPointF(region_.x + region_.width, region_.y + region_.height));
  const bool acrossSpan = view.y() >= a.y() - kGrip && view.y() <= b.y() + kGrip;
  const bool downSpan = view.x() >= a.x() - kGrip && view.x() <= b.x() + kGrip;
  int sides = 0;
  if (acrossSpan && std::abs(view.x() - a.x()) <= kGrip) sides |= kLeft;
  if (acrossSpan && std::abs(view.x() - b.x()) <= kGrip) sides |= kRight;
  if (downSpan && std::abs(view.y() - a.y()) <= kGrip) sides |= kTop;
  if (downSpan && std::abs(view.y() - b.y()) <= kGrip) sides |= kBottom;
  if (sides == 0 && QRectF(a, b).contains(view)) sides = kAll;
  return sides;
}

// The region as the drag so far makes it: whole pixels, inside the picture, at least 1 x 1.
PixelRegion PictureCanvas::Dragged(QPointF view) const {
  const QPointF shift = ToPicture(view) - ToPicture(dragStart_);
  const int dx = static_cast<int>(std::lround(shift.x()));
  const int dy = static_cast<int>(std::lround(shift.y()));
  const PixelRegion& from = dragFrom_;
  if (dragSides_ == kAll) {
    return {std::clamp(from.x + dx, 0, full_.width() - from.width),
            std::clamp(from.y + dy, 0, full_.height() - from.height), from.width, from.height};
  }
  int left = from.x, top = from.y, right = from.x + from.width, bottom = from.y + from.height;
  if (dragSides_ & kLeft) left = std::clamp(left + dx, 0, right - 1);
  if (dragSides_ & kRight) right = std::clamp(right + dx, left + 1, full_.width());
  if (dragSides_ & kTop) top = std::clamp(top + dy, 0, bottom - 1);
  if (dragSides_ & kBottom) bottom = std::clamp(bottom + dy, top + 1, full_.height());
  return {left, top, right - left, bottom - top};
}

void PictureCanvas::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || full_.isEmpty()) return;
  dragStart_ = event->position();
  dragFrom_ = region_;
  dragSides_ = SidesAt(dragStart_);
  if (dragSides_ != 0) return;
  // Outside the region: a new one, from the pixel pressed to wherever the button is released.
  const QPointF p = ToPicture(dragStart_);
  if (p.x() < 0 || p.y() < 0 || p.x() >= full_.width() || p.y() >= full_.height()) return;
  dragFrom_ = {int(p.x()), int(p.y()), 1, 1};
  dragSides_ = kRight | kBottom;
}

void PictureCanvas::mouseMoveEvent(QMouseEvent* event) {
  if (dragSides_ != 0 && (event->buttons() & Qt::LeftButton)) {
    const PixelRegion dragged = Dragged(event->position());
    if (dragged != region_) {
      region_ = dragged;
      update();
      Q_EMIT regionEdited(dragged);
    }
    return;
  }
  const int sides = SidesAt(event->position());
  const bool across = sides & (kLeft | kRight), down = sides & (kTop | kBottom);
  setCursor(sides == kAll    ? Qt::SizeAllCursor
            : across && down ? Qt::SizeFDiagCursor
            : across         ? Qt::SizeHorCursor
            : down           ? Qt::SizeVerCursor
                             : Qt::ArrowCursor);
  const QPointF p = ToPicture(event->position());
  const std::optional<int32_t> difference =
      DifferenceAt(QPoint(int(std::floor(p.x())), int(std::floor(p.y()))));
  const QString text = difference ? QStringLiteral("difference %1").arg(*difference) : QString();
  if (text.isEmpty()) {
    QToolTip::hideText();
  } else {
    QToolTip::showText(event->globalPosition().toPoint(), text, this);
  }
  Q_EMIT pointed(text);
}

void PictureCanvas::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragSides_ = 0;
}

PictureView::PictureView(SettingsModel& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), settings_(settings) {
  setWindowTitle(QStringLiteral("Swelox picture view"));
  canvas_ = new PictureCanvas(this);
  path_ = new QLabel(this);
  path_->setTextFormat(Qt::PlainText);
  openButton_ = new QPushButton(QStringLiteral("Open..."), this);
  figures_ = new QLabel(this);
  figures_->setTextFormat(Qt::PlainText);
  status_ = new QLabel(this);
  status_->setTextFormat(Qt::PlainText);

  auto* top = new QHBoxLayout;
  top->addWidget(path_, 1);
  top->addWidget(openButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(canvas_, 1);
  layout->addWidget(figures_);
  layout->addWidget(status_);
  resize(960, 720);

  // Refresh lets no error through, so that the view's failure never ends what changed the
  // settings, a run included.
  connect(&settings_, &SettingsModel::changed, this, &PictureView::Refresh);
  connect(canvas_, &PictureCanvas::regionEdited, this, [this](const PixelRegion& r) {
    settings_.setText(SettingsModel::Field::Region, QString::fromStdString(r.Text()));
  });
  connect(canvas_, &PictureCanvas::pointed, this, [this](const QString& text) {
    if (!text.isEmpty()) status_->setText(text);
  });
  connect(openButton_, &QPushButton::clicked, this, [this] {
    try {
      ChoosePicture();
    } catch (const Error& e) {
      status_->setText(QString::fromStdString(WithFullStop(e.what())));
    }
  });
}

void PictureView::ChoosePicture() {
  const QString path = QFileDialog::getOpenFileName(this, QString(), QString(),
                                                    QStringLiteral("JPEG (*.jpg *.jpeg *.JPG)"));
  if (!path.isEmpty()) Open(path);
}

void PictureView::Open(const QString& path) {
  picture_ = DecodeBrightness(QFile::encodeName(path).toStdString());
  pathText_ = path;
  path_->setText(path);
  const QSize full(picture_->width, picture_->height);
  QImageReader reader(path);
  reader.setAutoTransform(false);  // the analysis takes the pixels as stored
  if (full.width() > kShownLimit.width() || full.height() > kShownLimit.height()) {
    reader.setScaledSize(full.scaled(kShownLimit, Qt::KeepAspectRatio));
  }
  QImage shown = reader.read();
  if (shown.isNull()) {  // a file that libjpeg reads but Qt does not: the outline on grey
    shown = QImage(1, 1, QImage::Format_RGB32);
    shown.fill(Qt::gray);
  }
  canvas_->SetPicture(shown, full);
  Refresh();
}

void PictureView::Refresh() {
  if (!picture_) return;
  try {
    Update();
  } catch (...) {
    map_.reset();
    canvas_->SetOverlay(PixelRegion{0, 0, picture_->width, picture_->height}, std::nullopt,
                        nullptr);
    figures_->setText(QString());
    status_->setText(ErrorText(std::current_exception()).value_or(QString()));
  }
}

void PictureView::Update() {
  QElapsedTimer timer;
  timer.start();
  const PixelRegion whole{0, 0, picture_->width, picture_->height};
  const Direction direction = settings_.direction();
  std::optional<PixelRegion> region;
  std::optional<RectangleSize> size;
  QString problem;
  map_.reset();
  try {
    using Field = SettingsModel::Field;
    region = ParseRegion(settings_.text(Field::Region).toStdString());
    size = RectangleSize::Checked(ParseInteger(settings_.text(Field::Width).toStdString()),
                                  ParseInteger(settings_.text(Field::Height).toStdString()));
    map_ = MapNoise(*picture_, region, *size, direction);
  } catch (const Error& e) {
    problem = QString::fromStdString(WithFullStop(e.what()));
  }
  const PixelRegion outlined =
      region && region->Inside(picture_->width, picture_->height) ? *region : whole;
  canvas_->SetOverlay(outlined, size, map_ ? &*map_ : nullptr);

  if (map_) {
    figures_->setText(
        QStringLiteral("meanDiff %1   RMS %2   nDiffs %3   rectangle %4 x %5 compared with the "
                       "one %6   %7 x %8 pixels%9")
            .arg(map_->figures.meanDiff)
            .arg(map_->figures.rms)
            .arg(map_->figures.nDiffs)
            .arg(size->width)
            .arg(size->height)
            .arg(direction == Direction::Right ? QStringLiteral("to the right")
                                               : QStringLiteral("below"))
            .arg(map_->width)
            .arg(map_->height)
            .arg(region ? QStringLiteral(" of region ") + QString::fromStdString(region->Text())
                        : QString()));
    status_->setText(QStringLiteral(
        "Point at a rectangle for its difference; drag the outline to move or resize the region, "
        "or drag outside it for a new one."));
  } else {
    figures_->setText(QString());
    status_->setText(problem);
  }
  lastUpdate_ = double(timer.nsecsElapsed()) / 1e6;
}

}  // namespace swelox::ui
