// The picture view.
#include "app/PictureView.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "analysis/Region.h"
#include "app/ElidedLabel.h"
#include "app/ErrorBox.h"
#include "app/PictureWork.h"
#include "app/Placement.h"
#include "app/SettingsModel.h"
#include "app/SettingsStore.h"
#include "core/Errors.h"
#include "core/IntegerText.h"
#include "imaging/MemoryBudget.h"

namespace swelox::ui {
namespace {

// Work that ends sooner than this shows no progress bar.
constexpr int kProgressDelayMs = 200;
const QString kGeometryKey = QStringLiteral("view/geometry");
const QString kOpacityKey = QStringLiteral("view/mapOpacity");
const QString kSharedScaleKey = QStringLiteral("view/sharedScale");

QPushButton* NewButton(const QString& caption, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setFocusPolicy(Qt::NoFocus);  // the keys belong to the canvas
  return button;
}

}  // namespace

PictureView::PictureView(SettingsModel& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), settings_(settings) {
  setWindowTitle(QStringLiteral("Swelox picture view"));
  work_ = new PictureWork(MemoryBudget::Process().capacity(), this);
  canvas_ = new PictureCanvas(this);
  previous_ = NewButton(QStringLiteral("< Previous"), this);
  previous_->setToolTip(QStringLiteral("The run's previous photo (Page Up)"));
  position_ = new QLabel(this);
  next_ = NewButton(QStringLiteral("Next >"), this);
  next_->setToolTip(QStringLiteral("The run's next photo (Page Down)"));
  path_ = new ElidedLabel(this);
  openButton_ = NewButton(QStringLiteral("Open..."), this);
  opacity_ = new QSlider(Qt::Horizontal, this);
  opacity_->setRange(0, 100);
  opacity_->setValue(SettingsStore().value(kOpacityKey, 75).toInt());
  opacity_->setFocusPolicy(Qt::NoFocus);
  opacity_->setToolTip(QStringLiteral("From the photo alone (left) to the map alone (right)"));
  opacity_->setMaximumWidth(fontMetrics().averageCharWidth() * 24);
  sharedScale_ = new QCheckBox(QStringLiteral("One colour scale for the run"), this);
  sharedScale_->setFocusPolicy(Qt::NoFocus);
  sharedScale_->setToolTip(
      QStringLiteral("The same colours for the same differences on every photo of the run, up to "
                     "the largest difference shown so far"));
  sharedScale_->setChecked(SettingsStore().value(kSharedScaleKey, false).toBool());
  zoom_ = new QLabel(this);
  auto* fit = NewButton(QStringLiteral("Fit"), this);
  fit->setToolTip(QStringLiteral("The whole photo (0)"));
  auto* actual = NewButton(QStringLiteral("1:1"), this);
  actual->setToolTip(QStringLiteral("One screen pixel per photo pixel (1)"));
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 1000);
  progress_->setTextVisible(false);
  progress_->setMaximumWidth(fontMetrics().averageCharWidth() * 20);
  progress_->hide();
  progressDelay_ = new QTimer(this);
  progressDelay_->setSingleShot(true);
  progressDelay_->setInterval(kProgressDelayMs);
  figures_ = new ElidedLabel(this);
  status_ = new ElidedLabel(this);

  auto* top = new QHBoxLayout;
  top->addWidget(previous_);
  top->addWidget(position_);
  top->addWidget(next_);
  top->addWidget(path_, 1);
  top->addWidget(openButton_);
  auto* controls = new QHBoxLayout;
  controls->addWidget(new QLabel(QStringLiteral("Photo"), this));
  controls->addWidget(opacity_, 1);
  controls->addWidget(new QLabel(QStringLiteral("Map"), this));
  controls->addSpacing(fontMetrics().averageCharWidth() * 2);
  controls->addWidget(sharedScale_);
  controls->addSpacing(fontMetrics().averageCharWidth() * 2);
  controls->addWidget(fit);
  controls->addWidget(actual);
  controls->addWidget(zoom_);
  controls->addStretch(1);
  controls->addWidget(progress_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(canvas_, 1);
  layout->addLayout(controls);
  layout->addWidget(figures_);
  layout->addWidget(status_);
  canvas_->SetMapOpacity(opacity_->value() / 100.0);
  UpdateStepping();

  connect(&settings_, &SettingsModel::textChanged, this, [this](SettingsModel::Field field) {
    if (field == SettingsModel::Field::Width || field == SettingsModel::Field::Height) {
      rowSize_.reset();  // the user (or a run) chose a size: the view follows it again
    }
  });
  connect(&settings_, &SettingsModel::changed, this, &PictureView::Refresh);
  connect(canvas_, &PictureCanvas::regionEdited, this, [this](const PixelRegion& r) {
    settings_.setText(SettingsModel::Field::Region, QString::fromStdString(r.Text()));
  });
  connect(canvas_, &PictureCanvas::pointed, this, [this](const QString& text) {
    if (!text.isEmpty()) status_->setText(text);
  });
  connect(canvas_, &PictureCanvas::zoomChanged, this, [this](double scale) {
    if (canvas_->pictureSize().isEmpty()) return zoom_->clear();  // no photo: no zoom to tell
    zoom_->setText(scale >= 1 ? QStringLiteral("%1:1").arg(scale, 0, 'f', scale < 2 ? 2 : 1)
                              : QStringLiteral("1:%1").arg(1 / scale, 0, 'f', 1));
  });
  // Kept when the slider is released (a wheel or a click on the groove: when the view hides),
  // not at each of the values a drag passes.
  connect(opacity_, &QSlider::valueChanged, this,
          [this](int value) { canvas_->SetMapOpacity(value / 100.0); });
  connect(opacity_, &QSlider::sliderReleased, this,
          [this] { SettingsStore().setValue(kOpacityKey, opacity_->value()); });
  connect(sharedScale_, &QCheckBox::toggled, this, [this](bool on) {
    SettingsStore().setValue(kSharedScaleKey, on);
    runScaleTop_ = 0;  // shared from the photo shown on
    ApplyScale();
  });
  connect(fit, &QPushButton::clicked, canvas_, &PictureCanvas::Fit);
  connect(actual, &QPushButton::clicked, canvas_, &PictureCanvas::ActualSize);
  connect(previous_, &QPushButton::clicked, this, [this] { Step(-1); });
  connect(next_, &QPushButton::clicked, this, [this] { Step(1); });
  new QShortcut(QKeySequence(Qt::Key_PageDown), this, [this] { Step(1); });
  new QShortcut(QKeySequence(Qt::Key_PageUp), this, [this] { Step(-1); });
  connect(openButton_, &QPushButton::clicked, this, &PictureView::ChoosePicture);

  connect(work_, &PictureWork::photoReady, this, [this](std::shared_ptr<const DecodedPhoto> p) {
    if (p->path == pathText_) canvas_->SetPhoto(std::move(p));
  });
  connect(work_, &PictureWork::progressed, this, [this](const QString& path, double share) {
    if (path == pathText_) progress_->setValue(int(share * 1000));
  });
  connect(work_, &PictureWork::mapReady, this, &PictureView::Show);
  connect(work_, &PictureWork::detailReady, canvas_, &PictureCanvas::SetDetail);
  connect(canvas_, &PictureCanvas::detailWanted, this,
          [this](const LatticeWindow& window, quint64 cellLimit) {
            if (map_ && laid_) work_->RequestDetail({map_, *laid_, window, cellLimit});
          });
  connect(work_, &PictureWork::photoFailed, this, &PictureView::Fail);
  connect(work_, &PictureWork::prepared, this,
          [this](const QString& path) { preparedPath_ = path; });
  connect(progressDelay_, &QTimer::timeout, this, [this] {
    if (busy_) progress_->show();
  });
}

PictureView::~PictureView() = default;

void PictureView::ChoosePicture() {
  const QString path = QFileDialog::getOpenFileName(this, QString(), QString(),
                                                    QStringLiteral("JPEG (*.jpg *.jpeg *.JPG)"));
  if (!path.isEmpty()) Open(path);
}

void PictureView::Open(const QString& path) {
  if (path != pathText_) {
    pathText_ = path;
    map_.reset();
    canvas_->SetPhoto(nullptr);
    canvas_->SetOverlay({}, std::nullopt, nullptr, Direction::Below);
    figures_->clear();
  }
  failedPath_.clear();
  path_->setText(path);
  UpdateStepping();
  Refresh();
}

void PictureView::Clear() {
  ++generation_;  // work under way for the photo shown is not shown any more
  pathText_.clear();
  failedPath_.clear();
  rowSize_.reset();
  map_.reset();
  laid_.reset();
  runScaleTop_ = 0;
  preparedPath_.clear();
  canvas_->SetPhoto(nullptr);
  canvas_->SetOverlay({}, std::nullopt, nullptr, Direction::Below);
  figures_->clear();
  path_->clear();
  runPhotos_.clear();
  UpdateStepping();
  status_->setText(QStringLiteral("A new run is under way: \"Show...\" opens its first photo."));
  Settle();
}

void PictureView::RunEnded() {
  if (!pathText_.isEmpty()) return;  // the photo's own status stands
  status_->setText(runPhotos_.isEmpty()
                       ? QString()
                       : QStringLiteral("The run has ended: \"Show...\" or Page Down opens its "
                                        "first photo."));
}

MapRequest PictureView::RequestFor(const QString& path) const {
  MapRequest request;
  request.path = path;
  request.direction = settings_.direction();
  if (const QScreen* s = screen()) {
    request.overviewLimit = (s->size() * s->devicePixelRatio()).expandedTo(QSize(640, 480));
  }
  try {
    using Field = SettingsModel::Field;
    request.region = ParseRegion(settings_.text(Field::Region).toStdString());
    const auto [width, height] = LatticeSize();
    request.size = CheckedSize({width.toStdString(), height.toStdString()});
  } catch (const Error& e) {
    request.size.reset();
    request.problem = e;
  }
  return request;
}

void PictureView::Refresh() {
  if (pathText_.isEmpty()) return;
  MapRequest request = RequestFor(pathText_);
  request.generation = ++generation_;
  // A photo that was refused stays refused whatever the fields say.
  if (failedPath_ == pathText_) return;
  busy_ = true;
  progress_->setValue(0);
  if (!progressDelay_->isActive() && !progress_->isVisible()) progressDelay_->start();
  status_->setText(QStringLiteral("Analysing..."));
  work_->Request(request);
}

void PictureView::Show(const LaidMap& laid) {
  if (laid.request.generation != generation_ || laid.request.path != pathText_) return;
  map_ = laid.map;
  laid_ = laid.request;
  const Direction direction = laid.request.direction;
  const QSize full = canvas_->pictureSize();
  const PixelRegion whole{0, 0, full.width(), full.height()};
  const std::optional<PixelRegion>& region = laid.request.region;
  const PixelRegion outlined =
      region && region->Inside(full.width(), full.height()) ? *region : whole;
  canvas_->SetOverlay(outlined, laid.request.size, map_, direction);
  if (map_) {
    const RectangleSize& size = *laid.request.size;
    figures_->setText(
        QStringLiteral("meanDiff %1   RMS %2   nDiffs %3   rectangle %4 x %5 compared with the "
                       "one %6   %7 x %8 pixels%9")
            .arg(map_->figures.meanDiff)
            .arg(map_->figures.rms)
            .arg(map_->figures.nDiffs)
            .arg(size.width)
            .arg(size.height)
            .arg(direction == Direction::Right ? QStringLiteral("to the right")
                                               : QStringLiteral("below"))
            .arg(map_->width)
            .arg(map_->height)
            .arg(region ? QStringLiteral(" of region ") + QString::fromStdString(region->Text())
                        : QString()));
    status_->setText(
        QStringLiteral("Point at a rectangle for its difference; wheel or + - 0 1 to zoom, middle "
                       "button or Space+drag to pan; drag the outline to move or resize the "
                       "region, or drag outside it for a new one."));
  } else {
    figures_->clear();
    status_->setText(laid.problem ? ErrorText(*laid.problem).value_or(QString()) : QString());
  }
  ApplyScale();
  Settle();
  PrepareNext();
}

void PictureView::ApplyScale() {
  if (!sharedScale_->isChecked()) return canvas_->SetSharedScaleTop(std::nullopt);
  if (map_) runScaleTop_ = std::max(runScaleTop_, map_->largest);
  canvas_->SetSharedScaleTop(runScaleTop_);
}

void PictureView::PrepareNext() {
  const qsizetype at = runPhotos_.indexOf(pathText_);
  const qsizetype next = at + stepping_;
  if (at < 0 || next < 0 || next >= runPhotos_.size()) return;
  work_->Prepare(RequestFor(runPhotos_[next]));
}

void PictureView::Fail(const QString& path, const Error& error) {
  if (path != pathText_) return;
  failedPath_ = path;
  map_.reset();
  canvas_->SetPhoto(nullptr);
  canvas_->SetOverlay({}, std::nullopt, nullptr, Direction::Below);
  figures_->clear();
  status_->setText(ErrorText(error).value_or(QString()));
  Settle();
}

void PictureView::Settle() {
  busy_ = false;
  progressDelay_->stop();
  progress_->hide();
  Q_EMIT settled();
}

void PictureView::SetRunPhotos(const QStringList& paths) {
  if (paths != runPhotos_) runScaleTop_ = 0;
  runPhotos_ = paths;
  UpdateStepping();
}

void PictureView::Step(int by) {
  const qsizetype at = runPhotos_.indexOf(pathText_);
  const qsizetype to = at < 0 ? (by > 0 ? 0 : runPhotos_.size() - 1) : at + by;
  if (to < 0 || to >= runPhotos_.size()) return;
  stepping_ = by < 0 ? -1 : 1;
  Open(runPhotos_[to]);
}

void PictureView::OpenAt(const QString& path, int width, int height) {
  rowSize_ = {width, height};
  Open(path);
}

void PictureView::ShowResult(const PhotoResult& result) {
  OpenAt(result.path, result.rectangleWidth, result.rectangleHeight);
}

std::pair<QString, QString> PictureView::LatticeSize() const {
  if (rowSize_) return {QString::number(rowSize_->first), QString::number(rowSize_->second)};
  return {settings_.text(SettingsModel::Field::Width),
          settings_.text(SettingsModel::Field::Height)};
}

void PictureView::UpdateStepping() {
  const qsizetype at = runPhotos_.indexOf(pathText_);
  const bool inRun = !runPhotos_.isEmpty();
  previous_->setVisible(inRun);
  next_->setVisible(inRun);
  position_->setVisible(inRun);
  previous_->setEnabled(at > 0 || (at < 0 && inRun));
  next_->setEnabled(at < runPhotos_.size() - 1);
  position_->setText(at < 0 ? QStringLiteral("- of %1").arg(runPhotos_.size())
                            : QStringLiteral("%1 of %2").arg(at + 1).arg(runPhotos_.size()));
}

void PictureView::showEvent(QShowEvent* event) {
  if (!placed_) {
    placed_ = true;
    PlaceSecondaryWindow(this, QSize(1000, 720), kGeometryKey);
  }
  QWidget::showEvent(event);
  canvas_->setFocus();
}

void PictureView::hideEvent(QHideEvent* event) {
  SettingsStore store;
  store.StoreGeometry(this, kGeometryKey);
  store.setValue(kOpacityKey, opacity_->value());
  QWidget::hideEvent(event);
}

}  // namespace swelox::ui
