// A job's parts: --shard's values, Slurm's array variables, slices that cover a list once; and
// the hashed rows a part's table holds.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "analysis/GrowingTable.h"
#include "analysis/Shard.h"
#include "core/Errors.h"

namespace swelox {
namespace {

Environment Variables(std::map<std::string, std::string> values) {
  return [values = std::move(values)](const char* name) -> const char* {
    const auto found = values.find(name);
    return found == values.end() ? nullptr : found->second.c_str();
  };
}

TEST(Shard, ValuesAndArrayVariablesGiveTheirPartOrTheirFault) {
  struct Case {
    std::string text;
    std::map<std::string, std::string> environment;
    int64_t part, partOf;  // 0: refused with `message`
    std::string message;
  };
  const std::string id = "SLURM_ARRAY_TASK_ID", min = "SLURM_ARRAY_TASK_MIN",
                    count = "SLURM_ARRAY_TASK_COUNT", max = "SLURM_ARRAY_TASK_MAX";
  const std::vector<Case> cases = {
      {"1/1", {}, 1, 1, ""},
      {"3/7", {}, 3, 7, ""},
      {"007/10", {}, 7, 10, ""},
      {"0/4", {}, 0, 0, "--shard=0/4: the part must be from 1 to the number of parts"},
      {"5/4", {}, 0, 0, "--shard=5/4: the part must be from 1 to the number of parts"},
      {"1/0", {}, 0, 0, "--shard=1/0: the part must be from 1 to the number of parts"},
      {"2", {}, 0, 0, "--shard needs K/N (the K-th of N parts) or slurm, not '2'"},
      {"-1/4", {}, 0, 0, "--shard needs K/N (the K-th of N parts) or slurm, not '-1/4'"},
      {"1/4 ", {}, 0, 0, "--shard needs K/N (the K-th of N parts) or slurm, not '1/4 '"},
      {"1/9999999999",
       {},
       0,
       0,
       "--shard needs K/N (the K-th of N parts) or slurm, not '1/9999999999'"},
      {"Slurm", {}, 0, 0, "--shard needs K/N (the K-th of N parts) or slurm, not 'Slurm'"},
      // --array=1-4, --array=0-15, and a job array of one task.
      {"slurm", {{id, "1"}, {min, "1"}, {count, "4"}, {max, "4"}}, 1, 4, ""},
      {"slurm", {{id, "4"}, {min, "1"}, {count, "4"}, {max, "4"}}, 4, 4, ""},
      {"slurm", {{id, "0"}, {min, "0"}, {count, "16"}, {max, "15"}}, 1, 16, ""},
      {"slurm", {{id, "7"}, {min, "7"}, {count, "1"}}, 1, 1, ""},
      {"slurm",
       {},
       0,
       0,
       "--shard=slurm: SLURM_ARRAY_TASK_ID is not set (is this a task of a job array, sbatch "
       "--array?)"},
      {"slurm",
       {{id, "2"}, {min, "1"}},
       0,
       0,
       "--shard=slurm: SLURM_ARRAY_TASK_COUNT is not set (is this a task of a job array, sbatch "
       "--array?)"},
      {"slurm",
       {{id, "x"}, {min, "1"}, {count, "4"}},
       0,
       0,
       "--shard=slurm: SLURM_ARRAY_TASK_ID is 'x', no whole number"},
      // --array=0-15:4 (ids 0, 4, 8, 12) and --array=1,3,9: ids with gaps.
      {"slurm",
       {{id, "4"}, {min, "0"}, {count, "4"}, {max, "12"}},
       0,
       0,
       "--shard=slurm: the array's task ids are not consecutive (task 4 of 4 from 0); give the "
       "array as --array=FIRST-LAST, without a step"},
      {"slurm",
       {{id, "9"}, {min, "1"}, {count, "3"}},
       0,
       0,
       "--shard=slurm: the array's task ids are not consecutive (task 9 of 3 from 1); give the "
       "array as --array=FIRST-LAST, without a step"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    if (c.part == 0) {
      try {
        ParseShard(c.text, Variables(c.environment));
        ADD_FAILURE() << "taken";
      } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), c.message);
        EXPECT_EQ(e.scope(), ErrorScope::Settings);
      }
      continue;
    }
    const Shard shard = ParseShard(c.text, Variables(c.environment));
    EXPECT_EQ(shard.part, c.part);
    EXPECT_EQ(shard.partOf, c.partOf);
  }
}

// However the list and the number of parts, the slices follow one another from the first photo
// to the last and differ in length by one at most; fewer photos than parts leave parts empty.
TEST(Shard, SlicesCoverTheListOnceInOrder) {
  for (const size_t count : {size_t{0}, size_t{1}, size_t{2}, size_t{7}, size_t{1000}, size_t{1001},
                             size_t{750000}, size_t{1} << 40}) {
    for (const int64_t parts : {1, 2, 3, 4, 7, 1000, 1001}) {
      SCOPED_TRACE(std::to_string(count) + " photos in " + std::to_string(parts) + " parts");
      size_t next = 0, shortest = SIZE_MAX, longest = 0;
      for (int64_t k = 1; k <= parts; ++k) {
        const Slice slice = ShardSlice(count, {k, parts});
        ASSERT_EQ(slice.begin, next);
        ASSERT_LE(slice.begin, slice.end);
        shortest = std::min(shortest, slice.end - slice.begin);
        longest = std::max(longest, slice.end - slice.begin);
        next = slice.end;
      }
      EXPECT_EQ(next, count);
      EXPECT_LE(longest - shortest, 1u);
    }
  }
}

}  // namespace
}  // namespace swelox

namespace swelox {
namespace {

// The rows a table holds, by hashed key: counts per photo and run survive the table's growth,
// keys that differ in one byte (a size, a time's last digit) or only in length stay apart, and a
// row taken is taken once.
TEST(HeldRows, CountsPerPhotoAndRunThroughGrowth) {
  HeldRows held;
  const auto key = [](int k) {
    return "/season/IMG_" + std::to_string(k) + ".jpg\t51234\t2026-07-14T09:31:07.12345678" +
           std::to_string(k % 10) + "Z";
  };
  constexpr int kPhotos = 20000;  // several doublings of the table
  for (int k = 0; k < kPhotos; ++k) {
    held.Add(key(k), 0, k % 1000 == 0);
    if (k % 3 == 0) held.Add(key(k), 2, false);
  }
  held.Add(key(7), 0, false);  // a photo named twice
  EXPECT_EQ(held.rows(), kPhotos + (kPhotos + 2) / 3 + 1);
  EXPECT_EQ(held.damagedPhotos(), kPhotos / 1000);
  for (int k = 0; k < kPhotos; ++k) {
    ASSERT_EQ(held.Count(key(k), 0), k == 7 ? 2 : 1) << k;
    ASSERT_EQ(held.Count(key(k), 1), 0) << k;
    ASSERT_EQ(held.Count(key(k), 2), k % 3 == 0 ? 1 : 0) << k;
  }
  const std::vector<std::string> others = {
      "", "/season/IMG_1.jpg", key(1) + " ", key(1).substr(1),
      "/season/IMG_1.jpg\t51235\t2026-07-14T09:31:07.123456781Z"};
  for (const std::string& other : others) EXPECT_EQ(held.Count(other, 0), 0) << other;
  EXPECT_TRUE(held.Take(key(7), 0));
  EXPECT_TRUE(held.Take(key(7), 0));
  EXPECT_FALSE(held.Take(key(7), 0));
  EXPECT_FALSE(held.Take(key(8), 1));
  EXPECT_EQ(held.Count(key(7), 0), 0);
  EXPECT_EQ(held.Count(key(6), 0), 1);
  // Compact: 24 bytes a photo and run in a table at least 3/8 full after it doubles, so under
  // 64 bytes each, whatever the keys' text (about 60 bytes each here) and its allocations.
  const size_t entries = size_t{kPhotos} + (kPhotos + 2) / 3;
  EXPECT_LT(held.bytes(), entries * 64);
}

}  // namespace
}  // namespace swelox
