// Runs over a file list with decode-once per file and files analysed in parallel, emitting in
// the order of the sequential runs.
#include "analysis/BatchRun.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
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

// Analyses the files of one group on worker threads. A file's outcomes become available as soon
// as it is done; files not yet started are skipped once an earlier file has failed in the
// group's first run, since nothing after that failure is ever shown. With a single run the
// workers keep only a few files ahead of the output and each file's outcomes are dropped once
// shown, so memory does not grow with the number of files; with several runs every file's rows
// must wait for the first run over all files.
class GroupAnalysis {
 public:
  GroupAnalysis(const BatchOptions& options, const RunGroup& group)
      : options_(options),
        group_(group),
        results_(options.files.size()),
        lookahead_(group.sizes.size() == 1 ? static_cast<size_t>(std::max(8, 4 * options.jobs))
                                           : options.files.size()) {
    const int workers = std::max(1, std::min<int>(options.jobs, options.files.size()));
    for (int k = 0; k < workers; ++k) threads_.emplace_back([this] { Work(); });
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
      results_[file].reset();
      released_ = file + 1;
    }
    ready_.notify_all();
  }

 private:
  bool Stopped() const { return options_.stop != nullptr && options_.stop->load(); }

  bool Ends(const RowOutcome& outcome) const {
    return outcome.error && !(options_.keepGoing && outcome.error->scope() == ErrorScope::File);
  }

  void Work() {
    for (;;) {
      size_t file;
      {
        std::unique_lock lock(mutex_);
        auto finished = [&] {
          return next_ >= results_.size() || static_cast<int64_t>(next_) > limit_ || Stopped();
        };
        ready_.wait(lock, [&] { return finished() || next_ < released_ + lookahead_; });
        if (finished()) return;
        file = next_++;
      }
      std::vector<RowOutcome> outcomes =
          AnalyseFile(options_.files[file], group_.sizes, options_.settings.direction,
                      options_.settings.region);
      std::lock_guard lock(mutex_);
      if (Ends(outcomes.front())) limit_ = std::min<int64_t>(limit_, file);
      results_[file] = std::move(outcomes);
      ready_.notify_all();
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
  const size_t lookahead_;
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
          if (!outcome.error) {
            listener.Line(outcome.row);
          } else if (options.keepGoing && outcome.error->scope() == ErrorScope::File) {
            listener.FileFailed(options.files[file], *outcome.error);
            result.anyFileFailed = true;
          } else {
            result.fatal = outcome.error;
            return result;
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
