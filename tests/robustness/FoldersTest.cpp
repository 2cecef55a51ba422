// A folder on swelox-cli's command line stands for its JPEG photos (by name or by content), in
// natural order, with --recursive its subfolders' too; what else it holds is counted in one line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "toolkit/CliRun.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using test::CliResult;
using test::RunCli;
using test::TempDir;

class Folders : public testing::Test {
 protected:
  void SetUp() override {
    photo_ = test::ReadBytes(
        test::EncodeWithCjpeg(source_, "photo.jpg", test::RandomRaster(48, 36, 3, true)));
    other_ = test::ReadBytes(
        test::EncodeWithCjpeg(source_, "other.jpg", test::RandomRaster(40, 30, 5, true)));
    std::filesystem::create_directories(dir_.path() / "day" / "b-sub" / "deeper");
    std::filesystem::create_directories(dir_.path() / "day" / ".thumbnails");
  }
  std::string Put(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir_.File(name);
    test::WriteBytes(path, bytes);
    return path;
  }
  // The rows of a command on the files named one by one.
  static std::string RowsOf(const std::vector<std::string>& files) {
    std::vector<std::string> arguments = {"--columns=path"};
    arguments.insert(arguments.end(), files.begin(), files.end());
    const CliResult result = RunCli(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return result.out;
  }

  TempDir dir_, source_;
  std::vector<uint8_t> photo_, other_;
};

TEST_F(Folders, AFolderGivesItsPhotosInNaturalOrderAndCountsTheRest) {
  const std::string img10 = Put("day/IMG_10.jpg", photo_);
  const std::string img9 = Put("day/IMG_9.JPG", other_);
  const std::string bare = Put("day/IMG_11", photo_);  // a JPEG by its content alone
  const std::string a = Put("day/a.jpeg", other_);
  Put("day/notes.txt", {'h', 'i', '\n'});
  Put("day/IMG_12.raw", {0xFF, 0xD9, 0x00});         // no start-of-image marker
  Put("day/._IMG_9.jpg", {0x00, 0x05, 0x16, 0x07});  // a Mac's resource file, hidden
  Put("day/.thumbnails/IMG_9.jpg", other_);
  const std::string sub = Put("day/b-sub/IMG_1.jpg", photo_);
  const std::string deeper = Put("day/b-sub/deeper/IMG_2.jpg", other_);
  const std::string subLast = Put("day/b-sub/IMG_3.jpg", other_);
  const std::string day = dir_.File("day");

  struct Case {
    std::vector<std::string> arguments;
    std::vector<std::string> files;  // what the folder stands for
    std::string err;
  };
  const std::vector<Case> cases = {
      {{day},
       {img9, img10, bare, a},
       "swelox-cli: 3 files that are no JPEG photos left out of the folders given; 1 subfolder "
       "not walked (--recursive walks them)\n"},
      // A folder named with a slash at its end, and beside a file named on its own.
      {{day + "/", sub},
       {day + "/IMG_9.JPG", day + "/IMG_10.jpg", day + "/IMG_11", day + "/a.jpeg", sub},
       "swelox-cli: 3 files that are no JPEG photos left out of the folders given; 1 subfolder "
       "not walked (--recursive walks them)\n"},
      // The subfolder's photos where its name sorts (bytes otherwise: capitals first).
      {{"--recursive", day},
       {img9, img10, bare, a, sub, subLast, deeper},
       "swelox-cli: 3 files that are no JPEG photos left out of the folders given\n"},
      {{"-r", dir_.File("day/b-sub")}, {sub, subLast, deeper}, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"--columns=path"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const CliResult result = RunCli(arguments);
    EXPECT_EQ(result.exitCode, 0) << c.arguments.back() << "\n" << result.err;
    EXPECT_EQ(result.err, c.err) << c.arguments.back();
    EXPECT_EQ(result.out, RowsOf(c.files)) << c.arguments.back();
  }
}

TEST_F(Folders, AFolderWithoutPhotosOrThatCannotBeReadIsAUsageError) {
  std::filesystem::create_directories(dir_.path() / "empty");
  Put("empty/readme.txt", {'x'});
  const CliResult empty = RunCli({dir_.File("empty")});
  EXPECT_EQ(empty.exitCode, 2);
  EXPECT_EQ(empty.out, "");
  EXPECT_EQ(empty.err,
            "swelox-cli: 1 file that is no JPEG photo left out of the folders given\n"
            "swelox-cli: no photos in the folders given\n" +
                test::kTryHelp);

  if (::geteuid() == 0) GTEST_SKIP() << "root reads any folder";
  const std::string locked = dir_.File("locked");
  std::filesystem::create_directories(locked);
  Put("locked/IMG_1.jpg", photo_);
  ::chmod(locked.c_str(), 0300);
  const CliResult refused = RunCli({locked});
  ::chmod(locked.c_str(), 0700);
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "swelox-cli: cannot read the folder '" + locked +
                             "': Permission denied\n" + test::kTryHelp);
}

}  // namespace
}  // namespace swelox
