// swelox-cli's extra columns and file orders as a user gives them: every row of every run carries
// its photo's values, the orders by name and by capture time, and the lists it refuses.
#include <gtest/gtest.h>

#include "analysis/ImageAnalysis.h"
#include "toolkit/CliRun.h"
#include "toolkit/JpegCraft.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using test::CliResult;
using test::RunCli;
using test::TempDir;

class ColumnsAndOrder : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    // Given in this order; by name IMG_2, IMG_9, IMG_10, b; by time IMG_10, b, IMG_9, IMG_2.
    const struct {
      const char* name;
      const char* exiftool;  // nullptr: no time
      const char* time;
    } photos[] = {
        {"IMG_9.jpg", "-DateTimeOriginal='2026:07:14 09:31:07' -SubSecTimeOriginal=5",
         "2026-07-14T09:31:07.5"},
        {"IMG_10.jpg",
         "-DateTimeOriginal='2026:07:14 09:31:07' -SubSecTimeOriginal=25 "
         "-OffsetTimeOriginal=-05:00",
         "2026-07-14T09:31:07.25-05:00"},
        {"b.jpg", "-CreateDate='2026:07:14 09:31:07' -SubSecTimeDigitized=4",
         "2026-07-14T09:31:07.4"},
        {"IMG_2.jpg", nullptr, ""},
    };
    uint32_t seed = 1;
    for (const auto& p : photos) {
      const std::string path =
          test::EncodeWithCjpeg(*dir_, p.name, test::RandomRaster(60, 40, seed++, true));
      if (p.exiftool != nullptr) {
        test::RunCommand(std::string("exiftool -q -n -overwrite_original ") + p.exiftool + " " +
                         test::ShellQuote(path));
      }
      files_.push_back(path);
      times_.push_back(p.time);
    }
  }
  static void TearDownTestSuite() { delete dir_; }

  // The row the engine gives for file k, with the four columns after it.
  static std::string Row(size_t k, const RectangleTexts& size) {
    const PixelRegion region{2, 3, 50, 30};
    return AnalyseFileRow(files_[k], size, Direction::Right, region) + "\t" + files_[k] +
           "\tright\t" + times_[k] + "\t50x30+2+3";
  }

  static inline TempDir* dir_ = nullptr;
  static inline std::vector<std::string> files_;
  static inline std::vector<std::string> times_;
};

TEST_F(ColumnsAndOrder, EveryRowOfEveryRunCarriesItsColumnsInTheOrderAsked) {
  const struct {
    const char* sort;  // nullptr: as given
    std::vector<size_t> order;
  } cases[] = {
      {nullptr, {0, 1, 2, 3}},
      {"--sort=name", {3, 0, 1, 2}},
      {"--sort=time", {1, 2, 0, 3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sort != nullptr ? c.sort : "as given");
    for (const char* jobs : {"-j1", "-j3"}) {
      std::vector<std::string> arguments = {"--columns=path,direction,time,region",
                                            "--region=50x30+2+3",
                                            "--right",
                                            "--width=4",
                                            "--height=3",
                                            "--repeats=1",
                                            jobs};
      if (c.sort != nullptr) arguments.push_back(c.sort);
      arguments.insert(arguments.end(), files_.begin(), files_.end());
      const CliResult r = RunCli(arguments);
      EXPECT_EQ(r.exitCode, 0);
      EXPECT_EQ(r.err, "");
      std::string expected = std::string(kHeaderLine) + "\tPath\tDirection\tTime\tRegion\n";
      for (const RectangleTexts& size : {RectangleTexts{"4", "3"}, RectangleTexts{"8", "6"}}) {
        for (const size_t k : c.order) expected += Row(k, size) + "\n";
      }
      EXPECT_EQ(r.out, expected);
    }
  }
}

TEST_F(ColumnsAndOrder, WithoutColumnsTheRowsEndWithPic) {
  const CliResult r = RunCli({"--sort=time", files_[0], files_[1]});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, std::string(kHeaderLine) + "\n" +
                       AnalyseFileRow(files_[1], {"15", "12"}, Direction::Below) + "\n" +
                       AnalyseFileRow(files_[0], {"15", "12"}, Direction::Below) + "\n");
}

TEST_F(ColumnsAndOrder, BadListsAreUsageErrorsThatNameTheOption) {
  const struct {
    std::vector<std::string> arguments;
    std::string message;
  } cases[] = {
      {{"--columns=time,size"},
       "--columns: unknown column 'size' (the columns are time, path, region, direction and "
       "quality)"},
      {{"--columns=Time"},
       "--columns: unknown column 'Time' (the columns are time, path, region, direction and "
       "quality)"},
      {{"--columns="}, "--columns: an empty column name in ''"},
      {{"--columns=time,"}, "--columns: an empty column name in 'time,'"},
      {{"--columns=path,,time"}, "--columns: an empty column name in 'path,,time'"},
      {{"--columns=path,time,path"}, "--columns: the column 'path' is listed twice"},
      {{"--sort=size"}, "--sort: unknown order 'size' (the orders are name and time)"},
      {{"--sort="}, "--sort: unknown order '' (the orders are name and time)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.front());
    std::vector<std::string> arguments = c.arguments;
    arguments.push_back(files_[0]);
    const CliResult r = RunCli(arguments);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "swelox-cli: " + c.message + "\nTry 'swelox-cli --help' for more information.\n");
  }
}

// A photo whose data ends early keeps its row, which is the row of the picture libjpeg makes of
// it, and its one warning, whatever the runs; the exit status stays 0.
TEST_F(ColumnsAndOrder, ACutPhotoWarnsOnceAndKeepsItsRow) {
  const test::Bytes whole = test::ReadBytes(files_[0]);
  const size_t scan = test::ScanDataStart(whole);
  const std::string cut = dir_->File("cut.jpg");
  test::WriteBytes(cut, test::Prefix(whole, scan + (whole.size() - scan) / 2));
  for (const char* repeats : {"--repeats=0", "--repeats=40"}) {
    SCOPED_TRACE(repeats);
    // 41 runs take two decodes of each file.
    const CliResult r = RunCli({repeats, "--width-increment=1", "--height-increment=1", "--width=4",
                                "--height=3", files_[1], cut, files_[1]});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "swelox-cli: " + cut + ": warning: Premature end of JPEG file.\n");
    const std::vector<std::string> lines = test::Lines(r.out);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[2], AnalyseFileRow(cut, {"4", "3"}, Direction::Below));
  }
}

// The Quality column: what each row is worth. A photo whose data was cut is `damaged` in every
// run that compares rectangles; a row without comparisons is `none`, the cut photo's included,
// whether the photo is smaller than the rectangle from the start or the rectangle outgrew it.
TEST_F(ColumnsAndOrder, QualityTellsSoundDamagedAndEmptyRows) {
  const test::Bytes whole = test::ReadBytes(files_[0]);
  const size_t scan = test::ScanDataStart(whole);
  const std::string cut = dir_->File("cut-quality.jpg");
  test::WriteBytes(cut, test::Prefix(whole, scan + (whole.size() - scan) / 2));
  const std::string tiny =
      test::EncodeWithCjpeg(*dir_, "tiny.jpg", test::RandomRaster(4, 4, 9, true));
  for (const char* jobs : {"-j1", "-j3"}) {
    SCOPED_TRACE(jobs);
    // 4 x 3, then 44 x 33: one rectangle of the 58 x 38 picture, nothing to compare it with.
    const CliResult r =
        RunCli({jobs, "--columns=quality,path", "--repeats=1", "--width=4", "--height=3",
                "--width-increment=1000", "--height-increment=1000", files_[1], cut, tiny});
    EXPECT_EQ(r.exitCode, 0);
    const std::vector<std::string> lines = test::Lines(r.out);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], std::string(kHeaderLine) + "\tQuality\tPath");
    const char* expected[] = {"ok", "damaged", "none", "none", "none", "none"};
    const std::string paths[] = {files_[1], cut, tiny};
    for (size_t k = 0; k < 6; ++k) {
      SCOPED_TRACE(lines[k + 1]);
      const RectangleTexts size = k < 3 ? RectangleTexts{"4", "3"} : RectangleTexts{"44", "33"};
      EXPECT_EQ(lines[k + 1], AnalyseFileRow(paths[k % 3], size, Direction::Below) + "\t" +
                                  expected[k] + "\t" + paths[k % 3]);
    }
  }
}

}  // namespace
}  // namespace swelox
