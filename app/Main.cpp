// The main window: its controls as laid out at a text height of 13 pixels, the direction toggle
// and the analysis runs.
#include "app/Main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextCursor>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "analysis/BatchRun.h"
#include "analysis/ImageAnalysis.h"
#include "analysis/Region.h"
#include "analysis/RunPlan.h"
#include "app/BackgroundRun.h"
#include "app/Controls.h"
#include "app/DayChart.h"
#include "app/ErrorBox.h"
#include "app/FileChooser.h"
#include "app/PictureView.h"
#include "app/Placement.h"
#include "app/RunTable.h"
#include "core/IntegerText.h"

TF* F = nullptr;
bool CompareRight = false;

namespace {

const QString kCaption = QStringLiteral("Swelox v1.0 digital image visual noise analyzer");
const QString kProcessCaption = QStringLiteral("Select set of images and start the analysis");
const QString kBelow = QStringLiteral("Compare with rectangle below");
const QString kRight = QStringLiteral("Compare with rectangle to right");
const QString kWidthCaption = QStringLiteral("Width");
const QString kHeightCaption = QStringLiteral("Height");
// The boxes of LoopsEdit, WidthIncrementEdit and HeightIncrementEdit cover the 12 spaces.
const QString kRepeatsCaption =
    QStringLiteral("Run            repeats with larger comparison rectangles");
const QString kWidthGrowthCaption = QStringLiteral("Add            % to rectangle width");
const QString kHeightGrowthCaption = QStringLiteral("Add            % to rectangle height");

// The room each caption has in the layout at a text height of 13 pixels: up to the box on its
// right, or to the frame's right edge, less a gap that still shows when the window is drawn at
// a fractional scale. "Run" and "Add" end before the box that covers their spaces.
struct CaptionRoom {
  QString caption;
  int room;
};
const CaptionRoom kCaptionRooms[] = {
    {kWidthCaption, 513 - 481 - 3},
    {kHeightCaption, 630 - 593 - 3},
    {kRepeatsCaption, 737 - 480 - 6},
    {kWidthGrowthCaption, 737 - 480 - 6},
    {kHeightGrowthCaption, 737 - 480 - 6},
    {kBelow, 737 - 479 - 6},
    {kRight, 737 - 479 - 6},
    {QStringLiteral("Run"), 502 - 480 - 1},
    {QStringLiteral("Add"), 502 - 480 - 1},
};

// The layout grows with the text height, and further where a caption would be wider than its
// room, so that every caption fits and the proportions stay.
double LayoutScale(const QFontMetrics& metrics) {
  double scale = metrics.height() / 13.0;
  for (const CaptionRoom& c : kCaptionRooms) {
    scale = std::max(scale, static_cast<double>(metrics.horizontalAdvance(c.caption)) / c.room);
  }
  return scale;
}

// The results area's text until the first run clears it; every line ends with a line break.
const char* const kHelpLines[] = {
    "",
    "    Take photos at intervals of the view of the sea that you want to analyse.",
    "    Give them date/time names so they're easy to identify and sort in order   'Location YY "
    "MM dd hh mm.jpg'",
    "    ",
    "    Crop them to the required area - the area from which the bulk of your sightings come.",
    "    Put them all in one directory.",
    "",
    "    Change the height or width of the analysis rectangle if you wish.  ",
    "    The size and proportion of a typical view of a cetacean is the preferred comparison "
    "rectangle, or maybe something a bit lower and wider.",
    "    ",
    "   The next process will get the mean brightness of one such rectangle and compare it with "
    "the one to the right of it, or the one below it, ",
    "   depending on:",
    "      Set the number of repeats and the values controlling the change in size (or shape) on "
    "successive runs.",
    "    Set 'compare with rectangle below' to 'compare with rectangle to right' if you wish, by "
    "clicking on the text.",
    "",
    "    Click 'Select set of images....' and a row of values will slowly appear in this box.",
    "    Right-click in the results area and choose 'select all' then 'copy'",
    "    Paste them into a spreadsheet.",
    "",
    "   The meanDiff and RMS values represent the visual noise level.  ",
    "   nDiffs is how many rectangles were compared.",
    "",
    "",
    "   Email:   swelox@example.org with comments / problems / ideas.",
};

QString HelpText() {
  QString text;
  for (const char* line : kHelpLines) text += QString::fromLatin1(line) + QLatin1Char('\n');
  return text;
}

// The desktop's sans-serif face, semi-condensed where it has one (DejaVu Sans Condensed): the
// layout was drawn for a narrow 8-point font, and a narrower face keeps the window near its size.
QFont WindowFont() {
  QFont font(QStringLiteral("Sans Serif"), 8);
  font.setStyleHint(QFont::SansSerif);
  font.setStretch(QFont::SemiCondensed);
  return font;
}

std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }

swelox::Direction CurrentDirection() {
  return CompareRight ? swelox::Direction::Right : swelox::Direction::Below;
}

QLineEdit* NewEdit(QWidget* parent, const QString& text) {
  auto* edit = new QLineEdit(text, parent);
  edit->setMaxLength(std::numeric_limits<int>::max());
  return edit;
}

QLabel* NewLabel(QWidget* parent, const QString& caption, const QString& hint = QString()) {
  auto* label = new QLabel(caption, parent);
  label->setTextFormat(Qt::PlainText);
  if (!hint.isEmpty()) {
    label->setToolTip(hint);
    label->setToolTipDuration(2500);
  }
  return label;
}

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      return true;
    default:
      return false;
  }
}

// While it exists, input that reaches the program is dropped, so that nothing the user does
// during a run changes its settings or starts another one.
class UserInputBlock : public QObject {
 public:
  UserInputBlock() { QCoreApplication::instance()->installEventFilter(this); }
  ~UserInputBlock() override { QCoreApplication::instance()->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject*, QEvent* event) override { return IsUserInput(event->type()); }
};

}  // namespace

// Marks the window busy with a run, from the click to the end of the handler, however it ends.
class TF::RunInProgress {
 public:
  explicit RunInProgress(TF& window) : window_(window) {
    window_.running_ = true;
    window_.stop_ = std::stop_source();
  }
  ~RunInProgress() { window_.running_ = false; }
  RunInProgress(const RunInProgress&) = delete;
  RunInProgress& operator=(const RunInProgress&) = delete;

 private:
  TF& window_;
};

TF::TF(QWidget* parent) : QWidget(parent) {
  F = this;
  const QFont font = WindowFont();
  setFont(font);
  scale_ = LayoutScale(QFontMetrics(font));
  setWindowTitle(kCaption);
  QPalette buttonFace = palette();
  buttonFace.setColor(QPalette::Window, buttonFace.color(QPalette::Button));
  setPalette(buttonFace);
  setAutoFillBackground(true);
  CreateControls();
  FormCreate();

  resize(Scaled(767), Scaled(520));
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(swelox::ui::CentredOrigin(screen->geometry(), size()));
  }
}

TF::~TF() {
  if (F == this) F = nullptr;
}

int TF::Scaled(int length) const { return static_cast<int>(std::lround(length * scale_)); }

void TF::Place(QWidget* control, int left, int top, int width, int height) {
  control->setGeometry(Scaled(left), Scaled(top), Scaled(width), Scaled(height));
}

void TF::PlaceLabel(QLabel* label, int left, int top) {
  label->move(Scaled(left), Scaled(top));
  label->adjustSize();
}

void TF::CreateControls() {
  using swelox::ui::ClickLabel;
  using swelox::ui::FrameShape;

  Shape1 = new FrameShape(this);
  Place(Shape1, 472, 2, 265, 130);

  Label1 = NewLabel(this, kHeightCaption, QStringLiteral("height of comparison rectangle"));
  PlaceLabel(Label1, 593, 13);
  Label2 = NewLabel(this, kWidthCaption, QStringLiteral("width of comparison rectangle"));
  PlaceLabel(Label2, 481, 12);

  Label3 = NewLabel(
      this, QStringLiteral("Set the height and width of the rectangles to be compared.  "
                           "Successive rectangles across or down the image will be compared to "
                           "proudce a simple mean absolute diference in brightness and the RMS "
                           "value of the differences."));
  Label3->setWordWrap(true);
  Label3->setGeometry(Scaled(11), Scaled(10), Scaled(393), Label3->heightForWidth(Scaled(393)));

  HorizontalVerticalLbl = new ClickLabel(this);
  HorizontalVerticalLbl->setTextFormat(Qt::PlainText);
  HorizontalVerticalLbl->setFont(WindowFont());
  QPalette blue = HorizontalVerticalLbl->palette();
  blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
  HorizontalVerticalLbl->setPalette(blue);
  HorizontalVerticalLbl->setToolTip(
      QStringLiteral("Click to change. Because the sea typically shows horizontal patterns "
                     "'below' is the usual setting."));
  HorizontalVerticalLbl->setToolTipDuration(2500);
  HorizontalVerticalLbl->move(Scaled(479), Scaled(114));
  SetDirectionCaption(kBelow);

  Label4 = NewLabel(this, kRepeatsCaption,
                    QStringLiteral("the whole list is re-processed this number of times"));
  PlaceLabel(Label4, 480, 36);
  Label5 = NewLabel(this, kWidthGrowthCaption,
                    QStringLiteral("added on successive runs through the list of images"));
  PlaceLabel(Label5, 480, 60);
  Label6 = NewLabel(this, kHeightGrowthCaption);
  PlaceLabel(Label6, 480, 84);

  ProcessBtn = new QPushButton(kProcessCaption, this);
  ProcessBtn->setAutoDefault(true);  // Enter on the focused button starts, as Space does
  Place(ProcessBtn, 8, 106, 457, 24);
  WidthEdit = NewEdit(this, QStringLiteral("15"));
  Place(WidthEdit, 513, 10, 41, 21);
  HighEdit = NewEdit(this, QStringLiteral("12"));
  Place(HighEdit, 630, 10, 41, 21);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setTabChangesFocus(true);
  Memo1->setPlainText(HelpText());
  // A sunken panel, whose edges are drawn at fractional scales too (the styled frame loses its
  // lower and right edges there).
  Memo1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Place(Memo1, 8, 136, 737, 342);

  LoopsEdit = NewEdit(this, QStringLiteral("0"));
  Place(LoopsEdit, 502, 34, 30, 21);
  WidthIncrementEdit = NewEdit(this, QStringLiteral("100"));
  Place(WidthIncrementEdit, 502, 58, 30, 21);
  HeightIncrementEdit = NewEdit(this, QStringLiteral("100"));
  Place(HeightIncrementEdit, 502, 82, 30, 21);

  OpenDialog1 = std::make_unique<swelox::ui::FileChooser>(this);

  QWidget::setTabOrder(ProcessBtn, WidthEdit);
  QWidget::setTabOrder(WidthEdit, HighEdit);
  QWidget::setTabOrder(HighEdit, Memo1);
  QWidget::setTabOrder(Memo1, LoopsEdit);
  QWidget::setTabOrder(LoopsEdit, WidthIncrementEdit);
  QWidget::setTabOrder(WidthIncrementEdit, HeightIncrementEdit);
  CreateRegionControls();

  using swelox::ui::Guarded;
  connect(ProcessBtn, &QPushButton::clicked, this, Guarded([this] { ProcessBtnClick(); }));
  connect(HorizontalVerticalLbl, &ClickLabel::clicked, this,
          Guarded([this] { HorizontalVerticalLblClick(); }));
}

// In the free band between the description and the start button, left of the settings frame.
void TF::CreateRegionControls() {
  RegionLbl = NewLabel(this, QStringLiteral("Region"));
  PlaceLabel(RegionLbl, 11, 81);
  Region = NewEdit(this, QString());
  Region->setPlaceholderText(QStringLiteral("WxH+X+Y (empty: the whole picture)"));
  Place(Region, 56, 78, 240, 21);
  ShowBtn = new QPushButton(QStringLiteral("Show..."), this);
  Place(ShowBtn, 304, 77, 80, 23);
  ChartBtn = new QPushButton(QStringLiteral("Chart..."), this);
  ChartBtn->setEnabled(false);
  Place(ChartBtn, 388, 77, 72, 23);
  QWidget::setTabOrder(HeightIncrementEdit, Region);
  QWidget::setTabOrder(Region, ShowBtn);
  QWidget::setTabOrder(ShowBtn, ChartBtn);
  connect(ShowBtn, &QPushButton::clicked, this, swelox::ui::Guarded([this] { ShowBtnClick(); }));
  connect(ChartBtn, &QPushButton::clicked, this, swelox::ui::Guarded([this] { ChartBtnClick(); }));
}

swelox::ui::PictureView* TF::EnsureView() {
  if (!view_) {
    view_ = new swelox::ui::PictureView({WidthEdit, HighEdit, Region, [] { return CompareRight; }},
                                        this);
    connect(HorizontalVerticalLbl, &swelox::ui::ClickLabel::clicked, view_,
            &swelox::ui::PictureView::Refresh);
    view_->SetRunPhotos(lastRunFiles_);
  }
  return view_;
}

void TF::ChartBtnClick() {
  if (!chart_) {
    chart_ = new swelox::ui::DayChartWindow(this);
    connect(chart_->chart(), &swelox::ui::DayChart::pointOpened, this,
            [this](const QString& path, int width, int height) {
              swelox::ui::PictureView* view = EnsureView();
              view->OpenAt(path, width, height);
              view->show();
              view->raise();
            });
    ShareRunResults();
  }
  chart_->show();
  chart_->raise();
}

void TF::ShareRunResults() {
  if (view_) view_->SetRunPhotos(lastRunFiles_);
  ChartBtn->setEnabled(!lastRunRows_.isEmpty());
  if (chart_) {
    chart_->chart()->SetResults(swelox::ui::ReadRunRows(QString::fromLatin1(swelox::kHeaderLine),
                                                        lastRunRows_, lastRunFiles_));
  }
}

void TF::ShowBtnClick() {
  QString path = firstOfLastRun_;
  if (path.isEmpty()) {
    if (!OpenDialog1->ChooseFiles() || OpenDialog1->ChosenFiles().isEmpty()) return;
    path = OpenDialog1->ChosenFiles().front();
  }
  EnsureView()->Open(path);
  view_->show();
  view_->raise();
}

void TF::FormCreate() { CompareRight = false; }

void TF::SetDirectionCaption(const QString& caption) {
  HorizontalVerticalLbl->setText(caption);
  HorizontalVerticalLbl->adjustSize();  // grows or shrinks to the right of its fixed left edge
}

void TF::HorizontalVerticalLblClick() {
  SetDirectionCaption(HorizontalVerticalLbl->text() == kRight ? kBelow : kRight);
  CompareRight = HorizontalVerticalLbl->text() == kRight;
}

void TF::ProcessFile(const QString& path) {
  const std::string row =
      swelox::AnalyseFileRow(QFile::encodeName(path).toStdString(),
                             {Text(WidthEdit), Text(HighEdit)}, CurrentDirection(), runRegion_);
  AppendLine(QFile::decodeName(QByteArray::fromStdString(row)));
}

void TF::ProcessBtnClick() {
  if (running_) return;  // started again from inside its own run
  runRegion_ = swelox::ParseRegion(Text(Region));
  const RunInProgress run(*this);
  Memo1->clear();
  AppendLine(QString::fromLatin1(swelox::kHeaderLine));
  if (swelox::IncrementsForbidGrowth(Text(WidthIncrementEdit), Text(HeightIncrementEdit))) {
    LoopsEdit->setText(QStringLiteral("0"));
  }
  if (!OpenDialog1->ChooseFiles()) return;

  swelox::BatchOptions options;
  options.settings = {Text(WidthEdit),           Text(HighEdit),
                      Text(LoopsEdit),           Text(WidthIncrementEdit),
                      Text(HeightIncrementEdit), CurrentDirection()};
  options.settings.region = runRegion_;
  if (!OpenDialog1->ChosenFiles().isEmpty()) firstOfLastRun_ = OpenDialog1->ChosenFiles().front();
  lastRunFiles_ = OpenDialog1->ChosenFiles();
  lastRunRows_.clear();
  for (const QString& file : OpenDialog1->ChosenFiles()) {
    options.files.push_back(QFile::encodeName(file).toStdString());
  }
  options.jobs = std::max(1, QThread::idealThreadCount());
  const UserInputBlock inputBlock;
  const swelox::BatchResult result =
      swelox::ui::RunBatchShown(std::move(options), stop_,
                                [this](const swelox::ui::RunStep& step) { ShowRunStep(step); });
  // Once the window has been closed, nothing more is shown: not even an error that ended the run
  // just before the request arrived.
  if (result.stopped || stop_.stop_requested()) return;
  ShareRunResults();
  if (result.fatal) throw *result.fatal;
  SetProcessCaption(kProcessCaption);
}

void TF::ShowRunStep(const swelox::ui::RunStep& step) {
  using Kind = swelox::ui::RunStep::Kind;
  switch (step.kind) {
    case Kind::Row:
      AppendLine(QFile::decodeName(QByteArray::fromStdString(step.text)));
      lastRunRows_ << QFile::decodeName(QByteArray::fromStdString(step.text));
      break;
    case Kind::Caption:
      SetProcessCaption(QString::fromStdString(step.text));
      break;
    case Kind::Sizes:
      // A size whose increment is not positive stays as typed.
      for (const auto& [edit, text] :
           {std::pair{WidthEdit, &step.sizes.width}, std::pair{HighEdit, &step.sizes.height}}) {
        const QString shown = QString::fromStdString(*text);
        if (edit->text() != shown) edit->setText(shown);
      }
      break;
  }
}

void TF::SetProcessCaption(const QString& caption) { ProcessBtn->setText(caption); }

void TF::AppendLine(const QString& line) {
  QTextCursor cursor = Memo1->textCursor();
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(line + QLatin1Char('\n'));
  Memo1->setTextCursor(cursor);
}

void TF::closeEvent(QCloseEvent* event) {
  if (running_) stop_.request_stop();
  QWidget::closeEvent(event);
}
