// A job's parts (--shard=K/N with --output) merged with --merge give exactly the table of one
// whole run, for any number of parts and runs; parts that do not make one whole are refused with a
// message that names the problem, and nothing is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "toolkit/CliRun.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using test::CliResult;
using test::RunCli;
using test::TempDir;

using test::ReadText;
using test::WriteText;
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}
// The descriptor without its times and with its table's name as `name`.
std::string Comparable(const std::string& descriptorPath, const std::string& name) {
  std::istringstream lines(ReadText(descriptorPath));
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\"created\"") == std::string::npos &&
        line.find("\"started\"") == std::string::npos &&
        line.find("\"ended\"") == std::string::npos) {
      kept += line + "\n";
    }
  }
  const std::string stem = std::filesystem::path(descriptorPath).filename().string();
  return Replaced(kept, stem.substr(0, stem.find('.')), name);
}

class ShardAndMerge : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    std::filesystem::create_directories(dir_->path() / "photos");
    // 23 photos, in a folder whose natural order is not the order of the names' bytes.
    for (int k = 0; k < 23; ++k) {
      const std::string name = "IMG_" + std::to_string(k) + ".jpg";
      std::filesystem::rename(
          test::EncodeWithCjpeg(*dir_, name,
                                test::RandomRaster(48 + k % 5, 36, static_cast<uint32_t>(k), true)),
          dir_->File("photos/" + name));
    }
  }
  static void TearDownTestSuite() { delete dir_; }

  static std::string Photos() { return dir_->File("photos"); }
  static CliResult Cli(std::vector<std::string> arguments, const std::vector<std::string>& more) {
    arguments.insert(arguments.end(), more.begin(), more.end());
    return RunCli(arguments);
  }
  // Every part of `parts` with `settings`, into NAME-K.EXT; their paths.
  static std::vector<std::string> MakeParts(const std::string& name, int parts,
                                            const std::vector<std::string>& settings,
                                            const std::string& extension = ".tsv") {
    std::vector<std::string> paths;
    for (int k = 1; k <= parts; ++k) {
      paths.push_back(dir_->File(name + "-" + std::to_string(k) + extension));
      const CliResult r = Cli({"-j1", "--shard=" + std::to_string(k) + "/" + std::to_string(parts),
                               "--output", paths.back(), Photos()},
                              settings);
      EXPECT_EQ(r.exitCode, 0) << r.err;
    }
    return paths;
  }
  static CliResult MergeInto(const std::string& output, const std::vector<std::string>& parts) {
    return Cli({"--merge", "--output", output}, parts);
  }

  static inline TempDir* dir_ = nullptr;
};

TEST_F(ShardAndMerge, PartsMergedForAnyNumberOfPartsAreTheWholeRunsTable) {
  struct Settings {
    std::string name;
    std::vector<std::string> options;
    std::string extension;
  };
  // One run; three runs, whose rows interleave the parts run by run; name order; CSV.
  const std::vector<Settings> settings = {
      {"one", {}, ".tsv"},
      {"three", {"--repeats=2", "--width-increment=50", "--columns=quality"}, ".tsv"},
      {"csv", {"--sort=name", "--right"}, ".csv"},
  };
  for (const Settings& s : settings) {
    SCOPED_TRACE(s.name);
    const std::string whole = dir_->File(s.name + "-whole" + s.extension);
    const CliResult r = Cli({"-j2", "--output", whole, Photos()}, s.options);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string wholeDescriptor =
        Comparable(dir_->File(s.name + "-whole.datapackage.json"), "table");
    for (int parts = 1; parts <= 7; ++parts) {
      SCOPED_TRACE(std::to_string(parts) + " parts");
      const std::string name = s.name + "-" + std::to_string(parts);
      std::vector<std::string> paths = MakeParts(name, parts, s.options, s.extension);
      std::reverse(paths.begin(), paths.end());  // the parts' own numbers give the order
      const std::string merged = dir_->File(name + "-merged" + s.extension);
      const CliResult m = MergeInto(merged, paths);
      ASSERT_EQ(m.exitCode, 0) << m.err;
      EXPECT_EQ(m.err, "");
      EXPECT_EQ(ReadText(merged), ReadText(whole));
      EXPECT_EQ(Comparable(dir_->File(name + "-merged.datapackage.json"), "table"),
                wholeDescriptor);
      EXPECT_FALSE(std::filesystem::exists(merged + ".new"));
    }
  }
  // Parts written as TSV, merged into CSV: the table a whole run with a .csv name makes.
  const std::vector<std::string> tsvParts = MakeParts("to-csv", 3, {"--sort=name", "--right"});
  const std::string merged = dir_->File("to-csv-merged.csv");
  ASSERT_EQ(MergeInto(merged, tsvParts).exitCode, 0);
  EXPECT_EQ(ReadText(merged), ReadText(dir_->File("csv-whole.csv")));
}

TEST_F(ShardAndMerge, PartsThatDoNotMakeOneWholeAreRefusedAndNothingIsWritten) {
  const std::vector<std::string> parts = MakeParts("good", 4, {});
  const std::string other = dir_->File("other-width-2.tsv");
  ASSERT_EQ(Cli({"--shard=2/4", "--width=20", "-o", other, Photos()}, {}).exitCode, 0);
  const std::string ofFive = dir_->File("of-five-2.tsv");
  ASSERT_EQ(Cli({"--shard=2/5", "-o", ofFive, Photos()}, {}).exitCode, 0);
  // A list with one more photo: the slices are cut elsewhere.
  const std::string extra = dir_->File("extra.jpg");
  std::filesystem::copy_file(dir_->File("photos/IMG_3.jpg"), extra);
  const std::string longer = dir_->File("longer-2.tsv");
  ASSERT_EQ(Cli({"--shard=2/4", "-o", longer, Photos(), extra}, {}).exitCode, 0);
  const std::string whole = dir_->File("whole.tsv");
  ASSERT_EQ(Cli({"-o", whole, Photos()}, {}).exitCode, 0);
  const std::string copy = dir_->File("copy-2.tsv");
  std::filesystem::copy_file(parts[1], copy);
  std::filesystem::copy_file(dir_->File("good-2.datapackage.json"),
                             dir_->File("copy-2.datapackage.json"));
  // A part whose descriptor names another program, or says it was stopped; a part cut short,
  // one that lost a row, one without a descriptor.
  const auto edited = [&](const std::string& name, const std::string& from, const std::string& to,
                          const std::string& tableTail = "") {
    const std::string path = dir_->File(name + "-3.tsv");
    std::string table = ReadText(parts[2]);
    if (tableTail == "-row")
      table.erase(table.rfind('\n', table.size() - 2) + 1);
    else
      table += tableTail;
    WriteText(path, table);
    WriteText(dir_->File(name + "-3.datapackage.json"),
              Replaced(ReadText(dir_->File("good-3.datapackage.json")), from, to));
    return path;
  };
  const std::string program = edited("program", "\"swelox ", "\"swelox 0.9-");
  const std::string stopped =
      edited("stopped", "\"status\": \"complete\"", "\"status\": \"stopped\"");
  const std::string cut = edited("cut", "", "", "15\t12\t");
  const std::string lost = edited("lost", "", "", "-row");
  const std::string bare = dir_->File("bare-3.tsv");
  std::filesystem::copy_file(parts[2], bare);

  const std::string output = dir_->File("merged.tsv");
  struct Case {
    std::vector<std::string> parts;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{parts[0], parts[1], parts[3]}, "part 3 of 4 is missing."},
      {{parts[1], parts[3]}, "parts 1 and 3 of 4 are missing."},
      {{parts[0], parts[1], parts[2], parts[3], copy},
       "part 2 of 4 is given twice: " + parts[1] + " and " + copy + "."},
      {{parts[0], parts[1], parts[1], parts[2], parts[3]},
       "part 2 of 4 is given twice: " + parts[1] + " and " + parts[1] + "."},
      {{parts[0], other, parts[2], parts[3]},
       other + " was made otherwise than " + parts[0] + ": the width is 15, not 20."},
      {{parts[0], parts[1], program, parts[3]}, ""},  // checked below: names both versions
      {{parts[0], ofFive, parts[2], parts[3]},
       ofFive + " is part 2 of 5, but " + parts[0] + " is one of 4."},
      {{parts[0], longer, parts[2], parts[3]}, ""},  // checked below: names the list
      {{parts[0], parts[1], stopped, parts[3]},
       "part 3 of 4 (" + stopped +
           ") is not finished: stopped after 6 of 6 photos; run its "
           "command again to finish it."},
      {{parts[0], parts[1], cut, parts[3]},
       "part 3 of 4 (" + cut + ") ends in a cut record; run its command again to finish it."},
      {{parts[0], parts[1], lost, parts[3]},
       "part 3 of 4 (" + lost + ") holds 5 rows, but its descriptor counts 6."},
      {{parts[0], parts[1], bare, parts[3]},
       bare + ": there is no descriptor " + dir_->File("bare-3.datapackage.json") + " beside it."},
      {{whole}, whole + " is the table of a whole list, not a part (it was made without --shard)"},
      {{parts[0], parts[1], parts[2], parts[3], output}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parts.back());
    const auto gives = [&](const std::string& part) {
      return std::find(c.parts.begin(), c.parts.end(), part) != c.parts.end();
    };
    const CliResult r = MergeInto(output, c.parts);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    if (gives(longer)) {
      EXPECT_TRUE(r.err.starts_with("swelox-cli: " + longer + " was made otherwise than " +
                                    parts[0] + ": the list of photos the parts share is 23 " +
                                    "photos (fingerprint "))
          << r.err;
    } else if (gives(program)) {
      EXPECT_TRUE(r.err.starts_with("swelox-cli: " + program + " was made otherwise than " +
                                    parts[0] + ": the program is swelox "))
          << r.err;
      EXPECT_NE(r.err.find(", not swelox 0.9-"), std::string::npos) << r.err;
    } else if (!c.message.empty()) {
      EXPECT_EQ(r.err, "swelox-cli: " + c.message + "\n");
    }
    if (c.parts.back() != output) {
      EXPECT_FALSE(std::filesystem::exists(output));
      EXPECT_FALSE(std::filesystem::exists(output + ".new"));
    }
  }

  // An existing table is never replaced.
  WriteText(output, "mine\n");
  const CliResult exists = MergeInto(output, parts);
  EXPECT_EQ(exists.exitCode, 1);
  EXPECT_EQ(exists.err, "swelox-cli: " + output + " exists already; --merge makes a new table.\n");
  EXPECT_EQ(ReadText(output), "mine\n");

  // Usage: no table to make, or no parts.
  EXPECT_EQ(RunCli({"--merge", parts[0]}).err,
            "swelox-cli: --merge needs --output FILE for the table it makes\n" + test::kTryHelp);
  EXPECT_EQ(RunCli({"--merge", "-o", dir_->File("x.tsv")}).exitCode, 2);
}

// A part's table started again with another part, another number of parts or without --shard
// is refused, as a table made with other settings is; the same part goes on where it stopped.
TEST_F(ShardAndMerge, APartsTableTakesOnlyItsOwnPart) {
  const std::vector<std::string> parts = MakeParts("own", 3, {});
  const std::string before = ReadText(parts[1]);
  struct Case {
    std::vector<std::string> arguments;
    std::string difference;
  };
  const std::vector<Case> cases = {
      {{"--shard=3/3"}, "the part is 2 of 3, not 3 of 3"},
      {{"--shard=2/4"}, "the part is 2 of 3, not 2 of 4"},
      {{}, "the part is 2 of 3, not the whole list"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.difference);
    const CliResult r = Cli({"-o", parts[1], Photos()}, c.arguments);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "swelox-cli: " + parts[1] + " was made with other settings: " + c.difference + ".\n");
    EXPECT_EQ(ReadText(parts[1]), before);
  }
  const CliResult again = Cli({"--shard=2/3", "-o", parts[1], Photos()}, {});
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(ReadText(parts[1]), before);
}

}  // namespace
}  // namespace swelox
