// swelox-cli --output as a season's table is kept: it only grows, a run killed at any moment and
// started again ends with the table of an uninterrupted run, a new day's photos are appended
// without opening the ones held, a table made otherwise is refused, and the descriptor beside it
// says what each row is worth and how the runs ended.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "analysis/GrowingTable.h"
#include "analysis/ImageAnalysis.h"
#include "analysis/TableFormat.h"
#include "core/Json.h"
#include "toolkit/CliRun.h"
#include "toolkit/JpegCraft.h"
#include "toolkit/OpenWatch.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using Clock = std::chrono::steady_clock;
using test::CliResult;
using test::RunCli;
using test::TempDir;

using test::ReadText;

// The descriptor without its times, which differ from run to run.
std::string Timeless(const std::string& descriptor) {
  std::istringstream lines(descriptor);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\"created\"") != std::string::npos ||
        line.find("\"started\"") != std::string::npos ||
        line.find("\"ended\"") != std::string::npos) {
      continue;
    }
    kept += line + "\n";
  }
  return kept;
}

const json::Value& At(const json::Value& value, std::initializer_list<const char*> keys) {
  const json::Value* v = &value;
  for (const char* key : keys) {
    v = v->Find(key);
    if (v == nullptr) throw std::runtime_error(std::string("no ") + key);
  }
  return *v;
}

json::Value Outcome(const std::string& descriptorPath) {
  return At(json::Parse(ReadText(descriptorPath)), {"swelox", "outcome"});
}

// swelox-cli started with its output thrown away.
pid_t Start(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  std::string program = SWELOX_CLI;
  argv.push_back(program.data());
  std::vector<std::string> copies = arguments;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return child;
}

int Wait(pid_t child) {
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

// The row that a growing table holds for `path` in `run` (from 0).
std::string TableRow(const std::string& path, const RectangleTexts& size, int run,
                     bool damaged = false, const std::string& extra = "") {
  const PhotoIdentity photo = IdentifyPhoto(path);
  return AnalyseFileRow(path, size, Direction::Below) + extra + "\t" + std::to_string(run + 1) +
         "\t" + photo.source + "\t" + photo.bytes + "\t" + photo.modified + "\t" +
         (damaged ? "true" : "false") + "\n";
}

const std::string kPhotoHeader =
    std::string(kHeaderLine) + "\tRun\tSource\tBytes\tModified\tDamaged\n";

// Five kill -9 at random moments, each of a run started again after the one before, and a last
// run to the end: the table and the descriptor (its times aside) are those of a run never
// interrupted.
TEST(OutputTable, KilledAtRandomMomentsAndStartedAgainEndsAsAnUninterruptedRun) {
  TempDir dir;
  // One photo large enough that a run takes about a second, under 40 names.
  const test::Bytes photo =
      test::ReadBytes(test::EncodeWithCjpeg(dir, "p.jpg", test::RandomRaster(2400, 1800, 1, true)));
  std::vector<std::string> files;
  for (int k = 0; k < 40; ++k) {
    files.push_back(dir.File("IMG_" + std::to_string(k) + ".jpg"));
    test::WriteBytes(files.back(), photo);
  }
  // One run, and three runs: a photo killed in a later run is decoded again for its missing rows.
  for (const int repeats : {0, 2}) {
    SCOPED_TRACE("--repeats=" + std::to_string(repeats));
    const std::string name = "r" + std::to_string(repeats);
    const auto command = [&](const std::string& table) {
      std::vector<std::string> arguments = {"--output",
                                            table,
                                            "--repeats=" + std::to_string(repeats),
                                            "-j1",
                                            "--columns=quality,time",
                                            "--sort=name"};
      arguments.insert(arguments.end(), files.begin(), files.end());
      return arguments;
    };
    const std::string whole = dir.File(name + "-whole.tsv");
    const auto start = Clock::now();
    const CliResult uninterrupted = RunCli(command(whole));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ASSERT_EQ(uninterrupted.exitCode, 0) << uninterrupted.err;
    ASSERT_EQ(test::Lines(ReadText(whole)).size(), 1 + size_t(repeats + 1) * files.size());

    const std::string table = dir.File(name + "-season.tsv");
    std::mt19937 random(std::random_device{}());
    std::uniform_real_distribution<double> moment(0.0, seconds);
    for (int kill = 0; kill < 5; ++kill) {
      const double at = moment(random);
      SCOPED_TRACE("killed after " + std::to_string(at) + " s of " + std::to_string(seconds));
      const pid_t child = Start(command(table));
      std::this_thread::sleep_for(std::chrono::duration<double>(at));
      ::kill(child, SIGKILL);
      Wait(child);
      std::printf("--repeats=%d, kill -9 after %.3f s of %.3f s: %zu lines in the table\n", repeats,
                  at, seconds, test::Lines(ReadText(table)).size());
    }
    const CliResult last = RunCli(command(table));
    EXPECT_EQ(last.exitCode, 0) << last.err;
    EXPECT_EQ(ReadText(table), ReadText(whole));
    const std::string descriptor = ReadText(dir.File(name + "-season.datapackage.json"));
    std::string expected = Timeless(ReadText(dir.File(name + "-whole.datapackage.json")));
    ASSERT_NE(expected.find("-whole\""), std::string::npos);
    // The names differ as the file names do.
    for (size_t at; (at = expected.find("-whole")) != std::string::npos;) {
      expected.replace(at, 6, "-season");
    }
    EXPECT_EQ(Timeless(descriptor), expected);
  }
}

// A record cut by a power cut (here by hand, mid-row) is removed when the table is next opened,
// and the row is written again whole; the photos of the rows before it are not measured again.
TEST(OutputTable, ACutRecordIsRemovedAndWrittenAgain) {
  TempDir dir;
  const std::string a = test::EncodeWithCjpeg(dir, "a.jpg", test::RandomRaster(60, 40, 1, true));
  // A name that CSV must quote, and whose quoted field must still identify the photo.
  const std::string b = dir.File("sea, \"calm\"\tday.jpg");
  std::filesystem::rename(test::EncodeWithCjpeg(dir, "b.jpg", test::RandomRaster(60, 40, 2, true)),
                          b);
  for (const char* name : {"t.tsv", "t.csv"}) {
    SCOPED_TRACE(name);
    const std::string table = dir.File(name);
    ASSERT_EQ(RunCli({"--output", table, a, b}).exitCode, 0);
    const std::string whole = ReadText(table);
    for (const size_t cut : {size_t{1}, size_t{2}, size_t{30}}) {
      test::WriteBytes(table, test::ToBytes(whole.substr(0, whole.size() - cut)));
      test::OpenWatch watch(dir.path().string());
      const CliResult again = RunCli({"--output", table, a, b});
      EXPECT_EQ(again.exitCode, 0) << again.err;
      EXPECT_EQ(ReadText(table), whole) << cut;
      std::vector<std::string> photos;
      for (const std::string& opened : watch.Take()) {
        if (opened.ends_with(".jpg")) photos.push_back(opened);
      }
      EXPECT_EQ(photos, std::vector<std::string>{"sea, \"calm\"\tday.jpg"});
    }
  }
}

// A new day's photos given with the old ones are measured and appended; the photos held are not
// opened at all, and a photo replaced since (another size or time) is measured again.
TEST(OutputTable, NewPhotosAreAppendedAndThoseHeldAreNotOpened) {
  TempDir dir;
  const std::string photos = dir.File("photos");
  std::filesystem::create_directory(photos);
  std::vector<std::string> files;
  for (uint32_t k = 0; k < 5; ++k) {
    const std::string path = photos + "/" + std::to_string(k) + ".jpg";
    const std::string made =
        test::EncodeWithCjpeg(dir, std::to_string(k) + ".jpg", test::RandomRaster(60, 40, k, true));
    std::filesystem::rename(made, path);
    files.push_back(path);
  }
  const std::string table = dir.File("season.tsv");
  const std::vector<std::string> first(files.begin(), files.begin() + 3);
  std::vector<std::string> arguments = {"--output", table, "--repeats=1"};
  const auto run = [&](const std::vector<std::string>& given) {
    std::vector<std::string> a = arguments;
    a.insert(a.end(), given.begin(), given.end());
    return RunCli(a);
  };
  ASSERT_EQ(run(first).exitCode, 0);
  const RectangleTexts sizes[] = {{"15", "12"}, {"30", "24"}};
  std::string expected = kPhotoHeader;
  for (int r = 0; r < 2; ++r) {
    for (const std::string& f : first) expected += TableRow(f, sizes[r], r);
  }
  EXPECT_EQ(ReadText(table), expected);

  test::OpenWatch watch(photos);
  const CliResult more = run(files);
  EXPECT_EQ(more.exitCode, 0) << more.err;
  // Two workers may open the two new photos in either order: which were opened is the point.
  std::vector<std::string> opened = watch.Take();
  std::sort(opened.begin(), opened.end());
  EXPECT_EQ(opened, (std::vector<std::string>{"3.jpg", "4.jpg"}));
  for (int r = 0; r < 2; ++r) {
    for (size_t k = 3; k < 5; ++k) expected += TableRow(files[k], sizes[r], r);
  }
  EXPECT_EQ(ReadText(table), expected);

  // The same command again opens nothing and adds nothing. (The rows expected were made here,
  // opening photos: those opens are not the run's.)
  watch.Take();
  EXPECT_EQ(run(files).exitCode, 0);
  EXPECT_EQ(watch.Take(), std::vector<std::string>{});
  EXPECT_EQ(ReadText(table), expected);

  // 1.jpg replaced by another photo: its new rows follow; the old ones stay.
  const std::string replacement =
      test::EncodeWithCjpeg(dir, "new.jpg", test::RandomRaster(70, 50, 99, true));
  std::filesystem::rename(replacement, files[1]);
  EXPECT_EQ(run(files).exitCode, 0);
  EXPECT_EQ(watch.Take(), std::vector<std::string>{"1.jpg"});
  for (int r = 0; r < 2; ++r) expected += TableRow(files[1], sizes[r], r);
  EXPECT_EQ(ReadText(table), expected);
}

// A table made with other settings, or a file that is no table of swelox-cli's, is refused before
// any photo is opened, with the difference named, and left as it was.
TEST(OutputTable, ATableMadeOtherwiseIsRefusedAndLeftAlone) {
  TempDir dir;
  const std::string photo =
      test::EncodeWithCjpeg(dir, "a.jpg", test::RandomRaster(60, 40, 1, true));
  const std::string table = dir.File("season.tsv");
  ASSERT_EQ(RunCli({"--output", table, "--columns=time", photo}).exitCode, 0);
  const std::string made = ReadText(table);
  const struct {
    std::vector<std::string> options;
    const char* difference;
  } cases[] = {
      {{"--width=20", "--columns=time"}, "the width is 15, not 20"},
      {{"--columns=time", "--repeats=1"}, "the number of repeats is 0, not 1"},
      {{"--columns=time", "--right"}, "the direction is below, not right"},
      {{"--columns=time", "--region=20x20"}, "the region is none, not 20x20+0+0"},
      {{}, "the column list is time, not none"},
      {{"--columns=time", "--sort=time"}, "the order is given, not time"},
      {{"--columns=time", "--height-increment=50"}, "the height increment is 100, not 50"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.difference);
    std::vector<std::string> arguments = {"--output", table};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.push_back(photo);
    const CliResult r = RunCli(arguments);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "swelox-cli: " + table + " was made with other settings: " + c.difference + ".\n");
    EXPECT_EQ(ReadText(table), made);
  }
  // A table of no rows, left by a command that failed at once, starts afresh instead.
  const std::string mistyped = dir.File("mistyped.tsv");
  EXPECT_EQ(RunCli({"--output", mistyped, "--width=2147483647", "--height=2", photo}).exitCode, 1);
  EXPECT_EQ(ReadText(mistyped),
            std::string(kHeaderLine) + "\tRun\tSource\tBytes\tModified\tDamaged\n");
  const CliResult corrected = RunCli({"--output", mistyped, "--width=15", photo});
  EXPECT_EQ(corrected.exitCode, 0) << corrected.err;
  EXPECT_EQ(test::Lines(ReadText(mistyped)).size(), 2u);
  EXPECT_EQ(At(Outcome(dir.File("mistyped.datapackage.json")), {"status"}).text(), "complete");

  // A file that was not made by --output keeps what it holds.
  const std::string other = dir.File("notes.tsv");
  test::WriteBytes(other, test::ToBytes("my own notes\n"));
  const CliResult r = RunCli({"--output", other, photo});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "swelox-cli: " + other + ": there is no descriptor " +
                       dir.File("notes.datapackage.json") + " beside it.\n");
  EXPECT_EQ(ReadText(other), "my own notes\n");
}

// A folder with a cut photo, one smaller than the rectangle and one that is no JPEG: the Quality
// column says damaged and none, and the descriptor counts each photo once however many runs.
TEST(OutputTable, CutAndSmallPhotosAreDamagedAndNoneAndCounted) {
  TempDir dir;
  const std::string good =
      test::EncodeWithCjpeg(dir, "good.jpg", test::RandomRaster(80, 60, 3, true));
  const test::Bytes whole = test::ReadBytes(good);
  const size_t scan = test::ScanDataStart(whole);
  const std::string cut = dir.File("cut.jpg");
  test::WriteBytes(cut, test::Prefix(whole, scan + (whole.size() - scan) / 2));
  const std::string small =
      test::EncodeWithCjpeg(dir, "small.jpg", test::RandomRaster(10, 10, 4, true));
  const std::string broken = dir.File("broken.jpg");
  test::WriteBytes(broken, test::ToBytes("not a photo"));
  const std::string table = dir.File("day.csv");
  const CliResult r = RunCli({"--output", table, "--keep-going", "--repeats=1", "--columns=quality",
                              good, cut, small, broken});
  EXPECT_EQ(r.exitCode, 1);  // a photo failed
  EXPECT_EQ(r.out, "");
  std::string expected =
      std::string(kHeaderLine) + "\tQuality" + kPhotoHeader.substr(std::string(kHeaderLine).size());
  const RectangleTexts sizes[] = {{"15", "12"}, {"30", "24"}};
  for (int run = 0; run < 2; ++run) {
    expected += TableRow(good, sizes[run], run, false, "\tok");
    expected += TableRow(cut, sizes[run], run, true, "\tdamaged");
    expected += TableRow(small, sizes[run], run, false, "\tnone");
  }
  std::string csv;
  for (const std::string& line : test::Lines(expected)) csv += TableRecord(line, TableFormat::Csv);
  EXPECT_EQ(ReadText(table), csv);
  const json::Value descriptor = json::Parse(ReadText(dir.File("day.datapackage.json")));
  const json::Value& end = At(descriptor, {"swelox", "outcome"});
  EXPECT_EQ(At(end, {"status"}).text(), "complete");
  EXPECT_EQ(At(end, {"photos"}).integer(), 4);
  EXPECT_EQ(At(end, {"photosMeasured"}).integer(), 3);
  EXPECT_EQ(At(end, {"photosDamaged"}).integer(), 1);
  EXPECT_EQ(At(end, {"photosFailed"}).integer(), 1);
  EXPECT_EQ(At(end, {"rows"}).integer(), 6);
  const json::Value& resource = At(descriptor, {"resources"}).items().at(0);
  EXPECT_EQ(At(resource, {"format"}).text(), "csv");
  EXPECT_EQ(At(resource, {"path"}).text(), "day.csv");
  std::vector<std::string> names;
  for (const json::Value& field : At(resource, {"schema", "fields"}).items()) {
    names.push_back(At(field, {"name"}).text());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Width", "Height", "Bwide", "Bhigh", "meanDiff", "RMS",
                                             "nDiffs", "Pic", "Quality", "Run", "Source", "Bytes",
                                             "Modified", "Damaged"}));
}

// SIGINT while the third of four photos decodes: the descriptor says the runs stopped, after two
// of four photos, and the table holds their rows whole. While it runs, no other command may
// write to the table.
TEST(OutputTable, AStoppedRunSaysSoAndHowFarItGot) {
  TempDir dir;
  const std::string good = test::EncodeWithCjpeg(dir, "good.jpg", test::RandomRaster(64, 48, 7));
  const std::string other = test::EncodeWithCjpeg(dir, "other.jpg", test::RandomRaster(64, 48, 8));
  const std::string slow = dir.File("slow.jpg");
  test::WriteBytes(slow, test::GreyClaim(65500, 65500));
  const std::string table = dir.File("stopped.tsv");
  const std::string last = test::EncodeWithCjpeg(dir, "last.jpg", test::RandomRaster(64, 48, 9));
  const pid_t child = Start({"--output", table, "-j1", good, other, slow, last});
  const auto start = Clock::now();
  while (test::Lines(ReadText(table)).size() < 3 &&
         Clock::now() - start < std::chrono::seconds(20)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  // Meanwhile the same command again (a job started twice) is refused and changes nothing.
  const std::string during = ReadText(table);
  const CliResult twice = RunCli({"--output", table, "-j1", good, other, slow, last});
  EXPECT_EQ(twice.exitCode, 1);
  EXPECT_EQ(twice.err, "swelox-cli: " + table + ": another command is writing to it.\n");
  EXPECT_EQ(ReadText(table), during);
  ::kill(child, SIGINT);
  const int status = Wait(child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_EQ(ReadText(table),
            kPhotoHeader + TableRow(good, {"15", "12"}, 0) + TableRow(other, {"15", "12"}, 0));
  const json::Value end = Outcome(dir.File("stopped.datapackage.json"));
  EXPECT_EQ(At(end, {"status"}).text(), "stopped");
  EXPECT_EQ(At(end, {"summary"}).text(), "stopped after 2 of 4 photos");
  EXPECT_EQ(At(end, {"photosMeasured"}).integer(), 2);
  EXPECT_EQ(At(end, {"photos"}).integer(), 4);
}

// 1,000 photos of 100 runs each: the command given again reads the 100,000 rows, looks at each
// photo's size and time and opens none of them. The time is measured by the benchmark; the bound
// here only catches a gross slip (a photo opened, a pass per row) on a loaded machine.
TEST(OutputTable, WhatIsLeftOfA100000RowTableIsDecidedWithoutOpeningAPhoto) {
  TempDir dir;
  const std::string photos = dir.File("photos");
  std::filesystem::create_directory(photos);
  const test::Bytes photo =
      test::ReadBytes(test::EncodeWithCjpeg(dir, "p.jpg", test::RandomRaster(16, 16, 5)));
  std::string list;
  for (int k = 0; k < 1000; ++k) {
    const std::string path = photos + "/" + std::to_string(k) + ".jpg";
    test::WriteBytes(path, photo);
    list += path + "\n";
  }
  const std::string listPath = dir.File("list");
  test::WriteBytes(listPath, test::ToBytes(list));
  const std::string table = dir.File("season.tsv");
  // 15 x 12 grows by 1 % to 15.15 x 12.12, which rounds back: 100 runs of one size.
  const std::vector<std::string> arguments = {
      "--output",     table,   "--repeats=99", "--width-increment=1", "--height-increment=1",
      "--files-from", listPath};
  const CliResult made = RunCli(arguments, 600);
  ASSERT_EQ(made.exitCode, 0) << made.err;
  ASSERT_EQ(test::Lines(ReadText(table)).size(), 100001u);
  test::OpenWatch watch(photos);
  const CliResult again = RunCli(arguments);
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(watch.Take(), std::vector<std::string>{});
  std::printf("deciding what is left of 100,000 rows of 1,000 photos: %.3f s\n", again.seconds);
  if (!test::kSanitized) {
    EXPECT_LT(again.seconds, 5.0);
  }
}

}  // namespace
}  // namespace swelox
