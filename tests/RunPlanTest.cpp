// Runs over file lists: the growth rule, the captions, and the batch runner (decode once, files
// in parallel) against a plain run-by-run, file-by-file loop; and swelox-cli as a user calls it.
#include <gtest/gtest.h>

#include "analysis/BatchRun.h"
#include "analysis/ImageAnalysis.h"
#include "core/IntegerText.h"
#include "tests/TestImages.h"
#include "tests/robustness/CliRun.h"

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
    if (IncrementsForbidGrowth(s.widthIncrement, s.heightIncrement)) s.loops = "0";
    const int32_t loops = ParseInteger(s.loops);
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
  options.settings.loops = "0";
  Batch(options, 1, 32, &captions);
  EXPECT_EQ(captions, (std::vector<std::string>{"1 of 3", "2 of 3", "3 of 3"}));
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

  r = RunCli({"--width=abc", a});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, std::string(kHeaderLine) + "\n");
  EXPECT_EQ(r.err, "swelox-cli: 'abc' is not a valid integer value.\n");

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
