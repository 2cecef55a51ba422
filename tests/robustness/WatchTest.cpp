// swelox-cli --watch as a post runs it: the rows of the photos as they come are those of a batch
// run over the same photos, no photo is read while it is being written, a stop leaves the table
// whole and a restart goes on without duplicates, and bursts, photos removed early and the folder
// removed and made again are told on standard error without ending the watch.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "analysis/GrowingTable.h"
#include "analysis/ImageAnalysis.h"
#include "toolkit/CliRun.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using test::CliResult;
using test::RunCli;
using test::TempDir;
namespace fs = std::filesystem;

using test::ReadText;

// swelox-cli --watch in the background, its output in files.
class Watcher {
 public:
  Watcher(const TempDir& dir, const std::string& name, std::vector<std::string> arguments)
      : out_(dir.File(name + ".out")), err_(dir.File(name + ".err")) {
    std::vector<char*> argv;
    std::string program = SWELOX_CLI;
    argv.push_back(program.data());
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    child_ = ::fork();
    if (child_ == 0) {
      ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
      ::dup2(::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
      ::dup2(::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~Watcher() {
    if (child_ > 0) Stop(SIGKILL);
  }

  // Waits until `file` (standard output by default) has `lines` lines; false at the deadline.
  bool WaitForLines(size_t lines, const std::string& file = {}, double seconds = 30) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string text = ReadText(file.empty() ? out_ : file);
      if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= lines) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // Sends `signal` and waits for the end: the wait status.
  int Stop(int signal) {
    ::kill(child_, signal);
    int status = 0;
    ::waitpid(child_, &status, 0);
    child_ = -1;
    return status;
  }

  std::string out() const { return ReadText(out_); }
  std::string err() const { return ReadText(err_); }

 private:
  std::string out_;
  std::string err_;
  pid_t child_ = -1;
};

std::vector<uint8_t> Photo(const TempDir& dir, uint32_t seed, int32_t width = 64) {
  return test::ReadBytes(
      test::EncodeWithCjpeg(dir, "made.jpg", test::RandomRaster(width, width * 3 / 4, seed, true)));
}

// Written under `temporary`, then renamed, as sync tools do.
void WriteAndRename(const std::string& temporary, const std::string& path,
                    const std::vector<uint8_t>& bytes) {
  test::WriteBytes(temporary, bytes);
  fs::rename(temporary, path);
}

// Written in pieces with pauses under its own name, as a camera over USB does.
void WriteInPieces(const std::string& path, const std::vector<uint8_t>& bytes, int pieces,
                   int pauseMs) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  const size_t step = bytes.size() / static_cast<size_t>(pieces) + 1;
  for (size_t at = 0; at < bytes.size(); at += step) {
    const size_t n = std::min(step, bytes.size() - at);
    ASSERT_EQ(::write(fd, bytes.data() + at, n), static_cast<ssize_t>(n));
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
  }
  ::close(fd);
}

std::vector<std::string> Sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The Pic column of each row after the header: the photos' names, in order of first appearance.
std::vector<std::string> PhotosInOrder(const std::string& out) {
  std::vector<std::string> names;
  const std::vector<std::string> lines = test::Lines(out);
  for (size_t k = 1; k < lines.size(); ++k) {
    size_t at = 0;
    for (int field = 0; field < 7; ++field) at = lines[k].find('\t', at) + 1;
    const std::string name = lines[k].substr(at, lines[k].find('\t', at) - at);
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}

bool EndedBy(int status, int signal) { return WIFSIGNALED(status) && WTERMSIG(status) == signal; }

TEST(Watch, RowsAreThoseOfABatchRunAndNoPhotoIsReadWhileBeingWritten) {
  TempDir dir;
  const std::string folder = dir.File("photos");
  fs::create_directory(folder);
  test::WriteBytes(folder + "/IMG_10.jpg", Photo(dir, 1));
  test::WriteBytes(folder + "/IMG_9.jpg", Photo(dir, 2));
  // Being written when the watch starts, and for a while after.
  const std::vector<uint8_t> slow = Photo(dir, 3, 400);
  // O_CLOEXEC: the watch itself must not inherit a writer's descriptor.
  const int writing =
      ::open((folder + "/IMG_11.jpg").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(writing, 0);
  ASSERT_EQ(::write(writing, slow.data(), slow.size() / 3), static_cast<ssize_t>(slow.size() / 3));

  const std::vector<std::string> settings = {"--repeats=1", "--columns=quality", "-j2"};
  std::vector<std::string> arguments = settings;
  arguments.insert(arguments.end(), {"--watch", folder});
  Watcher watcher(dir, "watch", arguments);
  ASSERT_TRUE(watcher.WaitForLines(1 + 2 * 2)) << watcher.err();

  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const size_t rest = slow.size() - slow.size() / 3;
  ASSERT_EQ(::write(writing, slow.data() + slow.size() / 3, rest), static_cast<ssize_t>(rest));
  ::close(writing);
  WriteAndRename(folder + "/.IMG_12.jpg.part", folder + "/IMG_12.jpg", Photo(dir, 4));
  WriteAndRename(folder + "/IMG_13.jpg.tmp", folder + "/IMG_13.jpg", Photo(dir, 5));
  WriteInPieces(folder + "/IMG_14.jpg", Photo(dir, 6, 600), 4, 150);
  test::WriteBytes(folder + "/IMG_14.xmp", {'<', 'x', '/', '>'});
  ASSERT_TRUE(watcher.WaitForLines(1 + 2 * 6)) << watcher.out() << watcher.err();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // nothing more comes
  EXPECT_TRUE(EndedBy(watcher.Stop(SIGTERM), SIGTERM));

  const std::vector<std::string> order = {"IMG_9.jpg",  "IMG_10.jpg", "IMG_11.jpg",
                                          "IMG_12.jpg", "IMG_13.jpg", "IMG_14.jpg"};
  EXPECT_EQ(PhotosInOrder(watcher.out()), order);
  std::vector<std::string> batch = settings;
  for (const std::string& name : order) batch.push_back(folder + "/" + name);
  const CliResult whole = RunCli(batch);
  ASSERT_EQ(whole.exitCode, 0) << whole.err;
  const std::vector<std::string> rows = test::Lines(watcher.out());
  EXPECT_EQ(rows.front(), test::Lines(whole.out).front());
  EXPECT_EQ(Sorted(rows), Sorted(test::Lines(whole.out)));
  EXPECT_EQ(watcher.err(), "swelox-cli: " + folder + "/IMG_14.xmp: left out: no JPEG photo\n");
}

// The row a growing table holds for `path` in `run` (from 0), for the photo as it is now.
std::string TableRow(const std::string& path, const RectangleTexts& size, int run) {
  const PhotoIdentity photo = IdentifyPhoto(path);
  return AnalyseFileRow(path, size, Direction::Below) + "\t" + std::to_string(run + 1) + "\t" +
         photo.source + "\t" + photo.bytes + "\t" + photo.modified + "\tfalse\n";
}

// The rows of photos measured together, as a batch gives them: run by run.
std::string BatchRows(const std::vector<std::string>& paths) {
  const RectangleTexts sizes[] = {{"15", "12"}, {"30", "24"}, {"60", "48"}};
  std::string rows;
  for (int run = 0; run < 3; ++run) {
    for (const std::string& path : paths) rows += TableRow(path, sizes[run], run);
  }
  return rows;
}

TEST(Watch, AStopLeavesTheTableWholeAndARestartGoesOnWithoutDuplicates) {
  TempDir dir;
  const std::string folder = dir.File("photos");
  fs::create_directory(folder);
  const std::string table = dir.File("day.tsv");
  const auto photo = [&](const std::string& name, uint32_t seed) {
    WriteAndRename(folder + "/." + name, folder + "/" + name, Photo(dir, seed));
    return folder + "/" + name;
  };
  const std::string b = photo("b.jpg", 1);
  const std::string a = photo("a.jpg", 2);
  const std::vector<std::string> command = {"--output", table, "--repeats=2", "--watch", folder};
  std::string expected = std::string(kHeaderLine) + "\tRun\tSource\tBytes\tModified\tDamaged\n";
  {
    Watcher first(dir, "first", command);
    ASSERT_TRUE(first.WaitForLines(1 + 3 * 2, table)) << first.err();
    const std::string c = photo("c.jpg", 3);
    ASSERT_TRUE(first.WaitForLines(1 + 3 * 3, table)) << first.err();
    EXPECT_TRUE(EndedBy(first.Stop(SIGINT), SIGINT));
    EXPECT_EQ(first.out(), "");
    // Those at the start together, in natural order; then c alone.
    expected += BatchRows({a, b}) + BatchRows({c});
    EXPECT_EQ(ReadText(table), expected);
    const std::string descriptor = ReadText(dir.File("day.datapackage.json"));
    EXPECT_NE(descriptor.find("\"stopped\""), std::string::npos) << descriptor;
    EXPECT_NE(descriptor.find("\"rows\": 9"), std::string::npos) << descriptor;
  }
  // While no watch runs: a new photo, and a written again (another version of it).
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  photo("a.jpg", 4);
  const std::string d = photo("d.jpg", 5);
  {
    Watcher second(dir, "second", command);
    ASSERT_TRUE(second.WaitForLines(1 + 3 * 5, table)) << second.err();
    const std::string e = photo("e.jpg", 6);
    ASSERT_TRUE(second.WaitForLines(1 + 3 * 6, table)) << second.err();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // nothing more comes
    EXPECT_TRUE(EndedBy(second.Stop(SIGTERM), SIGTERM));
    EXPECT_EQ(second.err(), "");
    expected += BatchRows({a, d}) + BatchRows({e});
  }
  EXPECT_EQ(ReadText(table), expected);
}

TEST(Watch, ABurstPhotosRemovedEarlyAndTheFolderMadeAgainAreSurvived) {
  TempDir dir;
  const std::string folder = dir.File("photos");
  fs::create_directory(folder);
  const std::vector<uint8_t> bytes = Photo(dir, 1, 24);
  Watcher watcher(dir, "burst", {"--new-only", "--watch", folder});
  ASSERT_TRUE(watcher.WaitForLines(1));
  constexpr int kBurst = 1000;
  for (int k = 0; k < kBurst; ++k) {
    const std::string name = "IMG_" + std::to_string(k) + ".jpg";
    WriteAndRename(folder + "/." + name, folder + "/" + name, bytes);
  }
  ASSERT_TRUE(watcher.WaitForLines(1 + kBurst)) << watcher.err();
  fs::remove_all(folder);
  ASSERT_TRUE(watcher.WaitForLines(1, dir.File("burst.err"))) << watcher.err();
  fs::create_directory(folder);
  WriteAndRename(folder + "/.again.jpg", folder + "/again.jpg", bytes);
  ASSERT_TRUE(watcher.WaitForLines(2 + kBurst)) << watcher.err();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(EndedBy(watcher.Stop(SIGINT), SIGINT));

  const std::vector<std::string> names = PhotosInOrder(watcher.out());
  ASSERT_EQ(names.size(), kBurst + 1u);
  for (int k = 0; k < kBurst; ++k) EXPECT_EQ(names[k], "IMG_" + std::to_string(k) + ".jpg");
  EXPECT_EQ(names.back(), "again.jpg");
  EXPECT_EQ(watcher.err(), "swelox-cli: " + folder +
                               ": the folder is gone; waiting for it to be made again\n"
                               "swelox-cli: " +
                               folder + ": the folder is there again; watching it\n");
}

// A photo removed while the one before it is measured: one line naming it, and the watch goes on.
// (Removed before the watch looked at it, or after, before the measurement opened it.)
TEST(Watch, APhotoRemovedBeforeItIsMeasuredIsALineAndTheWatchGoesOn) {
  TempDir dir;
  const std::string folder = dir.File("photos");
  fs::create_directory(folder);
  Watcher watcher(dir, "gone", {"-j1", "--watch", folder});
  ASSERT_TRUE(watcher.WaitForLines(1));
  const std::vector<uint8_t> small = Photo(dir, 2);
  for (int k = 0; k < 3; ++k) {
    const std::string big = folder + "/big" + std::to_string(k) + ".jpg";
    const std::string gone = folder + "/gone" + std::to_string(k) + ".jpg";
    WriteAndRename(big + ".part", big, Photo(dir, 1, 1600));
    test::WriteBytes(gone, small);
    fs::remove(gone);
    ASSERT_TRUE(watcher.WaitForLines(static_cast<size_t>(k) + 1, dir.File("gone.err")))
        << watcher.err();
  }
  WriteAndRename(folder + "/.last.jpg", folder + "/last.jpg", small);
  ASSERT_TRUE(watcher.WaitForLines(5)) << watcher.err();
  EXPECT_TRUE(EndedBy(watcher.Stop(SIGTERM), SIGTERM));
  EXPECT_EQ(PhotosInOrder(watcher.out()),
            (std::vector<std::string>{"big0.jpg", "big1.jpg", "big2.jpg", "last.jpg"}));
  const std::vector<std::string> err = test::Lines(watcher.err());
  ASSERT_EQ(err.size(), 3u) << watcher.err();
  for (size_t k = 0; k < 3; ++k) {
    const std::string gone = folder + "/gone" + std::to_string(k) + ".jpg";
    EXPECT_TRUE(err[k] == "swelox-cli: " + gone + ": removed before it could be measured" ||
                err[k] == "swelox-cli: " + gone + ": Cannot open file \"" + gone +
                              "\". No such file or directory.")
        << err[k];
  }
}

TEST(Watch, MistakesOfTheCommandAreRefused) {
  TempDir dir;
  const std::string photo = test::EncodeWithCjpeg(dir, "p.jpg", test::RandomRaster(20, 20, 1));
  const struct {
    std::vector<std::string> arguments;
    int exitCode;
    std::string err;
  } cases[] = {
      {{"--new-only", photo}, 2, "swelox-cli: --new-only needs --watch\n" + test::kTryHelp},
      {{"--watch", dir.path().string(), photo},
       2,
       "swelox-cli: --watch takes the photos of its folder, not FILE arguments or lists\n" +
           test::kTryHelp},
      {{"--watch", dir.File("missing")},
       1,
       "swelox-cli: Cannot watch folder \"" + dir.File("missing") +
           "\". No such file or directory.\n"},
      {{"--watch", photo},
       1,
       "swelox-cli: Cannot watch folder \"" + photo + "\". Not a directory.\n"},
      {{"--watch=", "x"}, 2, "swelox-cli: --watch needs a folder\n" + test::kTryHelp},
      {{"--watch", dir.path().string(), "--shard=1/2"},
       2,
       "swelox-cli: --watch takes no --shard or --merge\n" + test::kTryHelp},
  };
  for (const auto& c : cases) {
    const CliResult result = RunCli(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.arguments[0];
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "");
  }
  // A table is not begun for a folder that cannot be watched.
  EXPECT_EQ(RunCli({"--output", dir.File("t.tsv"), "--watch", dir.File("missing")}).exitCode, 1);
  EXPECT_FALSE(fs::exists(dir.File("t.tsv")));
  EXPECT_FALSE(fs::exists(dir.File("t.datapackage.json")));
}

}  // namespace
}  // namespace swelox
