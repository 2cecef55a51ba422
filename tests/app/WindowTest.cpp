// The main window as a user meets it: its controls and texts, the direction toggle, the file
// chooser, the runs with their captions, rows and growing sizes, the error box, and rows equal to
// those of swelox-cli for the same settings and files.
#include <fpu_control.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QWidgetAction>
#include <QtTest>
#include <cfenv>
#include <functional>
#include <map>

#include "analysis/ImageAnalysis.h"
#include "app/Application.h"
#include "app/Controls.h"
#include "app/Main.h"
#include "app/Placement.h"
#include "app/RunController.h"
#include "app/SettingsModel.h"
#include "core/Errors.h"
#include "toolkit/Golden.h"
#include "toolkit/OpenWatch.h"
#include "toolkit/QtFixture.h"
#include "toolkit/SmallDisk.h"

using swelox::test::Example;
using swelox::test::Lines;
using swelox::test::RecordingErrorBox;
using swelox::test::ScriptedFileDialog;

namespace {

const QString kHeader = QStringLiteral("Width\tHeight\tBwide\tBhigh\tmeanDiff\tRMS\tnDiffs\tPic");
const QString kStart = QStringLiteral("Select set of images and start the analysis");
const QString kBelow = QStringLiteral("Compare with rectangle below");
const QString kRight = QStringLiteral("Compare with rectangle to right");

// Picture sizes of the sample photos, as their files state them.
const std::map<QString, QSize> kExampleSizes = {
    {QStringLiteral("by-the-water.jpg"), {1500, 230}},
    {QStringLiteral("darkest-hour-lake.jpg"), {2560, 380}},
    {QStringLiteral("evening-glow-lake.jpg"), {2560, 150}},
    {QStringLiteral("infinite-sea.jpg"), {4096, 1150}},
    {QStringLiteral("summer-night-lake.jpg"), {2560, 280}},
};

QStringList Columns(const QString& row) { return row.split(QLatin1Char('\t')); }

// The program's own error box while it exists; the test's recorder again afterwards.
struct RealErrorBox {
  std::unique_ptr<swelox::ui::ErrorBox> recorder =
      swelox::ui::InstallErrorBox(std::make_unique<swelox::ui::MessageErrorBox>());
  ~RealErrorBox() { swelox::ui::InstallErrorBox(std::move(recorder)); }
};

// Calls `act` with the modal widget of type T as soon as one shows.
template <typename T>
void WhenModal(std::function<void(T*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (auto* modal = qobject_cast<T*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      act(modal);
    }
  });
  timer->start();
}

// The texts a user first meets in the window, one line per line of text: the control's name, what
// the text is, and the text in quotes, so that spaces at either end show.
QString WindowTexts(TF& w) {
  QString texts;
  auto add = [&texts](const QString& name, const char* what, const QString& text) {
    for (const QString& line : text.split(QLatin1Char('\n'))) {
      texts += name + QLatin1Char(' ') + QLatin1String(what) + QStringLiteral(" \"") + line +
               QStringLiteral("\"\n");
    }
  };
  add(QStringLiteral("application"), "name", QCoreApplication::applicationName());
  add(QStringLiteral("F"), "caption", w.windowTitle());
  const std::pair<const char*, QWidget*> controls[] = {
      {"ProcessBtn", w.ProcessBtn},
      {"Label3", w.Label3},
      {"Label2", w.Label2},
      {"WidthEdit", w.WidthEdit},
      {"Label1", w.Label1},
      {"HighEdit", w.HighEdit},
      {"Label4", w.Label4},
      {"LoopsEdit", w.LoopsEdit},
      {"Label5", w.Label5},
      {"WidthIncrementEdit", w.WidthIncrementEdit},
      {"Label6", w.Label6},
      {"HeightIncrementEdit", w.HeightIncrementEdit},
      {"HorizontalVerticalLbl", w.HorizontalVerticalLbl},
      {"SkipBox", w.SkipBox},
      {"TimesBtn", w.TimesBtn},
      {"CameraZoneEdit", w.CameraZoneEdit},
      {"ClockShiftEdit", w.ClockShiftEdit},
      {"UtcBox", w.UtcBox},
      {"ColumnsBtn", w.ColumnsBtn},
      {"OrderBox", w.OrderBox},
      {"RegionLbl", w.RegionLbl},
      {"Region", w.Region},
      {"ShowBtn", w.ShowBtn},
      {"SaveBtn", w.SaveBtn},
      {"ChartBtn", w.ChartBtn},
      {"WatchBtn", w.WatchBtn},
      {"FollowBox", w.FollowBox},
      {"Memo1", w.Memo1},
  };
  for (const auto& [name, control] : controls) {
    const QString n = QString::fromLatin1(name);
    if (auto* label = qobject_cast<QLabel*>(control)) add(n, "caption", label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(control)) add(n, "caption", button->text());
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
      add(n, "text", edit->text());
      if (!edit->placeholderText().isEmpty()) add(n, "placeholder", edit->placeholderText());
    }
    if (auto* box = qobject_cast<QComboBox*>(control)) {
      for (int i = 0; i < box->count(); ++i) add(n, "item", box->itemText(i));
    }
    if (auto* tool = qobject_cast<QToolButton*>(control); tool && tool->menu()) {
      for (const QAction* action : tool->menu()->actions()) {
        // A panel's controls are listed by their own names; its labels here.
        if (auto* panel = qobject_cast<const QWidgetAction*>(action)) {
          for (const QLabel* label : panel->defaultWidget()->findChildren<QLabel*>()) {
            add(n, "label", label->text());
          }
          continue;
        }
        add(n, "item", action->text());
      }
    }
    if (auto* memo = qobject_cast<QPlainTextEdit*>(control)) add(n, "text", memo->toPlainText());
    if (!control->toolTip().isEmpty()) add(n, "hint", control->toolTip());
  }
  return texts;
}

}  // namespace

class WindowTest : public swelox::test::WindowFixture {
  Q_OBJECT

 private:
  // A click on the start button, and the run it starts, to its end.
  void Click() {
    QTest::mouseClick(window_->ProcessBtn, Qt::LeftButton);
    WaitForTheRun();
  }
  void WaitForTheRun() { QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 60000); }

  void SetFields(const QString& width, const QString& height, const QString& loops,
                 const QString& widthIncrement, const QString& heightIncrement) {
    window_->WidthEdit->setText(width);
    window_->HighEdit->setText(height);
    window_->LoopsEdit->setText(loops);
    window_->WidthIncrementEdit->setText(widthIncrement);
    window_->HeightIncrementEdit->setText(heightIncrement);
  }

  // The rows under the header, which must come first and only once.
  QStringList Rows() {
    QStringList lines = Lines(window_->Memo1->toPlainText());
    if (lines.isEmpty() || lines.front() != kHeader) {
      QTest::qFail("the results do not start with the header line", __FILE__, __LINE__);
      return {};
    }
    lines.pop_front();
    if (lines.contains(kHeader)) QTest::qFail("a second header line", __FILE__, __LINE__);
    return lines;
  }

  QPoint Centre(QWidget* control) {
    return control->mapTo(window_.get(), control->rect().center());
  }

  QString TempFile(const QString& name, const QByteArray& content) {
    const QString path = temp_.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) return {};
    return path;
  }

  // The engine's own message for a picture it cannot analyse, as the box must show it: the
  // message, then the photo with the decoder's explanation, if any.
  static QString PhotoMessage(const QString& path) {
    try {
      swelox::AnalyseFileRow(QFile::encodeName(path).toStdString(), {"15", "12"},
                             swelox::Direction::Below);
    } catch (const swelox::Error& e) {
      return QString::fromStdString(swelox::WithFullStop(e.what())) + "\n" + path +
             (e.detail().empty() ? QString() : ": " + QString::fromStdString(e.detail()));
    }
    return QStringLiteral("(no error)");
  }

 private Q_SLOTS:
  void initTestCase() { QVERIFY(temp_.isValid()); }

  void init() {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "swelox", "swelox").clear();
    QVERIFY(OpenWindow());
  }
  void cleanup() { window_.reset(); }

  void startsWithItsCaptionsAndDefaults() {
    QCOMPARE(F, window_.get());
    QVERIFY(!CompareRight);

    // Every caption, field text, hint and the help text, as the golden file holds them.
    const std::string difference =
        swelox::test::GoldenDifference("window-texts.txt", WindowTexts(*window_).toStdString());
    QVERIFY2(difference.empty(), difference.c_str());
  }

  // The layout as a user reads it: each size field right of its label on the same line, each
  // repeat or increment box over the gap in its line, the frame around them, the button under
  // the help, the results area under the button across the window; nothing overlaps, and all of
  // it grows with the text height.
  void controlsSitWhereTheyAreRead() {
    TF& w = *window_;
    QVERIFY(w.Scaled(13) >= QFontMetrics(w.font()).height());
    QCOMPARE(w.size(), QSize(w.Scaled(767), w.Scaled(520)));

    const auto sameLine = [](QWidget* label, QWidget* field) {
      const int middle = label->geometry().center().y();
      return field->geometry().top() <= middle && middle <= field->geometry().bottom();
    };
    const std::pair<QLabel*, QLineEdit*> fields[] = {{w.Label2, w.WidthEdit},
                                                     {w.Label1, w.HighEdit}};
    for (const auto& [label, field] : fields) {
      QVERIFY2(label->geometry().right() < field->x(), qPrintable(label->text()));
      QVERIFY2(sameLine(label, field), qPrintable(label->text()));
    }
    QVERIFY(w.WidthEdit->geometry().right() < w.Label1->x());  // Width first, then Height
    const std::pair<QLabel*, QLineEdit*> lines[] = {{w.Label4, w.LoopsEdit},
                                                    {w.Label5, w.WidthIncrementEdit},
                                                    {w.Label6, w.HeightIncrementEdit}};
    int previousBottom = w.WidthEdit->geometry().bottom();
    for (const auto& [label, box] : lines) {
      QVERIFY2(sameLine(label, box), qPrintable(label->text()));
      QVERIFY2(box->y() > previousBottom, qPrintable(label->text()));  // one line after another
      previousBottom = box->geometry().bottom();
    }
    QVERIFY(w.HorizontalVerticalLbl->y() > previousBottom);
    for (QWidget* inside :
         {static_cast<QWidget*>(w.WidthEdit), static_cast<QWidget*>(w.HighEdit),
          static_cast<QWidget*>(w.LoopsEdit), static_cast<QWidget*>(w.WidthIncrementEdit),
          static_cast<QWidget*>(w.HeightIncrementEdit)}) {
      QVERIFY(w.Shape1->geometry().contains(inside->geometry()));
    }
    QVERIFY(w.Label3->geometry().right() < w.Shape1->x());
    QVERIFY(w.ProcessBtn->geometry().right() < w.Shape1->x());
    QVERIFY(w.Memo1->y() > w.ProcessBtn->geometry().bottom());
    QVERIFY(w.Memo1->y() > w.Shape1->geometry().bottom());
    QVERIFY(w.Memo1->width() > w.width() * 9 / 10);

    // No two controls that take input cover each other.
    const QList<QWidget*> inputs = {
        w.ProcessBtn, w.WidthEdit,          w.HighEdit,           w.Memo1,
        w.LoopsEdit,  w.WidthIncrementEdit, w.HeightIncrementEdit};
    for (qsizetype i = 0; i < inputs.size(); ++i) {
      for (qsizetype j = i + 1; j < inputs.size(); ++j) {
        QVERIFY2(!inputs[i]->geometry().intersects(inputs[j]->geometry()),
                 qPrintable(QStringLiteral("controls %1 and %2").arg(i).arg(j)));
      }
    }

    // The watch's button beside the start button; under the results, one row: the chart's
    // button, the follow box, the line of warnings. None covers another, the results or the
    // window's edge, and the box shows its text.
    QVERIFY(w.ProcessBtn->geometry().right() < w.WatchBtn->x());
    QVERIFY(w.WatchBtn->geometry().right() < w.Shape1->x());
    QCOMPARE(w.WatchBtn->y(), w.ProcessBtn->y());
    const QList<QWidget*> bottom = {w.ChartBtn, w.FollowBox, w.WarningsLbl};
    for (qsizetype i = 0; i < bottom.size(); ++i) {
      QVERIFY(bottom[i]->y() > w.Memo1->geometry().bottom());
      QVERIFY(w.rect().contains(bottom[i]->geometry()));
      for (qsizetype j = i + 1; j < bottom.size(); ++j) {
        QVERIFY2(!bottom[i]->geometry().intersects(bottom[j]->geometry()),
                 qPrintable(QStringLiteral("bottom controls %1 and %2").arg(i).arg(j)));
      }
    }
    QCOMPARE(w.FollowBox->size(), w.FollowBox->sizeHint());

    // Labels size themselves to their caption; the help keeps its width and wraps.
    for (QLabel* label : std::initializer_list<QLabel*>{w.Label1, w.Label2, w.HorizontalVerticalLbl,
                                                        w.Label4, w.Label5, w.Label6}) {
      QCOMPARE(label->size(), label->sizeHint());
    }
    QVERIFY(w.Label3->wordWrap());
    QCOMPARE(w.Label3->height(), w.Label3->heightForWidth(w.Label3->width()));
    QVERIFY(w.Label3->height() >= 2 * QFontMetrics(w.font()).height());

    // Focusable controls lie above every label and the frame.
    const QObjectList stack = w.children();
    for (QWidget* label : {static_cast<QWidget*>(w.Shape1), static_cast<QWidget*>(w.Label4),
                           static_cast<QWidget*>(w.Label5), static_cast<QWidget*>(w.Label6),
                           static_cast<QWidget*>(w.HorizontalVerticalLbl)}) {
      for (QWidget* box :
           {static_cast<QWidget*>(w.LoopsEdit), static_cast<QWidget*>(w.WidthIncrementEdit),
            static_cast<QWidget*>(w.HeightIncrementEdit)}) {
        QVERIFY(stack.indexOf(label) < stack.indexOf(box));
      }
    }
    const auto firstWidget = std::find_if(stack.begin(), stack.end(),
                                          [](QObject* child) { return child->isWidgetType(); });
    QCOMPARE(*firstWidget, static_cast<QObject*>(w.Shape1));

    // The window is button-face coloured; the direction label is drawn in pure blue.
    QCOMPARE(w.palette().color(QPalette::Window), w.palette().color(QPalette::Button));
    const QImage label = w.HorizontalVerticalLbl->grab().toImage();
    int bluePixels = 0;
    for (int y = 0; y < label.height(); ++y) {
      for (int x = 0; x < label.width(); ++x) {
        const QColor c = label.pixelColor(x, y);
        if (c.blue() > 200 && c.red() < 60 && c.green() < 60) ++bluePixels;
      }
    }
    QVERIFY2(bluePixels > 20, "the direction label is not drawn in blue");
    QVERIFY(w.HorizontalVerticalLbl->font().pointSize() == 8 &&
            !w.HorizontalVerticalLbl->font().bold());
  }

  // Every caption fits where the layout puts it, whatever the font and the screen's scale.
  void captionsFitTheirRoom() {
    TF& w = *window_;
    const QRect frame = w.Shape1->geometry();
    auto check = [&](QLabel* label, int limit) {
      const QRect box = label->geometry();
      const int textWidth = label->fontMetrics().horizontalAdvance(label->text());
      const QString what = QStringLiteral("'%1': text %2 wide at %3, room up to %4")
                               .arg(label->text())
                               .arg(textWidth)
                               .arg(box.left())
                               .arg(limit);
      QVERIFY2(textWidth <= box.width(), qPrintable(what));
      QVERIFY2(box.right() < limit, qPrintable(what));
      QVERIFY2(frame.contains(box), qPrintable(what + " leaves the frame"));
    };
    check(w.Label2, w.WidthEdit->x());
    check(w.Label1, w.HighEdit->x());
    for (QLabel* line : {w.Label4, w.Label5, w.Label6}) check(line, frame.right());
    for (int caption = 0; caption < 2; ++caption) {
      check(w.HorizontalVerticalLbl, frame.right());
      w.HorizontalVerticalLblClick();
    }

    // The box covers the 12 spaces: the first word ends before it, the rest begins after it.
    const std::pair<QLabel*, QLineEdit*> lines[] = {{w.Label4, w.LoopsEdit},
                                                    {w.Label5, w.WidthIncrementEdit},
                                                    {w.Label6, w.HeightIncrementEdit}};
    for (const auto& [label, box] : lines) {
      const QFontMetrics metrics = label->fontMetrics();
      const int wordEnd = label->x() + metrics.horizontalAdvance(label->text().left(3));
      const int gapEnd = label->x() + metrics.horizontalAdvance(label->text().left(15));
      QVERIFY2(wordEnd < box->x() && box->geometry().right() < gapEnd,
               qPrintable(QStringLiteral("'%1': gap %2-%3, box %4-%5")
                              .arg(label->text())
                              .arg(wordEnd)
                              .arg(gapEnd)
                              .arg(box->x())
                              .arg(box->geometry().right())));
    }

    // The wrapped help ends above the button, whose captions fit it; all lies inside the window.
    QVERIFY(w.Label3->geometry().bottom() < w.ProcessBtn->y());
    for (const QString& caption : {kStart, QStringLiteral("Stop   9999 of 9999   Run9999"),
                                   QStringLiteral("Stop   Waiting for the next photo")}) {
      QVERIFY(w.ProcessBtn->fontMetrics().horizontalAdvance(caption) < w.ProcessBtn->width() - 8);
    }
    QVERIFY(w.WatchBtn->fontMetrics().horizontalAdvance(w.WatchBtn->text()) <
            w.WatchBtn->width() - 8);
    // The band between the help and the button: the skip box, then the region, the picture view
    // and the saving of the results side by side, each caption whole, none over another.
    QVERIFY(w.Label3->geometry().bottom() < w.SkipBox->y());
    QVERIFY(w.SkipBox->geometry().bottom() < w.Region->y());
    QVERIFY(w.SkipBox->width() >= w.SkipBox->sizeHint().width());
    // The skip box, "Times...", "Columns..." and the Order box side by side on one line.
    QVERIFY(w.SkipBox->geometry().right() < w.TimesBtn->x());
    QVERIFY(w.TimesBtn->geometry().right() < w.ColumnsBtn->x());
    QVERIFY(w.ColumnsBtn->geometry().right() < w.OrderBox->x());
    for (const QString& caption : {QStringLiteral("Times..."), QStringLiteral("Times (3)...")}) {
      QVERIFY2(w.TimesBtn->fontMetrics().horizontalAdvance(caption) < w.TimesBtn->width() - 12,
               qPrintable(caption));
    }
    QVERIFY(w.RegionLbl->geometry().right() < w.Region->x());
    QVERIFY(w.Region->geometry().right() < w.ShowBtn->x());
    QVERIFY(w.ShowBtn->geometry().right() < w.SaveBtn->x());
    QVERIFY(w.SaveBtn->geometry().right() < frame.left());
    for (QPushButton* button : {w.ShowBtn, w.SaveBtn}) {
      QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) < button->width() - 8,
               qPrintable(button->text()));
      QVERIFY(button->geometry().bottom() < w.ProcessBtn->y());
    }
    for (QWidget* child : w.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (child->isVisible()) QVERIFY(w.rect().contains(child->geometry()));
    }
  }

  void opensCentredOnThePrimaryScreen() {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(window_->pos(), swelox::ui::CentredOrigin(screen, window_->size()));

    struct Case {
      QRect screen;
      QSize window;
      QPoint main;
      QSize dialog;
      QPoint chooser;
    };
    const Case cases[] = {
        {{0, 0, 1024, 768}, {767, 520}, {128, 124}, {600, 401}, {212, 122}},
        {{0, 0, 1025, 769}, {767, 520}, {129, 124}, {600, 400}, {212, 123}},
        {{0, 0, 640, 480}, {767, 520}, {0, 0}, {700, 580}, {-30, -33}},
        {{0, 0, 700, 900}, {767, 520}, {0, 190}, {700, 600}, {0, 100}},
        {{1920, 100, 1024, 768}, {767, 520}, {2048, 224}, {600, 400}, {2132, 222}},
    };
    for (const Case& c : cases) {
      QCOMPARE(swelox::ui::CentredOrigin(c.screen, c.window), c.main);
      QCOMPARE(swelox::ui::ChooserOrigin(c.screen, c.dialog), c.chooser);
    }
  }

  // The labels that explain a field or the direction carry a hint, shown for 2.5 s after half a
  // second; no other control has one (their texts are in the golden file of the window's texts).
  void hintsOnlyOnTheExplainingLabels() {
    TF& w = *window_;
    const QList<QWidget*> explaining = {w.Label1, w.Label2, w.HorizontalVerticalLbl, w.Label4,
                                        w.Label5};
    for (QWidget* child : w.findChildren<QWidget*>()) {
      if (!explaining.contains(child)) {
        QVERIFY2(child->toolTip().isEmpty(), qPrintable(child->toolTip()));
        continue;
      }
      QVERIFY(!child->toolTip().isEmpty());
      QCOMPARE(child->toolTipDuration(), 2500);
    }
    QCOMPARE(w.Label1->style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay, nullptr, w.Label1), 500);
  }

  void hintShowsAfterHalfASecondAndHidesAgain() {
    QWindow* window = window_->windowHandle();
    QTest::mouseMove(window, QPoint(2, 2));
    QElapsedTimer clock;
    clock.start();
    QTest::mouseMove(window, Centre(window_->Label2));
    QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 3000);
    const qint64 shownAfter = clock.elapsed();
    QVERIFY2(shownAfter >= 450, qPrintable(QString::number(shownAfter)));
    QCOMPARE(QToolTip::text(), QStringLiteral("width of comparison rectangle"));
    clock.restart();
    QTRY_VERIFY_WITH_TIMEOUT(!QToolTip::isVisible(), 5000);
    QVERIFY2(clock.elapsed() >= 2300, qPrintable(QString::number(clock.elapsed())));
  }

  void startButtonHasTheFocusAndTabFollowsTheLayout() {
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    QCOMPARE(QApplication::focusWidget(), window_->ProcessBtn);

    TF& w = *window_;
    const QWidget* order[] = {w.WatchBtn,
                              w.WidthEdit,
                              w.HighEdit,
                              w.Memo1,
                              w.LoopsEdit,
                              w.WidthIncrementEdit,
                              w.HeightIncrementEdit,
                              w.HorizontalVerticalLbl,
                              w.SkipBox,
                              w.TimesBtn,
                              w.ColumnsBtn,
                              w.OrderBox,
                              w.Region,
                              w.ShowBtn,
                              w.SaveBtn,
                              w.FollowBox,
                              w.ProcessBtn};
    for (const QWidget* next : order) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), next);
      if (auto* edit = qobject_cast<const QLineEdit*>(next)) {
        QCOMPARE(edit->selectedText(), edit->text());  // tabbing in selects the whole text
      }
    }
  }

  void resultsAreaScrollsInsteadOfWrapping() {
    QPlainTextEdit* memo = window_->Memo1;
    QVERIFY(!memo->isReadOnly());
    QVERIFY(memo->tabChangesFocus());
    QCOMPARE(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    memo->setPlainText(QString(3000, QLatin1Char('x')) + QLatin1Char('\n'));
    QCoreApplication::processEvents();
    QCOMPARE(memo->document()->firstBlock().layout()->lineCount(), 1);
    QVERIFY(memo->horizontalScrollBar()->maximum() > 0);
  }

  void toggle_data() {
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("caption");
    QTest::newRow("one click") << "click" << kRight;
    QTest::newRow("two clicks") << "click click" << kBelow;
    QTest::newRow("three clicks") << "click click click" << kRight;
    QTest::newRow("double click") << "double" << kRight;
    QTest::newRow("double click after a click") << "click double" << kBelow;
    QTest::newRow("press, move off, release") << "press-off" << kBelow;
    QTest::newRow("press elsewhere, release on it") << "press-on" << kBelow;
    QTest::newRow("right button") << "right" << kBelow;
  }
  void toggle() {
    QFETCH(QString, gesture);
    QFETCH(QString, caption);
    QWindow* window = window_->windowHandle();
    QLabel* label = window_->HorizontalVerticalLbl;
    const QPoint on = Centre(label);
    const QPoint off = label->mapTo(window_.get(), QPoint(-10, label->height() / 2));
    const int left = label->x();
    const int belowWidth = label->width();
    for (const QString& step : gesture.split(QLatin1Char(' '))) {
      if (step == "click") {
        QTest::mouseClick(window, Qt::LeftButton, {}, on);
      } else if (step == "double") {
        QTest::mouseDClick(window, Qt::LeftButton, {}, on);
      } else if (step == "press-off") {
        QTest::mousePress(window, Qt::LeftButton, {}, on);
        QTest::mouseMove(window, off);
        QTest::mouseRelease(window, Qt::LeftButton, {}, off);
      } else if (step == "press-on") {
        QTest::mousePress(window, Qt::LeftButton, {}, off);
        QTest::mouseMove(window, on);
        QTest::mouseRelease(window, Qt::LeftButton, {}, on);
      } else if (step == "right") {
        QTest::mouseClick(window, Qt::RightButton, {}, on);
      }
    }
    QCOMPARE(label->text(), caption);
    QCOMPARE(CompareRight, caption == kRight);
    QCOMPARE(label->x(), left);
    QCOMPARE(label->size(), label->sizeHint());
    if (caption == kRight) QVERIFY(label->width() > belowWidth);
    QVERIFY(shown_.empty());
  }

  // The model owns the direction: set there (as a restored setting is), the caption and the
  // program-wide flag follow it, and the toggle turns the model's direction whatever the label
  // was made to read.
  void toggleTurnsTheModelsDirection() {
    TF& w = *window_;
    QLabel* label = w.HorizontalVerticalLbl;
    w.Model->setCompareRight(true);
    QCOMPARE(label->text(), kRight);
    QVERIFY(CompareRight);
    label->setText(QStringLiteral("compare with rectangle to right"));
    w.HorizontalVerticalLblClick();
    QCOMPARE(label->text(), kBelow);
    QVERIFY(!CompareRight);
    QVERIFY(!w.Model->compareRight());
    w.HorizontalVerticalLblClick();
    QCOMPARE(label->text(), kRight);
    QVERIFY(CompareRight);
    QCOMPARE(w.Model->direction(), swelox::Direction::Right);
    TF again;  // a new window starts comparing below
    QVERIFY(!CompareRight);
  }

  // The results are cleared only once photos were chosen: a cancel loses nothing.
  void cancelKeepsTheResults() {
    const QString before = window_->Memo1->toPlainText();
    SetFields("15", "12", "5", "0", "0");
    Script({std::nullopt});
    Click();
    QCOMPARE(chooser_.calls, 1);
    QVERIFY(!window_->Running());
    QCOMPARE(window_->Memo1->toPlainText(), before);
    QCOMPARE(window_->ProcessBtn->text(), kStart);
    QCOMPARE(window_->LoopsEdit->text(), QStringLiteral("0"));  // set before the chooser opened
    QCOMPARE(window_->WidthEdit->text(), QStringLiteral("15"));
    QVERIFY(window_->OpenDialog1->ChosenFiles().isEmpty());
    QVERIFY(shown_.empty());
  }

  void keysOnTheFocusedStartButton_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("starts");
    QTest::newRow("Space") << int(Qt::Key_Space) << true;
    QTest::newRow("Return") << int(Qt::Key_Return) << true;
    QTest::newRow("Enter on the keypad") << int(Qt::Key_Enter) << true;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << false;
  }
  void keysOnTheFocusedStartButton() {
    QFETCH(int, key);
    QFETCH(bool, starts);
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    QCOMPARE(QApplication::focusWidget(), window_->ProcessBtn);
    Script({QStringList{Example("by-the-water.jpg")}});
    QTest::keyClick(window_->ProcessBtn, Qt::Key(key));
    WaitForTheRun();
    QCOMPARE(chooser_.calls, starts ? 1 : 0);
    QCOMPARE(Lines(window_->Memo1->toPlainText()).size(), starts ? 2 : 24);
  }

  void chooserListsTheChosenPathsAndEmptiesOnCancel() {
    const QStringList three = {Example("summer-night-lake.jpg"), Example("by-the-water.jpg"),
                               Example("darkest-hour-lake.jpg")};
    Script({QStringList{Example("by-the-water.jpg")}, three, std::nullopt, std::nullopt});
    swelox::ui::FileChooser& chooser = *window_->OpenDialog1;
    QVERIFY(chooser.ChooseFiles());
    QCOMPARE(chooser.ChosenFiles(), QStringList{Example("by-the-water.jpg")});
    QVERIFY(chooser.ChooseFiles());
    QCOMPARE(chooser.ChosenFiles(), three);
    QVERIFY(!chooser.ChooseFiles());
    QVERIFY(chooser.ChosenFiles().isEmpty());
    QVERIFY(!chooser.ChooseFiles());
    // Pre-filled with the first path of the last successful selection, kept across a cancel.
    QCOMPARE(chooser_.prefills,
             (QStringList{QString(), Example("by-the-water.jpg"), three[0], three[0]}));
  }

  void chooserKeepsTheFloatingPointEnvironment() {
    const auto precisionAndRounding = [] {
      fpu_control_t cw;
      _FPU_GETCW(cw);
      return std::pair<int, int>(cw & 0x300, std::fegetround());
    };
    const auto before = precisionAndRounding();
    QCOMPARE(before.first, 0x300);  // extended precision
    QCOMPARE(before.second, FE_TONEAREST);
    Script({QStringList{Example("by-the-water.jpg")}}, [] {
      // What a careless dialog or plug-in might leave behind.
      fpu_control_t cw;
      _FPU_GETCW(cw);
      cw = (cw & ~0x300) | _FPU_DOUBLE;
      _FPU_SETCW(cw);
      std::fesetround(FE_UPWARD);
    });
    QVERIFY(window_->OpenDialog1->ChooseFiles());
    QCOMPARE(precisionAndRounding(), before);
  }

  void analysesOneAndThreeFiles_data() {
    QTest::addColumn<QStringList>("names");
    QTest::newRow("one file") << QStringList{"by-the-water.jpg"};
    QTest::newRow("three files, in the chooser's order")
        << QStringList{"summer-night-lake.jpg", "by-the-water.jpg", "darkest-hour-lake.jpg"};
  }
  void analysesOneAndThreeFiles() {
    QFETCH(QStringList, names);
    QStringList paths;
    for (const QString& name : names) paths << Example(name.toUtf8().constData());
    Script({paths});
    Click();
    QVERIFY(shown_.empty());
    const QStringList rows = Rows();
    QCOMPARE(rows.size(), names.size());
    for (int i = 0; i < rows.size(); ++i) {
      const QStringList columns = Columns(rows[i]);
      QCOMPARE(columns.size(), 8);
      const QSize size = kExampleSizes.at(names[i]);
      QCOMPARE(columns.mid(0, 4), (QStringList{QString::number(size.width() - 2),
                                               QString::number(size.height() - 2), "15", "12"}));
      QCOMPARE(columns[7], names[i]);
      QVERIFY(columns[6].toInt() > 0);
    }
    QCOMPARE(window_->ProcessBtn->text(), kStart);
    QCOMPARE(window_->WidthEdit->text(), QStringLiteral("30"));
    QCOMPARE(window_->HighEdit->text(), QStringLiteral("24"));
  }

  void runs_data() {
    QTest::addColumn<QString>("loops");
    QTest::addColumn<QString>("widthIncrement");
    QTest::addColumn<QString>("heightIncrement");
    QTest::addColumn<QString>("loopsAfter");
    QTest::addColumn<QList<QSize>>("sizes");  // of each run, then the sizes shown at the end
    QTest::addColumn<bool>("runInCaption");
    QTest::newRow("two repeats") << "2"
                                 << "100"
                                 << "100"
                                 << "2" << QList<QSize>{{15, 12}, {30, 24}, {60, 48}, {120, 96}}
                                 << true;
    QTest::newRow("no repeats") << "0"
                                << "100"
                                << "100"
                                << "0" << QList<QSize>{{15, 12}, {30, 24}} << false;
    QTest::newRow("both increments \"0\" allow one run only")
        << "3"
        << "0"
        << "0"
        << "0" << QList<QSize>{{15, 12}, {15, 12}} << false;
    QTest::newRow("one increment \"0\"")
        << "2"
        << "0"
        << "50"
        << "2" << QList<QSize>{{15, 12}, {15, 18}, {15, 27}, {15, 40}} << true;
    QTest::newRow("\" 0\" is not \"0\"")
        << "1"
        << " 0"
        << "0"
        << "1" << QList<QSize>{{15, 12}, {15, 12}, {15, 12}} << true;
    QTest::newRow("negative repeats: no run") << "-1"
                                              << "100"
                                              << "100"
                                              << "-1" << QList<QSize>{{15, 12}} << false;
  }
  void runs() {
    QFETCH(QString, loops);
    QFETCH(QString, widthIncrement);
    QFETCH(QString, heightIncrement);
    QFETCH(QString, loopsAfter);
    QFETCH(QList<QSize>, sizes);
    QFETCH(bool, runInCaption);
    const QStringList names = {"summer-night-lake.jpg", "by-the-water.jpg",
                               "evening-glow-lake.jpg"};
    QStringList paths;
    for (const QString& name : names) paths << Example(name.toUtf8().constData());
    SetFields("15", "12", loops, widthIncrement, heightIncrement);
    Script({paths});

    // The captions as the button shows them, beside "Stop", and the sizes written back.
    QStringList captions, shownSizes;
    connect(window_->Run, &swelox::ui::RunController::captionChanged, window_.get(), [&] {
      QVERIFY(window_->ProcessBtn->text().startsWith("Stop   "));
      captions << window_->ProcessBtn->text().mid(7);
    });
    connect(window_->Run, &swelox::ui::RunController::sizesGrown, window_.get(),
            [&] { shownSizes << window_->WidthEdit->text() + "x" + window_->HighEdit->text(); });
    Click();
    QVERIFY(shown_.empty());
    QCOMPARE(chooser_.calls, 1);
    QCOMPARE(window_->LoopsEdit->text(), loopsAfter);

    const int runs = int(sizes.size()) - 1;
    const QStringList rows = Rows();
    QCOMPARE(rows.size(), runs * 3);
    QStringList expectedCaptions;
    for (int r = 0; r < runs; ++r) {
      for (int i = 0; i < 3; ++i) {
        const QStringList columns = Columns(rows[r * 3 + i]);
        QCOMPARE(columns[2], QString::number(sizes[r].width()));
        QCOMPARE(columns[3], QString::number(sizes[r].height()));
        QCOMPARE(columns[7], names[i]);
        expectedCaptions << QStringLiteral("%1 of 3").arg(i + 1) +
                                (runInCaption ? QStringLiteral("   Run%1").arg(r + 1) : QString());
      }
    }
    QCOMPARE(captions, expectedCaptions);
    QStringList grownSizes;
    for (int r = 1; r <= runs; ++r) {
      grownSizes << QStringLiteral("%1x%2").arg(sizes[r].width()).arg(sizes[r].height());
    }
    QCOMPARE(shownSizes, grownSizes);
    if (runs == 3 && runInCaption) {
      QCOMPARE(captions.front(), QStringLiteral("1 of 3   Run1"));
      QCOMPARE(captions.back(), QStringLiteral("3 of 3   Run3"));
    }
    QCOMPARE(window_->WidthEdit->text(), QString::number(sizes.back().width()));
    QCOMPARE(window_->HighEdit->text(), QString::number(sizes.back().height()));
    QCOMPARE(window_->ProcessBtn->text(), kStart);
  }

  void growth_data() {
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("percent");
    QTest::addColumn<QString>("grown");
    QTest::newRow("15 +50%") << "15"
                             << "50"
                             << "22";
    QTest::newRow("45 +50%") << "45"
                             << "50"
                             << "68";
    QTest::newRow("7 +50%") << "7"
                            << "50"
                            << "10";
    QTest::newRow("14 +25%") << "14"
                             << "25"
                             << "18";
    QTest::newRow("10 +25%") << "10"
                             << "25"
                             << "12";
    QTest::newRow("15 +100%") << "15"
                              << "100"
                              << "30";
    QTest::newRow("hexadecimal $F +50%") << "$F"
                                         << "50"
                                         << "22";
    QTest::newRow("no increment") << "15"
                                  << "0"
                                  << "15";
    QTest::newRow("negative increment") << "$F"
                                        << "-20"
                                        << "$F";
  }
  void growth() {
    QFETCH(QString, size);
    QFETCH(QString, percent);
    QFETCH(QString, grown);
    SetFields(size, size, "0", percent, percent);
    Script({QStringList{Example("by-the-water.jpg")}});
    Click();
    QVERIFY(shown_.empty());
    QCOMPARE(Rows().size(), 1);
    QCOMPARE(window_->WidthEdit->text(), grown);
    QCOMPARE(window_->HighEdit->text(), grown);
  }

  void errors_data() {
    QTest::addColumn<QStringList>("fields");  // width, height, loops, both increments
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("message");  // "photo:" + the file whose own error shows
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("sizesAfter");

    const QStringList two = {"A", "B"};
    // A field that holds no number is found after the chooser, before the last results are
    // cleared (rows -1: they are kept), and named.
    const QString field = QStringLiteral("\nIn the field \"%1\".");
    QTest::newRow("width not a number")
        << QStringList{"abc", "12", "0", "100", "100"} << two
        << "'abc' is not a valid integer value." + field.arg("Width") << -1 << kStart << "abcx12";
    QTest::newRow("height with a trailing space")
        << QStringList{"15", "12 ", "0", "100", "100"} << two
        << "'12 ' is not a valid integer value." + field.arg("Height") << -1 << kStart << "15x12 ";
    QTest::newRow("empty width") << QStringList{"", "12", "0", "100", "100"} << two
                                 << "'' is not a valid integer value." + field.arg("Width") << -1
                                 << kStart << "x12";
    QTest::newRow("repeats not a number, after the chooser")
        << QStringList{"15", "12", "two", "100", "100"} << two
        << "'two' is not a valid integer value." + field.arg("Run ... repeats") << -1 << kStart
        << "15x12";
    QTest::newRow("width increment not a number, before the first run")
        << QStringList{"15", "12", "1", "abc", "100"} << two
        << "'abc' is not a valid integer value." + field.arg("Add ... % to rectangle width") << -1
        << kStart << "15x12";
    QTest::newRow("height increment not a number, before the first run")
        << QStringList{"15", "12", "1", "100", "x"} << two
        << "'x' is not a valid integer value." + field.arg("Add ... % to rectangle height") << -1
        << kStart << "15x12";
    QTest::newRow("increment overflow") << QStringList{"15", "12", "0", "2147483647", "100"} << two
                                        << "Integer overflow." << 2 << "2 of 2"
                                        << "15x12";
    QTest::newRow("rectangle area overflow") << QStringList{"65536", "65536", "0", "100", "100"}
                                             << two << "Integer overflow." << 0 << "1 of 2"
                                             << "65536x65536";
    QTest::newRow("zero width") << QStringList{"0", "12", "0", "100", "100"} << two
                                << "Division by zero." << 0 << "1 of 2"
                                << "0x12";
    QTest::newRow("not a photo, second of three")
        << QStringList{"15", "12", "0", "100", "100"} << QStringList{"A", "bad", "B"} << "photo:bad"
        << 1 << "2 of 3"
        << "15x12";
    QTest::newRow("missing photo")
        << QStringList{"15", "12", "1", "100", "100"} << QStringList{"A", "missing"}
        << "photo:missing" << 1 << "2 of 2   Run1"
        << "15x12";
    QTest::newRow("rectangle too large in the second run")
        << QStringList{"30000", "30000", "1", "100", "100"} << two << "Integer overflow." << 2
        << "1 of 2   Run2"
        << "60000x60000";
    QTest::newRow("a bad width is found before any photo is opened")
        << QStringList{"abc", "12", "0", "100", "100"} << QStringList{"bad"}
        << "'abc' is not a valid integer value." + field.arg("Width") << -1 << kStart << "abcx12";
  }
  void errors() {
    QFETCH(QStringList, fields);
    QFETCH(QStringList, files);
    QFETCH(QString, message);
    QFETCH(int, rows);
    QFETCH(QString, caption);
    QFETCH(QString, sizesAfter);

    const std::map<QString, QString> paths = {
        {"A", Example("by-the-water.jpg")},
        {"B", Example("evening-glow-lake.jpg")},
        {"bad", TempFile("not-a-photo.jpg", "These are words, not a JPEG picture.\n")},
        {"missing", temp_.filePath("missing.jpg")},
    };
    QStringList chosen;
    for (const QString& f : files) chosen << paths.at(f);
    SetFields(fields[0], fields[1], fields[2], fields[3], fields[4]);
    const QString before = window_->Memo1->toPlainText();
    Script({chosen});
    Click();
    QCOMPARE(chooser_.calls, 1);
    QCOMPARE(int(shown_.size()), 1);
    QCOMPARE(shown_[0].caption, QStringLiteral("Swelox"));
    if (message.startsWith("photo:")) {
      const QString path = paths.at(message.mid(6));
      QCOMPARE(shown_[0].text, PhotoMessage(path));
      if (message.endsWith("missing")) {
        QCOMPARE(shown_[0].text,
                 "Cannot open file \"" + path + "\". No such file or directory.\n" + path);
      } else {
        // libjpeg's own explanation beside the photo.
        QCOMPARE(shown_[0].text,
                 "JPEG error #53.\n" + path + ": Not a JPEG file: starts with 0x54 0x68");
      }
    } else {
      QCOMPARE(shown_[0].text, message);
    }
    if (rows < 0) {
      QCOMPARE(window_->Memo1->toPlainText(), before);
    } else {
      QCOMPARE(Rows().size(), rows);
    }
    QCOMPARE(window_->ProcessBtn->text(), caption);
    QCOMPARE(window_->WidthEdit->text() + "x" + window_->HighEdit->text(), sizesAfter);
  }

  void windowGoesOnAfterAnError() {
    SetFields("abc", "12", "0", "100", "100");
    Script({QStringList{Example("by-the-water.jpg")}, QStringList{Example("by-the-water.jpg")}});
    Click();
    QCOMPARE(int(shown_.size()), 1);
    QCOMPARE(window_->ProcessBtn->text(), kStart);
    window_->WidthEdit->setText("15");
    Click();
    QCOMPARE(int(shown_.size()), 1);
    QCOMPARE(Rows().size(), 1);
    QCOMPARE(window_->ProcessBtn->text(), kStart);
    QCOMPARE(window_->WidthEdit->text(), QStringLiteral("30"));
  }

  void processFileReadsTheFieldsAndNamesThePicture() {
    // Pictures of known sizes, drawn here.
    QImage stripes(100, 80, QImage::Format_RGB32);
    for (int y = 0; y < stripes.height(); ++y) {
      for (int x = 0; x < stripes.width(); ++x) {
        stripes.setPixelColor(x, y,
                              ((x / 7 + y / 5) % 2) ? QColor(230, 240, 250) : QColor(10, 40, 90));
      }
    }
    const QString big = temp_.filePath("stripes 100x80.jpg");
    QVERIFY(stripes.save(big, "JPEG", 95));
    const QString small = temp_.filePath("tiny.jpg");
    QVERIFY(stripes.copy(0, 0, 10, 10).save(small, "JPEG", 95));
    // A name that is not ASCII reaches the file system as its own bytes.
    const QString coast = temp_.filePath(QStringLiteral("Küste 24 05 01 ß.jpg"));
    QVERIFY(QFile::copy(Example("by-the-water.jpg"), coast));

    window_->Memo1->clear();
    window_->ProcessFile(big);
    window_->WidthEdit->setText("20");
    window_->ProcessFile(big);
    window_->ProcessFile(small);
    window_->WidthEdit->setText("15");
    window_->ProcessFile(coast);
    window_->ProcessFile(Example("by-the-water.jpg"));
    const QStringList lines = Lines(window_->Memo1->toPlainText());
    QCOMPARE(lines.size(), 5);
    QCOMPARE(Columns(lines[0]).mid(0, 4), (QStringList{"98", "78", "15", "12"}));
    QCOMPARE(Columns(lines[0]).back(), QStringLiteral("stripes 100x80.jpg"));
    QCOMPARE(Columns(lines[1]).mid(0, 4), (QStringList{"98", "78", "20", "12"}));
    QVERIFY(Columns(lines[0])[6] != Columns(lines[1])[6]);  // fewer rectangles across
    QCOMPARE(lines[2], QStringLiteral("8\t8\t20\t12\t0\t0\t0\ttiny.jpg"));
    QCOMPARE(Columns(lines[3]).back(), QStringLiteral("Küste 24 05 01 ß.jpg"));
    QCOMPARE(Columns(lines[3]).mid(0, 7), Columns(lines[4]).mid(0, 7));
  }

  void resultsEqualTheBatchTool_data() {
    QTest::addColumn<QStringList>("fields");  // width, height, repeats, increments
    QTest::addColumn<bool>("right");
    QTest::addColumn<QString>("broken");  // a file put third in the list: "bad" or "missing"
    QTest::addColumn<bool>("fails");
    // The option whose text swelox-cli refuses before any work (a usage error naming it), where
    // the window reports the same message after the rows before it.
    QTest::addColumn<QString>("refused");
    QTest::newRow("defaults") << QStringList{"15", "12", "0", "100", "100"} << false << "" << false
                              << "";
    QTest::newRow("to the right, repeats, uneven growth")
        << QStringList{"20", "9", "2", "50", "25"} << true << "" << false << "";
    QTest::newRow("hexadecimal and signed text, one increment 0")
        << QStringList{"  $10", "+7", "1", "0", "50"} << false << "" << false << "";
    QTest::newRow("no growth allows one run")
        << QStringList{"15", "12", "3", "0", "0"} << true << "" << false << "";
    QTest::newRow("no run at all")
        << QStringList{"15", "12", "-1", "100", "100"} << false << "" << false << "";
    QTest::newRow("not a photo, in the first run")
        << QStringList{"15", "12", "1", "100", "100"} << false << "bad" << true << "";
    QTest::newRow("missing photo")
        << QStringList{"15", "12", "0", "100", "100"} << true << "missing" << true << "";
    QTest::newRow("width not a number")
        << QStringList{"abc", "12", "1", "100", "100"} << false << "" << true << "--width";
    QTest::newRow("repeats not a number")
        << QStringList{"15", "12", "two", "100", "100"} << false << "" << true << "--repeats";
    QTest::newRow("height increment not a number, after the first run")
        << QStringList{"15", "12", "2", "50", "x"} << false << "" << true << "--height-increment";
    QTest::newRow("rectangle too large in the second run")
        << QStringList{"30000", "30000", "1", "100", "100"} << true << "" << true << "";
  }
  void resultsEqualTheBatchTool() {
    QFETCH(QStringList, fields);
    QFETCH(bool, right);
    QFETCH(QString, broken);
    QFETCH(bool, fails);
    QFETCH(QString, refused);
    QStringList paths;
    for (auto it = kExampleSizes.rbegin(); it != kExampleSizes.rend(); ++it) {
      paths << Example(it->first.toUtf8().constData());
    }
    if (broken == "bad") {
      paths.insert(2, TempFile("not-a-photo.jpg", "These are words, not a JPEG picture.\n"));
    } else if (broken == "missing") {
      paths.insert(2, temp_.filePath("missing.jpg"));
    }
    SetFields(fields[0], fields[1], fields[2], fields[3], fields[4]);
    if (right) QTest::mouseClick(window_->HorizontalVerticalLbl, Qt::LeftButton);
    QCOMPARE(CompareRight, right);
    Script({paths});
    Click();
    QVERIFY(shown_.size() <= 1);

    QStringList arguments = {"--width=" + fields[0], "--height=" + fields[1],
                             "--repeats=" + fields[2], "--width-increment=" + fields[3],
                             "--height-increment=" + fields[4]};
    if (right) arguments << "--right";
    arguments << "--" << paths;
    QProcess cli;
    cli.start(QStringLiteral(SWELOX_CLI), arguments);
    QVERIFY(cli.waitForFinished(30000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    const QString printed = QString::fromUtf8(cli.readAllStandardOutput());
    const QString reported = QString::fromUtf8(cli.readAllStandardError());
    if (!refused.isEmpty()) {
      QCOMPARE(shown_.size(), size_t{1});
      QCOMPARE(cli.exitCode(), 2);
      QCOMPARE(printed, QString());
      // The window names the field on a line of its own.
      QCOMPARE(reported, "swelox-cli: " + refused + ": " + shown_[0].text.section('\n', 0, 0) +
                             "\nTry 'swelox-cli --help' for more information.\n");
      return;
    }
    QCOMPARE(window_->Memo1->toPlainText(), printed);
    QVERIFY(printed.count(QLatin1Char('\n')) >= 1);
    // The error, if any, is the same message, after the same rows.
    if (shown_.empty()) {
      QCOMPARE(cli.exitCode(), 0);
      QCOMPARE(reported,
               fields[2] == "-1"
                   ? QStringLiteral("swelox-cli: --repeats is below 0, so no run is made.\n")
                   : QString());
    } else if (broken.isEmpty()) {
      QCOMPARE(cli.exitCode(), 1);
      QCOMPARE(reported, "swelox-cli: " + shown_[0].text + "\n");
    } else {
      // The box shows the message, then the photo with libjpeg's explanation, if any; swelox-cli
      // writes them on one line: "swelox-cli: PHOTO: MESSAGE: EXPLANATION."
      QCOMPARE(cli.exitCode(), 1);
      const QString message = shown_[0].text.section(QLatin1Char('\n'), 0, 0);
      const QString photoLine = shown_[0].text.section(QLatin1Char('\n'), 1);
      QVERIFY(photoLine.startsWith(paths[2]));
      const QString explanation = photoLine.mid(paths[2].size() + 2);
      QCOMPARE(
          reported,
          "swelox-cli: " + paths[2] + ": " +
              (explanation.isEmpty() ? message : message.chopped(1) + ": " + explanation + ".") +
              "\n");
    }
    QCOMPARE(!shown_.empty(), fails);
  }

  void errorBoxShowsTheMessageWithItsFullStop_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");  // null: nothing shown
    QTest::newRow("engine error") << 0 << "Integer overflow.";
    QTest::newRow("ends in a full stop already") << 1 << "Cannot open file \"/x\". Gone.";
    QTest::newRow("silent abort") << 2 << QString();
    QTest::newRow("out of memory") << 3 << "Out of memory.";
    QTest::newRow("anything else") << 4 << "Unknown error.";
  }
  void errorBoxShowsTheMessageWithItsFullStop() {
    QFETCH(int, kind);
    QFETCH(QString, text);
    bool finished = false;
    swelox::ui::RunHandler([&] {
      switch (kind) {
        case 0:
          throw swelox::Error(swelox::kIntegerOverflow);
        case 1:
          throw swelox::Error("Cannot open file \"/x\". Gone.");
        case 2:
          throw swelox::SilentAbort();
        case 3:
          throw std::bad_alloc();
        default:
          throw 42;
      }
      finished = true;
    });
    QVERIFY(!finished);
    if (text.isNull()) {
      QVERIFY(shown_.empty());
      return;
    }
    QCOMPARE(int(shown_.size()), 1);
    QCOMPARE(shown_[0].caption, QStringLiteral("Swelox"));
    QCOMPARE(shown_[0].text, text);
  }

  void errorInAnEventHandlerReachesTheBox() {
    class Failing : public QObject {
     protected:
      bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw swelox::Error("Range check error");
        return QObject::event(e);
      }
    } failing;
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&failing, &event);
    QCOMPARE(int(shown_.size()), 1);
    QCOMPARE(shown_[0].text, QStringLiteral("Range check error."));
  }

  void realErrorBoxIsAStopBoxWithOneButton() {
    const RealErrorBox real;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool modal = false;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
      buttons = box->standardButtons();
      modal = box->isModal();
      box->button(QMessageBox::Ok)->click();
    });
    window_->WidthEdit->setText("abc");
    Script({QStringList{Example("by-the-water.jpg")}});
    Click();
    QTRY_VERIFY(!title.isEmpty());
    QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
    QCOMPARE(title, QStringLiteral("Swelox"));
    QCOMPARE(text, QStringLiteral("'abc' is not a valid integer value.\nIn the field \"Width\"."));
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(modal);
    QCOMPARE(window_->ProcessBtn->text(), kStart);
  }

  void realFileChooserPicksSeveralFilesAndRemembersTheFirst() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList paths;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
      paths << dir.filePath(name);
      QVERIFY(QFile::copy(Example("by-the-water.jpg"), paths.back()));
    }
    swelox::ui::FileChooser chooser(window_.get());  // with the Qt dialog

    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QPoint position, expectedPosition;
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
      mode = dialog->fileMode();
      position = dialog->pos();
      expectedPosition =
          swelox::ui::ChooserOrigin(dialog->screen()->geometry(), dialog->frameGeometry().size());
      dialog->setDirectory(dir.path());
      dialog->findChild<QLineEdit*>("fileNameEdit")->setText("\"a.jpg\" \"b.jpg\" \"c.jpg\"");
      static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, as the Open button
    });
    QVERIFY(chooser.ChooseFiles());
    QCOMPARE(mode, QFileDialog::ExistingFiles);
    QCOMPARE(position, expectedPosition);
    QCOMPARE(chooser.ChosenFiles(), paths);

    QString directory, selected;
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
      directory = dialog->directory().absolutePath();
      selected = dialog->selectedFiles().value(0);
      dialog->reject();
    });
    QVERIFY(!chooser.ChooseFiles());
    QVERIFY(chooser.ChosenFiles().isEmpty());
    QCOMPARE(directory, QDir(dir.path()).absolutePath());
    QCOMPARE(selected, paths[0]);
  }

 private:
  // A run whose every job is inside a slow decode after the first photo's row: the photo after
  // the slow ones must never be opened, whatever stops the run.
  struct SlowRun {
    QTemporaryDir dir;
    QStringList paths;
    QString good;
  };
  // `before` go between the first photo and the slow ones.
  std::unique_ptr<SlowRun> PrepareSlowRun(const QStringList& before = {}) {
    auto run = std::make_unique<SlowRun>();
    run->good = run->dir.filePath("good.jpg");
    QFile::copy(Example("by-the-water.jpg"), run->good);
    run->paths << run->good << before;
    for (int k = 0; k < std::max(1, QThread::idealThreadCount()); ++k) {
      run->paths << swelox::test::SlowPhoto(run->dir.path(), QStringLiteral("slow%1.jpg").arg(k));
    }
    run->paths << run->dir.filePath("next.jpg");
    QFile::copy(Example("by-the-water.jpg"), run->paths.back());
    Script({run->paths});
    return run;
  }
  std::unique_ptr<SlowRun> StartSlowRun(const QStringList& before = {}) {
    auto run = PrepareSlowRun(before);
    QTest::mouseClick(window_->ProcessBtn, Qt::LeftButton);
    return run;
  }

 private Q_SLOTS:
  void stopInsideASlowDecode_data() {
    QTest::addColumn<QString>("gesture");
    QTest::newRow("click") << "click";
    QTest::newRow("Space") << "Space";
    QTest::newRow("Return") << "Return";
    QTest::newRow("Escape") << "Escape";
  }
  void stopInsideASlowDecode() {
    QFETCH(QString, gesture);
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    auto run = PrepareSlowRun();
    swelox::test::OpenWatch watch(QFile::encodeName(run->dir.path()).toStdString());
    QTest::mouseClick(window_->ProcessBtn, Qt::LeftButton);
    QTRY_COMPARE(Lines(window_->Memo1->toPlainText()).size(), 2);
    QTest::qWait(300);  // well inside the slow decodes
    QVERIFY(window_->Running());
    QCOMPARE(window_->ProcessBtn->text(), QStringLiteral("Stop   2 of %1").arg(run->paths.size()));
    QCOMPARE(QApplication::focusWidget(), window_->ProcessBtn);
    QElapsedTimer sinceStop;
    sinceStop.start();
    if (gesture == "click") {
      QTest::mouseClick(window_->ProcessBtn, Qt::LeftButton);
    } else {
      const Qt::Key key = gesture == "Space"    ? Qt::Key_Space
                          : gesture == "Return" ? Qt::Key_Return
                                                : Qt::Key_Escape;
      QTest::keyClick(QApplication::focusWidget(), key);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 3000);
    QVERIFY2(sinceStop.elapsed() < 2000, qPrintable(QString::number(sinceStop.elapsed())));
    QVERIFY(shown_.empty());
    QCOMPARE(chooser_.calls, 1);
    const QStringList rows = Rows();
    QCOMPARE(rows.size(), 1);
    QVERIFY(rows[0].endsWith("\tgood.jpg"));
    QCOMPARE(window_->ProcessBtn->text(), kStart);
    QVERIFY(window_->WidthEdit->isEnabled());
    QVERIFY(!window_->Memo1->isReadOnly());
    // Which photos were opened: never the one after the slow ones.
    QStringList opened;
    for (const std::string& name : watch.Take()) opened << QString::fromLocal8Bit(name);
    QVERIFY2(opened.contains("slow0.jpg"), qPrintable(opened.join(' ')));
    QVERIFY2(!opened.contains("next.jpg"), qPrintable(opened.join(' ')));
  }

  // During a run only the results can be looked at, scrolled and copied; the rest waits.
  void duringARunOnlyTheResultsAndStopAnswer() {
    auto run = StartSlowRun();
    QTRY_COMPARE(Lines(window_->Memo1->toPlainText()).size(), 2);
    TF& w = *window_;
    for (QWidget* control : std::initializer_list<QWidget*>{
             w.WidthEdit, w.HighEdit, w.LoopsEdit, w.WidthIncrementEdit, w.HeightIncrementEdit,
             w.HorizontalVerticalLbl, w.Region, w.ShowBtn, w.SkipBox, w.SaveBtn}) {
      QVERIFY2(!control->isEnabled(), control->metaObject()->className());
    }
    QVERIFY(w.ProcessBtn->isEnabled());
    QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {}, Centre(w.HorizontalVerticalLbl));
    QCOMPARE(w.HorizontalVerticalLbl->text(), kBelow);
    const QString shown = w.Memo1->toPlainText();
    w.Memo1->setFocus();
    QTest::keyClicks(w.Memo1, "typed");
    QTest::keyClick(w.Memo1, Qt::Key_Backspace);
    QCOMPARE(w.Memo1->toPlainText(), shown);
    QTest::keyClick(w.Memo1, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(w.Memo1->textCursor().selectedText().size(), shown.size());
    QTest::keyClick(w.Memo1, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), shown);
    QVERIFY(w.Running());
    w.StopRun();
    QTRY_VERIFY(!w.Running());
    QVERIFY(w.WidthEdit->isEnabled());
    QTest::keyClicks(w.Memo1, "x");
    QCOMPARE(w.Memo1->toPlainText(), QStringLiteral("x"));  // the selection was replaced
  }

  // A box raised during a run (here, as by the picture view) neither ends nor holds up the run,
  // can be dismissed, and is the only one on screen; the next waits for it.
  void errorBoxDuringARunCanBeDismissed() {
    const RealErrorBox real;
    const QStringList paths = {Example("by-the-water.jpg"), Example("evening-glow-lake.jpg")};
    SetFields("15", "12", "100000", "0", "1");  // hours of rows, alike
    Script({paths});
    QTest::mouseClick(window_->ProcessBtn, Qt::LeftButton);
    QTRY_VERIFY(Lines(window_->Memo1->toPlainText()).size() >= 2);
    swelox::ui::ShowErrorText(QStringLiteral("First."));
    swelox::ui::ShowErrorText(QStringLiteral("Second."));
    QStringList seen;
    for (int k = 0; k < 2; ++k) {
      QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr);
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      const QWidgetList tops = QApplication::topLevelWidgets();
      QCOMPARE(std::count_if(tops.begin(), tops.end(),
                             [](QWidget* top) {
                               return qobject_cast<QMessageBox*>(top) && top->isVisible();
                             }),
               1);
      seen << box->text();
      const qsizetype rows = Lines(window_->Memo1->toPlainText()).size();
      QTRY_VERIFY(Lines(window_->Memo1->toPlainText()).size() > rows);  // rows go on coming
      box->button(QMessageBox::Ok)->click();
      QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
    }
    QCOMPARE(seen, (QStringList{"First.", "Second."}));
    QVERIFY(window_->Running());
    QTest::mouseClick(window_->ProcessBtn, Qt::LeftButton);  // the window answers again
    QTRY_VERIFY(!window_->Running());
    QCOMPARE(window_->ProcessBtn->text(), kStart);
  }

  // With "Skip photos that fail" a failing photo is skipped as swelox-cli --keep-going skips it,
  // and one box lists every failure at the end.
  void skipsFailingPhotosAndListsThem() {
    QVERIFY(!window_->SkipBox->isChecked());  // off at the first start
    const QString bad = TempFile("not-a-photo.jpg", "These are words, not a JPEG picture.\n");
    const QString missing = temp_.filePath("missing.jpg");
    const QStringList paths = {Example("by-the-water.jpg"), bad, Example("evening-glow-lake.jpg"),
                               missing};
    window_->SkipBox->setChecked(true);
    SetFields("15", "12", "1", "100", "100");
    Script({paths});
    Click();
    QCOMPARE(Rows().size(), 4);  // two photos, two runs
    QCOMPARE(window_->ProcessBtn->text(), kStart);
    QCOMPARE(int(shown_.size()), 1);
    const QStringList failures = {
        bad + ": JPEG error #53. (Not a JPEG file: starts with 0x54 0x68)",
        missing + ": Cannot open file \"" + missing + "\". No such file or directory."};
    // Each failing photo once, however many runs tried it.
    QCOMPARE(shown_[0].text,
             "2 photos failed and were skipped:\n" + failures[0] + "\n" + failures[1]);

    QProcess cli;
    cli.start(QStringLiteral(SWELOX_CLI),
              QStringList{"--keep-going", "--repeats=1", "--"} << paths);
    QVERIFY(cli.waitForFinished(30000));
    QCOMPARE(cli.exitCode(), 1);
    QCOMPARE(window_->Memo1->toPlainText(), QString::fromUtf8(cli.readAllStandardOutput()));
  }

  // Stopped with skipping on: the photos skipped until then are listed, and nothing else shows.
  void stoppedRunListsTheFailuresSoFar() {
    window_->SkipBox->setChecked(true);
    const QString bad = TempFile("not-a-photo.jpg", "These are words, not a JPEG picture.\n");
    auto run = StartSlowRun({bad});
    QTRY_VERIFY(window_->ProcessBtn->text().startsWith("Stop   3 of "));
    QTest::qWait(200);
    window_->StopRun();
    QTRY_VERIFY(!window_->Running());
    QCOMPARE(Rows().size(), 1);
    QCOMPARE(int(shown_.size()), 1);
    QCOMPARE(shown_[0].text, "1 photo failed and was skipped:\n" + bad +
                                 ": JPEG error #53. (Not a JPEG file: starts with 0x54 0x68)");
  }

  void longFailureListsShowTheRestUnderDetails() {
    QStringList paths;
    for (int k = 0; k < 20; ++k) paths << temp_.filePath(QStringLiteral("gone%1.jpg").arg(k));
    window_->SkipBox->setChecked(true);
    Script({paths});
    Click();
    QCOMPARE(int(shown_.size()), 1);
    const QStringList text = shown_[0].text.split('\n');
    QCOMPARE(text.size(), 1 + 15 + 1);
    QCOMPARE(text.front(), QStringLiteral("20 photos failed and were skipped:"));
    QCOMPARE(text.back(), QStringLiteral("... and 5 more."));
    const QStringList details = shown_[0].details.split('\n');
    QCOMPARE(details.size(), 20);
    QVERIFY(details[19].startsWith(paths[19] + ": Cannot open file"));
  }

  // The results saved, tab-separated or comma-separated by the name, byte for byte; a cancel
  // changes nothing; a failure is reported and leaves the old file whole.
  void savesTheResults() {
    QTemporaryDir dir;
    const QString awkward = dir.filePath(QStringLiteral("sea, \"calm\" Küste.jpg"));
    QVERIFY(QFile::copy(Example("by-the-water.jpg"), awkward));
    Script({QStringList{Example("evening-glow-lake.jpg"), awkward}});
    Click();
    QCOMPARE(Rows().size(), 2);
    const QString text = window_->Memo1->toPlainText();
    const QStringList lines = Lines(text);

    QString answer;
    int asked = 0;
    window_->SetSaveDialog([&](QWidget*) {
      ++asked;
      return answer;
    });
    auto read = [](const QString& path) {
      QFile file(path);
      return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    };
    answer = dir.filePath("results.txt");
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    QTest::keyClick(window_.get(), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(asked, 1);
    QCOMPARE(read(answer), text.toUtf8());

    answer = dir.filePath("results.CSV");
    window_->SaveBtn->click();
    QByteArray csv = "Width,Height,Bwide,Bhigh,meanDiff,RMS,nDiffs,Pic\r\n";
    csv += Columns(lines[1]).mid(0, 7).join(',').toUtf8() + ",evening-glow-lake.jpg\r\n";
    csv += Columns(lines[2]).mid(0, 7).join(',').toUtf8() +
           ",\"sea, \"\"calm\"\" K\xc3\xbcste.jpg\"\r\n";
    QCOMPARE(read(answer), csv);

    answer.clear();  // cancelled
    window_->SaveBtn->click();
    QCOMPARE(read(dir.filePath("results.CSV")), csv);
    QVERIFY(shown_.empty());

    answer = dir.filePath("no such folder/results.txt");
    window_->SaveBtn->click();
    QCOMPARE(int(shown_.size()), 1);
    QVERIFY2(shown_[0].text.startsWith("Cannot save the results to " + answer),
             qPrintable(shown_[0].text));
    QVERIFY(!QFile::exists(answer));
    QCOMPARE(asked, 4);
  }

  // Saving onto an old file on a full disk: the write fails in QSaveFile's buffer, at the
  // flush; the save is cancelled, the old file stays byte for byte and no temporary file is
  // left, and the box names the file and the reason; as TSV and as CSV.
  void saveOntoAFullDiskLeavesTheOldFile() {
    const swelox::test::SmallDisk disk(64 * 1024);
    if (!disk.unavailable().empty()) QSKIP(disk.unavailable().c_str());
    Script({QStringList{Example("evening-glow-lake.jpg")}});
    Click();
    QCOMPARE(Rows().size(), 1);
    QString answer;
    window_->SetSaveDialog([&](QWidget*) { return answer; });
    const QByteArray old = "Width\tHeight\n1\t2\n";
    for (const char* name : {"results.txt", "results.csv"}) {
      QFile file(QString::fromStdString(disk.File(name)));
      QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
    }
    disk.Fill();
    for (const char* name : {"results.txt", "results.csv"}) {
      answer = QString::fromStdString(disk.File(name));
      shown_.clear();
      window_->SaveBtn->click();
      QCOMPARE(int(shown_.size()), 1);
      QCOMPARE(shown_[0].text,
               "Cannot save the results to " + answer + ": No space left on device.");
      QFile file(answer);
      QVERIFY(file.open(QIODevice::ReadOnly));
      QCOMPARE(file.readAll(), old);
    }
    QCOMPARE(QDir(QString::fromStdString(disk.File(""))).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"filler", "results.csv", "results.txt"}));
  }

  // The time panel is typed into from the keyboard: it opens with the zone field focused, and Tab
  // and Shift+Tab go from field to field inside it, so what is typed lands in a field.
  void theTimePanelTakesTabFromFieldToField() {
    TF& w = *window_;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QMenu* panel = w.TimesBtn->menu();
    panel->popup(w.TimesBtn->mapToGlobal(QPoint(0, w.TimesBtn->height())));
    QVERIFY(QTest::qWaitForWindowExposed(panel));
    QTRY_VERIFY(w.CameraZoneEdit->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTRY_VERIFY(w.ClockShiftEdit->hasFocus());
    QTest::keyClicks(QApplication::focusWidget(), "01:00:00");
    QCOMPARE(w.ClockShiftEdit->text(), QStringLiteral("01:00:00"));
    QCOMPARE(w.TimesBtn->text(), QStringLiteral("Times (1)..."));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QTRY_VERIFY(w.CameraZoneEdit->hasFocus());
    panel->hide();
  }

  // What the window remembers: the fields as shown at the close, the direction, the region, the
  // skip box, the chooser's folder and the geometry. Closing by Ctrl+Q saves as the close box does.
  void settingsStayAcrossStarts() {
    QVERIFY(window_->OpenDialog1->Prefill().isEmpty());  // a first start
    window_->HorizontalVerticalLblClick();
    SetFields("21", "$10", "2", "50", "0");
    window_->Region->setText("100x50+3+4");
    window_->SkipBox->setChecked(true);
    window_->CameraZoneEdit->setText("Europe/Lisbon");
    window_->ClockShiftEdit->setText("-00:01:30");
    window_->UtcBox->setChecked(true);
    Script({QStringList{Example("by-the-water.jpg")}});
    QVERIFY(window_->OpenDialog1->ChooseFiles());
    // Smaller than its own size: a larger one would be fitted to the screen.
    window_->resize(window_->width() - 30, window_->height() - 20);
    const QSize size = window_->size();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    QTest::keyClick(window_.get(), Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(!window_->isVisible());
    window_.reset();

    window_ = std::make_unique<TF>();
    TF& w = *window_;
    QCOMPARE(w.WidthEdit->text(), QStringLiteral("21"));
    QCOMPARE(w.HighEdit->text(), QStringLiteral("$10"));
    QCOMPARE(w.LoopsEdit->text(), QStringLiteral("2"));
    QCOMPARE(w.WidthIncrementEdit->text(), QStringLiteral("50"));
    QCOMPARE(w.HeightIncrementEdit->text(), QStringLiteral("0"));
    QCOMPARE(w.Region->text(), QStringLiteral("100x50+3+4"));
    QCOMPARE(w.HorizontalVerticalLbl->text(), kRight);
    QVERIFY(CompareRight);
    QVERIFY(w.SkipBox->isChecked());
    QCOMPARE(w.CameraZoneEdit->text(), QStringLiteral("Europe/Lisbon"));
    QCOMPARE(w.ClockShiftEdit->text(), QStringLiteral("-00:01:30"));
    QVERIFY(w.UtcBox->isChecked());
    QCOMPARE(w.TimesBtn->text(), QStringLiteral("Times (3)..."));
    QCOMPARE(w.OpenDialog1->Prefill(), QFileInfo(Example("by-the-water.jpg")).absolutePath());
    QCOMPARE(w.size(), size);
    // A run uses what was restored.
    QCOMPARE(w.Model->ToRunSettings().width, std::string("21"));
    QCOMPARE(w.Model->direction(), swelox::Direction::Right);
    QCOMPARE(w.Model->ToRunSettings().time,
             (swelox::TimeSettings{"Europe/Lisbon", "-00:01:30", true}));
  }

  // A zone or a shift that stands for none is reported before the chooser opens, and the last
  // results stay; stored by hand, a direction or a truth value that stands for none leaves the
  // default and the other settings are still restored.
  void timeSettingsThatStandForNoneAreRefused() {
    const QString before = window_->Memo1->toPlainText();
    for (const auto& [edit, text] : {std::pair{window_->CameraZoneEdit, "Mars/Olympus"},
                                     std::pair{window_->ClockShiftEdit, "1:30"}}) {
      edit->setText(QString::fromLatin1(text));
      shown_.clear();
      Click();
      QCOMPARE(chooser_.calls, 0);
      QCOMPARE(shown_.size(), size_t(1));
      QVERIFY2(shown_[0].text.contains(QString::fromLatin1(text)), qPrintable(shown_[0].text));
      QCOMPARE(window_->Memo1->toPlainText(), before);
      edit->clear();
    }
    window_.reset();
    {
      QSettings stored(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("swelox"),
                       QStringLiteral("swelox"));
      stored.setValue(QStringLiteral("direction"), QStringLiteral("Right"));
      stored.setValue(QStringLiteral("time/utc"), QStringLiteral("yes"));
      stored.setValue(QStringLiteral("time/clockShift"), QStringLiteral("01:00:00"));
    }
    window_ = std::make_unique<TF>();
    QCOMPARE(window_->HorizontalVerticalLbl->text(), kBelow);
    QVERIFY(!window_->UtcBox->isChecked());
    QCOMPARE(window_->ClockShiftEdit->text(), QStringLiteral("01:00:00"));
  }

  // A stored geometry the window cannot be shown in (inverted, 2^31-1 wide, far off the screen,
  // as a damaged or hand-edited settings file holds): the next start fits it onto the available
  // screen, or drops it for the window's own place.
  void storedGeometryIsFittedToTheScreen() {
    const QRect own = window_->geometry();
    const QRect available = window_->screen()->availableGeometry();
    window_.reset();
    auto blob = [](const QRect& rect) {
      QByteArray bytes;
      QDataStream stream(&bytes, QIODevice::WriteOnly);
      stream.setVersion(QDataStream::Qt_4_0);
      stream << quint32(0x1D9D0CB) << quint16(3) << quint16(0) << rect << rect << qint32(0)
             << quint8(0) << quint8(0) << qint32(1920) << rect;
      return bytes;
    };
    const struct {
      const char* what;
      QRect stored;
      bool dropped;
    } cases[] = {
        {"inverted", QRect(QPoint(500, 400), QPoint(100, 100)), true},
        {"2^31-1 wide", QRect(0, 0, 2147483647, 400), false},
        {"far off the screen", QRect(100000, -100000, own.width(), own.height()), false},
    };
    for (const auto& c : cases) {
      {
        QSettings stored(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("swelox"),
                         QStringLiteral("swelox"));
        stored.setValue(QStringLiteral("window/geometry"), blob(c.stored));
      }
      window_ = std::make_unique<TF>();
      window_->show();
      QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
      const QRect shown = window_->geometry();
      // On the screen, as large as the screen or the window's own size at most.
      const QRect room(available.topLeft(), available.size().expandedTo(own.size() + QSize(8, 80)));
      QVERIFY2(available.contains(shown.topLeft()) && room.contains(shown) && shown.width() > 100 &&
                   shown.height() > 100,
               qPrintable(QStringLiteral("%1: %2,%3 %4x%5")
                              .arg(c.what)
                              .arg(shown.x())
                              .arg(shown.y())
                              .arg(shown.width())
                              .arg(shown.height())));
      if (c.dropped) QCOMPARE(shown, own);
      window_.reset();
    }
  }

  // A settings file that is no regular file is neither read nor written: a FIFO does not block
  // the start, and a symbolic link is left as it is, and what it points to too.
  void settingsFileThatIsNoRegularFile() {
    window_.reset();
    const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/swelox");
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/swelox.conf");
    QFile::remove(path);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("is not a regular file"));
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    QElapsedTimer clock;
    clock.start();
    window_ = std::make_unique<TF>();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(window_->WidthEdit->text(), QStringLiteral("15"));  // the defaults
    window_->WidthEdit->setText(QStringLiteral("33"));
    window_->close();
    window_.reset();
    struct stat status {};
    QVERIFY(::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISFIFO(status.st_mode));

    QFile::remove(path);
    const QString elsewhere = temp_.filePath(QStringLiteral("elsewhere.conf"));
    const QByteArray kept = "[fields]\nwidth=77\n";
    {
      QFile target(elsewhere);
      QVERIFY(target.open(QIODevice::WriteOnly) && target.write(kept) == kept.size());
    }
    QVERIFY(QFile::link(elsewhere, path));
    window_ = std::make_unique<TF>();
    // Not read through the link (this process's own settings since the FIFO hold 33).
    QCOMPARE(window_->WidthEdit->text(), QStringLiteral("33"));
    window_->WidthEdit->setText(QStringLiteral("44"));
    window_->close();
    window_.reset();
    QVERIFY(QFileInfo(path).isSymLink());
    QFile target(elsewhere);
    QVERIFY(target.open(QIODevice::ReadOnly));
    QCOMPARE(target.readAll(), kept);
    QFile::remove(path);
    window_ = std::make_unique<TF>();
  }

  // A first start adds no column and keeps the chooser's order.
  void columnsAndOrderStartAsChosen() {
    TF& w = *window_;
    QVERIFY(w.Model->columns().empty());
    for (const QAction* action : w.ColumnsBtn->menu()->actions()) QVERIFY(!action->isChecked());
    QCOMPARE(w.OrderBox->currentText(), QStringLiteral("Order: as chosen"));
    QCOMPARE(w.Model->order(), swelox::FileOrder::AsGiven);
  }

  // Photos with capture times written by exiftool, given in neither name nor time order.
  QStringList TimedPhotos() {
    const struct {
      const char* name;
      const char* source;
      QStringList tags;
    } photos[] = {
        {"IMG_10.jpg",
         "by-the-water.jpg",
         {"-DateTimeOriginal=2026:07:14 09:31:07", "-SubSecTimeOriginal=25",
          "-OffsetTimeOriginal=+01:00"}},
        {"IMG_9.jpg", "evening-glow-lake.jpg", {"-CreateDate=2026:07:14 09:31:06"}},
        {"b.jpg", "summer-night-lake.jpg", {}},
        {"a.jpg", "darkest-hour-lake.jpg", {"-DateTimeOriginal=2026:07:14 09:31:07"}},
    };
    QStringList paths;
    for (const auto& p : photos) {
      const QString path = temp_.filePath(QString::fromLatin1(p.name));
      QFile::remove(path);
      if (!QFile::copy(Example(p.source), path)) return {};
      if (!p.tags.isEmpty() && QProcess::execute(QStringLiteral("exiftool"),
                                                 QStringList{"-q", "-n", "-overwrite_original"} +
                                                     p.tags + QStringList{path}) != 0) {
        return {};
      }
      paths << path;
    }
    return paths;
  }

  void columnsAndOrderEqualTheBatchTool_data() {
    QTest::addColumn<QStringList>("columns");  // checked in the Columns menu
    QTest::addColumn<int>("order");            // the Order box's choice
    QTest::addColumn<QString>("sort");         // swelox-cli's --sort; empty: none
    QTest::newRow("no column, as chosen") << QStringList{} << 0 << "";
    QTest::newRow("every column, as chosen")
        << QStringList{"Time", "Path", "Region", "Direction"} << 0 << "";
    QTest::newRow("path, by name") << QStringList{"Path"} << 1 << "name";
    QTest::newRow("time and direction, by capture time")
        << QStringList{"Time", "Direction"} << 2 << "time";
  }
  void columnsAndOrderEqualTheBatchTool() {
    QFETCH(QStringList, columns);
    QFETCH(int, order);
    QFETCH(QString, sort);
    const QStringList paths = TimedPhotos();
    QCOMPARE(paths.size(), 4);
    SetFields("20", "9", "1", "50", "100");
    window_->Region->setText(QStringLiteral("1000x100+10+20"));
    window_->HorizontalVerticalLblClick();
    QMenu* menu = window_->ColumnsBtn->menu();
    for (QAction* action : menu->actions()) action->setChecked(columns.contains(action->text()));
    window_->OrderBox->setCurrentIndex(order);
    Script({paths});
    Click();
    QVERIFY(shown_.empty());

    QStringList arguments = {"--width=20",
                             "--height=9",
                             "--repeats=1",
                             "--width-increment=50",
                             "--region=1000x100+10+20",
                             "--right"};
    if (!columns.isEmpty()) arguments << "--columns=" + columns.join(QLatin1Char(',')).toLower();
    if (!sort.isEmpty()) arguments << "--sort=" + sort;
    arguments << "--" << paths;
    QProcess cli;
    cli.start(QStringLiteral(SWELOX_CLI), arguments);
    QVERIFY(cli.waitForFinished(30000));
    QCOMPARE(cli.exitCode(), 0);
    const QString printed = QString::fromUtf8(cli.readAllStandardOutput());
    QCOMPARE(window_->Memo1->toPlainText(), printed);
    const QStringList lines = Lines(printed);
    QCOMPARE(lines.size(), 9);
    QCOMPARE(lines[0], kHeader + (columns.isEmpty() ? "" : "\t" + columns.join(QLatin1Char('\t'))));
    // The order shows in the Pic column of the first run.
    const QStringList byOrder[] = {{"IMG_10.jpg", "IMG_9.jpg", "b.jpg", "a.jpg"},
                                   {"IMG_9.jpg", "IMG_10.jpg", "a.jpg", "b.jpg"},
                                   {"IMG_9.jpg", "a.jpg", "IMG_10.jpg", "b.jpg"}};
    for (int k = 0; k < 4; ++k) QCOMPARE(Columns(lines[k + 1])[7], byOrder[order][k]);
    QVERIFY(window_->WarningsLbl->isHidden());

    // Both choices are remembered with the other settings.
    window_->close();
    window_ = std::make_unique<TF>();
    QCOMPARE(window_->Model->columns().size(), static_cast<size_t>(columns.size()));
    for (QAction* action : window_->ColumnsBtn->menu()->actions()) {
      QCOMPARE(action->isChecked(), columns.contains(action->text()));
    }
    QCOMPARE(window_->OrderBox->currentIndex(), order);
    QCOMPARE(window_->Model->ToRunSettings().order, static_cast<swelox::FileOrder>(order));
  }

  // A photo cut short keeps its rows; after the run the photo is named below the results, with
  // libjpeg's warning in the tool tip, and the next run clears the line.
  void damagedPhotosAreListedUnderTheResults() {
    QFile whole(Example("by-the-water.jpg"));
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    const QString cut = TempFile("cut short.jpg", bytes.left(bytes.size() / 2));
    const QString sound = Example("summer-night-lake.jpg");
    Script({QStringList{sound, cut}, QStringList{sound}});
    Click();
    QVERIFY(shown_.empty());
    QCOMPARE(Rows().size(), 2);
    QVERIFY(!window_->WarningsLbl->isHidden());
    QCOMPARE(window_->WarningsLbl->text(),
             QStringLiteral("1 photo had damaged data and was analysed as decoded: cut short.jpg"));
    QCOMPARE(window_->WarningsLbl->toolTip(), cut + ": Premature end of JPEG file");
    QVERIFY(!window_->Memo1->geometry().intersects(window_->WarningsLbl->geometry()));
    Click();
    QVERIFY(window_->WarningsLbl->isHidden());
  }

  // The direction toggle takes the focus with Tab and turns with Space or Enter, looking the same.
  void directionToggleByKeyboard() {
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    QLabel* label = window_->HorizontalVerticalLbl;
    const QPalette look = label->palette();
    window_->HeightIncrementEdit->setFocus();
    QTest::keyClick(window_->HeightIncrementEdit, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), label);
    const Qt::Key keys[] = {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter};
    const QString after[] = {kRight, kBelow, kRight};
    for (int k = 0; k < 3; ++k) {
      QTest::keyClick(label, keys[k]);
      QCOMPARE(label->text(), after[k]);
      QCOMPARE(CompareRight, after[k] == kRight);
      QCOMPARE(window_->Model->compareRight(), after[k] == kRight);
    }
    QTest::keyClick(label, Qt::Key_A);
    QCOMPARE(label->text(), kRight);
    QCOMPARE(label->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QCOMPARE(label->palette(), look);
    QCOMPARE(label->size(), label->sizeHint());
  }

  // --help and --version need no display; without one, or with one that cannot be reached, the
  // window refuses in one line (not with an abort).
  void answersWithoutADisplay_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("display");  // DISPLAY; empty: not set
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");  // the first line
    QTest::addColumn<QString>("err");
    QTest::newRow("--help") << QStringList{"--help"} << "" << 0 << "Usage: swelox [QT-OPTION]..."
                            << "";
    QTest::newRow("--version") << QStringList{"--version"} << "" << 0
                               << "swelox " SWELOX_VERSION_TEXT << "";
    QTest::newRow("no display")
        << QStringList{} << "" << 1 << ""
        << "swelox: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not set); "
           "swelox-cli analyses photos without one";
    // No X server listens on display 213 (its socket is checked below).
    QTest::newRow("display unreachable")
        << QStringList{} << ":213" << 1 << ""
        << "swelox: the window cannot open: could not connect to display :213; swelox-cli "
           "analyses photos without one";
  }
  void answersWithoutADisplay() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, display);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    if (!display.isEmpty() && QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X213"))) {
      QSKIP("an X server listens on display 213");
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
      environment.remove(QString::fromLatin1(name));
    }
    if (!display.isEmpty()) environment.insert(QStringLiteral("DISPLAY"), display);
    QProcess app;
    app.setProcessEnvironment(environment);
    app.start(QStringLiteral(SWELOX_APP), arguments);
    QVERIFY(app.waitForFinished(10000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), exitCode);
    const QByteArray output = app.readAllStandardOutput();
    const QStringList printed = Lines(QString::fromUtf8(output));
    QCOMPARE(printed.value(0), out);
    if (arguments == QStringList{"--help"}) {
      const std::string difference =
          swelox::test::GoldenDifference("swelox-help.txt", output.toStdString());
      QVERIFY2(difference.empty(), difference.c_str());
      for (const QString& line : printed) QVERIFY2(line.size() <= 80, qPrintable(line));
    }
    QCOMPARE(QString::fromUtf8(app.readAllStandardError()), err.isEmpty() ? err : err + "\n");
  }
};

int main(int argc, char** argv) {
  // The window's remembered settings go to a folder of the test's own, emptied for every test.
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
  swelox::ui::Application application(argc, argv);
  WindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "WindowTest.moc"
