// The picture view: a photo with the region's outline, which the mouse moves and resizes, the
// lattice at the current rectangle size drawn to scale over the region, and the noise map, each
// compared rectangle coloured by its absolute difference. It follows the window's width, height,
// direction and region fields, the region field follows the outline, and it steps through the
// photos of the last run. Decoding and analysis happen on a worker thread.
#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "analysis/NoiseMap.h"
#include "app/PictureCanvas.h"
#include "app/PictureWork.h"
#include "app/RunTable.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;
class QTimer;

namespace swelox::ui {

class ElidedLabel;

class SettingsModel;

class PictureView : public QWidget {
  Q_OBJECT

 public:
  // Follows `settings`: their sizes, region and direction; an edit of the outline becomes their
  // region.
  explicit PictureView(SettingsModel& settings, QWidget* parent = nullptr);
  ~PictureView() override;

  // Shows the photo at `path` and analyses it with the fields' settings; the work goes on in
  // the background and its errors show in the status line.
  void Open(const QString& path);
  // Shows no photo, as a new run begins: nothing of the last run's stays on view.
  void Clear();
  // The run begun at Clear has ended: unless a photo shows, the status line says how to open one.
  void RunEnded();
  // Reads the settings again and lays the lattice anew. Whatever goes wrong shows in the status
  // line: a change of the settings never fails because of the view.
  void Refresh();
  // The photos of the last run, in its order: Page Down and Page Up step through them.
  void SetRunPhotos(const QStringList& paths);
  const QStringList& runPhotos() const { return runPhotos_; }
  // Moves `by` photos on in the run (back when negative), if there is one there.
  void Step(int by);
  // Opens `path` at this rectangle size, a row's own, as a point of the day chart asks; the
  // settings keep theirs, and the view follows them again once their width or height changes.
  void OpenAt(const QString& path, int width, int height);
  // Shows the photo of a result at the result's own rectangle size, as OpenAt does.
  void ShowResult(const PhotoResult& result);
  // The size the lattice is laid at: the row's given to OpenAt, else the settings'.
  std::pair<QString, QString> LatticeSize() const;

  QString path() const { return pathText_; }
  // True from a request until the map it asked for (or the reason there is none) shows.
  bool busy() const { return busy_; }
  PictureCanvas* canvas() const { return canvas_; }
  // The figures line, and the line that shows the pointed rectangle or what is wrong.
  ElidedLabel* figures() const { return figures_; }
  ElidedLabel* status() const { return status_; }
  QProgressBar* progress() const { return progress_; }
  QSlider* opacity() const { return opacity_; }
  // On: one colour scale for all the photos of the run, up to the largest difference shown so far.
  QCheckBox* sharedScale() const { return sharedScale_; }
  // The photo the worker last prepared ahead, once it is ready; empty when none.
  const QString& preparedPath() const { return preparedPath_; }
  QPushButton* previousButton() const { return previous_; }
  QPushButton* nextButton() const { return next_; }
  const std::shared_ptr<const NoiseMap>& map() const { return map_; }

 Q_SIGNALS:
  // The newest request has been answered: a map, or a message in the status line.
  void settled();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void ChoosePicture();
  // The request for `path` with the settings as they are now.
  MapRequest RequestFor(const QString& path) const;
  void Show(const LaidMap& laid);
  void Fail(const QString& path, const Error& error);
  // After a photo is shown: the worker prepares the one that stepping on would show.
  void PrepareNext();
  void ApplyScale();
  void Settle();
  void UpdateStepping();

  SettingsModel& settings_;
  PictureWork* work_;
  PictureCanvas* canvas_;
  QPushButton* previous_;
  QLabel* position_;
  QPushButton* next_;
  ElidedLabel* path_;
  QPushButton* openButton_;
  QSlider* opacity_;
  QCheckBox* sharedScale_;
  QLabel* zoom_;
  QProgressBar* progress_;
  QTimer* progressDelay_;
  ElidedLabel* figures_;
  ElidedLabel* status_;
  QString pathText_;
  QStringList runPhotos_;
  int stepping_ = 1;         // the way the last step went
  int32_t runScaleTop_ = 0;  // the largest difference shown in this run while the scale is shared
  QString preparedPath_;
  std::shared_ptr<const NoiseMap> map_;
  std::optional<MapRequest> laid_;  // what map_ was laid with
  uint64_t generation_ = 0;
  bool busy_ = false;
  bool placed_ = false;
  QString failedPath_;
  std::optional<std::pair<int, int>> rowSize_;  // from OpenAt, until the settings' size changes
};

}  // namespace swelox::ui
