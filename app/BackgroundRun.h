// A batch run on a worker thread, shown by the window's thread: the runner's steps are collected
// as they come and handed over in their order, a frame's worth at a time, while the window goes on
// repainting, moving and resizing.
#pragma once

#include <QString>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include "analysis/BatchRun.h"

namespace swelox::ui {

// One thing the window shows during a run: a row, the start button's caption for the row being
// made, or the rectangle sizes after a run's growth step.
struct RunStep {
  enum class Kind { Row, Caption, Sizes };
  Kind kind;
  std::string text;  // the row or the caption
  RectangleTexts sizes;
};

// Keeps the steps of a run until the window's thread takes them. The runner's header line is
// left out: the window writes it itself before the file chooser opens.
class RunSteps : public BatchListener {
 public:
  void Line(const std::string& line) override;
  void Progress(const std::string& caption) override;
  void FileFailed(const std::string& path, const Error& error) override;
  void SizesGrown(const RectangleTexts& sizes) override;

  // The steps that came since the last call, oldest first.
  std::vector<RunStep> Take();

 private:
  void Push(RunStep step);

  std::mutex mutex_;
  std::vector<RunStep> steps_;
  bool headerPassed_ = false;
};

// About 60 paints a second: rows that come faster are shown together.
inline constexpr int kShowIntervalMs = 16;

// Runs RunBatch(options) on a worker thread and returns when it has ended, keeping the calling
// thread's event loop turning meanwhile; `show` gets every step on the calling thread, in order,
// the last ones before this returns. `stop` is the runner's stop flag: set it to end the run.
// Should the application quit meanwhile, the run is stopped here. An error the runner did not
// report as its result (out of memory) is raised here.
BatchResult RunBatchShown(BatchOptions options, std::stop_source stop,
                          const std::function<void(const RunStep&)>& show);

}  // namespace swelox::ui
