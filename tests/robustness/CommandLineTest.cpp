// swelox-cli against what users hand it: things that are not regular files, odd file names,
// huge numbers in every option, good and bad files mixed with --keep-going, and pictures that
// claim a huge size with almost no data, which must finish with bounded memory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "analysis/ImageAnalysis.h"
#include "toolkit/CliRun.h"
#include "toolkit/JpegCraft.h"
#include "toolkit/SmallDisk.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using test::Bytes;
using test::CliResult;
using test::kHeader;
using test::RunCli;
using test::TempDir;

std::string Sample(const char* name) { return std::string(SWELOX_EXAMPLES) + "/" + name; }

// The row of one file alone with the given options: the yardstick for runs of many files.
std::string RowAlone(const std::string& path, std::vector<std::string> options = {}) {
  options.push_back(path);
  const CliResult r = RunCli(options);
  EXPECT_EQ(r.exitCode, 0) << path << "\n" << r.err;
  const std::vector<std::string> lines = test::Lines(r.out);
  EXPECT_EQ(lines.size(), 2u) << r.out;
  return lines.size() == 2 ? lines[1] : "";
}

const std::string kNoRun = "swelox-cli: --repeats is below 0, so no run is made.\n";

void ExpectFinished(const CliResult& r) {
  EXPECT_FALSE(r.timedOut) << "swelox-cli did not finish in time";
  EXPECT_EQ(r.signal, 0) << "swelox-cli died of signal " << r.signal << "\n" << r.err;
}

class CommandLine : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    good_ = test::EncodeWithCjpeg(*dir_, "good.jpg", test::RandomRaster(120, 90, 1, true));
    goodRow_ = RowAlone(good_);
  }
  static void TearDownTestSuite() { delete dir_; }

  // A copy of the good picture under another name in the scratch folder.
  static std::string Copy(const std::string& name) {
    const std::string path = dir_->File(name);
    test::WriteBytes(path, test::ReadBytes(good_));
    return path;
  }
  // The good picture's row with another name in the Pic column.
  static std::string GoodRowNamed(const std::string& pic) {
    return goodRow_.substr(0, goodRow_.rfind('\t') + 1) + pic;
  }

  static inline TempDir* dir_ = nullptr;
  static inline std::string good_, goodRow_;
};

// Things given as a file that are not regular files (a folder aside, which stands for its
// photos) are refused at once, with the absolute path and the reason, and nothing blocks: not a
// FIFO without a writer, not a device that never ends.
TEST_F(CommandLine, RefusesWhatIsNotARegularFileWithoutBlocking) {
  const std::string fifo = dir_->File("pipe.jpg");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string loop = dir_->File("loop.jpg");
  std::filesystem::create_symlink(loop, loop);
  const std::string dangling = dir_->File("dangling.jpg");
  std::filesystem::create_symlink(dir_->File("nowhere.jpg"), dangling);
  const std::string cwd = std::filesystem::current_path().string();

  struct Case {
    std::string argument;
    std::string message;
  };
  const std::vector<Case> cases = {
      {fifo, "Cannot open file \"" + fifo + "\". Not a regular file."},
      {"/dev/null", "Cannot open file \"/dev/null\". Not a regular file."},
      {"/dev/zero", "Cannot open file \"/dev/zero\". Not a regular file."},
      {"/dev/urandom", "Cannot open file \"/dev/urandom\". Not a regular file."},
      {"/dev/stdin", "Cannot open file \"/dev/stdin\". Not a regular file."},
      {dir_->File("missing.jpg"),
       "Cannot open file \"" + dir_->File("missing.jpg") + "\". No such file or directory."},
      {"no-such-picture.jpg",
       "Cannot open file \"" + cwd + "/no-such-picture.jpg\". No such file or directory."},
      {dangling, "Cannot open file \"" + dangling + "\". No such file or directory."},
      {loop, "Cannot open file \"" + loop + "\". Too many levels of symbolic links."},
      {good_ + "/inside.jpg", "Cannot open file \"" + good_ + "/inside.jpg\". Not a directory."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument);
    // Alone: the message ends the run.
    CliResult r = RunCli({c.argument}, 20);
    ExpectFinished(r);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kHeader);
    EXPECT_EQ(r.err, "swelox-cli: " + c.argument + ": " + c.message + "\n");
    // Among good files with --keep-going: reported, and the others keep their rows.
    r = RunCli({"-k", good_, c.argument, good_}, 20);
    ExpectFinished(r);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kHeader + goodRow_ + "\n" + goodRow_ + "\n");
    EXPECT_EQ(r.err, "swelox-cli: " + c.argument + ": " + c.message + "\n");
  }
}

// The Pic column is the name after the last "/", with tab, carriage return, line feed and
// backslash escaped so that a row keeps its eight columns; other bytes pass unchanged.
TEST_F(CommandLine, OddFileNamesKeepTheColumns) {
  struct Case {
    std::string name;
    std::string pic;
  };
  const std::vector<Case> cases = {
      {"with space.jpg", "with space.jpg"},
      {" leading and trailing ", " leading and trailing "},
      {"tab\there.jpg", "tab\\there.jpg"},
      {"line\nfeed.jpg", "line\\nfeed.jpg"},
      {"carriage\rreturn.jpg", "carriage\\rreturn.jpg"},
      {"back\\slash.jpg", "back\\\\slash.jpg"},
      {"all\t\r\n\\.jpg", "all\\t\\r\\n\\\\.jpg"},
      {"\\t-literally.jpg", "\\\\t-literally.jpg"},
      {"latin1-\xE9t\xE9.jpg", "latin1-\\xE9t\\xE9.jpg"},
      {"invalid-utf8-\xFF\xFE\xC3.jpg", "invalid-utf8-\\xFF\\xFE\\xC3.jpg"},
      {"utf8-\xC3\xA9t\xC3\xA9-\xF0\x9F\x8C\x8A.jpg",
       "utf8-\xC3\xA9t\xC3\xA9-\xF0\x9F\x8C\x8A.jpg"},
      {"quote\"and'apostrophe.jpg", "quote\"and'apostrophe.jpg"},
      {"-starts-with-dash.jpg", "-starts-with-dash.jpg"},
      {"no-extension", "no-extension"},
      {"colon:in:name.jpg", "colon:in:name.jpg"},
      {"%s%n%d.jpg", "%s%n%d.jpg"},
      {std::string(250, 'n') + ".jpg", std::string(250, 'n') + ".jpg"},
  };
  std::vector<std::string> arguments = {"--"};
  std::string expected = kHeader;
  for (const Case& c : cases) {
    arguments.push_back(Copy(c.name));
    expected += GoodRowNamed(c.pic) + "\n";
  }
  const CliResult r = RunCli(arguments);
  ExpectFinished(r);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");
  for (const std::string& line : test::Lines(r.out)) {
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 7) << line;
  }
}

// A missing file with an odd name is reported under its own name, a byte that is no UTF-8
// escaped.
TEST_F(CommandLine, OddNamesOfMissingFilesAppearInTheirMessage) {
  for (const std::string name : {"with space.jpg", "latin1-\xE9.jpg", "back\\slash.jpg"}) {
    const std::string path = dir_->File("missing " + name);
    const std::string shown =
        name == "latin1-\xE9.jpg" ? dir_->File("missing latin1-\\xE9.jpg") : path;
    const CliResult r = RunCli({"-k", path, good_});
    ExpectFinished(r);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kHeader + goodRow_ + "\n");
    EXPECT_EQ(r.err, "swelox-cli: " + shown + ": Cannot open file \"" + shown +
                         "\". No such file or directory.\n");
  }
}

// A file list: one path a line, carriage returns before the line feed and empty lines ignored;
// spaces, tabs and other bytes belong to the name.
TEST_F(CommandLine, FileListsKeepNamesAsWritten) {
  const std::string spaced = Copy(" spaced name .jpg");
  const std::string tabbed = Copy("tab\tname.jpg");
  const std::string odd = Copy("odd-\xFF.jpg");
  const std::string list = dir_->File("list.txt");
  test::WriteBytes(list, test::ToBytes(spaced + "\r\n\n" + tabbed + "\n\r\n" + odd));
  const std::string expected = kHeader + GoodRowNamed(" spaced name .jpg") + "\n" +
                               GoodRowNamed("tab\\tname.jpg") + "\n" +
                               GoodRowNamed("odd-\\xFF.jpg") + "\n";
  CliResult r = RunCli({"--files-from", list});
  ExpectFinished(r);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, expected);
  r = RunCli({"--files-from", "-"}, 60, spaced + "\n" + tabbed + "\n" + odd + "\n");
  ExpectFinished(r);
  EXPECT_EQ(r.out, expected);
  // A list that cannot be read is a usage error.
  r = RunCli({"--files-from", dir_->File("no-list.txt")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
}

// Every option with numbers far out of range: the message names the text, the rows made before
// the failing step stay, and nothing runs away.
TEST_F(CommandLine, HugeNumbersInEveryOption) {
  const std::string row15x12 = goodRow_;
  const std::string row30x24 = RowAlone(good_, {"--width", "30", "--height", "24"});
  struct Case {
    std::vector<std::string> options;
    int exitCode;
    std::string out;  // after the header
    std::string err;
  };
  auto invalid = [](const std::string& text) {
    return "swelox-cli: '" + text + "' is not a valid integer value.\n";
  };
  // A text that is no 32-bit number is its option's usage error, before any work.
  auto refused = [](const std::string& option, const std::string& text) {
    return "swelox-cli: " + option + ": '" + text +
           "' is not a valid integer value.\nTry 'swelox-cli --help' for more information.\n";
  };
  const std::vector<Case> cases = {
      {{"--width", "2147483648"}, 2, "", refused("--width", "2147483648")},
      {{"--width", "99999999999999999999999999"},
       2,
       "",
       refused("--width", "99999999999999999999999999")},
      {{"--height", "-2147483649"}, 2, "", refused("--height", "-2147483649")},
      {{"--height", "$123456789"}, 2, "", refused("--height", "$123456789")},
      {{"--width", "2147483647", "--height", "2"}, 1, "", "swelox-cli: Integer overflow.\n"},
      {{"--repeats", "2147483648"}, 2, "", refused("--repeats", "2147483648")},
      {{"--repeats", "-2147483648"}, 0, "", kNoRun},
      {{"--repeats", "$80000000"}, 0, "", kNoRun},
      // Two billion runs asked for: the doubling sizes overflow the area after a dozen runs.
      {{"--repeats", "2147483647"},
       1,
       row15x12 + "\n" + row30x24 + "\n" +
           [&] {
             std::string rows;
             for (int run = 2, w = 60, h = 48; run < 12; ++run, w *= 2, h *= 2) {
               rows +=
                   RowAlone(good_, {"--width", std::to_string(w), "--height", std::to_string(h)}) +
                   "\n";
             }
             return rows;
           }(),
       "swelox-cli: Integer overflow.\n"},
      // The increments are read after the first run; p + 100 must not overflow.
      {{"--width-increment", "2147483648"}, 2, "", refused("--width-increment", "2147483648")},
      {{"--height-increment", "99999999999"}, 2, "", refused("--height-increment", "99999999999")},
      {{"--width-increment", "2147483647"}, 1, row15x12 + "\n", "swelox-cli: Integer overflow.\n"},
      {{"--height-increment", "2147483548"}, 1, row15x12 + "\n", "swelox-cli: Integer overflow.\n"},
      {{"--width-increment", "2147483547"}, 0, row15x12 + "\n", ""},
      {{"--width-increment", "2147483547", "--repeats", "1"},
       1,
       row15x12 + "\n",
       "swelox-cli: Integer overflow.\n"},
      {{"--width-increment", "-2147483648", "--height-increment", "-1", "--repeats", "1"},
       0,
       row15x12 + "\n" + row15x12 + "\n",
       ""},
      // A size that grows past 32 bits is no longer an integer text when the next run reads it.
      {{"--width", "2000000000", "--height", "1", "--repeats", "1", "--height-increment", "0"},
       1,
       RowAlone(good_, {"--width", "2000000000", "--height", "1"}) + "\n",
       invalid("4000000000")},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = c.options;
    std::string shown;
    for (const std::string& a : c.options) shown += a + " ";
    SCOPED_TRACE(shown);
    arguments.push_back(good_);
    const CliResult r = RunCli(arguments, 60);
    ExpectFinished(r);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.out, c.exitCode == 2 ? "" : kHeader + c.out);
    EXPECT_EQ(r.err, c.err);
  }

  // --jobs is the tool's own: out of range is a usage error, before any work.
  for (const std::string jobs : {"0", "-1", "257", "2147483647", "99999999999", "$FFFFFFFF"}) {
    const CliResult r = RunCli({"--jobs", jobs, good_});
    EXPECT_EQ(r.exitCode, 2) << jobs;
    EXPECT_EQ(r.out, "") << jobs;
    EXPECT_NE(r.err.find("'" + jobs + "'"), std::string::npos) << r.err;
  }
}

// The numbers of the options as a new user mistypes them: each error names its option and is a
// usage error (status 2, the hint to --help, no header); repeats below 0 make no run and say so.
TEST_F(CommandLine, OptionErrorsNameTheOption) {
  const std::string hint = "Try 'swelox-cli --help' for more information.\n";
  struct Case {
    std::vector<std::string> options;
    std::string message;  // empty: the run is made
  };
  const std::vector<Case> cases = {
      {{"--width=abc"}, "--width: 'abc' is not a valid integer value."},
      {{"--width=0"}, "--width: Division by zero."},
      {{"--height", "0", "--width", "2147483647"}, "--height: Division by zero."},
      {{"--width=-3"}, "--width: The rectangle width must be positive, not -3."},
      {{"--height=$FFFFFFFF"}, "--height: The rectangle height must be positive, not -1."},
      {{"--height="}, "--height: '' is not a valid integer value."},
      {{"--repeats=two"}, "--repeats: 'two' is not a valid integer value."},
      {{"--repeats=1", "--width-increment=1.5"},
       "--width-increment: '1.5' is not a valid integer value."},
      {{"--height-increment= 5 "}, "--height-increment: ' 5 ' is not a valid integer value."},
      {{"--width", "8", "--height", " 6"}, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = c.options;
    SCOPED_TRACE(arguments.front());
    arguments.push_back(good_);
    const CliResult r = RunCli(arguments);
    ExpectFinished(r);
    if (c.message.empty()) {
      EXPECT_EQ(r.exitCode, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(test::Lines(r.out).size(), 2u);
      continue;
    }
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "swelox-cli: " + c.message + "\n" + hint);
  }

  // Repeats below 0: the header alone, as in the window, status 0, and the reason on stderr;
  // with growth forbidden the repeats do not count and the one run is made.
  CliResult r = RunCli({"--repeats=-1", good_});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, kHeader);
  EXPECT_EQ(r.err, kNoRun);
  r = RunCli({"--repeats=-1", "--width-increment=0", "--height-increment=0", good_});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, kHeader + goodRow_ + "\n");
  EXPECT_EQ(r.err, "");
}

// --keep-going: every good file keeps its row, in order, every bad one gets its message, in
// order, with one or two workers; without it the run ends at the first bad file.
TEST_F(CommandLine, KeepGoingMixesGoodAndBadFiles) {
  TempDir dir;
  auto write = [&](const std::string& name, const Bytes& bytes) {
    test::WriteBytes(dir.File(name), bytes);
    return dir.File(name);
  };
  const Bytes good = test::ReadBytes(good_);
  const std::string progressive = test::EncodeWithCjpeg(
      dir, "progressive.jpg", test::RandomRaster(77, 66, 4, true), "-progressive");
  const Bytes prog = test::ReadBytes(progressive);

  struct File {
    std::string path;
    std::string message;       // empty for a file that has its rows
    std::string warning = {};  // for a file whose data libjpeg found cut short
  };
  const std::string cut = "Premature end of JPEG file.";
  const std::vector<File> files = {
      {Sample("by-the-water.jpg"), ""},
      {write("text.jpg", test::ToBytes("hello")),
       "JPEG error #53: Not a JPEG file: starts with 0x68 0x65."},
      {good_, ""},
      {write("empty.jpg", {}), "JPEG error #42: Empty input file."},
      {dir.File("missing.jpg"),
       "Cannot open file \"" + dir.File("missing.jpg") + "\". No such file or directory."},
      {write("truncated.jpg", test::Prefix(good, good.size() / 2)), "", cut},
      {write("start-marker.jpg", {0xFF, 0xD8}),
       "JPEG error #51: JPEG datastream contains no image."},
      {progressive, ""},
      {write("huge-progressive.jpg", test::HeaderOnly(test::WithPictureSize(prog, 65500, 65500))),
       "JPEG error #49: Backing store not supported."},
      {write("truncated-progressive.jpg", test::Prefix(prog, test::ScanDataStart(prog) + 40)), "",
       cut},
      {Sample("evening-glow-lake.jpg"), ""},
  };
  std::vector<std::string> paths;
  for (const File& f : files) paths.push_back(f.path);

  struct Runs {
    std::vector<std::string> options;
    std::vector<std::vector<std::string>> eachRun;  // the same sizes, one run at a time
  };
  const std::vector<Runs> runs = {
      {{}, {{}}},
      {{"--width", "4", "--height", "3", "--right", "--repeats", "1"},
       {{"--width", "4", "--height", "3", "--right"},
        {"--width", "8", "--height", "6", "--right"}}},
  };
  for (const Runs& run : runs) {
    std::string expectedOut = kHeader, expectedErr;
    for (const std::vector<std::string>& sizes : run.eachRun) {
      for (const File& f : files) {
        // A file's warning comes once, before its first row.
        if (!f.warning.empty() && &sizes == &run.eachRun.front()) {
          expectedErr += "swelox-cli: " + f.path + ": warning: " + f.warning + "\n";
        }
        if (f.message.empty()) {
          expectedOut += RowAlone(f.path, sizes) + "\n";
        } else {
          expectedErr += "swelox-cli: " + f.path + ": " + f.message + "\n";
        }
      }
    }
    for (const char* jobs : {"1", "2"}) {
      SCOPED_TRACE(std::string("--jobs ") + jobs + (run.options.empty() ? "" : " with two runs"));
      std::vector<std::string> arguments = run.options;
      arguments.insert(arguments.end(), {"--keep-going", "--jobs", jobs});
      arguments.insert(arguments.end(), paths.begin(), paths.end());
      CliResult r = RunCli(arguments);
      ExpectFinished(r);
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(r.out, expectedOut);
      EXPECT_EQ(r.err, expectedErr);

      // Without --keep-going: the first file's row, then the second file's message alone.
      arguments.erase(std::find(arguments.begin(), arguments.end(), "--keep-going"));
      r = RunCli(arguments);
      ExpectFinished(r);
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(r.out, kHeader + test::Lines(expectedOut)[1] + "\n");
      EXPECT_EQ(r.err, "swelox-cli: " + files[1].path + ": " + files[1].message + "\n");
    }
  }
}

// Rows that cannot be written are not lost in silence: a full disk ends the run with a message
// and exit status 1, also when every file was analysed.
TEST_F(CommandLine, ReportsResultsThatCannotBeWritten) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{good_}, {"--repeats", "2", good_, good_}, {"-k", good_, "/"}}) {
    const CliResult r = RunCli(arguments, 60, std::nullopt, std::string("/dev/full"));
    ExpectFinished(r);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("swelox-cli: cannot write the results: No space left on device.\n"),
              std::string::npos)
        << r.err;
  }
}

// Rows written into a file on a disk that fills: the write that fails stops the run at once,
// status 1 with the reason, and the file is cut back to its last whole row.
TEST_F(CommandLine, AFullDiskLeavesNoCutRow) {
  const test::SmallDisk disk(16 * 1024);
  if (!disk.unavailable().empty()) GTEST_SKIP() << disk.unavailable();
  std::vector<std::string> arguments = {"-j", "1"};
  const std::string photo = Copy("full-disk.jpg");
  const std::string row = GoodRowNamed("full-disk.jpg");
  for (int k = 0; k < 1000; ++k) arguments.push_back(photo);
  const std::string rows = disk.File("rows.tsv");
  const CliResult r = RunCli(arguments, 60, std::nullopt, rows);
  ExpectFinished(r);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "swelox-cli: cannot write the results: No space left on device.\n");
  const test::Bytes bytes = test::ReadBytes(rows);
  const std::string text(bytes.begin(), bytes.end());
  // The disk holds 16 KiB; a cut row would end it wherever the last page ended.
  ASSERT_NE((16 * 1024 - kHeader.size()) % (row.size() + 1), 0u);
  ASSERT_GT(text.size(), kHeader.size());
  std::string expected = kHeader;
  while (expected.size() < text.size()) expected += row + "\n";
  EXPECT_TRUE(text == expected) << "it ends with: " << text.substr(text.size() - 60);
}

// Pictures that claim a huge size with no scan data at all. libjpeg fills the missing data, so a
// baseline file decodes to the whole picture, every row of it; the rows stream through the
// analysis, so memory stays small. A progressive file needs libjpeg's whole-picture coefficient
// store, which is capped, so it fails at once.
constexpr long kMemoryBoundKb = 256 * 1024;  // a full 65500 x 65500 raster would take 12 GB

Bytes HugeClaim(const char* cjpegOptions, uint16_t width, uint16_t height) {
  return test::GreyClaim(width, height, cjpegOptions);
}

// Grey 128 everywhere: every comparison 0, all rectangles but one per column compared.
std::string GreyRow(int32_t width, int32_t height, int32_t w, int32_t h, const std::string& pic) {
  auto positions = [](int32_t limit, int32_t step) {
    int64_t n = 0;
    for (int64_t x = 0; x < limit; x += step) ++n;
    return n;
  };
  const int64_t across = positions(width - 1 - w, w), down = positions(height - 1 - h, h);
  return std::to_string(width - 2) + "\t" + std::to_string(height - 2) + "\t" + std::to_string(w) +
         "\t" + std::to_string(h) + "\t0\t0\t" + std::to_string(across * (down - 1)) + "\t" + pic;
}

void Report(const std::string& what, const CliResult& r) {
  std::cout << what << ": " << r.seconds << " s, peak RSS " << r.peakRssKb / 1024 << " MB\n";
  testing::Test::RecordProperty(what + " seconds", std::to_string(r.seconds));
  testing::Test::RecordProperty(what + " peak RSS kB", std::to_string(r.peakRssKb));
}

TEST(HugeClaim, WideBaselinePictureStreamsWithBoundedMemory) {
  TempDir dir;
  const std::string path = dir.File("wide.jpg");
  test::WriteBytes(path, HugeClaim("-sample 2x2", 65500, 3000));
  // The same decode serves both runs: 1 x 1 then 15 x 15.
  const CliResult r = RunCli({"--width", "1", "--height", "1", "--repeats", "1",
                              "--width-increment", "1400", "--height-increment", "1400", path},
                             300);
  ExpectFinished(r);
  Report("65500 x 3000 baseline", r);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, kHeader + GreyRow(65500, 3000, 1, 1, "wide.jpg") + "\n" +
                       GreyRow(65500, 3000, 15, 15, "wide.jpg") + "\n");
  EXPECT_LT(r.peakRssKb, kMemoryBoundKb);
}

// The largest picture libjpeg allows: 4.3 billion pixels, decoded in full. With 1 x 1 rectangles
// the slot count of the difference list, 65498 x 65498, passes 2^31 ("Integer overflow"); with
// --keep-going the second run's row, from the same decode, follows, with the warning that the
// picture's data is missing before it.
TEST(HugeClaim, LargestBaselinePictureFinishesWithBoundedMemory) {
  TempDir dir;
  const std::string path = dir.File("huge.jpg");
  test::WriteBytes(path, HugeClaim("-sample 2x2", 65500, 65500));
  const CliResult r = RunCli({"-k", "--width", "1", "--height", "1", "--repeats", "1",
                              "--width-increment", "1400", "--height-increment", "1100", path},
                             1200);
  ExpectFinished(r);
  Report("65500 x 65500 baseline", r);
  EXPECT_EQ(r.out, kHeader + GreyRow(65500, 65500, 15, 12, "huge.jpg") + "\n");
  EXPECT_EQ(r.err, "swelox-cli: " + path + ": Integer overflow.\nswelox-cli: " + path +
                       ": warning: Premature end of JPEG file.\n");
  EXPECT_LT(r.peakRssKb, kMemoryBoundKb);
}

TEST(HugeClaim, ProgressivePicturesFailQuicklyWithBoundedMemory) {
  TempDir dir;
  for (const char* options : {"-progressive", "-progressive -grayscale", "-progressive -rgb"}) {
    const std::string path = dir.File("huge.jpg");
    test::WriteBytes(path, HugeClaim(options, 65500, 65500));
    const CliResult r = RunCli({path}, 60);
    ExpectFinished(r);
    Report(std::string("65500 x 65500 ") + options, r);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kHeader);
    EXPECT_EQ(r.err, "swelox-cli: " + path + ": JPEG error #49: Backing store not supported.\n");
    EXPECT_LT(r.peakRssKb, kMemoryBoundKb);
    EXPECT_LT(r.seconds, 30);
  }
}

}  // namespace
}  // namespace swelox
