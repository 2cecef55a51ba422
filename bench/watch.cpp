// The window's watch as at a post, measured: how soon a 12-megapixel photo's row is shown after
// the photo was closed; over many arrivals, the window's memory and the longest time its thread
// did not turn (an event-loop stall, with the chart open and the picture view following the
// newest photo); and how soon the chart with that many points answers the pointer.
//   swelox_watch_bench [--arrivals N] [--large K] [--photo FILE | --width W --height H]
//                      [--camera-thread]
// (defaults: 10,000 arrivals of small photos, written by a process of its own; 5 large photos,
// FILE's bytes or made sea-like at 4000 x 3000). Run it with
// QT_QPA_PLATFORM=offscreen.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QImageReader>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "SeaPhoto.h"
#include "Times.h"
#include "app/DayChart.h"
#include "app/Main.h"
#include "app/RunController.h"

namespace {

using swelox::bench::SeaJpeg;
using swelox::bench::Times;

double Ms(qint64 nanoseconds) { return double(nanoseconds) / 1e6; }

// Lets the event loop turn until `done` says so, for five minutes at most. The thread sleeps
// until the next event, as in the window's own loop (exec()); a timer wakes it every 10 ms to look
// at `done`. QCoreApplication::processEvents with a time limit does not wait for events: a loop of
// it spins, and a thread that holds a core so is the one the scheduler makes wait for it, which is
// no stall the window would have.
template <typename Done>
bool TurnUntil(Done done) {
  QElapsedTimer waited;
  waited.start();
  QTimer look;
  look.start(10);
  QEventLoop loop;
  while (!done() && waited.elapsed() < 300000) loop.processEvents(QEventLoop::WaitForMoreEvents);
  return done();
}

// Writes a photo as a camera over USB does: in chunks, then closed.
void WritePhoto(const std::string& path, const QByteArray& bytes, qsizetype chunk) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    std::perror(path.c_str());
    std::exit(2);
  }
  for (qsizetype at = 0; at < bytes.size(); at += chunk) {
    const size_t n = size_t(std::min(chunk, bytes.size() - at));
    if (::write(fd, bytes.constData() + at, n) != ssize_t(n)) {
      std::perror(path.c_str());
      std::exit(2);
    }
  }
  ::close(fd);
}

// The resident memory of this process, in KiB.
long ResidentKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

// The longest time the window's thread did not turn: a precise timer every 5 ms, whose ticks
// should come 5 ms apart. Beside it, the most processor time the thread spent within one such
// gap, and of the longest gap what it was made of: the thread's own processor time (the window's
// work), its time ready but waiting for a core (the scheduler's, /proc/thread-self/schedstat), and
// the rest, in which it slept or was blocked (in a lock, on the disk).
class StallMeter : public QObject {
 public:
  StallMeter() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kIntervalMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
      const double cpu = ThreadCpuMs();
      const double queued = ThreadQueuedMs();
      if (last_.isValid()) {
        const double gap = Ms(last_.nsecsElapsed()) - kIntervalMs;
        if (gap > worst_) {
          worst_ = gap;
          worstGapCpu_ = cpu - lastCpu_;
          worstGapQueued_ = queued - lastQueued_;
        }
        if (gap > 50) ++over50_;
        worstBusy_ = std::max(worstBusy_, cpu - lastCpu_);
      }
      last_.start();
      lastCpu_ = cpu;
      lastQueued_ = queued;
    });
  }
  void Start() {
    worst_ = worstBusy_ = worstGapCpu_ = worstGapQueued_ = 0;
    over50_ = 0;
    last_.invalidate();
    timer_.start();
  }
  void Stop() { timer_.stop(); }
  double worst() const { return worst_; }
  double worstBusy() const { return worstBusy_; }
  double worstGapCpu() const { return worstGapCpu_; }
  double worstGapQueued() const { return worstGapQueued_; }
  int over50() const { return over50_; }

 private:
  static double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
  }
  // The time this thread has spent ready to run but not running (the second field).
  static double ThreadQueuedMs() {
    std::ifstream stat("/proc/thread-self/schedstat");
    unsigned long long running = 0, queued = 0;
    if (!(stat >> running >> queued)) return 0;
    return double(queued) / 1e6;
  }
  static constexpr int kIntervalMs = 5;
  QTimer timer_;
  QElapsedTimer last_;
  double lastCpu_ = 0;
  double lastQueued_ = 0;
  double worst_ = 0;
  double worstBusy_ = 0;
  double worstGapCpu_ = 0;
  double worstGapQueued_ = 0;
  int over50_ = 0;
};

// The first three fields of /proc/loadavg.
std::string LoadAverage() {
  std::ifstream load("/proc/loadavg");
  std::string one, five, fifteen;
  load >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

bool Flag(int argc, char** argv, const char* name) {
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], name) == 0) return true;
  }
  return false;
}

int Argument(int argc, char** argv, const char* name, int fallback) {
  for (int k = 1; k + 1 < argc; ++k) {
    if (std::strcmp(argv[k], name) == 0) return std::atoi(argv[k + 1]);
  }
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir scratch;
  // The window's stored settings go to a folder of the run's own.
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("config"))));
  QApplication application(argc, argv);
  const int arrivals = Argument(argc, argv, "--arrivals", 10000);
  const int largeCount = Argument(argc, argv, "--large", 5);
  int width = Argument(argc, argv, "--width", 4000);
  int height = Argument(argc, argv, "--height", 3000);

  // --photo FILE: the large photo (its size is the file's), else a sea-like one is made.
  QByteArray given;
  for (int k = 1; k + 1 < argc; ++k) {
    if (std::strcmp(argv[k], "--photo") != 0) continue;
    QFile file(QFile::decodeName(argv[k + 1]));
    if (!file.open(QIODevice::ReadOnly)) {
      std::fprintf(stderr, "watch bench: cannot read %s\n", argv[k + 1]);
      return 2;
    }
    given = file.readAll();
    QBuffer bytes(&given);
    const QSize size = QImageReader(&bytes).size();
    width = size.width();
    height = size.height();
  }
  const QString folder = scratch.filePath(QStringLiteral("camera"));
  QDir().mkpath(folder);
  const QString table = scratch.filePath(QStringLiteral("day.tsv"));
  TF window;
  window.SetCloseQuestion([](QWidget*) { return TF::CloseAnswer::Discard; });
  window.SetWatchDialogs({[&](QWidget*, const QString&) { return folder; },
                          [&](QWidget*, const QString&) { return table; }});
  window.show();

  int rowsShown = 0;
  QElapsedTimer clock;
  clock.start();
  qint64 lastShownAt = 0;
  // After the window's own receiver: the rows are in the results area when this runs.
  QObject::connect(window.Run, &swelox::ui::RunController::rowsReady, &window,
                   [&](const std::vector<swelox::ui::PhotoResult>& rows) {
                     rowsShown += int(rows.size());
                     lastShownAt = clock.nsecsElapsed();
                   });
  window.WatchBtn->click();
  if (!window.Running()) {
    std::fprintf(stderr, "watch bench: the watch did not start\n");
    return 2;
  }

  // 1. A large photo closed: its row shown.
  std::fprintf(stderr, "watch bench: %d photos of %d x %d...\n", largeCount, width, height);
  Times latency;
  for (int k = 0; k < largeCount; ++k) {
    const QByteArray photo = given.isEmpty() ? SeaJpeg(width, height, uint32_t(k + 1)) : given;
    const int before = rowsShown;
    const std::string path =
        QFile::encodeName(folder).toStdString() + "/large" + std::to_string(k) + ".jpg";
    WritePhoto(path, photo, 256 * 1024);
    const qint64 closedAt = clock.nsecsElapsed();
    if (!TurnUntil([&] { return rowsShown > before; })) return 2;
    latency.Add(Ms(lastShownAt - closedAt));
  }

  // 2. Many arrivals, with the chart open and the view following the newest photo.
  window.FollowBox->setChecked(true);
  // The chart's button is enabled once the watch's first rows reach the chart.
  if (!TurnUntil([&] { return window.ChartBtn->isEnabled(); })) return 2;
  window.ChartBtn->click();
  std::fprintf(stderr, "watch bench: %d arrivals...\n", arrivals);
  const QByteArray small = SeaJpeg(160, 120, 7);
  StallMeter stalls;
  const long startKib = ResidentKib();
  std::vector<long> kibAt;  // after each tenth of the arrivals
  // The camera is another program, as gphoto2 or a sync tool at the post: a process of its own
  // session (so that the scheduler weighs it apart from the window, as it does a program started
  // elsewhere), or with --camera-thread a thread of this process.
  const bool cameraThread = Flag(argc, argv, "--camera-thread");
  const std::string cameraFolder = QFile::encodeName(folder).toStdString();
  const auto writeAll = [&] {
    for (int k = 0; k < arrivals; ++k) {
      char name[32];
      std::snprintf(name, sizeof name, "/capt%05d.jpg", k);
      WritePhoto(cameraFolder + name, small, 4096);
      // Bursts of 50, then a breath, as a sync tool delivers them.
      if (k % 50 == 49) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  };
  stalls.Start();
  std::thread camera;
  pid_t cameraProcess = -1;
  if (cameraThread) {
    camera = std::thread(writeAll);
  } else {
    cameraProcess = ::fork();
    if (cameraProcess == 0) {
      ::setsid();
      writeAll();
      ::_exit(0);
    }
  }
  const auto cameraEnds = [&] {
    if (camera.joinable()) camera.join();
    if (cameraProcess > 0) ::waitpid(cameraProcess, nullptr, 0);
  };
  const int target = rowsShown + arrivals;
  for (int tenth = 1; tenth <= 10; ++tenth) {
    const int due = target - arrivals + arrivals * tenth / 10;
    if (!TurnUntil([&] { return rowsShown >= due; })) {
      std::fprintf(stderr, "watch bench: %d rows of %d\n", rowsShown, due);
      cameraEnds();
      return 2;
    }
    kibAt.push_back(ResidentKib());
  }
  stalls.Stop();
  cameraEnds();

  // 3. Pointing along the chart of all those points.
  swelox::ui::DayChart* chart = window.Chart()->chart();
  TurnUntil([&] { return chart->results().size() == size_t(rowsShown); });
  // A full redraw (after new rows) and the pointer's answer on the drawing kept.
  QElapsedTimer redraw;
  redraw.start();
  chart->SetMeasure(chart->measure());
  chart->repaint();
  const double redrawMs = Ms(redraw.nsecsElapsed());
  Times hover;
  const std::vector<swelox::ui::DayChart::Point> points = chart->points();
  for (size_t k = 0; k < points.size(); k += std::max<size_t>(1, points.size() / 300)) {
    const QPointF at = points[k].at;
    QElapsedTimer answered;
    answered.start();
    QMouseEvent move(QEvent::MouseMove, at, chart->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(chart, &move);
    chart->repaint();
    hover.Add(Ms(answered.nsecsElapsed()));
  }

  window.ProcessBtn->click();  // Stop
  TurnUntil([&] { return !window.Running(); });

  const double perThousand =
      kibAt.size() >= 2 ? double(kibAt.back() - kibAt.front()) / (arrivals * 0.9 / 1000.0) : 0;
  const auto verdict = [](double ms, double most) { return ms <= most ? "ok" : "MISSED"; };
  std::printf(
      "watch (window, offscreen): %d photos of %d x %d, then %d arrivals of 160 x 120 (the "
      "camera %s)\n",
      largeCount, width, height, arrivals,
      cameraThread ? "a thread of the window's process" : "a process of its own");
  std::printf(
      "  row shown after a %d x %d photo closed: median %.0f ms, worst %.0f ms"
      "  (target 500 ms) %s\n",
      width, height, latency.Median(), latency.Most(), verdict(latency.Most(), 500));
  std::printf(
      "  longest event-loop stall over the arrivals: %.1f ms, of which the window's "
      "thread ran at most %.1f ms  (target 50 ms) %s\n",
      stalls.worst(), stalls.worstBusy(), verdict(stalls.worst(), 50));
  std::printf(
      "    the longest: %.1f ms running, %.1f ms ready for a core, %.1f ms asleep or blocked; "
      "%d gaps over 50 ms; load average at the end %s\n",
      stalls.worstGapCpu(), stalls.worstGapQueued(),
      std::max(0.0, stalls.worst() - stalls.worstGapCpu() - stalls.worstGapQueued()),
      stalls.over50(), LoadAverage().c_str());
  std::printf(
      "  resident memory: %.1f MiB before, %.1f MiB after the first tenth, %.1f MiB at "
      "the end: %.0f KiB per 1,000 arrivals after the first tenth (the rows kept)\n",
      double(startKib) / 1024, double(kibAt.front()) / 1024, double(kibAt.back()) / 1024,
      perThousand);
  std::printf(
      "  chart of %zu points, pointer moved onto a point to ring drawn: median %.1f ms, "
      "worst %.1f ms  (target 50 ms) %s\n",
      points.size(), hover.Median(), hover.Most(), verdict(hover.Most(), 50));
  std::printf("  the same chart redrawn whole (as after new rows): %.1f ms\n", redrawMs);
  return 0;
}
