// swelox-cli's command line as GNU tools read it (joined and bundled short options, --opt=value,
// abbreviations, "--"), its file lists (--files-from, --files0-from) and what it does when they,
// or its standard output, fail.
#include <gtest/gtest.h>

#include <filesystem>

#include "analysis/ImageAnalysis.h"
#include "toolkit/CliRun.h"
#include "toolkit/Golden.h"
#include "toolkit/JpegCraft.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using test::CliResult;
using test::kHeader;
using test::kTryHelp;
using test::RunCli;
using test::TempDir;

class OptionsAndLists : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    good_ = test::EncodeWithCjpeg(*dir_, "good.jpg", test::RandomRaster(64, 48, 7, true));
    missing_ = dir_->File("missing.jpg");
  }
  static void TearDownTestSuite() { delete dir_; }

  static std::string Copy(const std::string& name) {
    const std::string path = dir_->File(name);
    test::WriteBytes(path, test::ReadBytes(good_));
    return path;
  }
  static std::string MissingMessage(const std::string& path) {
    return "swelox-cli: " + path + ": Cannot open file \"" + path +
           "\". No such file or directory.\n";
  }

  static inline TempDir* dir_ = nullptr;
  static inline std::string good_, missing_;
};

// Every spelling of the same settings gives the same rows and messages as the plain one.
TEST_F(OptionsAndLists, EveryOptionFormGivesTheSameRun) {
  const CliResult plain = RunCli({"--width", "8", "--height", "6", "--repeats", "1", "--right",
                                  "--keep-going", "--jobs", "2", good_, missing_, good_});
  ASSERT_EQ(plain.exitCode, 1);
  ASSERT_EQ(test::Lines(plain.out).size(), 5u) << plain.out;
  ASSERT_EQ(plain.err, MissingMessage(missing_) + MissingMessage(missing_));

  const std::vector<std::vector<std::string>> forms = {
      {"--width=8", "--height=6", "--repeats=1", "--right", "-k", "-j2", good_, missing_, good_},
      {"--width", "8", "--height", "6", "--repeats", "1", "--right", "-kj2", good_, missing_,
       good_},
      {"--width", "8", "--height", "6", "--repeats", "1", "--right", "-kj", "2", good_, missing_,
       good_},
      // Unambiguous abbreviations; an exact name wins over the longer names it begins.
      {"--width", "8", "--height=6", "--rep", "1", "--ri", "--keep", "--job=2", good_, missing_,
       good_},
      {"--width", "8", "--height-i=100", "--width-i", "100", "--height", "6", "--repeats=1",
       "--right", "-k", "-j", "2", good_, missing_, good_},
      // Options and files mixed, and "--" before the files.
      {good_, "--width", "8", missing_, "--height", "6", "-k", "--repeats=1", "--right", good_,
       "-j2"},
      {"--width", "8", "--height", "6", "--repeats", "1", "--right", "-kj2", "--", good_, missing_,
       good_},
  };
  for (const std::vector<std::string>& form : forms) {
    std::string shown;
    for (const std::string& a : form) shown += a + " ";
    SCOPED_TRACE(shown);
    const CliResult r = RunCli(form);
    EXPECT_EQ(r.exitCode, plain.exitCode);
    EXPECT_EQ(r.out, plain.out);
    EXPECT_EQ(r.err, plain.err);
  }
}

// --help and --version print and end at once, before any file is looked at.
TEST_F(OptionsAndLists, HelpAndVersionEndAtOnce) {
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--version"},
                                                    {"--vers", missing_},
                                                    {missing_, "-k", "--version"}}) {
    const CliResult r = RunCli(arguments);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "swelox-cli 1.0.0\n");
    EXPECT_EQ(r.err, "");
  }
  const CliResult help = RunCli({"-kh", missing_});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: swelox-cli [OPTION]... FILE...\n", 0), 0u) << help.out;
  EXPECT_EQ(help.err, "");
}

// The help text is the golden one, and fits a terminal of 80 columns (also where an option's help
// goes on over lines).
TEST_F(OptionsAndLists, HelpIsTheGoldenTextInEightyColumns) {
  const CliResult help = RunCli({"--help"});
  ASSERT_EQ(help.exitCode, 0);
  EXPECT_EQ(test::GoldenDifference("swelox-cli-help.txt", help.out), "");
  const std::vector<std::string> lines = test::Lines(help.out);
  ASSERT_GT(lines.size(), 20u);
  for (const std::string& line : lines) {
    EXPECT_LE(line.size(), 80u) << line;
    EXPECT_EQ(line.find('\t'), std::string::npos) << line;
  }
}

// A command line the tool cannot act on: one message and the hint, exit status 2, no rows.
TEST_F(OptionsAndLists, UsageErrors) {
  const std::string folder = dir_->path().string();
  const std::string longName = dir_->File("long-line.txt");
  test::WriteBytes(longName, test::ToBytes(good_ + "\n" + std::string(5000, 'a') + "\n"));
  struct Case {
    std::vector<std::string> arguments;
    std::string input;  // standard input
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--wid", "8", good_},
       "",
       "option '--wid' is ambiguous; possibilities: '--width' '--width-increment'"},
      {{"--bogus", good_}, "", "unrecognized option '--bogus'"},
      {{"-x", good_}, "", "invalid option -- 'x'"},
      {{good_, "-j"}, "", "option requires an argument -- 'j'"},
      {{good_, "--width"}, "", "option '--width' requires an argument"},
      {{"--right=yes", good_}, "", "option '--right' doesn't allow an argument"},
      {{"-j2x", good_}, "", "--jobs needs a whole number, not '2x'"},
      {{}, "", "no files given"},
      {{"--files-from", "-"}, "\n\r\n", "no files given"},
      {{"--files-from", folder}, "", "cannot read the file list '" + folder + "': Is a directory"},
      {{"--files0-from", missing_},
       "",
       "cannot read the file list '" + missing_ + "': No such file or directory"},
      {{"--files-from", "-"},
       good_ + std::string(1, '\0') + good_ + "\n",
       "the file list '-' holds a NUL byte in line 1; use --files0-from for names separated by "
       "NUL bytes"},
      {{"--files-from", longName},
       "",
       "line 2 of the file list '" + longName + "' is longer than any path (4095 bytes)"},
      {{"--files0-from", "-"},
       good_ + std::string(1, '\0') + std::string(1, '\0'),
       "name 2 of the file list '-' is empty"},
      // Endless sources end at once.
      {{"--files-from", "/dev/zero"},
       "",
       "the file list '/dev/zero' holds a NUL byte in line 1; use --files0-from for names "
       "separated by NUL bytes"},
      {{"--files0-from", "/dev/zero"}, "", "name 1 of the file list '/dev/zero' is empty"},
      {{"--files0-from", "-"},
       std::string(1 << 20, 'n'),
       "name 1 of the file list '-' is longer than any path (4095 bytes)"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.arguments) shown += a + " ";
    SCOPED_TRACE(shown);
    const CliResult r = RunCli(c.arguments, 10, c.input);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "swelox-cli: " + c.message + "\n" + kTryHelp);
    EXPECT_LT(r.peakRssKb, 64 * 1024);
  }
}

// The longest name a path can have passes the list; the file system then refuses it as a file.
TEST_F(OptionsAndLists, ListNamesUpToThePathLimitReachTheFileSystem) {
  const std::string name = "/" + std::string(4094, 'n');
  const CliResult r = RunCli({"-k", "--files-from", "-", good_}, 10, name + "\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err,
            "swelox-cli: " + name + ": Cannot open file \"" + name + "\". File name too long.\n");
}

// Names separated by NUL bytes may hold any other byte; the names on the command line come
// first, then the lists in their order.
TEST_F(OptionsAndLists, NulSeparatedListsTakeAnyName) {
  const std::vector<std::string> names = {"line\nfeed.jpg", " spaced .jpg", "tab\t.jpg", "cr\r.jpg",
                                          "plain.jpg"};
  std::string list;
  for (const std::string& name : names) list += Copy(name) + std::string(1, '\0');
  list.pop_back();  // the last name needs no NUL after it
  const std::string lineList = dir_->File("list.txt");
  test::WriteBytes(lineList, test::ToBytes(Copy("from-lines.jpg") + "\n"));

  const std::string row = test::Lines(RunCli({good_}).out).at(1);
  auto rowNamed = [&](const std::string& pic) {
    return row.substr(0, row.rfind('\t') + 1) + pic + "\n";
  };
  const CliResult r = RunCli({"--files0-from", "-", "--files-from", lineList, good_}, 30, list);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, kHeader + rowNamed("good.jpg") + rowNamed("line\\nfeed.jpg") +
                       rowNamed(" spaced .jpg") + rowNamed("tab\\t.jpg") + rowNamed("cr\\r.jpg") +
                       rowNamed("plain.jpg") + rowNamed("from-lines.jpg"));
  EXPECT_EQ(r.err, "");
}

// When the results cannot be written, the run ends at once: pictures that take a while to decode
// follow, and the run takes less than a few of their decodes; a missing file after them is
// never reached, so the one message is the write error.
TEST(FullOutput, EndsTheRunAtOnce) {
  TempDir dir;
  const std::string slow = dir.File("slow.jpg");
  test::WriteBytes(slow, test::GreyClaim(65500, 3000, "-sample 2x2"));
  const CliResult alone = RunCli({slow}, 120);
  ASSERT_EQ(alone.exitCode, 0) << alone.err;

  constexpr int kFiles = 16;
  std::vector<std::string> arguments = {"-k"};
  for (int i = 0; i < kFiles; ++i) arguments.push_back(slow);
  arguments.push_back(dir.File("missing.jpg"));
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(std::string("--jobs ") + jobs);
    arguments.push_back(std::string("-j") + jobs);
    const CliResult r = RunCli(arguments, 120, std::nullopt, std::string("/dev/full"));
    arguments.pop_back();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "swelox-cli: cannot write the results: No space left on device.\n");
    EXPECT_LT(r.seconds, 4 * alone.seconds) << "one decode alone took " << alone.seconds << " s";
  }
  // The help text fails in the same way.
  const CliResult help = RunCli({"--help"}, 10, std::nullopt, std::string("/dev/full"));
  EXPECT_EQ(help.exitCode, 1);
  EXPECT_EQ(help.err, "swelox-cli: write error: No space left on device\n");
}

}  // namespace
}  // namespace swelox
