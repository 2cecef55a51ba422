// The picture view's canvas: the photo at any zoom from the whole photo to 8 screen pixels per
// photo pixel, the region's outline (which the mouse moves and resizes), the lattice and the noise
// map drawn to scale, and a legend with the map's colour scale and its numbers.
#pragma once

#include <QImage>
#include <QWidget>
#include <memory>
#include <optional>

#include "analysis/NoiseMap.h"

namespace swelox::ui {

struct DecodedPhoto;

class PictureCanvas : public QWidget {
  Q_OBJECT

 public:
  static constexpr double kMostZoom = 8;  // screen pixels per photo pixel

  explicit PictureCanvas(QWidget* parent = nullptr);

  // The photo (null: none), shown from its overview until the zoom goes past the overview's
  // detail; a photo of another size than the last is fitted.
  void SetPhoto(std::shared_ptr<const DecodedPhoto> photo);
  const std::shared_ptr<const DecodedPhoto>& photo() const { return photo_; }
  // The region to outline (the whole picture when none), the lattice size (none: no lattice) and
  // the map over the region (null: none).
  void SetOverlay(const PixelRegion& region, std::optional<RectangleSize> size,
                  std::shared_ptr<const NoiseMap> map, Direction direction);
  // The differences of a window of the map in the detail that the map itself does not keep, as
  // asked for by detailWanted; ignored unless `map` is still the one shown.
  void SetDetail(const std::shared_ptr<const NoiseMap>& map, std::shared_ptr<const MapCells> cells);
  const std::shared_ptr<const MapCells>& detail() const { return detail_; }
  // True from asking for detail until it arrives.
  bool detailPending() const { return asked_.has_value(); }
  // The lattice positions in view, clipped to the lattice.
  std::optional<LatticeWindow> VisibleWindow() const;
  // The most map values the canvas shows: its pixels on the screen.
  uint64_t DevicePixels() const;

  // The difference that the colour scale's top stands for, kept over several maps; none: each
  // map's own largest.
  void SetSharedScaleTop(std::optional<int32_t> top);
  // The difference that the top of the scale stands for now.
  int32_t scaleTop() const;

  // How much of the map shows over the photo: 0 the photo alone, 1 the map alone.
  void SetMapOpacity(double opacity);
  double mapOpacity() const { return opacity_; }

  // Zoom: screen pixels per photo pixel, kept between the whole photo and kMostZoom.
  double zoom() const { return scale_; }
  double fitZoom() const;
  // Zooms to `scale` keeping the photo point under `anchor` (a canvas point) where it is.
  void ZoomAbout(QPointF anchor, double scale);
  void Fit();
  void ActualSize();
  void PanBy(QPointF shift);

  // Between picture pixels and the canvas's points.
  QPointF ToView(QPointF picture) const;
  QPointF ToPicture(QPointF view) const;
  const PixelRegion& region() const { return region_; }
  QSize pictureSize() const { return full_; }
  // What the pointer at a photo pixel is told: the rectangle there, its difference and the
  // rectangle it was compared with; empty where there is none.
  QString Describe(QPoint picturePixel) const;
  // Where the legend is drawn: the canvas's bottom strip.
  int legendHeight() const;

 Q_SIGNALS:
  void regionEdited(const swelox::PixelRegion& region);
  void pointed(const QString& text);
  void zoomChanged(double scale);
  // The map keeps the differences pooled and the view shows more than that: the positions of
  // `window`, in at most `cellLimit` values, would show them.
  void detailWanted(const swelox::LatticeWindow& window, quint64 cellLimit);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  // Which sides of the region a drag moves: all four to move it.
  enum Side { kLeft = 1, kTop = 2, kRight = 4, kBottom = 8, kAll = 15 };
  QRectF PhotoArea() const;  // the canvas above the legend
  void KeepInView();
  // The zoom, the pan or the canvas changed: the map is drawn anew, and asked in more detail
  // where it has less than the screen shows.
  void ViewChanged();
  void AskDetail();
  // The difference of lattice position (column, row) itself, and whether it is known.
  std::optional<std::optional<int32_t>> ExactDifference(int32_t column, int32_t row) const;
  int SidesAt(QPointF view) const;
  PixelRegion Dragged(QPointF view) const;
  void DrawPhoto(QPainter& painter) const;
  void DrawMap(QPainter& painter);
  void DrawLattice(QPainter& painter) const;
  void DrawLegend(QPainter& painter) const;
  std::optional<QPoint> CellAt(QPoint picturePixel) const;

  QImage overview_;
  std::shared_ptr<const DecodedPhoto> photo_;
  QSize full_;
  PixelRegion region_;
  std::optional<RectangleSize> size_;
  std::shared_ptr<const NoiseMap> map_;
  PixelRegion mapRegion_;                   // where the map was laid
  std::shared_ptr<const MapCells> detail_;  // a window of the map in more detail, or null
  std::optional<LatticeWindow> asked_;      // the detail asked for and not yet come
  Direction direction_ = Direction::Below;
  std::optional<int32_t> sharedScaleTop_;
  double opacity_ = 0.75;
  double scale_ = 1;
  QPointF origin_;      // where photo pixel (0, 0) is on the canvas
  bool fitted_ = true;  // follows the canvas's size while nobody zoomed

  // The map as drawn for the present zoom and pan: never larger than the canvas.
  QImage mapImage_;
  QRectF mapImageArea_;
  bool mapImageValid_ = false;

  int dragSides_ = 0;
  QPointF dragStart_;
  PixelRegion dragFrom_;
  bool spaceHeld_ = false;
  bool panning_ = false;
  QPointF panLast_;
};

}  // namespace swelox::ui
