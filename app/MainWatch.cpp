// The main window's watch of a folder: its button beside the start button and its box under the
// results, its start, and the live showing of its rows on the chart and in the picture view.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "app/DayChart.h"
#include "app/ErrorBox.h"
#include "app/FileChooser.h"
#include "app/Main.h"
#include "app/PictureView.h"
#include "app/ResultViews.h"
#include "app/RunController.h"
#include "app/RunResults.h"

void TF::CreateWatchControls() {
  // Beside the start button, the other way to start; under the results, beside the chart's
  // button, what the picture view does during a watch.
  WatchBtn = new QPushButton(QStringLiteral("Watch folder..."), this);
  Place(WatchBtn, 370, 106, 95, 24);
  FollowBox = new QCheckBox(QStringLiteral("Follow the newest photo"), this);
  FollowBox->move(Scaled(156), Scaled(487));
  FollowBox->adjustSize();
  QWidget::setTabOrder(ProcessBtn, WatchBtn);
  QWidget::setTabOrder(WatchBtn, WidthEdit);
  QWidget::setTabOrder(ChartBtn, FollowBox);
  watchShown_ = new QTimer(this);
  watchShown_->setSingleShot(true);
  watchShown_->setInterval(kWatchShowIntervalMs);
  connect(watchShown_, &QTimer::timeout, this, &TF::ShowWatchedRowsNow);
  connect(WatchBtn, &QPushButton::clicked, this, swelox::ui::Guarded([this] { WatchBtnClick(); }));
  // Not a setting: it may change during a watch, and shows the newest photo at once.
  connect(FollowBox, &QCheckBox::toggled, this, [this](bool follow) {
    if (follow && watch_ && Running()) FollowNewestPhoto();
  });
}

void TF::WatchBtnClick() {
  if (Running()) return;
  ReadFieldsBeforeChoosing();
  const std::optional<swelox::ui::WatchPlaces> places =
      swelox::ui::ChooseWatchPlaces(this, watchDialogs_, OpenDialog1->Prefill());
  if (!places) return;
  CheckFields();  // before the last results are cleared
  OpenDialog1->SetPrefill(places->folder);

  swelox::BatchOptions options = NewRunOptions({});
  watch_ = places;
  BeginRun(options, {});
  ShowWarnings(swelox::ui::WatchingText(*places), {});
  Run->Start(std::move(options), swelox::ui::WatchJob(*places));
}

void TF::ShowWatchedRows(const std::vector<swelox::ui::PhotoResult>& rows) {
  Results->AddWatchedPhotos(rows);
  // The chart and the view's list take all the rows each time: a few times a second, so that a
  // burst of thousands does not redraw thousands of points for each.
  if (!watchShown_->isActive()) watchShown_->start();
}

void TF::ShowWatchedRowsNow() {
  ShareRunResults();
  if (FollowBox->isChecked()) FollowNewestPhoto();
}

// The newest photo at the size of its newest row, so that the view's figures are that row's. The
// view decodes the photo itself: the watch's decode streamed the brightness (of the region alone)
// into the lattices' running sums and kept no pixels, whereas the view needs every pixel's colour
// of the whole photo and its overview.
void TF::FollowNewestPhoto() {
  if (Results->rows().empty()) return;
  const swelox::ui::PhotoResult& newest = Results->rows().back();
  swelox::ui::PictureView& view = views_->EnsureView();
  const std::pair<QString, QString> size{QString::number(newest.rectangleWidth),
                                         QString::number(newest.rectangleHeight)};
  if (view.path() != newest.path || view.LatticeSize() != size) view.ShowResult(newest);
  view.show();
}
