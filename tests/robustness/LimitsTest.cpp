// swelox-cli at the limits of the process: file lists that fill the memory, too few file
// descriptors for the workers, progressive files whose scans would cost many decodes, and runs
// whose rows would pile up with the number of files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <thread>

#include "analysis/ImageAnalysis.h"
#include "imaging/JpegDecoder.h"
#include "toolkit/CliRun.h"
#include "toolkit/JpegCraft.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using test::Bytes;
using test::CliResult;
using test::kHeader;
using test::kSanitized;
using test::kTryHelp;
using test::RunCli;
using test::TempDir;

void ExpectFinished(const CliResult& r) {
  EXPECT_FALSE(r.timedOut) << "swelox-cli did not finish in time";
  EXPECT_EQ(r.signal, 0) << "swelox-cli died of signal " << r.signal << "\n" << r.err;
}

// ---- File lists that fill the memory ---------------------------------------------------------

// Writes "photo.jpg\n" into a pipe until its reader has gone; the child reads the other end as
// /dev/fd/N, so the list never ends.
class EndlessList {
 public:
  EndlessList() {
    if (::pipe(fds_) != 0) throw std::runtime_error("pipe");
    writer_ = std::thread([this] {
      // SIGPIPE blocked in this thread alone: a write to a pipe without reader fails with EPIPE.
      sigset_t pipeSignal;
      sigemptyset(&pipeSignal);
      sigaddset(&pipeSignal, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
      std::string block;
      while (block.size() < 65536) block += "photo.jpg\n";
      while (!done_ && ::write(fds_[1], block.data(), block.size()) > 0) {
      }
    });
  }
  ~EndlessList() {
    done_ = true;
    ::close(fds_[0]);  // the writer's next write fails
    writer_.join();
    ::close(fds_[1]);
  }
  std::string path() const { return "/dev/fd/" + std::to_string(fds_[0]); }

 private:
  int fds_[2] = {-1, -1};
  std::atomic<bool> done_ = false;
  std::thread writer_;
};

// An endless list (what `yes photo.jpg | swelox-cli --files-from -` gives) ends, once memory
// runs out, in the list's usage error, not in an abort. A list of 1.2 million names, which held
// as a string each would take more than the address space allowed, fits.
TEST(FileLists, FillingTheMemoryIsAUsageErrorAndLongListsFit) {
  if (kSanitized) GTEST_SKIP() << "address-space limits do not apply under sanitizers";
  constexpr rlim_t kAddressSpace = 160 << 20;
  {
    EndlessList list;
    const CliResult r = RunCli({"--files-from", list.path()}, 60, std::nullopt, std::nullopt,
                               {{RLIMIT_AS, kAddressSpace}});
    ExpectFinished(r);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "swelox-cli: cannot read the file list '" + list.path() +
                         "': Cannot allocate memory\n" + kTryHelp);
    EXPECT_EQ(r.out, "");
  }

  TempDir dir;
  const std::string prefix = dir.File("a-folder-that-is-not-there/");
  std::string names;
  constexpr int kNames = 1200000;
  for (int k = 0; k < kNames; ++k) {
    std::string number = std::to_string(k);
    names += prefix + std::string(10 - number.size(), '0') + number + "-photo.jpg\n";
  }
  const std::string listPath = dir.File("names.txt");
  test::WriteBytes(listPath, Bytes(names.begin(), names.end()));
  const CliResult r = RunCli({"--files-from", listPath}, 60, std::nullopt, std::nullopt,
                             {{RLIMIT_AS, kAddressSpace}});
  ExpectFinished(r);
  // The first name is tried, and the run ends on it: every name was read.
  const std::string first = prefix + "0000000000-photo.jpg";
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(test::Lines(r.err).size(), 1u) << r.err;
  EXPECT_TRUE(r.err.ends_with("Cannot open file \"" + first + "\". No such file or directory.\n"))
      << r.err;
}

// ---- Too few file descriptors ----------------------------------------------------------------

// The descriptor limit that leaves the tool `free` descriptors: it has the standard streams and
// whatever this process leaves open across exec.
rlim_t LimitLeaving(int free) {
  std::vector<int> used = {0, 1, 2};
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(entry.path().filename().string());
    const int flags = ::fcntl(fd, F_GETFD);
    if (fd > 2 && flags >= 0 && (flags & FD_CLOEXEC) == 0) used.push_back(fd);
  }
  rlim_t limit = 3;
  auto freeBelow = [&](rlim_t n) {
    return static_cast<int>(n) -
           static_cast<int>(std::count_if(used.begin(), used.end(),
                                          [&](int fd) { return fd < static_cast<int>(n); }));
  };
  while (freeBelow(limit) < free) ++limit;
  return limit;
}

// With two descriptors beside the standard streams (`ulimit -n 5`), only two photos can be open at
// once: more workers open more, and a photo that found no descriptor is analysed again alone, so
// the rows are those of one job.
TEST(Descriptors, APhotoThatFoundNoneIsAnalysedAgainAlone) {
  // UndefinedBehaviorSanitizer's type checks read memory through a pipe: with no descriptor left
  // they take sound objects for bad ones.
  if (kSanitized) GTEST_SKIP() << "the sanitizers need descriptors of their own";
  const rlim_t limit = LimitLeaving(2);
  std::vector<std::string> arguments = {"-k"};
  for (int k = 0; k < 2; ++k) {
    for (const char* name : {"infinite-sea.jpg", "by-the-water.jpg", "evening-glow-lake.jpg",
                             "darkest-hour-lake.jpg"}) {
      arguments.push_back(std::string(SWELOX_EXAMPLES) + "/" + name);
    }
  }
  arguments.push_back("-j1");
  const CliResult alone =
      RunCli(arguments, 60, std::nullopt, std::nullopt, {{RLIMIT_NOFILE, limit}});
  ASSERT_EQ(alone.exitCode, 0) << alone.err;
  ASSERT_EQ(test::Lines(alone.out).size(), 9u);
  for (const char* jobs : {"-j2", "-j4"}) {
    arguments.back() = jobs;
    const CliResult r = RunCli(arguments, 60, std::nullopt, std::nullopt, {{RLIMIT_NOFILE, limit}});
    ExpectFinished(r);
    EXPECT_EQ(r.exitCode, 0) << jobs;
    EXPECT_EQ(r.err, "") << jobs;
    EXPECT_EQ(r.out, alone.out) << jobs;
  }
}

// ---- The work of progressive scans -----------------------------------------------------------

// A greyscale progressive header of `size` x `size` pixels with a DC scan and `acScans` AC scans,
// all without data: each scan costs a pass over every block and changes nothing.
Bytes EmptyScans(uint16_t size, int acScans) {
  Bytes jpeg = test::GreyClaim(size, size, "-grayscale -progressive");
  const test::Segment dcScan = test::HeaderSegments(jpeg).back();
  const uint8_t component = jpeg[dcScan.start + 5];
  // An AC table of one code, end of block.
  const Bytes acTable = {0xFF, 0xC4, 0, 20, 0x10, 1, 0, 0, 0, 0, 0,
                         0,    0,    0, 0,  0,    0, 0, 0, 0, 0, 0};
  jpeg.insert(jpeg.end(), acTable.begin(), acTable.end());
  const Bytes acScan = {0xFF, 0xDA, 0, 8, 1, component, 0x00, 1, 63, 0};
  for (int k = 0; k < acScans; ++k) jpeg.insert(jpeg.end(), acScan.begin(), acScan.end());
  jpeg.push_back(0xFF);
  jpeg.push_back(0xD9);
  return jpeg;
}

std::string RowOrError(const std::string& path) {
  try {
    return AnalyseFileRow(path, {"15", "12"}, Direction::Below);
  } catch (const Error& e) {
    return std::string("error: ") + e.what();
  }
}

// The scans of a file may pass over its blocks 16 times together (the DC scan counts as one), or
// over 2^20 blocks in all when that is more: beyond, the file is refused before those scans are
// decoded, so 250 scans over a picture of 4096 x 4096 cost less than one more decode of it, where
// they used to cost several. Small pictures may have as many scans as the scan count allows.
TEST(ScanWork, IsBoundedByTheBlocksOfThePicture) {
  TempDir dir;
  const std::string refused =
      "error: JPEG files whose scans pass over the picture more than 16 times are not supported";
  auto timed = [&](const std::string& name, const Bytes& jpeg) {
    const std::string path = dir.File(name);
    test::WriteBytes(path, jpeg);
    const auto start = std::chrono::steady_clock::now();
    const std::string result = RowOrError(path);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::cout << name << ": " << took.count() << " s\n";
    return std::make_pair(result, took.count());
  };
  const auto [oneScan, oneScanSeconds] = timed("one-scan.jpg", EmptyScans(4096, 0));
  ASSERT_EQ(oneScan.rfind("4094\t4094\t15\t12\t", 0), 0u) << oneScan;
  const std::string rowStart = oneScan.substr(0, oneScan.rfind('\t') + 1);
  const struct {
    uint16_t size;
    int acScans;
    bool decodes;
  } cases[] = {
      {4096, 15, true},    // 16 passes
      {4096, 16, false},   // 17
      {4096, 250, false},  // 251
      {256, 250, true},    // 251 passes over 1024 blocks: within the 2^20 blocks
  };
  for (const auto& c : cases) {
    const std::string name = std::to_string(c.size) + "-" + std::to_string(c.acScans) + ".jpg";
    const auto [result, seconds] = timed(name, EmptyScans(c.size, c.acScans));
    if (!c.decodes) {
      EXPECT_EQ(result, refused) << name;
      EXPECT_LT(seconds, oneScanSeconds + 2) << name;
    } else if (c.size == 4096) {
      EXPECT_EQ(result, rowStart + name) << name;
    } else {
      EXPECT_EQ(result.rfind("254\t254\t15\t12\t", 0), 0u) << name << ": " << result;
    }
  }
}

// ---- Rows of later runs ----------------------------------------------------------------------

// Every file is decoded once for all its runs, but each run shows all its files before the next:
// the rows of the later runs wait, beyond a small bound in a temporary file, so peak memory does
// not grow with the number of files, and every run's rows and messages still come in the files'
// order. 20,000 hard links to one small photo, with a missing file among them, against 5,000.
TEST(Repeats, MemoryIsFlatInTheFileCountAndEveryRunKeepsItsOrder) {
  TempDir dir;
  const std::string photo =
      test::EncodeWithCjpeg(dir, "photo.jpg", test::RandomRaster(40, 30, 3, true));
  const CliResult single = RunCli({"--repeats", "8", photo});
  ASSERT_EQ(single.exitCode, 0) << single.err;
  const std::vector<std::string> runRows = test::Lines(single.out);
  ASSERT_EQ(runRows.size(), 10u);

  std::filesystem::create_directory(dir.File("links"));
  constexpr int kMissingAt = 500;
  std::vector<std::string> names;
  for (int k = 0; k < 20000; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "%05d.jpg", k);
    names.push_back(name);
    if (k != kMissingAt)
      std::filesystem::create_hard_link(photo, dir.File("links/" + names.back()));
  }
  // A child's peak memory includes this process's as it forks: nothing large is held then.
  std::map<size_t, long> peakRssKb;
  for (const size_t count : {size_t{5000}, names.size()}) {
    const std::string listPath = dir.File("list" + std::to_string(count));
    {
      std::string list;
      for (size_t k = 0; k < count; ++k) list += dir.File("links/" + names[k]) + "\n";
      test::WriteBytes(listPath, Bytes(list.begin(), list.end()));
    }
    const CliResult r = RunCli({"-k", "-j2", "--repeats", "8", "--files-from", listPath}, 120);
    ExpectFinished(r);
    EXPECT_EQ(r.exitCode, 1) << count;
    std::string expectedOut = kHeader, expectedErr;
    for (size_t run = 1; run < runRows.size(); ++run) {
      const std::string& row = runRows[run];
      const std::string start = row.substr(0, row.rfind('\t') + 1);
      for (size_t k = 0; k < count; ++k) {
        if (k != kMissingAt) expectedOut += start + names[k] + "\n";
      }
      const std::string missing = dir.File("links/" + names[kMissingAt]);
      expectedErr += "swelox-cli: " + missing + ": Cannot open file \"" + missing +
                     "\". No such file or directory.\n";
    }
    EXPECT_TRUE(r.out == expectedOut) << count << " files: the rows differ";
    EXPECT_EQ(r.err, expectedErr) << count;
    std::cout << count << " files, 9 runs: " << r.seconds << " s, peak RSS " << r.peakRssKb
              << " kB\n";
    peakRssKb[count] = r.peakRssKb;
  }
  if (!kSanitized) {
    // The names themselves take about 50 bytes a file, and the workers may run up to 4 MiB of
    // rows ahead of the output, which the smaller run reaches or not as the machine is loaded;
    // each extra file used to add about 1.3 kB with 8 repeats, 20 MB in all.
    EXPECT_LT(peakRssKb[names.size()], peakRssKb[5000] + 6 * 1024);
  }
}

// ---- A reader that goes away ----------------------------------------------------------------

// `swelox-cli ... | head -1`: once the reader has gone the next row ends the tool at once by
// SIGPIPE, silently, as it ends GNU tools; where SIGPIPE is ignored, the write fails as any other
// does, with a message and status 1. Either way the photos after the first few are not decoded.
TEST(ClosedPipe, EndsTheRunBySigpipeOrWithTheWriteError) {
  std::vector<std::string> texts = {SWELOX_CLI, "-j1"};
  for (int k = 0; k < 200; ++k) texts.push_back(std::string(SWELOX_EXAMPLES) + "/infinite-sea.jpg");
  std::vector<char*> argv;
  for (std::string& t : texts) argv.push_back(t.data());
  argv.push_back(nullptr);
  for (const bool ignored : {false, true}) {
    SCOPED_TRACE(ignored ? "SIGPIPE ignored" : "SIGPIPE as it comes");
    TempDir dir;
    const std::string errPath = dir.File("err");
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    const auto start = std::chrono::steady_clock::now();
    struct rusage usage {};
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // Only calls that are safe between fork and exec.
      const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int in = ::open("/dev/null", O_RDONLY);
      if (err < 0 || in < 0 || ::dup2(in, 0) < 0 || ::dup2(out[1], 1) < 0 || ::dup2(err, 2) < 0) {
        ::_exit(127);
      }
      ::signal(SIGPIPE, ignored ? SIG_IGN : SIG_DFL);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    std::string first;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') first += c;
    ::close(out[0]);  // the reader goes
    int status = 0;
    while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
      if (std::chrono::steady_clock::now() - start > std::chrono::seconds(60)) ::kill(pid, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    const double cpuSeconds =
        static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    EXPECT_EQ(first, kHeaderLine);
    const Bytes err = test::ReadBytes(errPath);
    if (ignored) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
      EXPECT_EQ(std::string(err.begin(), err.end()),
                "swelox-cli: cannot write the results: Broken pipe.\n");
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << status;
      EXPECT_EQ(std::string(err.begin(), err.end()), "");
    }
    // 200 decodes of the 4096 x 1150 photo take about 2 s of processor time.
    EXPECT_LT(cpuSeconds, 0.5) << "the photos after the first few were decoded";
  }
}

}  // namespace
}  // namespace swelox
