// Runs over file lists: the growth rule, the captions, and the batch runner (decode once, files
// in parallel) against a plain run-by-run, file-by-file loop; and swelox-cli as a user calls it.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stop_token>

#include "analysis/BatchRun.h"
#include "analysis/ImageAnalysis.h"
#include "core/IntegerText.h"
#include "toolkit/CliRun.h"
#include "toolkit/OpenWatch.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using test::CliResult;
using test::RunCli;
using test::TempDir;

TEST(GrownSize, RoundsTiesToEven) {
  struct Case {
    int32_t size, percent;
    int64_t expected;
  };
  const Case cases[] = {{15, 50, 22},
                        {45, 50, 68},
                        {7, 50, 10},
                        {14, 25, 18},
                        {10, 25, 12},
                        {15, 100, 30},
                        {12, 100, 24},
                        {1, 1, 1},
                        {-10, 50, -15},
                        {INT32_MAX, 100, 4294967294},
                        {3, 2147483547, 64424509}};
  for (const Case& c : cases) {
    EXPECT_EQ(GrownSize(c.size, c.percent), c.expected) << c.size << " +" << c.percent << "%";
  }
  EXPECT_THROW(GrownSize(15, 2147483548), Error);
}

TEST(GrownSizeText, ReadsTheIncrementFirstAndGrowsOnlyWhenPositive) {
  EXPECT_EQ(GrownSizeText("15", "100"), "30");
  EXPECT_EQ(GrownSizeText("15", "0"), std::nullopt);
  EXPECT_EQ(GrownSizeText("abc", "-5"), std::nullopt);
  EXPECT_EQ(GrownSizeText("$F", "50"), "22");
  auto message = [](const std::string& size, const std::string& increment) -> std::string {
    try {
      GrownSizeText(size, increment);
    } catch (const Error& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(message("abc", "xyz"), "'xyz' is not a valid integer value");
  EXPECT_EQ(message("abc", "10"), "'abc' is not a valid integer value");
  EXPECT_EQ(message("15", "2147483647"), "Integer overflow");
}

TEST(RunRules, NoGrowthNeedsBothIncrementsExactlyZero) {
  EXPECT_TRUE(IncrementsForbidGrowth("0", "0"));
  EXPECT_FALSE(IncrementsForbidGrowth(" 0", "0"));
  EXPECT_FALSE(IncrementsForbidGrowth("0", "00"));
  EXPECT_FALSE(IncrementsForbidGrowth("0", "50"));
  EXPECT_EQ(ProgressCaption(2, 10, false, 0), "3 of 10");
  EXPECT_EQ(ProgressCaption(2, 10, true, 1), "3 of 10   Run2");
}

// Everything a run sends out, as one text.
class Recorder : public BatchListener {
 public:
  void Line(const std::string& line) override { text += line + "\n"; }
  void Progress(const std::string& caption) override { captions.push_back(caption); }
  void FileFailed(const std::string& path, const Error& error) override {
    text += "skipped " + PictureName(path) + ": " + error.what() + "\n";
  }
  std::string text;
  std::vector<std::string> captions;
};

std::string Finish(const Recorder& r, const BatchResult& result) {
  return r.text + (result.fatal ? std::string("fatal: ") + result.fatal->what() : "") +
         (result.anyFileFailed ? " (failures)" : "");
}

// The plain loop: every run decodes every file again, one at a time.
std::string PlainRuns(const BatchOptions& options) {
  Recorder r;
  BatchResult result;
  r.Line(kHeaderLine);
  RunSettings s = options.settings;
  try {
    if (IncrementsForbidGrowth(s.widthIncrement, s.heightIncrement)) s.repeats = "0";
    const int32_t loops = ParseInteger(s.repeats);
    for (int64_t run = 0; run <= loops; ++run) {
      for (const std::string& file : options.files) {
        try {
          r.Line(AnalyseFileRow(file, {s.width, s.height}, s.direction));
        } catch (const Error& e) {
          if (!options.keepGoing || e.scope() != ErrorScope::File) throw;
          r.FileFailed(file, e);
          result.anyFileFailed = true;
        }
      }
      if (auto w = GrownSizeText(s.width, s.widthIncrement)) s.width = *w;
      if (auto h = GrownSizeText(s.height, s.heightIncrement)) s.height = *h;
    }
  } catch (const Error& e) {
    result.fatal = e;
  }
  return Finish(r, result);
}

std::string Batch(BatchOptions options, int jobs, int runsPerDecode = 32,
                  std::vector<std::string>* captions = nullptr) {
  options.jobs = jobs;
  options.runsPerDecode = runsPerDecode;
  Recorder r;
  const BatchResult result = RunBatch(options, r);
  if (captions) *captions = r.captions;
  return Finish(r, result);
}

class BatchRunTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    for (int k = 0; k < 4; ++k) {
      files_.push_back(test::EncodeWithCjpeg(*dir_, "photo" + std::to_string(k) + ".jpg",
                                             test::RandomRaster(90 + 37 * k, 70 + 11 * k, k, true),
                                             k == 2 ? "-progressive" : "-quality 90"));
    }
    broken_ = dir_->File("broken.jpg");
    test::WriteBytes(broken_, {0xFF, 0xD8, 0xFF, 0xDB, 0x00});
    // Noise large enough for W = H = 1 to overflow the sums while 2 x 2 still fits.
    noisy_ = test::EncodeWithCjpeg(*dir_, "noisy.jpg", test::RandomRaster(1500, 1200, 9),
                                   "-quality 100");
  }
  static void TearDownTestSuite() { delete dir_; }

  static inline TempDir* dir_ = nullptr;
  static inline std::vector<std::string> files_;
  static inline std::string broken_, noisy_;
};

TEST_F(BatchRunTest, AgreesWithThePlainLoopInEveryCase) {
  struct Case {
    const char* what;
    RunSettings settings;
    std::vector<std::string> files;
    bool keepGoing;
  };
  const std::vector<std::string> good = files_;
  const std::vector<std::string> withBroken = {files_[0], files_[1], broken_, files_[3]};
  auto settings = [](std::string loops, std::string wi, std::string hi, std::string w = "15",
                     std::string h = "12", Direction d = Direction::Below) {
    return RunSettings{w, h, loops, wi, hi, d};
  };
  const Case cases[] = {
      {"one run", settings("0", "100", "100"), good, false},
      {"three runs", settings("2", "100", "100"), good, false},
      {"to the right", settings("2", "50", "25", "7", "5", Direction::Right), good, false},
      {"only the height grows", settings("3", "0", "50"), good, false},
      {"no growth forces one run", settings("5", "0", "0"), good, false},
      {"no runs", settings("-1", "100", "100"), good, false},
      {"bad repeat count", settings("two", "100", "100"), good, false},
      {"bad width increment after the first run", settings("3", "lots", "100"), good, false},
      {"bad height increment", settings("1", "100", " 5"), good, false},
      {"width grows past 32 bits", settings("40", "100", "0"), good, false},
      {"bad width", settings("1", "100", "100", "wide"), good, false},
      {"broken file stops the run", settings("1", "100", "100"), withBroken, false},
      {"broken file skipped", settings("1", "100", "100"), withBroken, true},
      {"bad width is not skipped", settings("1", "100", "100", "-4"), withBroken, true},
      {"zero height", settings("0", "100", "100", "15", "0"), withBroken, true},
      {"overflow in the first run only",
       settings("1", "100", "100", "1", "1"),
       {files_[0], noisy_, files_[1]},
       false},
      {"overflow skipped",
       settings("1", "100", "100", "1", "1"),
       {files_[0], noisy_, files_[1]},
       true},
  };
  for (const Case& c : cases) {
    const BatchOptions options{c.settings, c.files, c.keepGoing};
    const std::string expected = PlainRuns(options);
    EXPECT_EQ(Batch(options, 1), expected) << c.what;
    EXPECT_EQ(Batch(options, 2), expected) << c.what;
    EXPECT_EQ(Batch(options, 3, 2), expected) << c.what << " (two runs per decode)";
  }
}

TEST_F(BatchRunTest, CaptionsCountFilesAndRuns) {
  BatchOptions options{RunSettings{"15", "12", "2", "100", "100", Direction::Below},
                       {files_[0], files_[1], files_[2]}};
  std::vector<std::string> captions;
  Batch(options, 2, 32, &captions);
  const std::vector<std::string> expected = {"1 of 3   Run1", "2 of 3   Run1", "3 of 3   Run1",
                                             "1 of 3   Run2", "2 of 3   Run2", "3 of 3   Run2",
                                             "1 of 3   Run3", "2 of 3   Run3", "3 of 3   Run3"};
  EXPECT_EQ(captions, expected);
  options.settings.repeats = "0";
  Batch(options, 1, 32, &captions);
  EXPECT_EQ(captions, (std::vector<std::string>{"1 of 3", "2 of 3", "3 of 3"}));
}

// The sizes after each run come between its last row and the next run's first, whatever the
// workers and the decodes shared by several runs; when the height's growth fails after the width
// has grown, the grown width comes before the error.
TEST_F(BatchRunTest, GrownSizesFollowTheLastRowOfTheirRun) {
  struct SizesRecorder : Recorder {
    void SizesGrown(const RectangleTexts& sizes) override {
      text += "grown " + sizes.width + " x " + sizes.height + "\n";
    }
  };
  const std::vector<std::string> files = {files_[0], files_[1]};
  auto rows = [&](const char* w, const char* h) {
    std::string text;
    for (const std::string& file : files)
      text += AnalyseFileRow(file, {w, h}, Direction::Below) + "\n";
    return text;
  };
  const std::string header = std::string(kHeaderLine) + "\n";
  const struct {
    RunSettings settings;
    std::string expected;
  } cases[] = {
      {{"15", "12", "1", "50", "100"},
       header + rows("15", "12") + "grown 22 x 24\n" + rows("22", "24") + "grown 33 x 48\n"},
      {{"15", "12", "3", "50", "2147483647"},
       header + rows("15", "12") + "grown 22 x 12\nfatal: Integer overflow"},
  };
  for (const auto& c : cases) {
    for (const int jobs : {1, 3}) {
      for (const int runsPerDecode : {1, 32}) {
        BatchOptions options{c.settings, files};
        options.jobs = jobs;
        options.runsPerDecode = runsPerDecode;
        SizesRecorder r;
        EXPECT_EQ(Finish(r, RunBatch(options, r)), c.expected) << jobs << " " << runsPerDecode;
      }
    }
  }
}

// The paths of the files opened in a folder while `work` runs.
std::vector<std::string> FilesOpened(const std::string& folder, const std::function<void()>& work) {
  test::OpenWatch watch(folder);
  work();
  return watch.Take();
}

// A stop request ends the run without starting another file; nothing reaches the listener after
// the request.
// The listener learns the order the runs take the files in before the header line: as given, or
// sorted, the rows following it.
TEST_F(BatchRunTest, TellsTheFilesInTheOrderOfItsRows) {
  struct OrderRecorder : Recorder {
    void FilesOrdered(const PathList& files) override {
      text += "files:";
      for (const std::string& file : files) text += " " + PictureName(file);
      text += "\n";
    }
  };
  const std::vector<std::string> given = {files_[3], files_[0], files_[2]};
  for (const FileOrder order : {FileOrder::AsGiven, FileOrder::Name}) {
    BatchOptions options{RunSettings{}, given};
    options.settings.repeats = "1";
    options.settings.order = order;
    OrderRecorder r;
    ASSERT_FALSE(RunBatch(options, r).fatal);
    const std::vector<std::string> lines = test::Lines(r.text);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], order == FileOrder::Name ? "files: photo0.jpg photo2.jpg photo3.jpg"
                                                 : "files: photo3.jpg photo0.jpg photo2.jpg");
    EXPECT_EQ(lines[1], kHeaderLine);
    // Each run's rows name the files in that order.
    for (size_t k = 0; k < 6; ++k) {
      const std::string name = lines[0].substr(7 + (k % 3) * 11, 10);
      EXPECT_TRUE(lines[2 + k].ends_with("\t" + name)) << lines[2 + k];
    }
  }
}

// Each row's record says what its text says, whether its run shared the first run's decode or
// came back from the later runs' store: the photo's place in the sorted order, its path, the run,
// the sizes, the figures, the capture time and the quality.
TEST_F(BatchRunTest, RecordsSayWhatTheirRowsSay) {
  struct RecordRecorder : Recorder {
    void Record(const RowRecord& record) override { records.push_back(record); }
    std::vector<RowRecord> records;
  };
  const std::vector<std::string> given = {files_[3], broken_, files_[0], files_[1]};
  for (const int runsPerDecode : {1, 32}) {
    BatchOptions options{RunSettings{}, given};
    options.settings.repeats = "2";
    options.settings.order = FileOrder::Name;
    options.settings.columns = {Column::Time, Column::Quality};
    options.keepGoing = true;
    options.runsPerDecode = runsPerDecode;
    options.captureTimes = true;
    RecordRecorder r;
    ASSERT_FALSE(RunBatch(options, r).fatal);
    ASSERT_EQ(r.records.size(), 9u);  // broken.jpg is skipped in every run
    const std::vector<std::string> ordered = {broken_, files_[0], files_[1], files_[3]};
    for (size_t k = 0; k < r.records.size(); ++k) {
      const RowRecord& record = r.records[k];
      EXPECT_EQ(record.run, int64_t(k / 3));
      EXPECT_EQ(record.index, k % 3 + 1);
      EXPECT_EQ(record.path, ordered[record.index]);
      const RowValues& v = record.values;
      const std::string expected =
          std::to_string(v.width) + "\t" + std::to_string(v.height) + "\t" +
          std::to_string(v.rectangleWidth) + "\t" + std::to_string(v.rectangleHeight) + "\t" +
          std::to_string(v.figures.meanDiff) + "\t" + std::to_string(v.figures.rms) + "\t" +
          std::to_string(v.figures.nDiffs) + "\t" + PictureName(record.path) + "\t" +
          v.captureTime + "\t" + QualityName(v.quality);
      EXPECT_EQ(record.text, expected) << runsPerDecode;
      EXPECT_EQ(record.text, AnalyseFileRow(record.path,
                                            {std::to_string(v.rectangleWidth),
                                             std::to_string(v.rectangleHeight)},
                                            Direction::Below) +
                                 "\t\t" + QualityName(v.quality));
      EXPECT_EQ(v.quality, v.figures.nDiffs == 0 ? Quality::None : Quality::Ok);
    }
    EXPECT_EQ(r.records[8].values.rectangleWidth, 60);
  }
}

TEST_F(BatchRunTest, StopStartsNoFurtherFile) {
  std::stop_source stopped;
  stopped.request_stop();
  BatchOptions options{RunSettings{}, files_};
  options.jobs = 2;
  options.stop = stopped.get_token();
  Recorder before;
  BatchResult result;
  const auto opened =
      FilesOpened(dir_->path().string(), [&] { result = RunBatch(options, before); });
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(before.text, std::string(kHeaderLine) + "\n");
  EXPECT_EQ(opened, std::vector<std::string>());

  // Asked for by the listener at the first row, from the consumer's thread.
  struct Stopper : Recorder {
    void Line(const std::string& line) override {
      Recorder::Line(line);
      if (++lines == 2) stop.request_stop();
    }
    void SizesGrown(const RectangleTexts&) override { text += "grown\n"; }
    std::stop_source stop;
    int lines = 0;
  };
  options.settings.repeats = "1";
  for (const int jobs : {1, 2}) {
    for (const int runsPerDecode : {1, 32}) {
      options.jobs = jobs;
      options.runsPerDecode = runsPerDecode;
      Stopper r;
      options.stop = r.stop.get_token();
      result = RunBatch(options, r);
      EXPECT_TRUE(result.stopped);
      EXPECT_FALSE(result.fatal);
      EXPECT_EQ(r.lines, 2);
      EXPECT_EQ(r.text, std::string(kHeaderLine) + "\n" +
                            AnalyseFileRow(files_[0], {"15", "12"}, Direction::Below) + "\n");
    }
  }
}

// A lone worker would only keep the consumer waiting: with one job or one file no thread starts.
TEST_F(BatchRunTest, StartsWorkersOnlyWhenTwoCanRunAtOnce) {
  auto threads = [] {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return std::distance(begin(tasks), end(tasks));
  };
  struct Counter : Recorder {
    void Progress(const std::string& caption) override {
      Recorder::Progress(caption);
      most = std::max(most, count());
    }
    std::function<long()> count;
    long most = 0;
  };
  struct Case {
    int jobs;
    size_t files;
    long workers;
  };
  const Case cases[] = {{1, 4, 0}, {3, 1, 0}, {2, 4, 2}, {8, 3, 3}};
  for (const Case& c : cases) {
    // The large picture keeps every worker busy while the consumer counts them.
    const BatchOptions options{RunSettings{}, std::vector<std::string>(c.files, noisy_)};
    Counter r;
    r.count = threads;
    BatchOptions withJobs = options;
    withJobs.jobs = c.jobs;
    const long before = threads();
    const BatchResult result = RunBatch(withJobs, r);
    EXPECT_EQ(r.most - before, c.workers) << c.jobs << " jobs, " << c.files << " files";
    EXPECT_EQ(Finish(r, result), PlainRuns(options)) << c.jobs << " jobs, " << c.files << " files";
  }
}

// Where not a single worker thread can be had, the run is done on the calling thread alone.
TEST_F(BatchRunTest, RunsOnTheCallingThreadWhenNoWorkerStarts) {
  if (test::kSanitized) GTEST_SKIP() << "address-space limits do not apply under sanitizers";
  const BatchOptions options{
      RunSettings{"15", "12", "1", "100", "100"}, {files_[0], broken_, files_[1]}, true};
  const std::string expected = PlainRuns(options);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::alarm(60);  // a run that waits for workers that never came ends here
    // Under a limit, take all the address space left, then give back 1.5 MiB: room for the
    // analysis of these small pictures, not for a worker's stack of 2 MiB.
    constexpr size_t kChunk = 256 * 1024, kMostChunks = 1024;
    std::vector<void*> chunks;
    chunks.reserve(kMostChunks);
    std::ifstream status("/proc/self/status");
    long sizeKb = 0;
    for (std::string key; status >> key;) {
      if (key == "VmSize:") status >> sizeKb;
    }
    const rlim_t limit = (rlim_t(sizeKb) + 64 * 1024) * 1024;
    const struct rlimit value = {limit, limit};
    if (sizeKb == 0 || ::setrlimit(RLIMIT_AS, &value) != 0) ::_exit(3);
    while (chunks.size() < kMostChunks) {
      void* chunk = ::mmap(nullptr, kChunk, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (chunk == MAP_FAILED) break;
      chunks.push_back(chunk);
    }
    if (chunks.size() == kMostChunks) ::_exit(2);  // the limit does not hold
    for (int k = 0; k < 6; ++k) {
      ::munmap(chunks.back(), kChunk);
      chunks.pop_back();
    }
    const std::string text = Batch(options, 4);
    ::_exit(text == expected ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
  if (WEXITSTATUS(status) == 2 || WEXITSTATUS(status) == 3) {
    GTEST_SKIP() << "no address-space limit here";
  }
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the rows differ from those of the plain loop";
}

TEST_F(BatchRunTest, CliPrintsTheRowsAndReportsErrors) {
  const std::string& a = files_[0];
  const std::string& b = files_[1];
  const BatchOptions options{RunSettings{"15", "12", "1", "50", "100", Direction::Right},
                             {files_[0], files_[1]}};
  CliResult r = RunCli({"--repeats", "1", "--width-increment", "50", "--right", a, b});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, PlainRuns(options));

  r = RunCli({"--width=2147483647", "--height=2", a});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, std::string(kHeaderLine) + "\n");
  EXPECT_EQ(r.err, "swelox-cli: Integer overflow.\n");

  r = RunCli({"-k", a, broken_, b});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3);
  EXPECT_NE(r.err.find(": " + broken_ + ": JPEG error #"), std::string::npos) << r.err;

  // A list that does not exist is a usage error: nothing to analyse.
  r = RunCli({"--files-from", dir_->File("no-such-list.txt")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("cannot read the file list"), std::string::npos) << r.err;
}

TEST_F(BatchRunTest, CliReadsFileListsAndRefusesBadUsage) {
  const std::string list = dir_->File("list.txt");
  const std::string text = files_[0] + "\n" + files_[1] + "\n";
  test::WriteBytes(list, std::vector<uint8_t>(text.begin(), text.end()));
  const CliResult fromList = RunCli({"--files-from", list});
  const CliResult fromStdin = RunCli({"--files-from", "-"}, 60, text);
  const CliResult direct = RunCli({files_[0], files_[1]});
  EXPECT_EQ(fromList.out, direct.out);
  EXPECT_EQ(fromStdin.out, direct.out);
  EXPECT_EQ(direct.exitCode, 0);

  const std::vector<std::vector<std::string>> usages = {
      {}, {"--width"}, {"--bogus", "x.jpg"}, {"--jobs", "0", "x.jpg"}, {"--right=yes", "x.jpg"}};
  for (const auto& usage : usages) {
    const CliResult r = RunCli(usage);
    const std::string shown = usage.empty() ? "(none)" : usage.front();
    EXPECT_EQ(r.exitCode, 2) << shown;
    EXPECT_EQ(r.out, "") << shown;
    EXPECT_NE(r.err.find("Try 'swelox-cli --help'"), std::string::npos) << shown;
  }
  EXPECT_EQ(RunCli({"--help"}).exitCode, 0);
}

}  // namespace
}  // namespace swelox
