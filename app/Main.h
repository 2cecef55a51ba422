// The main window F: the rectangle settings, the direction toggle, the start button, the results
// area and the file chooser, with the handlers that analyse the chosen pictures.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "app/FolderWatching.h"
#include "app/RunTable.h"
#include "imaging/PixelRegion.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QTimer;
class QToolButton;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace swelox {
enum class Setting;
}  // namespace swelox

namespace swelox::ui {
class ClickLabel;
class DayChartWindow;
class FileChooser;
class FrameShape;
class PictureView;
class ResultViews;
class RunController;
class RunResults;
class SettingsModel;
struct RunEnd;
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
  // The chart of the last run's rows.
  QPushButton* ChartBtn;
  // Skip a photo that fails and list the failures after the run, as swelox-cli --keep-going.
  QCheckBox* SkipBox;
  QPushButton* SaveBtn;
  // The columns after Pic (a menu of check boxes) and the order of the photos, as swelox-cli's
  // --columns and --sort; below the results, the photos whose data was damaged in the last run.
  QToolButton* ColumnsBtn;
  QComboBox* OrderBox;
  // Left of the columns, as swelox-cli's --camera-zone, --clock-shift and --utc: the zone of a
  // camera whose photos record no offset, the correction of its clock and the Time column in UTC,
  // in a panel that drops from the button.
  QToolButton* TimesBtn;
  QLineEdit* CameraZoneEdit;
  QLineEdit* ClockShiftEdit;
  QCheckBox* UtcBox;
  QLabel* WarningsLbl;
  // Beside the fields after a run that grew the sizes: what the next run starts from.
  QLabel* NextRunLbl;
  // Under the results: a watch of a folder, and whether the picture view shows each new photo.
  QPushButton* WatchBtn;
  QCheckBox* FollowBox;

  // The settings the fields show; the picture view and the runs read them here.
  swelox::ui::SettingsModel* Model;
  // The run under way, if any.
  swelox::ui::RunController* Run;
  // The last run's photos, rows and descriptor.
  std::unique_ptr<swelox::ui::RunResults> Results;

  // Analyses one picture with the sizes and the direction shown now and appends its row.
  void ProcessFile(const QString& path);
  // The start button: lets the user choose pictures, then clears the results and analyses each
  // picture once per run, growing the rectangle after every run. The pictures are analysed on
  // other threads and the rows show as they come; during a run the button stops it.
  void ProcessBtnClick();
  bool Running() const;
  // "Watch folder...": asks for a folder and a table, then measures the folder's photos and each
  // new one as it comes with the settings shown now, appending the rows to the table (going on
  // from the rows it holds), until Stop.
  void WatchBtnClick();
  // Replaces the folder and table dialogs of a watch.
  void SetWatchDialogs(swelox::ui::WatchDialogs dialogs) { watchDialogs_ = std::move(dialogs); }
  // The folder and table of the watch under way, or of the last run when it was a watch.
  const std::optional<swelox::ui::WatchPlaces>& Watch() const { return watch_; }
  // Asks the run under way to stop; the normal caption shows again once it has.
  void StopRun();
  // Asks for a file name and writes the results area there: comma-separated when the name ends
  // in ".csv", else tab-separated as shown. A cancel changes nothing.
  bool SaveResults();  // false when cancelled
  // Writes the results area to `path` at once (the file is replaced whole or not at all).
  void SaveResultsTo(const QString& path);
  // Replaces the save dialog: it returns the chosen name, or an empty one for a cancel.
  void SetSaveDialog(std::function<QString(QWidget*)> dialog) { saveDialog_ = std::move(dialog); }
  // What closing with results that were not saved does, as asked of the user.
  enum class CloseAnswer { Save, Discard, Cancel };
  // Replaces the question asked then (a box with Save, Discard and Cancel).
  void SetCloseQuestion(std::function<CloseAnswer(QWidget*)> question) {
    closeQuestion_ = std::move(question);
  }
  // Whether the results of the last run have been changed or made since they were last saved.
  bool Unsaved() const;
  // The direction toggle: "below" becomes "to right", anything else becomes "below".
  void HorizontalVerticalLblClick();
  void FormCreate();
  // Opens the picture view on the first picture of the last run, or on one the user picks.
  void ShowBtnClick();
  swelox::ui::PictureView* View() const;
  void ChartBtnClick();
  void FitHeightTo(const QRect& available);
  swelox::ui::DayChartWindow* Chart() const;

  // How often the chart and the picture view catch up with a watch's rows.
  static constexpr int kWatchShowIntervalMs = 250;

  // A length laid out for a text height of 13 pixels, in pixels of this window: grown with the
  // font's text height, or more where the captions need it.
  int Scaled(int length) const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void Place(QWidget* control, int left, int top, int width, int height);
  void PlaceLabel(QLabel* label, int left, int top);
  void SetDirectionCaption(const QString& caption);
  void SetProcessCaption(const QString& caption);
  void AppendLines(const QStringList& lines);
  void ShowGrownSizes(const QString& width, const QString& height);
  void ShowNextRunSizes();
  void RunFinished(const swelox::ui::RunEnd& end);
  // Raises the error of the first field that a run reads as a number and that holds none.
  void CheckFields() const;
  // Enables or disables what must not change during a run.
  void ShowRunning(bool running);
  void BindToModel(QLineEdit* edit, swelox::Setting field);
  void ShowDirection(bool compareRight);
  void RestoreSettings();
  void StoreSettings() const;

  void CreateRegionControls();
  void CreateColumnsControls();
  void CreateTimeControls();
  void ShowTimes();
  void ShowColumns();
  // Under the results: that the last run was stopped, and the photos with damaged data.
  void ShowWarnings(const QString& outcome,
                    const std::vector<std::pair<QString, QString>>& warnings);
  void ShareRunResults();
  // A run's settings as the fields give them, and the clearing of the last run's results as a
  // new run or watch begins.
  void ReadFieldsBeforeChoosing();
  swelox::BatchOptions NewRunOptions(const QStringList& photos);
  void BeginRun(const swelox::BatchOptions& options, const QStringList& photos);
  void CreateWatchControls();
  // During a watch, the new rows on the chart and, when asked for, their photo in the view.
  void ShowWatchedRows(const std::vector<swelox::ui::PhotoResult>& rows);
  void ShowWatchedRowsNow();
  void FollowNewestPhoto();

  std::optional<swelox::PixelRegion> runRegion_;  // read from Region when a run starts
  swelox::ui::ResultViews* views_;                // the picture view and the chart
  double scale_ = 1.0;
  std::function<QString(QWidget*)> saveDialog_;
  std::function<CloseAnswer(QWidget*)> closeQuestion_;
  QString lastSaved_;
  QString progressCaption_;  // the caption of the row being made, shown beside "Stop"
  QStringList failures_;     // the photos skipped in the run under way, with their messages
  swelox::ui::WatchDialogs watchDialogs_ = swelox::ui::QtWatchDialogs();
  std::optional<swelox::ui::WatchPlaces> watch_;
  QTimer* watchShown_ = nullptr;  // the chart and the view catch up with a watch's rows
};

// The main window, set as soon as it exists.
extern TF* F;
