#include "app/ResultViews.h"

#include "app/DayChart.h"
#include "app/PictureView.h"

namespace swelox::ui {

ResultViews::ResultViews(SettingsModel& settings, QWidget* window)
    : QObject(window), settings_(settings), window_(window) {}

PictureView& ResultViews::EnsureView() {
  if (!view_) {
    view_ = new PictureView(settings_, window_);
    view_->SetRunPhotos(photos_);
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
    chart_->chart()->SetResults(rows_);
  }
  chart_->show();
  chart_->raise();
}

void ResultViews::Share(const QStringList& photos, const std::vector<PhotoResult>& rows) {
  photos_ = photos;
  rows_ = rows;
  if (view_) view_->SetRunPhotos(photos_);
  if (chart_) chart_->chart()->SetResults(rows_);
}

void ResultViews::Clear() {
  photos_.clear();
  rows_.clear();
  if (chart_) chart_->Clear();
  if (view_) view_->Clear();
}

void ResultViews::Close() {
  if (view_) view_->close();
  if (chart_) chart_->close();
}

}  // namespace swelox::ui
