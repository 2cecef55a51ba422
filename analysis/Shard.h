// One task's share of a job: --shard=K/N takes the K-th of N contiguous slices of the ordered list
// of photos, so that every machine given the same command and photos cuts the same parts, and the
// parts' tables put one after the other are the whole list's. --shard=slurm takes K and N from
// the task of a Slurm job array.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace swelox {

struct Shard {
  int64_t part = 1;    // from 1
  int64_t partOf = 1;  // the number of parts
};

// The environment as Shard reads it: getenv by default, a table of the test's own otherwise.
using Environment = std::function<const char*(const char*)>;

// "K/N" with 1 <= K <= N (decimal, as the option's value is written), or "slurm":
// K = SLURM_ARRAY_TASK_ID - SLURM_ARRAY_TASK_MIN + 1 and N = SLURM_ARRAY_TASK_COUNT, for an array
// of consecutive task ids (--array=1-N or 0-15). Raises Error (settings) naming what is wrong: a
// malformed value, a variable that is not set, an array with steps or gaps.
Shard ParseShard(std::string_view text, const Environment& environment = nullptr);

// The first index and the one past the last of the part's slice of `count` photos: the slices
// differ in length by one photo at most, and together they cover the list once, in order.
struct Slice {
  size_t begin = 0;
  size_t end = 0;
};
Slice ShardSlice(size_t count, const Shard& shard);

}  // namespace swelox
