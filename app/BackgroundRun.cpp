// The worker thread of a run and the hand-over of its steps to the window's thread.
#include "app/BackgroundRun.h"

#include <QEventLoop>
#include <QTimer>
#include <exception>
#include <thread>

namespace swelox::ui {

void RunSteps::Line(const std::string& line) {
  if (!headerPassed_) {
    headerPassed_ = true;
    return;
  }
  Push({RunStep::Kind::Row, line, {}});
}

void RunSteps::Progress(const std::string& caption) { Push({RunStep::Kind::Caption, caption, {}}); }

// The window stops at the first failing file, so there is nothing to show here.
void RunSteps::FileFailed(const std::string&, const Error&) {}

void RunSteps::SizesGrown(const RectangleTexts& sizes) { Push({RunStep::Kind::Sizes, {}, sizes}); }

std::vector<RunStep> RunSteps::Take() {
  std::vector<RunStep> taken;
  std::lock_guard lock(mutex_);
  taken.swap(steps_);
  return taken;
}

void RunSteps::Push(RunStep step) {
  std::lock_guard lock(mutex_);
  steps_.push_back(std::move(step));
}

BatchResult RunBatchShown(BatchOptions options, std::stop_source stop,
                          const std::function<void(const RunStep&)>& show) {
  options.stop = stop.get_token();
  RunSteps steps;
  BatchResult result;
  std::exception_ptr failure;
  std::atomic<bool> finished = false;
  QEventLoop loop;

  auto showWaiting = [&] {
    for (const RunStep& step : steps.Take()) show(step);
  };
  QTimer frame;
  frame.setTimerType(Qt::PreciseTimer);
  frame.setInterval(kShowIntervalMs);
  QObject::connect(&frame, &QTimer::timeout, showWaiting);

  std::thread worker([&] {
    try {
      result = RunBatch(options, steps);
    } catch (...) {
      failure = std::current_exception();
    }
    finished = true;
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  frame.start();
  loop.exec();
  // The loop also ends when the application quits (its last window closed): the run goes no
  // further then.
  if (!finished) stop.request_stop();
  worker.join();
  frame.stop();
  showWaiting();
  if (failure) std::rethrow_exception(failure);
  return result;
}

}  // namespace swelox::ui
