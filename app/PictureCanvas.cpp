// The picture view's canvas.
#include "app/PictureCanvas.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "app/ColourScale.h"
#include "app/PictureWork.h"

namespace swelox::ui {
namespace {

constexpr double kGrip = 6;          // how near a side the pointer takes hold of it, in points
constexpr double kWheelStep = 1.25;  // zoom per notch of the wheel
constexpr double kKeyStep = 1.5;     // zoom per + or -
constexpr double kKeptInView = 48;   // points of the photo that panning always leaves in view

}  // namespace

PictureCanvas::PictureCanvas(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(240, 160);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

int PictureCanvas::legendHeight() const { return fontMetrics().height() * 2 + 10; }

QRectF PictureCanvas::PhotoArea() const {
  return QRectF(0, 0, width(), std::max(1, height() - legendHeight()));
}

void PictureCanvas::SetPhoto(std::shared_ptr<const DecodedPhoto> photo) {
  photo_ = std::move(photo);
  overview_ = photo_ ? photo_->overview : QImage();
  const QSize full = photo_ ? QSize(photo_->brightness.width, photo_->brightness.height) : QSize();
  if (full != full_) {
    full_ = full;
    map_.reset();
    Fit();
  }
  ViewChanged();
}

void PictureCanvas::SetSharedScaleTop(std::optional<int32_t> top) {
  if (top == sharedScaleTop_) return;
  sharedScaleTop_ = top;
  mapImageValid_ = false;
  update();
}

int32_t PictureCanvas::scaleTop() const {
  if (sharedScaleTop_) return *sharedScaleTop_;
  return map_ ? map_->largest : 0;
}

void PictureCanvas::SetOverlay(const PixelRegion& region, std::optional<RectangleSize> size,
                               std::shared_ptr<const NoiseMap> map, Direction direction) {
  region_ = region;
  mapRegion_ = region;
  size_ = size;
  map_ = std::move(map);
  direction_ = direction;
  detail_.reset();
  asked_.reset();
  ViewChanged();
}

void PictureCanvas::SetDetail(const std::shared_ptr<const NoiseMap>& map,
                              std::shared_ptr<const MapCells> cells) {
  if (map != map_ || !map_) return;
  if (!cells || (asked_ && cells->window == *asked_)) asked_.reset();
  if (!cells) return;
  detail_ = std::move(cells);
  mapImageValid_ = false;
  update();
}

std::optional<LatticeWindow> PictureCanvas::VisibleWindow() const {
  if (!map_ || !size_) return std::nullopt;
  const QPointF corner(mapRegion_.x + 1, mapRegion_.y + 1);
  const QPointF from = ToPicture(PhotoArea().topLeft()) - corner;
  const QPointF to = ToPicture(PhotoArea().bottomRight()) - corner;
  auto position = [](double at, int side, int limit, bool up) {
    const double p = (up ? std::ceil(at / side) : std::floor(at / side));
    return int32_t(std::clamp(p, 0.0, double(limit)));
  };
  const int32_t left = position(from.x(), size_->width, map_->columns, false);
  const int32_t top = position(from.y(), size_->height, map_->rows, false);
  const int32_t right = position(to.x(), size_->width, map_->columns, true);
  const int32_t bottom = position(to.y(), size_->height, map_->rows, true);
  return LatticeWindow{left, top, right - left, bottom - top};
}

uint64_t PictureCanvas::DevicePixels() const {
  const double ratio = devicePixelRatioF();
  const QRectF area = PhotoArea();
  return uint64_t(std::ceil(area.width() * ratio)) * uint64_t(std::ceil(area.height() * ratio));
}

void PictureCanvas::ViewChanged() {
  mapImageValid_ = false;
  update();
  AskDetail();
}

void PictureCanvas::AskDetail() {
  if (!map_ || !size_ || map_->cells.pool == 1) return;
  const std::optional<LatticeWindow> window = VisibleWindow();
  if (!window || window->columns == 0 || window->rows == 0) return;
  const uint64_t limit = DevicePixels();
  const int32_t pool = PoolFor(window->columns, window->rows, limit);
  if (pool >= map_->cells.pool) return;  // the map itself has all the screen can show
  if (detail_ && detail_->pool <= pool && detail_->Covers(window->column, window->row) &&
      detail_->Covers(window->column + window->columns - 1, window->row + window->rows - 1)) {
    return;
  }
  if (asked_ && *asked_ == *window) return;
  asked_ = window;
  Q_EMIT detailWanted(*window, limit);
}

void PictureCanvas::SetMapOpacity(double opacity) {
  opacity_ = std::clamp(opacity, 0.0, 1.0);
  update();
}

double PictureCanvas::fitZoom() const {
  if (full_.isEmpty()) return 1;
  const QRectF area = PhotoArea();
  return std::min(area.width() / full_.width(), area.height() / full_.height());
}

void PictureCanvas::Fit() {
  scale_ = fitZoom();
  const QRectF area = PhotoArea();
  origin_ = QPointF((area.width() - full_.width() * scale_) / 2,
                    (area.height() - full_.height() * scale_) / 2);
  fitted_ = true;
  ViewChanged();
  Q_EMIT zoomChanged(scale_);
}

void PictureCanvas::ZoomAbout(QPointF anchor, double scale) {
  if (full_.isEmpty()) return;
  const double least = fitZoom(), most = std::max(kMostZoom, least);
  scale = std::clamp(scale, least, most);
  if (scale <= least) return Fit();
  const QPointF picture = ToPicture(anchor);
  scale_ = scale;
  origin_ = anchor - picture * scale_;
  fitted_ = false;
  KeepInView();
  ViewChanged();
  Q_EMIT zoomChanged(scale_);
}

void PictureCanvas::ActualSize() { ZoomAbout(PhotoArea().center(), 1); }

void PictureCanvas::PanBy(QPointF shift) {
  if (fitted_ && scale_ <= fitZoom()) return;  // the whole photo shows already
  origin_ += shift;
  KeepInView();
  ViewChanged();
}

// Some of the photo always stays in view, however far it is panned.
void PictureCanvas::KeepInView() {
  const QRectF area = PhotoArea();
  const double w = full_.width() * scale_, h = full_.height() * scale_;
  const double keepX = std::min(w, kKeptInView), keepY = std::min(h, kKeptInView);
  origin_.setX(std::clamp(origin_.x(), area.left() + keepX - w, area.right() - keepX));
  origin_.setY(std::clamp(origin_.y(), area.top() + keepY - h, area.bottom() - keepY));
}

QPointF PictureCanvas::ToView(QPointF picture) const { return origin_ + picture * scale_; }

QPointF PictureCanvas::ToPicture(QPointF view) const { return (view - origin_) / scale_; }

void PictureCanvas::resizeEvent(QResizeEvent*) {
  if (fitted_) {
    Fit();
  } else {
    KeepInView();
    ViewChanged();
  }
}

std::optional<QPoint> PictureCanvas::CellAt(QPoint pixel) const {
  if (!size_ || !map_) return std::nullopt;
  // A rectangle's corner pixel is one right of and below the region's first pixel.
  const int x = pixel.x() - mapRegion_.x - 1, y = pixel.y() - mapRegion_.y - 1;
  if (x < 0 || y < 0) return std::nullopt;
  const int column = x / size_->width, row = y / size_->height;
  if (column >= map_->columns || row >= map_->rows) return std::nullopt;
  return QPoint(column, row);
}

// From the map where it keeps the position's own difference, else from the detail shown, else laid
// afresh from the photo's brightness: two rectangles' sums, at most as many pixels as the photo.
std::optional<std::optional<int32_t>> PictureCanvas::ExactDifference(int32_t column,
                                                                     int32_t row) const {
  if (map_->cells.pool == 1) return map_->cells.At(column, row);
  if (detail_ && detail_->pool == 1 && detail_->Covers(column, row)) {
    return detail_->At(column, row);
  }
  if (!photo_) return std::nullopt;
  try {
    const std::optional<MapCells> cell =
        MapWindow(photo_->brightness, mapRegion_, *size_, direction_, {column, row, 1, 1}, 1);
    if (cell) return cell->At(column, row);
  } catch (const std::exception&) {
    // The photo and the map no longer match: nothing is told.
  }
  return std::nullopt;
}

QString PictureCanvas::Describe(QPoint pixel) const {
  const std::optional<QPoint> cell = CellAt(pixel);
  if (!cell) return QString();
  const int w = size_->width, h = size_->height;
  const int x = mapRegion_.x + 1 + cell->x() * w, y = mapRegion_.y + 1 + cell->y() * h;
  const QString where = QStringLiteral("Rectangle %1 x %2 at %3,%4 (column %5, row %6)")
                            .arg(w)
                            .arg(h)
                            .arg(x)
                            .arg(y)
                            .arg(cell->x() + 1)
                            .arg(cell->y() + 1);
  const bool below = direction_ == Direction::Below;
  const std::optional<std::optional<int32_t>> known = ExactDifference(cell->x(), cell->y());
  if (!known) return QString();
  const std::optional<int32_t>& difference = *known;
  if (!difference) {
    return where + (below ? QStringLiteral(": the first of its column, compared with none above")
                          : QStringLiteral(": the first of its row, compared with none before"));
  }
  return where + QStringLiteral(": difference %1 from the rectangle %2 at %3,%4")
                     .arg(*difference)
                     .arg(below ? QStringLiteral("above it") : QStringLiteral("left of it"))
                     .arg(below ? x : x - w)
                     .arg(below ? y - h : y);
}

void PictureCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(40, 40, 40));
  if (!full_.isEmpty()) {
    painter.save();
    painter.setClipRect(PhotoArea());
    DrawPhoto(painter);
    const QRectF picture(ToView(QPointF(0, 0)), ToView(QPointF(full_.width(), full_.height())));
    const QRectF region(ToView(QPointF(region_.x, region_.y)),
                        ToView(QPointF(region_.x + region_.width, region_.y + region_.height)));
    // The photo is dimmed under the map, and further outside the region.
    if (map_) painter.fillRect(picture, QColor(0, 0, 0, int(110 * opacity_)));
    QPainterPath outside;
    outside.addRect(picture);
    outside.addRect(region);
    painter.fillPath(outside, QColor(0, 0, 0, 110));
    DrawMap(painter);
    DrawLattice(painter);
    painter.setPen(QPen(QColor(255, 220, 0), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(region);
    painter.restore();
  }
  DrawLegend(painter);
}

// The part of the photo in view, from the overview while it has the detail the zoom asks for,
// else from every pixel; pixels are squares when zoomed in.
void PictureCanvas::DrawPhoto(QPainter& painter) const {
  const QRectF visible =
      QRectF(ToPicture(PhotoArea().topLeft()), ToPicture(PhotoArea().bottomRight()))
          .intersected(QRectF(0, 0, full_.width(), full_.height()));
  if (visible.isEmpty()) return;
  const double overviewZoom =
      overview_.isNull() ? 0 : double(overview_.width()) / full_.width() * devicePixelRatioF();
  const QImage* image = &overview_;
  if (photo_ && (overview_.isNull() || scale_ > overviewZoom * 1.01)) image = &photo_->colour;
  if (image->isNull()) return;
  const double kx = double(image->width()) / full_.width(),
               ky = double(image->height()) / full_.height();
  const QRectF source(visible.x() * kx, visible.y() * ky, visible.width() * kx,
                      visible.height() * ky);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, scale_ < kx);
  painter.drawImage(QRectF(ToView(visible.topLeft()), ToView(visible.bottomRight())), *image,
                    source);
}

// The map is drawn into an image of the canvas's size at most: each screen pixel takes the colour
// of the rectangle under its centre, so that it stays exact at every zoom. Where the map keeps its
// positions pooled, the detail laid for the view takes their place as soon as it comes.
void PictureCanvas::DrawMap(QPainter& painter) {
  if (!map_ || !size_ || map_->columns == 0 || map_->rows == 0 || opacity_ <= 0) return;
  if (!mapImageValid_) {
    mapImageValid_ = true;
    mapImage_ = QImage();
    const QPointF corner(mapRegion_.x + 1, mapRegion_.y + 1);
    const QRectF lattice(ToView(corner),
                         ToView(corner + QPointF(double(map_->columns) * size_->width,
                                                 double(map_->rows) * size_->height)));
    const QRect area = lattice.intersected(PhotoArea()).toAlignedRect().intersected(rect());
    if (area.isEmpty()) return;
    const double ratio = devicePixelRatioF();
    const int w = int(std::ceil(area.width() * ratio)), h = int(std::ceil(area.height() * ratio));
    const MapCells& coarse = map_->cells;
    const MapCells* fine = detail_ && detail_->pool < coarse.pool ? detail_.get() : nullptr;
    // Per device column (or row), the index of the value under its centre in the map's cells and
    // in the detail's (-1: none there).
    struct Indices {
      std::vector<int> coarse, fine;
    };
    auto indices = [&](int count, double start, double origin, double corner1, int side, int limit,
                       bool across) {
      Indices at{std::vector<int>(size_t(count), -1), std::vector<int>(size_t(count), -1)};
      for (int k = 0; k < count; ++k) {
        const double picture = ((start + (k + 0.5) / ratio) - origin) / scale_ - corner1;
        const double position = std::floor(picture / side);
        if (picture < 0 || position >= limit) continue;
        const int p = int(position);
        const int first = across ? coarse.window.column : coarse.window.row;
        at.coarse[size_t(k)] = (p - first) / coarse.pool;
        if (!fine) continue;
        const int from = across ? fine->window.column : fine->window.row;
        const int span = across ? fine->window.columns : fine->window.rows;
        if (p >= from && p < from + span) at.fine[size_t(k)] = (p - from) / fine->pool;
      }
      return at;
    };
    const Indices columns =
        indices(w, area.left(), origin_.x(), corner.x(), size_->width, map_->columns, true);
    const Indices rows =
        indices(h, area.top(), origin_.y(), corner.y(), size_->height, map_->rows, false);
    mapImage_ = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
    const std::array<QRgb, 256>& scale = ViridisScale();
    const int32_t top = scaleTop();
    auto colour = [&](int32_t d) {
      return d == MapCells::kNoDifference ? QRgb(0) : scale[size_t(ScaleStep(std::abs(d), top))];
    };
    for (int y = 0; y < h; ++y) {
      auto* out = reinterpret_cast<QRgb*>(mapImage_.scanLine(y));
      const int coarseRow = rows.coarse[size_t(y)], fineRow = rows.fine[size_t(y)];
      if (coarseRow < 0) {
        std::fill(out, out + w, 0);
        continue;
      }
      const int32_t* coarseLine = coarse.values.data() + size_t(coarseRow) * size_t(coarse.columns);
      const int32_t* fineLine =
          fineRow < 0 ? nullptr : fine->values.data() + size_t(fineRow) * size_t(fine->columns);
      for (int x = 0; x < w; ++x) {
        const int coarseColumn = columns.coarse[size_t(x)], fineColumn = columns.fine[size_t(x)];
        if (coarseColumn < 0) {
          out[x] = 0;
        } else if (fineLine && fineColumn >= 0) {
          out[x] = colour(fineLine[fineColumn]);
        } else {
          out[x] = colour(coarseLine[coarseColumn]);
        }
      }
    }
    mapImage_.setDevicePixelRatio(ratio);
    mapImageArea_ = area;
  }
  if (mapImage_.isNull()) return;
  painter.save();
  painter.setOpacity(opacity_);
  painter.drawImage(mapImageArea_.topLeft(), mapImage_);
  painter.restore();
}

// Every rectangle of the lattice where they are far enough apart to tell, else the first one
// alone: either way the rectangle's size can be matched with what is on the photo.
void PictureCanvas::DrawLattice(QPainter& painter) const {
  if (!size_) return;
  const int columns = map_ ? std::max(map_->columns, 1) : 1;
  const int rows = map_ ? std::max(map_->rows, 1) : 1;
  const QPointF corner(region_.x + 1, region_.y + 1);
  painter.setPen(QPen(QColor(255, 255, 255, 150), 1));
  painter.setBrush(Qt::NoBrush);
  if (size_->width * scale_ < 4 || size_->height * scale_ < 4 || !map_) {
    painter.drawRect(QRectF(ToView(corner), ToView(corner + QPointF(size_->width, size_->height))));
    return;
  }
  // Only the lines in view.
  const QPointF from = ToPicture(PhotoArea().topLeft()) - corner;
  const QPointF to = ToPicture(PhotoArea().bottomRight()) - corner;
  const int firstColumn = std::clamp(int(std::floor(from.x() / size_->width)), 0, columns);
  const int lastColumn = std::clamp(int(std::ceil(to.x() / size_->width)), 0, columns);
  const int firstRow = std::clamp(int(std::floor(from.y() / size_->height)), 0, rows);
  const int lastRow = std::clamp(int(std::ceil(to.y() / size_->height)), 0, rows);
  const double top = corner.y() + double(firstRow) * size_->height;
  const double bottom = corner.y() + double(lastRow) * size_->height;
  const double left = corner.x() + double(firstColumn) * size_->width;
  const double right = corner.x() + double(lastColumn) * size_->width;
  for (int j = firstColumn; j <= lastColumn; ++j) {
    const double x = corner.x() + double(j) * size_->width;
    painter.drawLine(ToView(QPointF(x, top)), ToView(QPointF(x, bottom)));
  }
  for (int i = firstRow; i <= lastRow; ++i) {
    const double y = corner.y() + double(i) * size_->height;
    painter.drawLine(ToView(QPointF(left, y)), ToView(QPointF(right, y)));
  }
}

// The colour scale with its numbers: absolute differences, in the unit of meanDiff.
void PictureCanvas::DrawLegend(QPainter& painter) const {
  const QFontMetrics metrics = fontMetrics();
  const int top = height() - legendHeight();
  painter.fillRect(QRect(0, top, width(), legendHeight()), QColor(30, 30, 30));
  const QString caption = QStringLiteral("|difference|");
  const int captionWidth = metrics.horizontalAdvance(caption) + 12;
  const int barHeight = std::max(8, metrics.height() - 4);
  const QRect bar(captionWidth, top + 4, std::clamp(width() - captionWidth - 40, 40, 400),
                  barHeight);
  painter.setPen(Qt::white);
  painter.drawText(
      QRect(4, bar.center().y() - metrics.height() / 2, captionWidth - 4, metrics.height()),
      Qt::AlignLeft | Qt::AlignVCenter, caption);
  QImage steps(256, 1, QImage::Format_RGB32);
  for (int k = 0; k < 256; ++k) steps.setPixel(k, 0, ViridisScale()[size_t(k)]);
  painter.drawImage(bar, steps);
  if (!map_) return;
  // Five numbers under the bar, each centred on its tick.
  for (int k = 0; k <= 4; ++k) {
    const QString number = QString::number(int64_t{scaleTop()} * k / 4);
    const int x = bar.left() + bar.width() * k / 4;
    const int half = metrics.horizontalAdvance(number) / 2 + 1;
    painter.drawLine(x, bar.bottom(), x, bar.bottom() + 3);
    painter.drawText(QRect(x - half, bar.bottom() + 3, 2 * half, metrics.height()), Qt::AlignCenter,
                     number);
  }
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
  if (full_.isEmpty()) return;
  if (event->button() == Qt::MiddleButton || (event->button() == Qt::LeftButton && spaceHeld_)) {
    panning_ = true;
    panLast_ = event->position();
    setCursor(Qt::ClosedHandCursor);
    return;
  }
  if (event->button() != Qt::LeftButton) return;
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
  if (panning_) {
    PanBy(event->position() - panLast_);
    panLast_ = event->position();
    return;
  }
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
  setCursor(spaceHeld_       ? Qt::OpenHandCursor
            : sides == kAll  ? Qt::SizeAllCursor
            : across && down ? Qt::SizeFDiagCursor
            : across         ? Qt::SizeHorCursor
            : down           ? Qt::SizeVerCursor
                             : Qt::ArrowCursor);
  const QPointF p = ToPicture(event->position());
  const QString text = PhotoArea().contains(event->position())
                           ? Describe(QPoint(int(std::floor(p.x())), int(std::floor(p.y()))))
                           : QString();
  Q_EMIT pointed(text);
}

void PictureCanvas::mouseReleaseEvent(QMouseEvent* event) {
  if (panning_ && (event->button() == Qt::MiddleButton || event->button() == Qt::LeftButton)) {
    panning_ = false;
    setCursor(spaceHeld_ ? Qt::OpenHandCursor : Qt::ArrowCursor);
    return;
  }
  if (event->button() == Qt::LeftButton) dragSides_ = 0;
}

void PictureCanvas::leaveEvent(QEvent*) { Q_EMIT pointed(QString()); }

void PictureCanvas::wheelEvent(QWheelEvent* event) {
  const double notches = event->angleDelta().y() / 120.0;
  if (notches == 0) return;
  ZoomAbout(event->position(), scale_ * std::pow(kWheelStep, notches));
  event->accept();
}

void PictureCanvas::keyPressEvent(QKeyEvent* event) {
  const QPointF centre = PhotoArea().center();
  switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      ZoomAbout(centre, scale_ * kKeyStep);
      break;
    case Qt::Key_Minus:
      ZoomAbout(centre, scale_ / kKeyStep);
      break;
    case Qt::Key_0:
      Fit();
      break;
    case Qt::Key_1:
      ActualSize();
      break;
    case Qt::Key_Space:
      if (!event->isAutoRepeat()) {
        spaceHeld_ = true;
        setCursor(Qt::OpenHandCursor);
      }
      break;
    default:
      QWidget::keyPressEvent(event);  // Page Up and Page Down step through the run
      return;
  }
  event->accept();
}

void PictureCanvas::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
    spaceHeld_ = false;
    if (!panning_) setCursor(Qt::ArrowCursor);
    return;
  }
  QWidget::keyReleaseEvent(event);
}

}  // namespace swelox::ui
