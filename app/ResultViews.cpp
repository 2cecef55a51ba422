#include "app/ResultViews.h"

#include "app/DayChart.h"
#include "app/PictureView.h"
#include "app/RunResults.h"

namespace swelox::ui {

ResultViews::ResultViews(SettingsModel& settings, const RunResults& results, QWidget* window)
    : QObject(window), settings_(settings), results_(results), window_(window) {}

PictureView& ResultViews::EnsureView() {
  if (!view_) {
    view_ = new PictureView(settings_, window_);
    view_->SetRunPhotos(results_.photos());
  }
  return *view_;
}

void ResultViews::ShowPhoto(const QString& path) {
  EnsureView().Open(path);
  view_->show();
  view_->raise();
}

void ResultViews::ShowPhotoAt(const QString& path, int width, int height) {
  EnsureView().OpenAt(path, width, height);
  view_->show();
  view_->raise();
}

void ResultViews::ShowChart() {
  if (!chart_) {
    chart_ = new DayChartWindow(window_);
    connect(chart_->chart(), &DayChart::pointOpened, this, &ResultViews::ShowPhotoAt);
    chart_->chart()->SetNewestMarked(newestMarked_);
    chart_->chart()->SetResults(results_.rows());
  }
  chart_->show();
  chart_->raise();
}

void ResultViews::Share(bool newestMarked) {
  newestMarked_ = newestMarked;
  if (view_) view_->SetRunPhotos(results_.photos());
  if (chart_) {
    chart_->chart()->SetNewestMarked(newestMarked);
    chart_->chart()->SetResults(results_.rows());
  }
}

void ResultViews::Clear() {
  if (chart_) chart_->Clear();
  if (view_) view_->Clear();
}

void ResultViews::RunEnded() {
  if (view_) view_->RunEnded();
}

void ResultViews::Close() {
  if (view_) view_->close();
  if (chart_) chart_->close();
}

}  // namespace swelox::ui
