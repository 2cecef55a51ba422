// The main window: its controls as laid out at a text height of 13 pixels, the direction toggle
// and the analysis runs.
#include "app/Main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFormLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QTextCursor>
#include <QToolButton>
#include <QWidgetAction>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "analysis/BatchRun.h"
#include "analysis/Columns.h"
#include "analysis/FileOrder.h"
#include "analysis/ImageAnalysis.h"
#include "analysis/Region.h"
#include "analysis/RunPlan.h"
#include "app/Controls.h"
#include "app/ErrorBox.h"
#include "app/FileChooser.h"
#include "app/Placement.h"
#include "app/ResultViews.h"
#include "app/RunController.h"
#include "app/RunResults.h"
#include "app/RunTable.h"
#include "app/SettingsModel.h"
#include "app/SettingsStore.h"
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

using Field = swelox::ui::SettingsModel::Field;

TF::CloseAnswer AskBeforeClosing(QWidget* window) {
  QMessageBox box(QMessageBox::Warning, QApplication::applicationName(),
                  QStringLiteral("The results have not been saved."),
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, window);
  box.setInformativeText(QStringLiteral("Save them before closing?"));
  box.setDefaultButton(QMessageBox::Save);
  switch (box.exec()) {
    case QMessageBox::Save:
      return TF::CloseAnswer::Save;
    case QMessageBox::Discard:
      return TF::CloseAnswer::Discard;
    default:
      return TF::CloseAnswer::Cancel;
  }
}

const QString kStopCaption = QStringLiteral("Stop");
// During a watch, once every photo that came is measured.
const QString kWaitingCaption = QStringLiteral("Stop   Waiting for the next photo");

}  // namespace

TF::TF(QWidget* parent)
    : QWidget(parent),
      Model(new swelox::ui::SettingsModel(this)),
      Run(new swelox::ui::RunController(this)),
      Results(std::make_unique<swelox::ui::RunResults>()),
      views_(new swelox::ui::ResultViews(*Model, *Results, this)) {
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
    FitHeightTo(screen->availableGeometry());
    move(swelox::ui::CentredOrigin(screen->geometry(), size()));
  }

  using swelox::ui::RunController;
  connect(Run, &RunController::headerReady, this,
          [this](const QString& line) { AppendLines({line}); });
  connect(Run, &RunController::rowsReady, this,
          [this](const std::vector<swelox::ui::PhotoResult>& rows) {
            QStringList lines;
            for (const swelox::ui::PhotoResult& row : rows) lines << row.text;
            AppendLines(lines);
            Results->Add(rows);
            if (watch_) ShowWatchedRows(rows);
          });
  connect(Run, &RunController::noticed, this,
          [this](const QString& line) { ShowWarnings(line, {}); });
  connect(Run, &RunController::captionChanged, this, [this](const QString& caption) {
    progressCaption_ = caption;
    SetProcessCaption(kStopCaption + QStringLiteral("   ") + caption);
  });
  connect(Run, &RunController::waiting, this, [this] {
    progressCaption_.clear();
    SetProcessCaption(kWaitingCaption);
  });
  connect(Run, &RunController::sizesGrown, this, &TF::ShowGrownSizes);
  connect(Run, &RunController::finished, this, &TF::RunFinished);
  connect(Model, &swelox::ui::SettingsModel::directionChanged, this, &TF::ShowDirection);

  auto* stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  stop->setObjectName(QStringLiteral("stopShortcut"));
  connect(stop, &QShortcut::activated, this, &TF::StopRun);
  auto* save = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), this);
  connect(save, &QShortcut::activated, this, [this] {
    if (SaveBtn->isEnabled()) SaveBtn->click();
  });
  auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
  connect(quit, &QShortcut::activated, this, &QWidget::close);

  RestoreSettings();
  ProcessBtn->setFocus();  // the first in tab order takes the focus when the window activates
}

TF::~TF() {
  if (F == this) F = nullptr;
}

// On a screen too low for the window at its scale (144 DPI on 800 lines), the results area gives
// up the lines that are missing, so that the controls under it stay on the screen.
void TF::FitHeightTo(const QRect& available) {
  const int missing = height() + swelox::ui::EstimatedTitleBar(this) - available.height();
  const int spare = std::max(0, Memo1->height() - Scaled(120));
  const int shrink = std::clamp(missing, 0, spare);
  if (shrink == 0) return;
  Memo1->resize(Memo1->width(), Memo1->height() - shrink);
  for (QWidget* below : std::initializer_list<QWidget*>{ChartBtn, WarningsLbl, FollowBox}) {
    below->move(below->x(), below->y() - shrink);
  }
  resize(width(), height() - shrink);
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
  ProcessBtn->setAutoDefault(true);    // Enter on the focused button starts, as Space does
  Place(ProcessBtn, 8, 106, 356, 24);  // "Watch folder..." beside it
  WidthEdit = NewEdit(this, Model->text(Field::Width));
  Place(WidthEdit, 513, 10, 41, 21);
  HighEdit = NewEdit(this, Model->text(Field::Height));
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

  LoopsEdit = NewEdit(this, Model->text(Field::Repeats));
  Place(LoopsEdit, 502, 34, 30, 21);
  WidthIncrementEdit = NewEdit(this, Model->text(Field::WidthIncrement));
  Place(WidthIncrementEdit, 502, 58, 30, 21);
  HeightIncrementEdit = NewEdit(this, Model->text(Field::HeightIncrement));
  Place(HeightIncrementEdit, 502, 82, 30, 21);
  BindToModel(WidthEdit, Field::Width);
  BindToModel(HighEdit, Field::Height);
  BindToModel(LoopsEdit, Field::Repeats);
  BindToModel(WidthIncrementEdit, Field::WidthIncrement);
  BindToModel(HeightIncrementEdit, Field::HeightIncrement);

  OpenDialog1 = std::make_unique<swelox::ui::FileChooser>(this);

  QWidget::setTabOrder(ProcessBtn, WidthEdit);
  QWidget::setTabOrder(WidthEdit, HighEdit);
  QWidget::setTabOrder(HighEdit, Memo1);
  QWidget::setTabOrder(Memo1, LoopsEdit);
  QWidget::setTabOrder(LoopsEdit, WidthIncrementEdit);
  QWidget::setTabOrder(WidthIncrementEdit, HeightIncrementEdit);
  QWidget::setTabOrder(HeightIncrementEdit, HorizontalVerticalLbl);
  CreateRegionControls();

  using swelox::ui::Guarded;
  connect(ProcessBtn, &QPushButton::clicked, this, Guarded([this] { ProcessBtnClick(); }));
  connect(HorizontalVerticalLbl, &ClickLabel::clicked, this,
          Guarded([this] { HorizontalVerticalLblClick(); }));
}

// In the free band between the description and the start button, left of the settings frame:
// the skip box, then the region with the picture view and the saving of the results.
void TF::CreateRegionControls() {
  SkipBox = new QCheckBox(QStringLiteral("Skip photos that fail"), this);
  SkipBox->move(Scaled(11), Scaled(55));
  SkipBox->adjustSize();
  RegionLbl = NewLabel(this, QStringLiteral("Region"));
  PlaceLabel(RegionLbl, 11, 81);
  Region = NewEdit(this, Model->text(Field::Region));
  Region->setPlaceholderText(QStringLiteral("WxH+X+Y (empty: the whole picture)"));
  Place(Region, 56, 78, 200, 21);
  BindToModel(Region, Field::Region);
  ShowBtn = new QPushButton(QStringLiteral("Show..."), this);
  Place(ShowBtn, 262, 77, 70, 23);
  SaveBtn = new QPushButton(QStringLiteral("Save results..."), this);
  Place(SaveBtn, 338, 77, 127, 23);
  QWidget::setTabOrder(HorizontalVerticalLbl, SkipBox);
  QWidget::setTabOrder(SkipBox, Region);
  QWidget::setTabOrder(Region, ShowBtn);
  QWidget::setTabOrder(ShowBtn, SaveBtn);
  CreateColumnsControls();
  // Under the results, once a run has rows.
  ChartBtn = new QPushButton(QStringLiteral("Chart of the run..."), this);
  Place(ChartBtn, 8, 484, 140, 23);
  ChartBtn->setEnabled(false);
  QWidget::setTabOrder(SaveBtn, ChartBtn);
  CreateWatchControls();
  connect(ShowBtn, &QPushButton::clicked, this, swelox::ui::Guarded([this] { ShowBtnClick(); }));
  connect(ChartBtn, &QPushButton::clicked, this, swelox::ui::Guarded([this] { ChartBtnClick(); }));
  connect(SaveBtn, &QPushButton::clicked, this, swelox::ui::Guarded([this] { SaveResults(); }));
}

// Right of the skip box: the columns after Pic and the order of the photos; under the results
// area, the photos with damaged data.
void TF::CreateColumnsControls() {
  ColumnsBtn = new QToolButton(this);
  ColumnsBtn->setPopupMode(QToolButton::InstantPopup);
  auto* menu = new QMenu(ColumnsBtn);
  for (const swelox::Column column : swelox::kAllColumns) {
    QAction* action = menu->addAction(QString::fromLatin1(swelox::ColumnTitle(column)));
    action->setCheckable(true);
    action->setData(static_cast<int>(column));
    connect(action, &QAction::toggled, this, [this] {
      // The checked columns, in the menu's order.
      std::vector<swelox::Column> columns;
      for (const QAction* a : ColumnsBtn->menu()->actions()) {
        if (a->isChecked()) columns.push_back(static_cast<swelox::Column>(a->data().toInt()));
      }
      Model->setColumns(columns);
    });
  }
  ColumnsBtn->setMenu(menu);
  Place(ColumnsBtn, 206, 52, 92, 22);

  OrderBox = new QComboBox(this);
  OrderBox->addItem(QStringLiteral("Order: as chosen"),
                    static_cast<int>(swelox::FileOrder::AsGiven));
  OrderBox->addItem(QStringLiteral("Order: by name"), static_cast<int>(swelox::FileOrder::Name));
  OrderBox->addItem(QStringLiteral("Order: by capture time"),
                    static_cast<int>(swelox::FileOrder::Time));
  Place(OrderBox, 304, 52, 161, 22);
  connect(OrderBox, &QComboBox::currentIndexChanged, this, [this](int index) {
    Model->setOrder(static_cast<swelox::FileOrder>(OrderBox->itemData(index).toInt()));
  });
  connect(Model, &swelox::ui::SettingsModel::orderChanged, this, [this] {
    const int index = OrderBox->findData(static_cast<int>(Model->order()));
    if (index >= 0 && index != OrderBox->currentIndex()) OrderBox->setCurrentIndex(index);
  });
  connect(Model, &swelox::ui::SettingsModel::columnsChanged, this, &TF::ShowColumns);
  ShowColumns();

  WarningsLbl = NewLabel(this, QString());
  Place(WarningsLbl, 306, 486, 439, 18);  // beside the chart button and the follow box
  WarningsLbl->hide();

  NextRunLbl = NewLabel(this, QString());
  Place(NextRunLbl, 625, 114, 108, 13);  // right of the direction, inside the frame
  NextRunLbl->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  NextRunLbl->hide();
  connect(Model, &swelox::ui::SettingsModel::textChanged, this, [this](Field field) {
    if (field == Field::Width || field == Field::Height) ShowNextRunSizes();
  });

  CreateTimeControls();
  QWidget::setTabOrder(SkipBox, TimesBtn);
  QWidget::setTabOrder(TimesBtn, ColumnsBtn);
  QWidget::setTabOrder(ColumnsBtn, OrderBox);
  QWidget::setTabOrder(OrderBox, Region);
}

// Between the skip box and the columns: the time settings, in a panel that drops from
// "Times...", as swelox-cli's --camera-zone, --clock-shift and --utc. The Time column, the order
// by capture time and the chart's time axis all take the corrected times.
void TF::CreateTimeControls() {
  TimesBtn = new QToolButton(this);
  TimesBtn->setPopupMode(QToolButton::InstantPopup);
  auto* menu = new swelox::ui::PanelMenu(TimesBtn);
  menu->setFont(font());  // a popup does not take the window's font
  auto* panel = new QWidget(menu);
  auto* form = new QFormLayout(panel);
  CameraZoneEdit = NewEdit(panel, Model->text(Field::CameraZone));
  CameraZoneEdit->setPlaceholderText(QStringLiteral("+02:00 or Europe/Lisbon; empty: as recorded"));
  ClockShiftEdit = NewEdit(panel, Model->text(Field::ClockShift));
  ClockShiftEdit->setPlaceholderText(QStringLiteral("[-]HH:MM:SS added to every time"));
  for (QLineEdit* edit : {CameraZoneEdit, ClockShiftEdit}) edit->setMinimumWidth(Scaled(230));
  UtcBox = new QCheckBox(QString::fromLatin1(swelox::RowOf(Field::Utc).caption), panel);
  UtcBox->setChecked(Model->utc());
  auto caption = [](Field field) { return QString::fromLatin1(swelox::RowOf(field).caption); };
  form->addRow(caption(Field::CameraZone), CameraZoneEdit);
  form->addRow(caption(Field::ClockShift), ClockShiftEdit);
  form->addRow(QString(), UtcBox);
  auto* action = new QWidgetAction(menu);
  action->setDefaultWidget(panel);
  menu->addAction(action);
  TimesBtn->setMenu(menu);
  // Opened, the panel takes the keys: the zone can be typed at once, Esc closes it.
  connect(menu, &QMenu::aboutToShow, CameraZoneEdit, [this] { CameraZoneEdit->setFocus(); });
  Place(TimesBtn, 130, 52, 70, 22);
  BindToModel(CameraZoneEdit, Field::CameraZone);
  BindToModel(ClockShiftEdit, Field::ClockShift);
  connect(UtcBox, &QCheckBox::toggled, Model, [this](bool utc) { Model->setUtc(utc); });
  connect(Model, &swelox::ui::SettingsModel::textChanged, this, [this](Field field) {
    if (field == Field::CameraZone || field == Field::ClockShift || field == Field::Utc) {
      ShowTimes();
    }
  });
  ShowTimes();
}

// The box follows the model, and the button's caption tells how many time settings are given.
void TF::ShowTimes() {
  if (UtcBox->isChecked() != Model->utc()) UtcBox->setChecked(Model->utc());
  const int given = int(!Model->text(Field::CameraZone).isEmpty()) +
                    int(!Model->text(Field::ClockShift).isEmpty()) + int(Model->utc());
  TimesBtn->setText(given == 0 ? QStringLiteral("Times...")
                               : QStringLiteral("Times (%1)...").arg(given));
}

// The menu's check marks and the button's caption follow the model's columns.
void TF::ShowColumns() {
  const std::vector<swelox::Column>& columns = Model->columns();
  for (QAction* action : ColumnsBtn->menu()->actions()) {
    const auto column = static_cast<swelox::Column>(action->data().toInt());
    const bool chosen = std::find(columns.begin(), columns.end(), column) != columns.end();
    if (action->isChecked() != chosen) {
      const QSignalBlocker block(action);
      action->setChecked(chosen);
    }
  }
  ColumnsBtn->setText(columns.empty() ? QStringLiteral("Columns...")
                                      : QStringLiteral("Columns (%1)...").arg(columns.size()));
}

// One line under the results: how many photos had damaged data, and their names as far as they
// fit; the tool tip lists each with libjpeg's warning.
void TF::ShowWarnings(const QString& outcome,
                      const std::vector<std::pair<QString, QString>>& warnings) {
  if (warnings.empty()) {
    WarningsLbl->setText(outcome);
    WarningsLbl->setToolTip(QString());
    WarningsLbl->setVisible(!outcome.isEmpty());
    return;
  }
  QStringList names, lines;
  for (const auto& [photo, warning] : warnings) {
    names << QFileInfo(photo).fileName();
    lines << photo + QStringLiteral(": ") + warning;
  }
  const QString text =
      (outcome.isEmpty() ? QString() : outcome + QStringLiteral("  ")) +
      (warnings.size() == 1
           ? QStringLiteral("1 photo had damaged data and was analysed as decoded: ")
           : QStringLiteral("%1 photos had damaged data and were analysed as decoded: ")
                 .arg(warnings.size())) +
      names.join(QStringLiteral(", "));
  WarningsLbl->setText(
      WarningsLbl->fontMetrics().elidedText(text, Qt::ElideRight, WarningsLbl->width()));
  constexpr qsizetype kListed = 30;
  if (lines.size() > kListed) {
    const qsizetype more = lines.size() - kListed;
    lines.resize(kListed);
    lines << QStringLiteral("... and %1 more").arg(more);
  }
  WarningsLbl->setToolTip(lines.join(QLatin1Char('\n')));
  WarningsLbl->show();
}

void TF::BindToModel(QLineEdit* edit, swelox::Setting which) {
  connect(edit, &QLineEdit::textChanged, Model,
          [this, which](const QString& text) { Model->setText(which, text); });
  connect(Model, &swelox::ui::SettingsModel::textChanged, edit,
          [edit, which](Field changed, const QString& text) {
            if (changed == which && edit->text() != text) edit->setText(text);
          });
}

void TF::ShowBtnClick() {
  QString path = Results->firstPhoto();
  if (path.isEmpty()) {
    if (!OpenDialog1->ChooseFiles() || OpenDialog1->ChosenFiles().isEmpty()) return;
    path = OpenDialog1->ChosenFiles().front();
  }
  // After a run, at the size its first row was measured at, not the size the run grew to.
  // What goes wrong shows in the view's status line.
  if (!Results->rows().empty() && Results->firstPhoto() == path) {
    const swelox::ui::PhotoResult& first = Results->rows().front();
    views_->ShowPhotoAt(first.path, first.rectangleWidth, first.rectangleHeight);
  } else {
    views_->ShowPhoto(path);
  }
}

swelox::ui::PictureView* TF::View() const { return views_->view(); }

swelox::ui::DayChartWindow* TF::Chart() const { return views_->chart(); }

void TF::ChartBtnClick() { views_->ShowChart(); }

// The photos and rows of the last run, for stepping through them and for the chart.
void TF::ShareRunResults() {
  ChartBtn->setEnabled(!Results->rows().empty());
  views_->Share(watch_.has_value());
}

void TF::FormCreate() { CompareRight = false; }

void TF::SetDirectionCaption(const QString& caption) {
  HorizontalVerticalLbl->setText(caption);
  HorizontalVerticalLbl->adjustSize();  // grows or shrinks to the right of its fixed left edge
}

// The model owns the direction; the label's caption and the program-wide flag follow it.
void TF::HorizontalVerticalLblClick() { Model->setCompareRight(!Model->compareRight()); }

void TF::ShowDirection(bool compareRight) {
  const QString& caption = compareRight ? kRight : kBelow;
  if (HorizontalVerticalLbl->text() != caption) SetDirectionCaption(caption);
  CompareRight = compareRight;
}

void TF::ProcessFile(const QString& path) {
  const std::string row =
      swelox::AnalyseFileRow(QFile::encodeName(path).toStdString(),
                             {Text(WidthEdit), Text(HighEdit)}, CurrentDirection(), runRegion_);
  AppendLines({QFile::decodeName(QByteArray::fromStdString(row))});
}

bool TF::Running() const { return Run->running(); }

bool TF::Unsaved() const { return Results->unsaved(); }

void TF::StopRun() { Run->Stop(); }

// The results are cleared only once pictures were chosen: a cancelled chooser keeps them.
void TF::ProcessBtnClick() {
  if (Running()) {
    StopRun();
    return;
  }
  ReadFieldsBeforeChoosing();
  if (!OpenDialog1->ChooseFiles()) return;
  CheckFields();  // before the last results are cleared

  const QStringList photos = OpenDialog1->ChosenFiles();
  swelox::BatchOptions options = NewRunOptions(photos);
  watch_.reset();
  BeginRun(options, photos);
  Run->Start(std::move(options));  // its first line is the header
}

// The region, zone and shift are read before the chooser (their errors come first); increments
// that forbid growth leave no repeats.
void TF::ReadFieldsBeforeChoosing() {
  runRegion_ = Model->ToRunSettings().region;
  if (swelox::IncrementsForbidGrowth(Text(WidthIncrementEdit), Text(HeightIncrementEdit))) {
    LoopsEdit->setText(QStringLiteral("0"));
  }
}

swelox::BatchOptions TF::NewRunOptions(const QStringList& photos) {
  return swelox::ui::RunOptions(Model->ToRunSettings(), photos, SkipBox->isChecked());
}

void TF::BeginRun(const swelox::BatchOptions& options, const QStringList& photos) {
  Results->Begin(options, photos, {WidthEdit->text(), HighEdit->text()});
  ShowNextRunSizes();
  Memo1->clear();
  ShowWarnings({}, {});
  views_->Clear();  // nothing of the last run stays on view
  ChartBtn->setEnabled(false);
  progressCaption_.clear();
  ShowRunning(true);
}

// Every field that a run reads as a number is read now, after the chooser (where a run would first
// read the repeats) and before the last results are cleared: a field that holds no number keeps
// them, and the message names the field.
void TF::CheckFields() const {
  for (const swelox::SettingRow& row : swelox::SettingsTable()) {
    if (row.kind != swelox::SettingText::Side && row.kind != swelox::SettingText::Integer) continue;
    try {
      swelox::ParseInteger(Model->text(row.setting).toStdString());
    } catch (const swelox::Error& e) {
      throw swelox::Error(
          swelox::WithFullStop(e.what()) + "\nIn the field \"" + row.caption + "\".", e.scope());
    }
  }
}

void TF::ShowRunning(bool running) {
  for (QWidget* control : std::initializer_list<QWidget*>{
           WidthEdit, HighEdit, LoopsEdit, WidthIncrementEdit, HeightIncrementEdit,
           HorizontalVerticalLbl, Region, ShowBtn, SkipBox, SaveBtn, TimesBtn, ColumnsBtn, OrderBox,
           ChartBtn, WatchBtn}) {
    control->setEnabled(!running);
  }
  // Scrolled, selected and copied, but not changed while rows come in.
  Memo1->setReadOnly(running);
  // The rows that arrive are no edit to undo; kept as such, a watch's thousands would grow the
  // undo history without end.
  Memo1->setUndoRedoEnabled(!running);
  if (running) {
    Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    SetProcessCaption(kStopCaption);
    ProcessBtn->setFocus();  // Space and Enter stop the run
  } else {
    Memo1->setTextInteractionFlags(Qt::TextEditorInteraction);
  }
}

void TF::ShowGrownSizes(const QString& width, const QString& height) {
  // A watch measures each photo from the sizes it started at: the fields keep them, so that the
  // watch started again matches its table.
  if (watch_) return;
  // A size whose increment is not positive stays as typed.
  if (WidthEdit->text() != width) WidthEdit->setText(width);
  if (HighEdit->text() != height) HighEdit->setText(height);
}

void TF::RunFinished(const swelox::ui::RunEnd& end) {
  ShowRunning(false);
  Results->Finish(end, {WidthEdit->text(), HighEdit->text()}, watch_.has_value());
  ShowNextRunSizes();
  ShareRunResults();
  views_->RunEnded();
  // A stopped run shows no error, not even one that ended it just before the stop; the photos
  // it skipped until then are still listed, unless the window is closing. Until the next run the
  // line under the results says it was stopped.
  if (end.stopped) {
    SetProcessCaption(kProcessCaption);
    if (isVisible()) {
      ShowWarnings(
          watch_ ? swelox::ui::WatchEndText(*watch_, Results->photosMeasuredNow(),
                                            Results->heldPhotos())
                 : QStringLiteral("The run was %1.")
                       .arg(QString::fromStdString(swelox::EndSummary(Results->dataset()->end))),
          end.warnings);
      if (!end.failures.empty()) swelox::ui::ShowFailureList(end.failures);
    }
    return;
  }
  // After an error the caption keeps the progress text of the photo at which it arose.
  SetProcessCaption(end.fatal && !progressCaption_.isEmpty() ? progressCaption_ : kProcessCaption);
  ShowWarnings({}, end.warnings);
  if (!end.failures.empty()) swelox::ui::ShowFailureList(end.failures);
  // A photo's own error names the photo; one of the settings would fail any photo alike.
  if (end.fatal) {
    swelox::ui::ShowErrorText(end.fatalFile.isEmpty() ||
                                      end.fatal->scope() != swelox::ErrorScope::File
                                  ? QString::fromStdString(swelox::WithFullStop(end.fatal->what()))
                                  : swelox::ui::PhotoErrorText(*end.fatal, end.fatalFile));
  }
}

void TF::SetProcessCaption(const QString& caption) { ProcessBtn->setText(caption); }

// The fields show the sizes the last run grew to, and a click would start from them; the next
// start of the program would not.
void TF::ShowNextRunSizes() {
  const swelox::ui::SizeTexts shown{Model->text(Field::Width), Model->text(Field::Height)};
  const std::optional<swelox::ui::SizeTexts> from = Results->GrownFrom(shown);
  if (!from) {
    NextRunLbl->hide();
    return;
  }
  const QString text = QStringLiteral("Next run: %1 x %2").arg(shown.first, shown.second);
  NextRunLbl->setText(
      NextRunLbl->fontMetrics().elidedText(text, Qt::ElideRight, NextRunLbl->width()));
  NextRunLbl->setToolTip(
      QStringLiteral("The last run started from %1 x %2 and grew the rectangle to %3 x %4: the "
                     "next run starts from %3 x %4, the next start of Swelox from %1 x %2.")
          .arg(from->first, from->second, shown.first, shown.second));
  NextRunLbl->show();
}

// The new lines go at the end; the user's own selection, if any, stays where it is.
void TF::AppendLines(const QStringList& lines) {
  QString text;
  for (const QString& line : lines) text += line + QLatin1Char('\n');
  QTextCursor end(Memo1->document());
  end.movePosition(QTextCursor::End);
  end.insertText(text);
  if (!Memo1->textCursor().hasSelection()) {
    Memo1->setTextCursor(end);
    Memo1->ensureCursorVisible();
  }
}

bool TF::SaveResults() {
  const QString path =
      saveDialog_ ? saveDialog_(this)
                  : QFileDialog::getSaveFileName(this, QStringLiteral("Save results"), lastSaved_,
                                                 QStringLiteral("Tab-separated text (*.txt *.tsv);;"
                                                                "Comma-separated values (*.csv);;"
                                                                "All files (*)"));
  if (path.isEmpty()) return false;
  SaveResultsTo(path);
  lastSaved_ = path;
  return true;
}

// The table, and beside it the descriptor of the run that made its rows.
void TF::SaveResultsTo(const QString& path) { Results->SaveTo(path, Memo1->toPlainText()); }

void TF::RestoreSettings() {
  const swelox::ui::SettingsStore stored;
  stored.RestoreModel(*Model);
  SkipBox->setChecked(stored.value(QStringLiteral("skipFailing"), false).toBool());
  OpenDialog1->SetPrefill(stored.value(QStringLiteral("chooser/lastFolder")).toString());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    stored.RestoreGeometry(this, QStringLiteral("window/geometry"), screen->availableGeometry(),
                           size());
  }
}

void TF::StoreSettings() const {
  swelox::ui::SettingsStore stored;
  // Not the sizes a run grew to: the next start measures what the last run started from.
  stored.StoreModel(*Model,
                    Results->SizesToStore({Model->text(Field::Width), Model->text(Field::Height)}));
  stored.setValue(QStringLiteral("skipFailing"), SkipBox->isChecked());
  const QString last = OpenDialog1->Prefill();
  if (!last.isEmpty()) {
    const QFileInfo info(last);
    stored.setValue(QStringLiteral("chooser/lastFolder"),
                    info.isDir() ? info.absoluteFilePath() : info.absolutePath());
  }
  stored.StoreGeometry(this, QStringLiteral("window/geometry"));
}

// Results that were not saved are not thrown away without asking, as a document editor asks.
// Closing stops a run under way; the process ends as soon as its decodes have noticed.
void TF::closeEvent(QCloseEvent* event) {
  if (Unsaved() && !Running()) {
    const CloseAnswer answer = closeQuestion_ ? closeQuestion_(this) : AskBeforeClosing(this);
    if (answer == CloseAnswer::Cancel) {
      event->ignore();
      return;
    }
    if (answer == CloseAnswer::Save) {
      bool saved = false;
      swelox::ui::RunHandler([&] { saved = SaveResults(); });
      if (!saved) {  // cancelled, or it failed and said so: the results stay
        event->ignore();
        return;
      }
    }
  }
  views_->Close();  // they keep their places
  StoreSettings();
  StopRun();
  QWidget::closeEvent(event);
}
