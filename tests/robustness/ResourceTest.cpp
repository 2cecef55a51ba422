// Memory, threads and terminals under a hostile user and a busy machine: files far larger than
// their pictures, pictures whose decodes together would exhaust memory, too few threads to be
// had, files that change while read, and names made to drive a terminal.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <iostream>
#include <thread>

#include "analysis/ImageAnalysis.h"
#include "imaging/FileReading.h"
#include "imaging/JpegDecoder.h"
#include "imaging/MemoryBudget.h"
#include "toolkit/CliRun.h"
#include "toolkit/JpegCraft.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using test::Bytes;
using test::CliResult;
using test::kHeader;
using test::kSanitized;
using test::RunCli;
using test::TempDir;

constexpr long kSmallRssKb = 64 * 1024;

std::string Sample(const char* name) { return std::string(SWELOX_EXAMPLES) + "/" + name; }

void ExpectFinished(const CliResult& r) {
  EXPECT_FALSE(r.timedOut) << "swelox-cli did not finish in time";
  EXPECT_EQ(r.signal, 0) << "swelox-cli died of signal " << r.signal << "\n" << r.err;
}

void Report(const std::string& what, const CliResult& r) {
  std::cout << what << ": " << r.seconds << " s, peak RSS " << r.peakRssKb / 1024 << " MB\n";
}

// ---- Files much larger than their pictures ---------------------------------------------------

// Neither a file of zeros of 6 GB nor a photo padded to 4 GB is read whole: the first is refused
// on its first bytes, the second is done at its end-of-image marker.
TEST(LargeFiles, AreReadOnlyAsFarAsTheDecoderNeeds) {
  TempDir dir;
  const std::string zeros = dir.File("zeros.jpg");
  test::WriteBytes(zeros, {});
  std::filesystem::resize_file(zeros, 6ull << 30);
  CliResult r = RunCli({zeros}, 60);
  ExpectFinished(r);
  Report("6 GB of zeros", r);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, kHeader);
  EXPECT_EQ(r.err,
            "swelox-cli: " + zeros + ": JPEG error #53: Not a JPEG file: starts with 0x00 0x00.\n");
  EXPECT_LT(r.seconds, 10);
  if (!kSanitized) {
    EXPECT_LT(r.peakRssKb, kSmallRssKb);
  }

  std::filesystem::create_directory(dir.File("padded"));
  const std::string padded = dir.File("padded/infinite-sea.jpg");
  std::filesystem::copy_file(Sample("infinite-sea.jpg"), padded);
  std::filesystem::resize_file(padded, 4ull << 30);
  const CliResult plain = RunCli({Sample("infinite-sea.jpg")});
  r = RunCli({padded}, 60);
  ExpectFinished(r);
  Report("photo padded to 4 GB", r);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, plain.out);
  if (!kSanitized) {
    EXPECT_LT(r.peakRssKb, kSmallRssKb);
  }
}

// Bytes that arrive after the file was opened are never read; a file that shrinks while it is
// decoded ends the decode with "Stream read error", not with a crash.
TEST(ChangingFiles, AreReadAsTheyWereWhenOpened) {
  TempDir dir;
  const Bytes photo = test::ReadBytes(
      test::EncodeWithCjpeg(dir, "p.jpg", test::RandomRaster(300, 200, 5, true), "-progressive"));
  struct Rows : RgbRowSink {
    void Begin(int32_t, int32_t) override {}
    void Row(const uint8_t* rgb) override { bytes.insert(bytes.end(), rgb, rgb + 300 * 3); }
    Bytes bytes;
  };
  auto decodeBytes = [](const Bytes& data) {
    Rows rows;
    DecodeJpeg(data, rows);
    return rows.bytes;
  };

  const std::string path = dir.File("changing.jpg");
  const Bytes cut = test::Prefix(photo, photo.size() / 2);
  test::WriteBytes(path, cut);
  {
    PictureFile file(path);
    test::WriteBytes(path, photo);  // the rest arrives: too late for this reader
    Rows rows;
    DecodeJpeg(file, rows);
    EXPECT_EQ(rows.bytes, decodeBytes(cut));
  }
  {
    PictureFile file(path);
    std::filesystem::resize_file(path, photo.size() / 3);
    Rows rows;
    std::string message = "no error";
    try {
      DecodeJpeg(file, rows);
    } catch (const Error& e) {
      message = e.what();
    }
    EXPECT_EQ(message, kStreamReadError);
  }
}

// ---- The memory budget -----------------------------------------------------------------------

TEST(MemoryBudget, ServesRequestsInOrderAndCapsThemAtTheWhole) {
  MemoryBudget budget(10);
  EXPECT_EQ(budget.Take(25), 10u);  // more than the whole: the whole
  budget.Give(10);
  EXPECT_EQ(budget.Take(6), 6u);

  std::atomic<bool> largeServed = false, smallServed = false;
  std::thread large([&] {
    budget.Take(8);
    largeServed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // 2 bytes would fit now, but the request for 8 came first.
  std::thread small([&] {
    budget.Take(2);
    smallServed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(largeServed);
  EXPECT_FALSE(smallServed);
  budget.Give(6);
  large.join();
  small.join();
  EXPECT_TRUE(largeServed && smallServed);
  EXPECT_EQ(budget.taken(), 10u);
}

// A progressive picture of 2000 x 2000 pixels with no scan data: its coefficient store takes
// 24 MB, all touched while the missing data is filled in.
Bytes ProgressiveClaim(uint16_t size) {
  return test::GreyClaim(size, size, "-progressive -sample 1x1");
}

TEST(MemoryBudget, DecodesThatDoNotFitTogetherTakeTurns) {
  const Bytes claim = ProgressiveClaim(2000);
  constexpr size_t kNeed = size_t{2000} * 2000 / 64 * 128 * 3;
  MemoryBudget budget(kNeed * 3 / 2);

  // A picture is in progress from its Begin to its last row, within its reservation.
  struct Counting : RgbRowSink {
    Counting(std::atomic<int>& activeCount, std::atomic<int>& mostCount)
        : active(activeCount), most(mostCount) {}
    void Begin(int32_t, int32_t height) override {
      rowsLeft = height;
      const int now = ++active;
      int seen = most.load();
      while (now > seen && !most.compare_exchange_weak(seen, now)) {
      }
    }
    void Row(const uint8_t*) override {
      if (--rowsLeft == 0) --active;
    }
    std::atomic<int>& active;
    std::atomic<int>& most;
    int32_t rowsLeft = 0;
  };
  std::atomic<int> active = 0, most = 0;
  std::vector<std::thread> threads;
  for (int k = 0; k < 3; ++k) {
    threads.emplace_back([&] {
      Counting sink(active, most);
      DecodeJpeg(claim, sink, {.budget = budget});
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(most.load(), 1);
  EXPECT_EQ(budget.taken(), 0u);

  // A picture that needs more than the whole budget takes all of it and decodes as before.
  MemoryBudget tiny(1024);
  Counting sink(active, most);
  DecodeJpeg(claim, sink, {.budget = tiny});
  EXPECT_EQ(sink.rowsLeft, 0);
  EXPECT_EQ(tiny.taken(), 0u);
}

// Pictures of 13800 x 13800 pixels whose first scan has no data and whose second is invalid:
// libjpeg fills and so touches 1.1 GB of coefficients for each, then fails. Two of them do not fit
// in the process's budget together, so four workers decode them one after the other.
TEST(MemoryBudget, WorkersDoNotMultiplyThePeakMemory) {
  TempDir dir;
  Bytes bomb = ProgressiveClaim(13800);
  Bytes secondScan(bomb.begin() + test::HeaderSegments(bomb).back().start, bomb.end());
  secondScan[6 + 2 * secondScan[4]] = 5;  // a DC scan must end at coefficient 0
  bomb.insert(bomb.end(), secondScan.begin(), secondScan.end());
  const std::string a = dir.File("a.jpg"), b = dir.File("b.jpg");
  test::WriteBytes(a, bomb);
  test::WriteBytes(b, bomb);

  const CliResult one = RunCli({"-k", "-j", "1", a}, 300);
  const CliResult four = RunCli({"-k", "-j", "4", a, b}, 300);
  ExpectFinished(one);
  ExpectFinished(four);
  Report("one 1.1 GB claim", one);
  Report("two 1.1 GB claims, -j 4", four);
  EXPECT_EQ(one.out, kHeader);
  EXPECT_EQ(four.out, kHeader);
  const std::string message =
      ": JPEG error #16: Invalid progressive parameters Ss=0 Se=5 Ah=0 Al=1.\n";
  EXPECT_EQ(one.err, "swelox-cli: " + a + message);
  EXPECT_EQ(four.err, "swelox-cli: " + a + message + "swelox-cli: " + b + message);
  if (!kSanitized) {
    EXPECT_GT(one.peakRssKb, 1000 * 1024);  // the claim did take its memory
    EXPECT_LT(four.peakRssKb, one.peakRssKb * 3 / 2);
  }
}

// A photo with `count` APP1 segments of 64 KiB after its start marker, each beginning as EXIF data
// does; the first holds a capture time. Written a segment at a time.
std::string WriteApp1Flood(const TempDir& dir, const std::string& name, size_t count) {
  const Bytes photo = test::ReadBytes(Sample("by-the-water.jpg"));
  const std::string path = dir.File(name);
  std::FILE* out = std::fopen(path.c_str(), "wb");
  EXPECT_NE(out, nullptr);
  Bytes segment = {0xFF, 0xE1, 0xFF, 0xFF, 'E', 'x', 'i', 'f', 0, 0};
  segment.resize(2 + 0xFFFF, 0x11);
  // TIFF, IFD0 with the Exif IFD pointer, the Exif IFD with DateTimeOriginal.
  const Bytes tiff = {'M', 'M', 0,    42,   0, 0, 0, 8,                      // header
                      0,   1,   0x87, 0x69, 0, 4, 0, 0, 0, 1,  0, 0, 0, 26,  // IFD0: one entry
                      0,   0,   0,    0,                                     // no IFD1
                      0,   1,   0x90, 0x03, 0, 2, 0, 0, 0, 20, 0, 0, 0, 44,  // Exif IFD
                      0,   0,   0,    0};
  std::copy(tiff.begin(), tiff.end(), segment.begin() + 10);
  const std::string date = "2026:07:14 09:31:07";
  std::copy(date.begin(), date.end(), segment.begin() + 10 + 44);
  segment[10 + 44 + 19] = 0;
  std::fwrite(photo.data(), 1, 2, out);
  for (size_t k = 0; k < count; ++k) std::fwrite(segment.data(), 1, segment.size(), out);
  std::fwrite(photo.data() + 2, 1, photo.size() - 2, out);
  EXPECT_EQ(std::fclose(out), 0);
  return path;
}

// Four photos of 128 MB of APP1 segments, with the capture time read: one segment is kept of
// each, within the memory budget, so four workers take about the memory of one, and that is
// about what the photo takes without its segments.
TEST(MemoryBudget, App1SegmentsKeptForTheTimeAreBounded) {
  TempDir dir;
  std::vector<std::string> arguments = {"--columns=time", "-j", "1"};
  for (int k = 0; k < 4; ++k) {
    arguments.push_back(WriteApp1Flood(dir, "flood" + std::to_string(k) + ".jpg", 2048));
  }
  const CliResult plain = RunCli({"--columns=time", Sample("by-the-water.jpg")});
  const CliResult one = RunCli(arguments, 300);
  arguments[2] = "4";
  const CliResult four = RunCli(arguments, 300);
  ExpectFinished(one);
  ExpectFinished(four);
  Report("the photo alone", plain);
  Report("four photos of 128 MB of APP1 segments, -j 1", one);
  Report("the same, -j 4", four);
  EXPECT_EQ(one.exitCode, 0) << one.err;
  EXPECT_EQ(four.out, one.out);
  const std::vector<std::string> lines = test::Lines(one.out);
  ASSERT_EQ(lines.size(), 5u);
  for (size_t k = 1; k < lines.size(); ++k) {
    EXPECT_EQ(lines[k].substr(lines[k].rfind('\t') + 1), "2026-07-14T09:31:07");
  }
  if (!kSanitized) {
    EXPECT_LT(one.peakRssKb, plain.peakRssKb + 16 * 1024);
    EXPECT_LT(four.peakRssKb, one.peakRssKb * 11 / 10 + 8 * 1024);
  }
}

// ---- Threads ---------------------------------------------------------------------------------

// Under a small address-space limit only some of the 16 workers' stacks can be had, and what is
// left may not hold several pictures at once; the run goes on with the workers that started, a
// file that ran out of memory beside others is analysed again alone, and the rows are those of a
// single worker.
TEST(Threads, ThoseThatCannotStartAreDoneWithout) {
  if (kSanitized) GTEST_SKIP() << "address-space limits do not apply under sanitizers";
  std::vector<std::string> arguments = {"-j", "1"};
  for (int k = 0; k < 4; ++k) {
    for (const char* name : {"by-the-water.jpg", "infinite-sea.jpg", "evening-glow-lake.jpg",
                             "darkest-hour-lake.jpg", "summer-night-lake.jpg"}) {
      arguments.push_back(Sample(name));
    }
  }
  const CliResult alone = RunCli(arguments);
  ASSERT_EQ(alone.exitCode, 0) << alone.err;
  arguments[1] = "16";
  for (const rlim_t megabytes : {64, 128}) {
    const CliResult limited =
        RunCli(arguments, 120, std::nullopt, std::nullopt, {{RLIMIT_AS, megabytes * 1024 * 1024}});
    ExpectFinished(limited);
    EXPECT_EQ(limited.exitCode, 0) << megabytes << " MB: " << limited.err;
    EXPECT_EQ(limited.err, "") << megabytes << " MB";
    EXPECT_EQ(limited.out, alone.out) << megabytes << " MB";
  }
}

// An address space of 15,000 KB holds no thread with the C library's default stack of 8 MiB:
// the thread that waits for Ctrl+C and the workers take small stacks, or the run goes on without
// them, so one file, or several with -j 1 or -j 4, still give their rows.
TEST(Threads, ATinyAddressSpaceStillGivesTheRows) {
  if (kSanitized) GTEST_SKIP() << "address-space limits do not apply under sanitizers";
  const std::string photo = Sample("by-the-water.jpg");
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{photo},
                                                    {"-j", "1", photo, photo, photo},
                                                    {"-j", "4", photo, photo, photo}}) {
    SCOPED_TRACE(arguments.front());
    const CliResult alone = RunCli(arguments);
    ASSERT_EQ(alone.exitCode, 0) << alone.err;
    const CliResult limited =
        RunCli(arguments, 60, std::nullopt, std::nullopt, {{RLIMIT_AS, 15000 * 1024}});
    ExpectFinished(limited);
    EXPECT_EQ(limited.exitCode, 0);
    EXPECT_EQ(limited.err, "");
    EXPECT_EQ(limited.out, alone.out);
  }
}

// ---- Names that would drive a terminal -------------------------------------------------------

// C0 and C1 controls, and bytes of no UTF-8 character (0x9B alone is the 8-bit CSI, 0x85 NEL),
// are escaped in the Pic and Path columns and in the messages; printable UTF-8 is not.
TEST(ControlBytes, InNamesAreEscapedInRowsAndMessages) {
  TempDir dir;
  const std::string shown = dir.File(
      "esc\x1b[31mred\x7f\xC2\x9B"
      "2J\x9B"
      "3J\x85\xFF\xC3\xA9.jpg");
  std::filesystem::copy_file(Sample("infinite-sea.jpg"), shown);
  const std::string missing = dir.File(
      "gone\x1b]0;title\x07\x01\xC2\x9D"
      "0;t\xC2\x9C\x9B"
      "1m\xE2\x82.jpg");
  const CliResult plain = RunCli({Sample("infinite-sea.jpg")});
  const CliResult r = RunCli({"-k", "--columns=path", shown, missing});
  ExpectFinished(r);
  EXPECT_EQ(r.exitCode, 1);
  const std::string row = test::Lines(plain.out).at(1);
  const std::string escapedName = "esc\\x1B[31mred\\x7F\\xC2\\x9B2J\\x9B3J\\x85\\xFF\xC3\xA9.jpg";
  EXPECT_EQ(r.out, kHeader.substr(0, kHeader.size() - 1) + "\tPath\n" +
                       row.substr(0, row.rfind('\t') + 1) + escapedName + "\t" +
                       dir.File(escapedName) + "\n");
  const std::string escapedPath =
      dir.File("gone\\x1B]0;title\\x07\\x01\\xC2\\x9D0;t\\xC2\\x9C\\x9B1m\\xE2\\x82.jpg");
  EXPECT_EQ(r.err, "swelox-cli: " + escapedPath + ": Cannot open file \"" + escapedPath +
                       "\". No such file or directory.\n");
}

}  // namespace
}  // namespace swelox
