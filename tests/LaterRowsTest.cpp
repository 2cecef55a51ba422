// The rows of later runs come back in order and unchanged, whether they stayed in memory, went to
// the temporary file, or could not go there.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

#include "analysis/LaterRows.h"

namespace swelox {
namespace {

// Sets an environment variable for the scope of a test.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string Text(const RowOutcome& outcome) {
  const RowValues& v = outcome.values;
  const std::string values =
      " | " + std::to_string(v.width) + " " + std::to_string(v.height) + " " +
      std::to_string(v.rectangleWidth) + " " + std::to_string(v.rectangleHeight) + " " +
      std::to_string(v.figures.meanDiff) + " " + std::to_string(v.figures.rms) + " " +
      std::to_string(v.figures.nDiffs) + " " + v.captureTime + " " + QualityName(v.quality);
  if (!outcome.error) return "row " + outcome.row + " | " + outcome.warning + values;
  return "error " + std::to_string(static_cast<int>(outcome.error->scope())) + " " +
         outcome.error->what() + " | " + outcome.error->detail() + " | " + outcome.row;
}

// Outcome `file` of `run`: rows of many lengths, with and without a warning, and errors of both
// scopes, with and without libjpeg's explanation, with NUL and 0xFF bytes.
RowOutcome Outcome(size_t run, size_t file) {
  RowOutcome outcome;
  outcome.row = std::string(file % 97, static_cast<char>('a' + run)) + std::to_string(file);
  if (file % 5 == 1) outcome.warning = "Premature end of JPEG file " + std::to_string(file);
  const auto n = static_cast<int32_t>(file);
  outcome.values = {-1 - int64_t{n} * 40000,
                    int64_t{n} << 33,
                    n + 1,
                    n + 2,
                    {n * 3, -n, INT32_MAX - n},
                    file % 4 == 0 ? "" : "2026-07-14T09:31:07.25",
                    static_cast<Quality>(file % 3)};
  if (file % 7 == 3) {
    outcome.error.emplace("JPEG error #" + std::to_string(file) + std::string(1, '\0') + "\xff",
                          file % 2 == 0 ? ErrorScope::File : ErrorScope::Settings,
                          file % 3 == 0 ? std::string() : "Premature end of JPEG file");
  }
  return outcome;
}

TEST(LaterRows, ComeBackInOrderFromMemoryOrTheTemporaryFile) {
  const struct {
    const char* what;
    size_t memoryBytes;
    const char* tmpdir;
    bool spills;
  } cases[] = {
      {"in memory", LaterRows::kMemoryBytes, "/tmp", false},
      {"spilled", 4096, "/tmp", true},
      {"spilled at every row", 1, "/tmp", true},
      {"no temporary folder", 4096, "/nonexistent-folder", false},
  };
  constexpr size_t kRuns = 5, kFiles = 1500;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedEnvironment tmpdir("TMPDIR", c.tmpdir);
    LaterRows later(kRuns, c.memoryBytes);
    for (size_t file = 0; file < kFiles; ++file) {
      for (size_t run = 1; run < kRuns; ++run) later.Put(run, Outcome(run, file));
    }
    EXPECT_EQ(later.spilledBytes() > 0, c.spills);
    for (size_t run = 1; run < kRuns; ++run) {
      for (size_t file = 0; file < kFiles; ++file) {
        const std::string got = Text(later.Take(run));
        if (got != Text(Outcome(run, file))) {
          ADD_FAILURE() << "run " << run << ", file " << file << ": " << got;
          return;
        }
      }
    }
  }
}

// Taking and putting may alternate: what is taken is always the oldest of its run.
TEST(LaterRows, TakingAndPuttingMayAlternate) {
  LaterRows later(2, 64);
  size_t taken = 0;
  for (size_t file = 0; file < 500; ++file) {
    later.Put(1, Outcome(1, file));
    if (file % 3 == 2) {
      ASSERT_EQ(Text(later.Take(1)), Text(Outcome(1, taken))) << file;
      ++taken;
    }
  }
  EXPECT_GT(later.spilledBytes(), 0u);
  for (; taken < 500; ++taken) ASSERT_EQ(Text(later.Take(1)), Text(Outcome(1, taken)));
}

}  // namespace
}  // namespace swelox
