// One way to stop: a stop request ends a decode from inside libjpeg, ends a batch run without
// opening another file, and SIGINT or SIGTERM end swelox-cli with the rows written so far whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "analysis/BatchRun.h"
#include "analysis/ImageAnalysis.h"
#include "imaging/JpegDecoder.h"
#include "toolkit/JpegCraft.h"
#include "toolkit/OpenWatch.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A few hundred bytes that decode for tens of seconds: a grey picture of 65500 x 65500 pixels
// whose scan data libjpeg fills in itself.
const test::Bytes& SlowPicture() {
  static const test::Bytes bytes = test::GreyClaim(65500, 65500);
  return bytes;
}

std::vector<uint8_t> ReadBytesOf(const std::string& path) { return test::ReadBytes(path); }

class CountingSink : public RgbRowSink {
 public:
  void Begin(int32_t, int32_t) override {}
  void Row(const uint8_t*) override { ++rows; }
  std::atomic<int64_t> rows = 0;
};

// The stop comes while rows are being decoded, on another thread; the decode ends within 0.2 s.
TEST(Stop, EndsADecodeFromInside) {
  for (const bool fromFile : {false, true}) {
    SCOPED_TRACE(fromFile ? "read from a file" : "held in memory");
    test::TempDir dir;
    const std::string path = dir.File("slow.jpg");
    test::WriteBytes(path, SlowPicture());
    std::stop_source stop;
    CountingSink sink;
    auto decode = std::async(std::launch::async, [&] {
      if (fromFile) {
        PictureFile file(path);
        DecodeJpeg(file, sink, {.stop = stop.get_token()});
      } else {
        DecodeJpeg(SlowPicture(), sink, {.stop = stop.get_token()});
      }
    });
    while (sink.rows < 100) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto asked = Clock::now();
    stop.request_stop();
    ASSERT_EQ(decode.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_LT(SecondsSince(asked), 0.2);
    EXPECT_THROW(decode.get(), DecodeStopped);
    EXPECT_LT(sink.rows, 65500);
  }
}

// Remembers what reached it, and asks for the stop when the caption of `stopAt` comes.
class Recorder : public BatchListener {
 public:
  void Line(const std::string& line) override { lines.push_back(line); }
  void Progress(const std::string& caption) override { captions.push_back(caption); }
  void FileFailed(const std::string& path, const Error&) override { failed.push_back(path); }
  std::vector<std::string> lines, captions, failed;
};

// Stopped while every job is inside a slow decode: the first file's row stays, the file after
// the slow ones is never opened, and the run ends at once, with one job or several.
TEST(Stop, EndsABatchInsideADecode) {
  test::TempDir dir;
  const std::string good = test::EncodeWithCjpeg(dir, "good.jpg", test::RandomRaster(64, 48, 7));
  for (const int jobs : {1, 2, 3}) {
    SCOPED_TRACE("jobs " + std::to_string(jobs));
    std::vector<std::string> files = {good};
    for (int k = 0; k < jobs; ++k) {
      files.push_back(dir.File("slow" + std::to_string(k) + ".jpg"));
      test::WriteBytes(files.back(), SlowPicture());
    }
    files.push_back(dir.File("next.jpg"));
    test::WriteBytes(files.back(), ReadBytesOf(good));
    BatchOptions options{RunSettings{}, files};
    options.jobs = jobs;
    std::stop_source stop;
    options.stop = stop.get_token();
    Recorder recorder;
    test::OpenWatch watch(dir.path().string());
    auto run = std::async(std::launch::async, [&] { return RunBatch(options, recorder); });
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ASSERT_EQ(run.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    const auto asked = Clock::now();
    stop.request_stop();
    ASSERT_EQ(run.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_LT(SecondsSince(asked), 0.2);
    const BatchResult result = run.get();
    EXPECT_TRUE(result.stopped);
    EXPECT_FALSE(result.fatal);
    EXPECT_EQ(recorder.lines,
              (std::vector<std::string>{kHeaderLine,
                                        AnalyseFileRow(good, {"15", "12"}, Direction::Below)}));
    const std::string count = std::to_string(files.size());
    EXPECT_EQ(recorder.captions, (std::vector<std::string>{"1 of " + count, "2 of " + count}));
    EXPECT_TRUE(recorder.failed.empty());
    const std::vector<std::string> opened = watch.Take();
    EXPECT_EQ(std::count(opened.begin(), opened.end(), "next.jpg"), 0);
    EXPECT_EQ(std::count(opened.begin(), opened.end(), "slow0.jpg"), 1);
  }
}

// The file whose error ended a run is named with the error; a settings error names none.
TEST(Stop, FatalErrorNamesItsFile) {
  test::TempDir dir;
  const std::string good = test::EncodeWithCjpeg(dir, "good.jpg", test::RandomRaster(64, 48, 7));
  const std::string bad = dir.File("bad.jpg");
  test::WriteBytes(bad, test::ToBytes("not a picture"));
  Recorder recorder;
  BatchResult result = RunBatch(BatchOptions{RunSettings{}, {good, bad, good}}, recorder);
  ASSERT_TRUE(result.fatal);
  EXPECT_EQ(result.fatalFile, bad);
  RunSettings settings;
  settings.repeats = "x";
  result = RunBatch(BatchOptions{settings, {good}}, recorder);
  ASSERT_TRUE(result.fatal);
  EXPECT_EQ(result.fatalFile, "");
}

// swelox-cli gets SIGINT or SIGTERM inside the slow decode of its second file: it ends within a
// second, by the signal, and its standard output holds the header and the first row, whole.
TEST(Stop, SignalsEndTheBatchToolWithItsRowsWritten) {
  test::TempDir dir;
  const std::string good = test::EncodeWithCjpeg(dir, "good.jpg", test::RandomRaster(64, 48, 7));
  const std::string slow = dir.File("slow.jpg");
  test::WriteBytes(slow, SlowPicture());
  const std::string expected =
      std::string(kHeaderLine) + "\n" + AnalyseFileRow(good, {"15", "12"}, Direction::Below) + "\n";
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      ::execl(SWELOX_CLI, "swelox-cli", good.c_str(), slow.c_str(), good.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buffer[4096];
    // The whole first row, then the signal.
    while (text.size() < expected.size()) {
      const ssize_t n = ::read(out[0], buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto sent = Clock::now();
    ::kill(child, signal);
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
      text.append(buffer, static_cast<size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_LT(SecondsSince(sent), 1.0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_EQ(text, expected);
  }
}

// Standard output a pipe that nobody reads (a pager paused, a terminal stopped by Ctrl+S): once
// the pipe is full, SIGINT or SIGTERM still end swelox-cli within a second, by the signal, and
// what the pipe holds then is whole rows.
TEST(Stop, SignalsEndTheBatchToolWhileNobodyReadsItsRows) {
  test::TempDir dir;
  const std::string good = test::EncodeWithCjpeg(dir, "good.jpg", test::RandomRaster(32, 24, 7));
  const std::string row = AnalyseFileRow(good, {"15", "12"}, Direction::Below);
  // With the caption, standard error is a second pipe that nobody reads, as a stopped terminal
  // holds up rows and caption alike.
  for (const auto& [signal, caption] :
       {std::pair{SIGINT, false}, std::pair{SIGTERM, false}, std::pair{SIGINT, true}}) {
    SCOPED_TRACE(std::string(signal == SIGINT ? "SIGINT" : "SIGTERM") +
                 (caption ? " with the caption" : ""));
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    int err[2];
    ASSERT_EQ(::pipe(err), 0);
    // 4000 rows are far more than a pipe holds.
    std::vector<std::string> arguments = {"swelox-cli", "-j", "1",
                                          caption ? "--progress" : "--no-progress"};
    for (int k = 0; k < 4000; ++k) arguments.push_back(good);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      if (caption) ::dup2(err[1], STDERR_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      ::close(err[0]);
      ::close(err[1]);
      ::execv(SWELOX_CLI, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    // The pipe fills within a fraction of a second; the tool then waits for a reader.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, WNOHANG), 0) << "it did not wait for the reader";
    const auto sent = Clock::now();
    ::kill(child, signal);
    pid_t ended = 0;
    while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && SecondsSince(sent) < 5) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const double took = SecondsSince(sent);
    if (ended == 0) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
    }
    EXPECT_LT(took, 1.0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    std::string text;
    char buffer[65536];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
      text.append(buffer, static_cast<size_t>(n));
    }
    ::close(out[0]);
    ::close(err[0]);
    ASSERT_GT(text.size(), 4096u);
    ASSERT_EQ(text.back(), '\n');
    std::string expected = std::string(kHeaderLine) + "\n";
    while (expected.size() < text.size()) expected += row + "\n";
    EXPECT_TRUE(text == expected) << "it ends with: " << text.substr(text.size() - 60);
  }
}

}  // namespace
}  // namespace swelox
