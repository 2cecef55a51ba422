// Runs over a file list with decode-once per file and files analysed in parallel, emitting in
// the order of the sequential runs.
#include "analysis/BatchRun.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "analysis/ImageAnalysis.h"
#include "core/IntegerText.h"

namespace swelox {
namespace {

// The sizes of a group of consecutive runs, and whether the growth after the last of them failed.
struct RunGroup {
  int64_t firstRun = 0;
  std::vector<RectangleTexts> sizes;
  std::vector<RectangleTexts> grownSizes;  // after each run's growth step
  std::optional<Error> growthError;
};

// Whether an outcome ends the run, rather than being shown (a row) or skipped (a file's error
// with keep-going). The workers and the consumer both decide by this alone.
bool EndsRun(const RowOutcome& outcome, const BatchOptions& options) {
  return outcome.error && !(options.keepGoing && outcome.error->scope() == ErrorScope::File);
}

// The memory that outcomes waiting to be shown may take before the workers stop running ahead.
constexpr size_t kLookaheadBytes = 4 * 1024 * 1024;

size_t HeldBytes(const std::vector<RowOutcome>& outcomes) {
  size_t bytes = sizeof outcomes;
  for (const RowOutcome& outcome : outcomes) {
    bytes += sizeof outcome + outcome.row.capacity();
    if (outcome.error) bytes += std::char_traits<char>::length(outcome.error->what());
  }
  return bytes;
}

// Analyses the files of one group on worker threads, as many as could be started (none at all:
// the consumer analyses each file itself when it waits for it). A file's outcomes become
// available as soon as it is done; anything thrown while analysing it becomes its error.
//
// The consumer waits for the files in order, and never past a file whose first outcome ends the
// run (it stops there). The workers take files in order and start none past such a file (limit_),
// none once stopped, and, with a single run, none while the outcomes waiting to be shown take
// kLookaheadBytes or more, except the very file the consumer needs next. So the file the consumer
// waits for is always done, in progress, or free to start: Wait cannot block for ever. With
// several runs every file's rows must wait for the first run over all files, so the workers are
// not held back.
class GroupAnalysis {
 public:
  GroupAnalysis(const BatchOptions& options, const RunGroup& group)
      : options_(options),
        group_(group),
        results_(options.files.size()),
        boundedLookahead_(group.sizes.size() == 1) {
    const int workers = std::max(1, std::min<int>(options.jobs, options.files.size()));
    threads_.reserve(workers);
    for (int k = 0; k < workers; ++k) {
      try {
        threads_.emplace_back([this] { Work(); });
      } catch (const std::exception&) {
        break;  // no more threads to be had (an address-space or process limit): do without
      }
    }
  }
  ~GroupAnalysis() {
    {
      std::lock_guard lock(mutex_);
      limit_ = -1;
    }
    ready_.notify_all();
    for (auto& t : threads_) t.join();
  }

  // The outcomes of `file`, or nullptr when the batch was stopped first.
  const std::vector<RowOutcome>* Wait(size_t file) {
    std::unique_lock lock(mutex_);
    if (threads_.empty()) {
      while (!results_[file] && !Stopped()) {
        const size_t next = next_++;
        lock.unlock();
        Finish(next, Analyse(next));
        lock.lock();
      }
    }
    // A stop request comes from outside without a notification, so it is polled.
    while (!ready_.wait_for(lock, std::chrono::milliseconds(20),
                            [&] { return results_[file].has_value() || Stopped(); })) {
    }
    if (!results_[file]) return nullptr;
    return &*results_[file];
  }

  // The outcomes of files up to `file` have all been shown.
  void Release(size_t file) {
    {
      std::lock_guard lock(mutex_);
      if (results_[file]) held_ -= HeldBytes(*results_[file]);
      results_[file].reset();
      released_ = file + 1;
    }
    ready_.notify_all();
  }

 private:
  bool Stopped() const { return options_.stop != nullptr && options_.stop->load(); }

  std::vector<RowOutcome> Analyse(size_t file) const {
    try {
      return AnalyseFile(options_.files[file], group_.sizes, options_.settings.direction);
    } catch (...) {
      const RowOutcome failed{std::string(), ErrorFromException(std::current_exception())};
      return std::vector<RowOutcome>(group_.sizes.size(), failed);
    }
  }

  void Finish(size_t file, std::vector<RowOutcome> outcomes) {
    {
      std::lock_guard lock(mutex_);
      if (EndsRun(outcomes.front(), options_)) limit_ = std::min<int64_t>(limit_, file);
      held_ += HeldBytes(outcomes);
      results_[file] = std::move(outcomes);
    }
    ready_.notify_all();
  }

  void Work() {
    for (;;) {
      size_t file;
      {
        std::unique_lock lock(mutex_);
        auto finished = [&] {
          return next_ >= results_.size() || static_cast<int64_t>(next_) > limit_ || Stopped();
        };
        auto mayStart = [&] {
          return !boundedLookahead_ || next_ <= released_ || held_ < kLookaheadBytes;
        };
        ready_.wait(lock, [&] { return finished() || mayStart(); });
        if (finished()) return;
        file = next_++;
      }
      Finish(file, Analyse(file));
    }
  }

  const BatchOptions& options_;
  const RunGroup& group_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<std::optional<std::vector<RowOutcome>>> results_;
  size_t next_ = 0;
  int64_t limit_ = INT64_MAX;
  size_t released_ = 0;
  size_t held_ = 0;  // bytes of the outcomes not yet released
  const bool boundedLookahead_;
  std::vector<std::thread> threads_;
};

}  // namespace

BatchResult RunBatch(const BatchOptions& options, BatchListener& listener) {
  BatchResult result;
  const RunSettings& settings = options.settings;
  listener.Line(kHeaderLine);
  try {
    const std::string loopsText =
        IncrementsForbidGrowth(settings.widthIncrement, settings.heightIncrement) ? "0"
                                                                                  : settings.loops;
    const int64_t runCount = int64_t{ParseInteger(loopsText)} + 1;
    const bool showRun = runCount > 1;
    const int64_t fileCount = static_cast<int64_t>(options.files.size());

    RunSizes sizes(settings);
    for (int64_t run = 0; run < runCount;) {
      RunGroup group;
      group.firstRun = run;
      while (run < runCount && group.sizes.size() < static_cast<size_t>(options.runsPerDecode)) {
        group.sizes.push_back(sizes.Current());
        ++run;
        try {
          sizes.Grow();
        } catch (const Error& e) {
          group.growthError = e;
        }
        group.grownSizes.push_back(sizes.Current());
        if (group.growthError) break;
      }

      GroupAnalysis analysis(options, group);
      for (size_t k = 0; k < group.sizes.size(); ++k) {
        for (int64_t file = 0; file < fileCount; ++file) {
          if (options.stop != nullptr && options.stop->load()) {
            result.stopped = true;
            return result;
          }
          listener.Progress(ProgressCaption(file, fileCount, showRun, group.firstRun + k));
          const std::vector<RowOutcome>* outcomes = analysis.Wait(file);
          if (outcomes == nullptr) {
            result.stopped = true;
            return result;
          }
          const RowOutcome& outcome = (*outcomes)[k];
          if (EndsRun(outcome, options)) {
            result.fatal = outcome.error;
            return result;
          }
          if (outcome.error) {
            listener.FileFailed(options.files[file], *outcome.error);
            result.anyFileFailed = true;
          } else {
            listener.Line(outcome.row);
          }
          if (k + 1 == group.sizes.size()) analysis.Release(file);
        }
        listener.SizesGrown(group.grownSizes[k]);
      }
      if (group.growthError) {
        result.fatal = group.growthError;
        return result;
      }
    }
  } catch (const Error& e) {
    result.fatal = e;
  }
  return result;
}

}  // namespace swelox
