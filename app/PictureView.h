// The picture view: a photo fitted to the window with the region's outline, which the mouse moves
// and resizes, the lattice at the current rectangle size drawn to scale over the region, and the
// noise map, each compared rectangle tinted by its absolute difference. It follows the window's
// width, height, direction and region fields, and the region field follows the outline.
#pragma once

#include <QImage>
#include <QLabel>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "analysis/NoiseMap.h"

class QLineEdit;
class QPushButton;

namespace swelox::ui {

// Draws the photo and its overlays, and turns the mouse into region edits and pointed
// rectangles. Knows nothing of the fields.
class PictureCanvas : public QWidget {
  Q_OBJECT

 public:
  explicit PictureCanvas(QWidget* parent = nullptr);

  // The photo as shown (scaled to fit) and its full size in pixels.
  void SetPicture(const QImage& shown, QSize full);
  // The region to outline (the whole picture when none), the lattice size (none: no lattice) and
  // the map over the region (null: none).
  void SetOverlay(const PixelRegion& region, std::optional<RectangleSize> size,
                  const NoiseMap* map);

  // Between picture pixels and the canvas's points.
  QPointF ToView(QPointF picture) const;
  QPointF ToPicture(QPointF view) const;
  const PixelRegion& region() const { return region_; }
  // The difference of the compared rectangle that covers a picture pixel, if any.
  std::optional<int32_t> DifferenceAt(QPoint picturePixel) const;

 Q_SIGNALS:
  void regionEdited(const swelox::PixelRegion& region);
  void pointed(const QString& text);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  // Which sides of the region a drag moves: all four to move it.
  enum Side { kLeft = 1, kTop = 2, kRight = 4, kBottom = 8, kAll = 15 };
  int SidesAt(QPointF view) const;
  PixelRegion Dragged(QPointF view) const;
  void DrawLattice(QPainter& painter) const;
  void DrawLegend(QPainter& painter) const;

  QImage shown_;
  QSize full_;
  PixelRegion region_;
  std::optional<RectangleSize> size_;
  // One pixel per lattice position: the tint of its difference, transparent where none.
  QImage mapImage_;
  // Per lattice position its difference, or kNoDifference where it was not compared.
  static constexpr int32_t kNoDifference = INT32_MIN;
  std::vector<int32_t> differences_;
  int32_t largest_ = 0;  // the largest absolute difference, the top of the colour scale
  int dragSides_ = 0;
  QPointF dragStart_;
  PixelRegion dragFrom_;
};

class SettingsModel;

class PictureView : public QWidget {
  Q_OBJECT

 public:
  // Follows `settings`: their sizes, region and direction; an edit of the outline becomes their
  // region.
  explicit PictureView(SettingsModel& settings, QWidget* parent = nullptr);

  // Shows the photo at `path` (decoded once in full for the analysis, and scaled for the screen)
  // and analyses it with the fields' settings. Raises the decoder's errors.
  void Open(const QString& path);
  // Reads the settings again and lays the lattice anew. Whatever goes wrong shows in the status
  // line: a change of the settings never fails because of the view.
  void Refresh();

  PictureCanvas* canvas() const { return canvas_; }
  // The figures line, and the line that shows the pointed difference or what is wrong.
  QLabel* figures() const { return figures_; }
  QLabel* status() const { return status_; }
  const std::optional<NoiseMap>& map() const { return map_; }
  double lastUpdateMilliseconds() const { return lastUpdate_; }

 private:
  void ChoosePicture();
  void Update();

  SettingsModel& settings_;
  PictureCanvas* canvas_;
  QLabel* path_;
  QPushButton* openButton_;
  QLabel* figures_;
  QLabel* status_;
  QString pathText_;
  std::optional<BrightnessPicture> picture_;
  std::optional<NoiseMap> map_;
  double lastUpdate_ = 0;
};

}  // namespace swelox::ui
