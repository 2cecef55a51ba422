// The main window F: the rectangle settings, the direction toggle, the start button, the results
// area and the file chooser, with the handlers that analyse the chosen pictures.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <stop_token>
#include <memory>
#include <optional>

#include "imaging/PixelRegion.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace swelox::ui {
class ClickLabel;
class DayChartWindow;
class FileChooser;
class FrameShape;
class PictureView;
struct RunStep;
}  // namespace swelox::ui

// Compare each rectangle with the one to its right (true) or with the one below it (false).
// Set by the direction toggle; read by the analysis of every picture.
extern bool CompareRight;

class TF : public QWidget {
  Q_OBJECT

 public:
  explicit TF(QWidget* parent = nullptr);
  ~TF() override;

  QPushButton* ProcessBtn;
  QLineEdit* WidthEdit;
  QLineEdit* HighEdit;
  QLabel* Label1;
  QLabel* Label2;
  QPlainTextEdit* Memo1;
  QLabel* Label3;
  swelox::ui::ClickLabel* HorizontalVerticalLbl;
  std::unique_ptr<swelox::ui::FileChooser> OpenDialog1;
  QLabel* Label4;
  QLineEdit* LoopsEdit;
  QLabel* Label5;
  QLineEdit* WidthIncrementEdit;
  QLabel* Label6;
  QLineEdit* HeightIncrementEdit;
  swelox::ui::FrameShape* Shape1;
  // The part of every picture that a run analyses (empty: all of it), and the picture view.
  QLabel* RegionLbl;
  QLineEdit* Region;
  QPushButton* ShowBtn;
  QPushButton* ChartBtn;

  // Analyses one picture with the sizes and the direction shown now and appends its row.
  void ProcessFile(const QString& path);
  // The start button: clears the results, lets the user choose pictures and analyses each of
  // them once per run, growing the rectangle after every run. The pictures are analysed on other
  // threads; this returns when the last row shows, while the window takes no other input.
  void ProcessBtnClick();
  // The direction toggle: "below" becomes "to right", anything else becomes "below".
  void HorizontalVerticalLblClick();
  void FormCreate();
  // Opens the picture view on the first picture of the last run, or on one the user picks.
  void ShowBtnClick();
  swelox::ui::PictureView* View() const { return view_; }
  // Opens the chart of the last run's rows.
  void ChartBtnClick();
  swelox::ui::DayChartWindow* Chart() const { return chart_; }

  // A length laid out for a text height of 13 pixels, in pixels of this window: grown with the
  // font's text height, or more where the captions need it.
  int Scaled(int length) const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  class RunInProgress;

  void CreateControls();
  void Place(QWidget* control, int left, int top, int width, int height);
  void PlaceLabel(QLabel* label, int left, int top);
  void SetDirectionCaption(const QString& caption);
  void SetProcessCaption(const QString& caption);
  void AppendLine(const QString& line);
  void ShowRunStep(const swelox::ui::RunStep& step);

  void CreateRegionControls();
  swelox::ui::PictureView* EnsureView();
  // Hands the last run's photos and rows to the picture view and the chart.
  void ShareRunResults();

  std::optional<swelox::PixelRegion> runRegion_;  // read from Region when a run starts
  QString firstOfLastRun_;
  QStringList lastRunFiles_;
  QStringList lastRunRows_;
  swelox::ui::PictureView* view_ = nullptr;       // a child window, made on first use
  swelox::ui::DayChartWindow* chart_ = nullptr;  // likewise
  double scale_ = 1.0;
  bool running_ = false;
  std::stop_source stop_;
};

// The main window, set as soon as it exists.
extern TF* F;
