// A batch run on a worker thread of its own, shown by the window's thread: the one object that
// owns the thread and its stop source, and hands the runner's rows, captions, grown sizes,
// skipped files and end to the window by queued signals, a frame's worth at a time.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "analysis/BatchRun.h"
#include "app/RunTable.h"

namespace swelox::ui {

// How a run ended.
struct RunEnd {
  // The photos in the order the run took them (sorted, when the run sorts them); empty when the
  // run ended before it had them in order.
  QStringList files;
  bool stopped = false;
  BatchResult result;          // as the runner gave it
  std::optional<Error> fatal;  // the error that ended it
  QString fatalFile;           // the photo that raised it; empty for a settings error
  // With skipping, the photos that failed, each once with its first error, in the order of the
  // rows.
  std::vector<std::pair<QString, Error>> failures;
  // The photos whose data libjpeg found corrupt or cut short, each with its first warning, in the
  // order of their rows.
  std::vector<std::pair<QString, QString>> warnings;
};

// What a job on the run's thread is given besides its options: where its steps go, the stop
// source (for a job that stops itself, on a failed write), and where a line for the user goes.
struct RunThread {
  BatchListener& listener;
  std::stop_source stop;
  std::function<void(const std::string&)> notice;
};

class RunController : public QObject {
  Q_OBJECT

 public:
  // The work of a run's thread: by default RunBatch(options, thread.listener).
  using Job = std::function<BatchResult(const BatchOptions& options, const RunThread& thread)>;

  explicit RunController(QObject* parent = nullptr);
  // Stops a run under way and waits for its thread; nothing more is delivered.
  ~RunController() override;

  // Starts `job` (RunBatch when none) on the worker thread; the controller's stop source replaces
  // options.stop. Returns false, doing nothing, while a run is under way.
  bool Start(BatchOptions options, Job job = {});
  // Asks the run to stop: it ends within a decode's row group, and finished() follows.
  void Stop();
  bool running() const { return worker_.joinable(); }

  // Rows that come faster than this are shown together: about 60 paints a second.
  static constexpr int kShowIntervalMs = 16;
  // The most rows one turn of the window's event loop is handed (each is laid out in the results
  // area, some 0.1 ms): more that wait, after the window's thread was kept from running, or a
  // table's rows read back, follow in the next turns, so that the loop turns in between.
  static constexpr size_t kMostRowsPerTurn = 128;

 Q_SIGNALS:
  // In the runner's order: the header line first, then every row as its record.
  void headerReady(const QString& line);
  void rowsReady(const std::vector<swelox::ui::PhotoResult>& rows);
  void captionChanged(const QString& caption);
  void sizesGrown(const QString& width, const QString& height);
  // A line for the user from the job (a watched folder gone, or back).
  void noticed(const QString& line);
  // A watch has measured every photo that came and waits for the next: the last caption is no
  // progress any more.
  void waiting();
  // Last, once everything before it has been delivered and the thread has ended.
  void finished(const swelox::ui::RunEnd& end);

 private:
  class Listener;
  struct Step {
    enum class Kind { Line, Row, Caption, Sizes, Notice, Waiting };
    Kind kind;
    std::string text;    // the line, the caption, the width or the notice
    std::string second;  // the height
    RowRecord row = {};
  };

  // On the worker thread.
  void Push(Step step);
  // On the window's thread. Deliver hands on the steps that came, up to kMostRowsPerTurn rows,
  // or all of them.
  void StepsWaiting();
  void Deliver(bool all = false);
  void WorkerEnded();

  std::thread worker_;
  std::stop_source stop_;
  std::mutex mutex_;
  std::vector<Step> steps_;
  std::deque<Step> backlog_;  // the window's thread's: taken from steps_, not yet delivered
  BatchResult result_;
  std::exception_ptr failure_;
  std::vector<std::pair<QString, Error>> failures_;
  std::vector<std::pair<QString, QString>> warnings_;
  QStringList files_;  // in the run's order
  QTimer frame_;
  QElapsedTimer sinceDelivery_;
};

}  // namespace swelox::ui

Q_DECLARE_METATYPE(swelox::ui::RunEnd)
