// Runs over a file list with decode-once per file and files analysed in parallel, emitting in
// the order of the sequential runs.
#include "analysis/BatchRun.h"

#include <pthread.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>

#include "analysis/FileOrder.h"
#include "analysis/ImageAnalysis.h"
#include "analysis/LaterRows.h"
#include "core/IntegerText.h"
#include "imaging/FileReading.h"

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
    bytes += sizeof outcome + outcome.row.capacity() + outcome.values.captureTime.capacity();
    if (outcome.error) bytes += std::char_traits<char>::length(outcome.error->what());
  }
  return bytes;
}

// A thread with a stack of 2 MiB, a quarter of the usual: a worker needs far less, and under an
// address-space limit every worker's stack is memory that no picture can have. The stack is the
// thread's own mapping, unmapped as soon as the thread has ended (the C library would keep it for
// later threads).
class WorkerThread {
 public:
  // Raises std::system_error when no thread can be had.
  explicit WorkerThread(std::function<void()> work)
      : work_(std::make_unique<std::function<void()>>(std::move(work))) {
    stack_ = ::mmap(nullptr, kMappedBytes, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack_ == MAP_FAILED) throw std::system_error(errno, std::generic_category(), "mmap");
    // A guard page below the stack, which grows down: an overflow faults instead of writing on.
    int error = ::mprotect(stack_, kGuardBytes, PROT_NONE) == 0 ? 0 : errno;
    pthread_attr_t attributes;
    if (error == 0) error = ::pthread_attr_init(&attributes);
    if (error == 0) {
      error = ::pthread_attr_setstack(&attributes, static_cast<char*>(stack_) + kGuardBytes,
                                      kStackBytes);
      if (error == 0) error = ::pthread_create(&thread_, &attributes, &Run, work_.get());
      ::pthread_attr_destroy(&attributes);
    }
    if (error != 0) {
      ::munmap(stack_, kMappedBytes);
      throw std::system_error(error, std::generic_category(), "pthread_create");
    }
  }
  ~WorkerThread() {
    ::pthread_join(thread_, nullptr);
    ::munmap(stack_, kMappedBytes);
  }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

 private:
  static constexpr size_t kStackBytes = 2 * 1024 * 1024;
  static constexpr size_t kGuardBytes = 64 * 1024;  // a multiple of any page size
  static constexpr size_t kMappedBytes = kGuardBytes + kStackBytes;

  static void* Run(void* work) {
    (*static_cast<std::function<void()>*>(work))();
    return nullptr;
  }

  std::unique_ptr<std::function<void()>> work_;
  void* stack_ = nullptr;
  pthread_t thread_{};
};

// Whether a file's outcomes may owe something to the memory or the file descriptors that other
// files took at the same time: such a file is analysed again, alone.
bool ShortOfResources(const std::vector<RowOutcome>& outcomes) {
  return std::any_of(outcomes.begin(), outcomes.end(), [](const RowOutcome& outcome) {
    return outcome.error && (std::string_view(outcome.error->what()) == kOutOfMemory ||
                             LackedDescriptor(outcome.error->what()));
  });
}

// Analyses the files of one group on worker threads, as many as could be started. A file's
// outcomes become available as soon as it is done; anything thrown while analysing it becomes
// its error. A file that ran out of memory or descriptors on a worker (or could not even record its
// error) is analysed again by the consumer once every worker has ended, and the consumer goes on
// alone, so that no row or error depends on the number of workers or their timing. With no worker
// at all the consumer analyses every file.
//
// The consumer waits for the files in order, and never past a file whose first outcome ends the
// run (it stops there). The workers take files in order and start none past such a file (limit_),
// none once stopped or retired, and none while the outcomes waiting to be shown take
// kLookaheadBytes or more, except the very file the consumer needs next. So the file the consumer
// waits for is always done, in progress, left to the consumer itself, or free to start: Wait
// cannot block for ever. The consumer releases a file once the group's first run has shown it
// (the later runs' outcomes wait in LaterRows), so the bound holds for any number of runs.
class GroupAnalysis {
 public:
  GroupAnalysis(const BatchOptions& options, const RunGroup& group, const CameraClock& clock)
      : options_(options),
        group_(group),
        clock_(clock),
        results_(options.files.size()),
        retry_(options.files.size(), false) {
    // A single worker would only make the consumer wait for it, and a thread with its own stack
    // and memory arena costs a millisecond or more: the consumer then analyses every file itself.
    const int workers = static_cast<int>(
        std::min<int64_t>(options.jobs, static_cast<int64_t>(options.files.size())));
    if (workers <= 1) return;
    threads_.reserve(workers);
    for (int k = 0; k < workers; ++k) {
      try {
        threads_.push_back(std::make_unique<WorkerThread>([this] { Work(); }));
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
    threads_.clear();  // joins them
  }

  // The outcomes of `file`, or nullptr when the batch was stopped first.
  const std::vector<RowOutcome>* Wait(size_t file) {
    std::unique_lock lock(mutex_);
    for (;;) {
      // Before the outcomes: a file the consumer analysed itself may have been stopped meanwhile.
      if (Stopped()) return nullptr;
      if (results_[file]) return &*results_[file];
      if (retry_[file] || (threads_.empty() && next_ == file)) {
        if (next_ == file) ++next_;
        AnalyseAlone(file, lock);
        continue;
      }
      // Woken by a stop request too.
      ready_.wait(lock, options_.stop, [&] {
        return results_[file] || retry_[file] || (threads_.empty() && next_ == file);
      });
    }
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
  bool Stopped() const { return options_.stop.stop_requested(); }

  std::vector<RowOutcome> Analyse(size_t file) const {
    try {
      return AnalyseFile(options_.files[file], group_.sizes, options_.settings.direction,
                         options_.settings.region, options_.settings.columns, options_.stop,
                         options_.captureTimes, clock_,
                         options_.knownTimes.empty() ? nullptr : &options_.knownTimes[file]);
    } catch (...) {
      const RowOutcome failed{std::string(), ErrorFromException(std::current_exception())};
      return std::vector<RowOutcome>(group_.sizes.size(), failed);
    }
  }

  // Under the lock.
  void Store(size_t file, std::vector<RowOutcome> outcomes) {
    if (EndsRun(outcomes.front(), options_)) limit_ = std::min<int64_t>(limit_, file);
    held_ += HeldBytes(outcomes);
    results_[file] = std::move(outcomes);
    retry_[file] = false;
  }

  // With every worker ended, so that their memory is free again; the rest of the group is then
  // analysed by the consumer alone, since memory is short.
  void AnalyseAlone(size_t file, std::unique_lock<std::mutex>& lock) {
    if (!threads_.empty()) {
      retired_ = true;
      ready_.notify_all();
      lock.unlock();
      threads_.clear();  // each finishes the file it has begun
      lock.lock();
    }
    lock.unlock();
    std::vector<RowOutcome> outcomes = Analyse(file);
    lock.lock();
    Store(file, std::move(outcomes));
  }

  void Work() {
    for (;;) {
      size_t file;
      {
        std::unique_lock lock(mutex_);
        auto finished = [&] {
          return next_ >= results_.size() || static_cast<int64_t>(next_) > limit_ || retired_ ||
                 Stopped();
        };
        auto mayStart = [&] { return next_ <= released_ || held_ < kLookaheadBytes; };
        ready_.wait(lock, options_.stop, [&] { return finished() || mayStart(); });
        if (finished()) return;
        file = next_++;
      }
      std::optional<std::vector<RowOutcome>> outcomes;
      try {
        outcomes = Analyse(file);
      } catch (...) {
        // Not even the error could be recorded (memory again): the consumer tries it alone.
      }
      {
        std::lock_guard lock(mutex_);
        if (outcomes && !ShortOfResources(*outcomes)) {
          Store(file, std::move(*outcomes));
        } else {
          retry_[file] = true;
        }
      }
      ready_.notify_all();
    }
  }

  const BatchOptions& options_;
  const RunGroup& group_;
  const CameraClock& clock_;
  std::mutex mutex_;
  std::condition_variable_any ready_;
  std::vector<std::optional<std::vector<RowOutcome>>> results_;
  std::vector<bool> retry_;  // done on a worker, to be analysed again alone
  size_t next_ = 0;
  int64_t limit_ = INT64_MAX;
  size_t released_ = 0;
  size_t held_ = 0;       // bytes of the outcomes not yet released
  bool retired_ = false;  // the workers end: memory is short
  std::vector<std::unique_ptr<WorkerThread>> threads_;
};

}  // namespace

BatchResult RunBatch(const BatchOptions& options, BatchListener& listener) {
  if (options.settings.order != FileOrder::AsGiven) {
    BatchOptions ordered = options;
    ordered.settings.order = FileOrder::AsGiven;
    try {
      std::vector<std::string> names(options.files.begin(), options.files.end());
      OrderFiles(names, options.settings.order, options.stop, CameraClock(options.settings.time),
                 &ordered.knownTimes);
      ordered.files = PathList(names);
    } catch (...) {
      listener.Line(HeaderLine(options.settings.columns));
      BatchResult failed;
      failed.fatal = ErrorFromException(std::current_exception());
      return failed;
    }
    return RunBatch(ordered, listener);
  }
  BatchResult result;
  const RunSettings& settings = options.settings;
  listener.FilesOrdered(options.files);
  listener.Line(HeaderLine(settings.columns));
  try {
    const int64_t runCount = RunCount(settings);
    const CameraClock clock(settings.time);
    const bool showRun = runCount > 1;
    const int64_t fileCount = static_cast<int64_t>(options.files.size());

    std::vector<bool> warned(options.files.size(), false);
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

      GroupAnalysis analysis(options, group, clock);
      LaterRows later(group.sizes.size());
      for (size_t k = 0; k < group.sizes.size(); ++k) {
        for (int64_t file = 0; file < fileCount; ++file) {
          if (options.stop.stop_requested()) {
            result.stopped = true;
            return result;
          }
          listener.Progress(ProgressCaption(file, fileCount, showRun, group.firstRun + k));
          RowOutcome outcome;
          if (k == 0) {
            const std::vector<RowOutcome>* outcomes = analysis.Wait(file);
            if (outcomes == nullptr) {
              result.stopped = true;
              return result;
            }
            outcome = outcomes->front();
            if (!EndsRun(outcome, options)) {
              for (size_t j = 1; j < outcomes->size(); ++j) later.Put(j, (*outcomes)[j]);
            }
            analysis.Release(file);
          } else {
            outcome = later.Take(k);
          }
          if (EndsRun(outcome, options)) {
            result.fatal = outcome.error;
            if (outcome.error->scope() == ErrorScope::File) result.fatalFile = options.files[file];
            return result;
          }
          if (outcome.error) {
            listener.FileFailed(options.files[file], *outcome.error);
            result.anyFileFailed = true;
          } else {
            if (!outcome.warning.empty() && !warned[file]) {
              warned[file] = true;
              listener.FileWarned(options.files[file], outcome.warning);
            }
            listener.Record({static_cast<size_t>(file), options.files[file],
                             group.firstRun + static_cast<int64_t>(k), std::move(outcome.values),
                             std::move(outcome.row)});
          }
        }
        listener.SizesGrown(group.grownSizes[k]);
      }
      if (group.growthError) {
        result.fatal = group.growthError;
        return result;
      }
    }
  } catch (...) {
    result.fatal = ErrorFromException(std::current_exception());
  }
  return result;
}

}  // namespace swelox
