#include "app/RunController.h"

#include <QFile>
#include <exception>
#include <iterator>
#include <unordered_set>
#include <utility>

#include "app/ErrorBox.h"

namespace swelox::ui {
namespace {

QString FromLocal(const std::string& text) {
  return QFile::decodeName(QByteArray::fromStdString(text));
}

}  // namespace

// Hands every step of the runner to the controller, on the worker thread.
class RunController::Listener : public BatchListener {
 public:
  explicit Listener(RunController& controller) : controller_(controller) {}
  void FilesOrdered(const PathList& files) override {
    QStringList ordered;
    ordered.reserve(qsizetype(files.size()));
    for (size_t k = 0; k < files.size(); ++k) ordered << FromLocal(files[k]);
    // A watch orders each batch of photos: they join those before.
    std::lock_guard lock(controller_.mutex_);
    controller_.files_ << ordered;
  }
  void Line(const std::string& line) override { controller_.Push({Step::Kind::Line, line, {}}); }
  void Record(const RowRecord& record) override {
    controller_.Push({Step::Kind::Row, {}, {}, record});
  }
  void Progress(const std::string& caption) override {
    controller_.Push({Step::Kind::Caption, caption, {}});
  }
  void FileFailed(const std::string& path, const Error& error) override {
    // A photo fails in every run that tries it (and as often as it was given): it is one failure.
    if (!failed_.insert(path).second) return;
    std::lock_guard lock(controller_.mutex_);
    controller_.failures_.emplace_back(FromLocal(path), error);
  }
  void FileWarned(const std::string& path, const std::string& warning) override {
    std::lock_guard lock(controller_.mutex_);
    controller_.warnings_.emplace_back(FromLocal(path), QString::fromStdString(warning));
  }
  void SizesGrown(const RectangleTexts& sizes) override {
    controller_.Push({Step::Kind::Sizes, sizes.width, sizes.height});
  }
  void Waiting() override { controller_.Push({Step::Kind::Waiting, {}, {}}); }

 private:
  RunController& controller_;
  std::unordered_set<std::string> failed_;  // on the worker thread only
};

RunController::RunController(QObject* parent) : QObject(parent) {
  qRegisterMetaType<RunEnd>();
  frame_.setSingleShot(true);
  frame_.setTimerType(Qt::PreciseTimer);
  connect(&frame_, &QTimer::timeout, this, [this] { Deliver(); });
}

RunController::~RunController() {
  stop_.request_stop();
  if (worker_.joinable()) worker_.join();
}

bool RunController::Start(BatchOptions options, Job job) {
  if (running()) return false;
  stop_ = std::stop_source();
  options.stop = stop_.get_token();
  steps_.clear();
  backlog_.clear();
  failures_.clear();
  warnings_.clear();
  files_.clear();
  result_ = {};
  failure_ = nullptr;
  sinceDelivery_.invalidate();
  if (!job) job = [](const BatchOptions& o, const RunThread& t) { return RunBatch(o, t.listener); };
  worker_ = std::thread([this, options = std::move(options), job = std::move(job), stop = stop_] {
    Listener listener(*this);
    const RunThread thread{listener, stop, [this](const std::string& line) {
                             Push({Step::Kind::Notice, line, {}});
                           }};
    try {
      result_ = job(options, thread);
    } catch (...) {
      failure_ = std::current_exception();  // not even the error could be recorded
    }
    QMetaObject::invokeMethod(this, &RunController::WorkerEnded, Qt::QueuedConnection);
  });
  return true;
}

void RunController::Stop() { stop_.request_stop(); }

void RunController::Push(Step step) {
  bool first;
  {
    std::lock_guard lock(mutex_);
    first = steps_.empty();
    steps_.push_back(std::move(step));
  }
  // One notification for the steps that gather until the window's thread takes them.
  if (first) QMetaObject::invokeMethod(this, &RunController::StepsWaiting, Qt::QueuedConnection);
}

void RunController::StepsWaiting() {
  if (frame_.isActive()) return;
  const qint64 since = sinceDelivery_.isValid() ? sinceDelivery_.elapsed() : kShowIntervalMs;
  if (since >= kShowIntervalMs) {
    Deliver();
  } else {
    frame_.start(static_cast<int>(kShowIntervalMs - since));
  }
}

void RunController::Deliver(bool all) {
  {
    std::lock_guard lock(mutex_);
    std::move(steps_.begin(), steps_.end(), std::back_inserter(backlog_));
    steps_.clear();
  }
  // This turn's steps: up to the row after which kMostRowsPerTurn rows are taken.
  std::vector<Step> steps;
  size_t rowsTaken = 0;
  while (!backlog_.empty() && (all || rowsTaken < kMostRowsPerTurn)) {
    if (backlog_.front().kind == Step::Kind::Row) ++rowsTaken;
    steps.push_back(std::move(backlog_.front()));
    backlog_.pop_front();
  }
  // The rest in the next turn, once the loop has turned (input, paints).
  if (!backlog_.empty()) frame_.start(0);
  sinceDelivery_.start();
  // An error in a receiver is shown and ends only its own handling: every step is delivered.
  std::vector<PhotoResult> rows;
  auto flushLines = [&] {
    if (rows.empty()) return;
    RunHandler([&] { Q_EMIT rowsReady(rows); });
    rows.clear();
  };
  for (const Step& step : steps) {
    switch (step.kind) {
      case Step::Kind::Line:
        flushLines();
        RunHandler([&] { Q_EMIT headerReady(FromLocal(step.text)); });
        break;
      case Step::Kind::Row:
        rows.push_back(FromRecord(step.row));
        break;
      case Step::Kind::Caption:
        flushLines();
        RunHandler([&] { Q_EMIT captionChanged(QString::fromStdString(step.text)); });
        break;
      case Step::Kind::Sizes:
        flushLines();
        RunHandler([&] {
          Q_EMIT sizesGrown(QString::fromStdString(step.text), QString::fromStdString(step.second));
        });
        break;
      case Step::Kind::Notice:
        flushLines();
        RunHandler([&] { Q_EMIT noticed(FromLocal(step.text)); });
        break;
      case Step::Kind::Waiting:
        flushLines();
        RunHandler([&] { Q_EMIT waiting(); });
        break;
    }
  }
  flushLines();
}

void RunController::WorkerEnded() {
  if (worker_.joinable()) worker_.join();
  frame_.stop();
  Deliver(true);
  RunEnd end;
  end.files = std::move(files_);
  end.stopped = result_.stopped;
  end.result = result_;
  end.fatal = result_.fatal;
  end.fatalFile = FromLocal(result_.fatalFile);
  if (failure_) end.fatal = ErrorFromException(failure_);
  end.failures = std::move(failures_);
  failures_.clear();
  end.warnings = std::move(warnings_);
  warnings_.clear();
  Q_EMIT finished(end);
}

}  // namespace swelox::ui
