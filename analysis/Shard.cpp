#include "analysis/Shard.h"

#include <cstdlib>
#include <string>

#include "core/Errors.h"
#include "core/IntegerText.h"

namespace swelox {
namespace {

[[noreturn]] void Refuse(const std::string& why) { throw Error(why, ErrorScope::Settings); }

// A plain decimal count: digits only, as Slurm writes its variables.
bool ReadCount(std::string_view text, int64_t& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

int64_t SlurmVariable(const Environment& environment, const char* name) {
  const char* value = environment(name);
  if (value == nullptr) {
    Refuse(std::string("--shard=slurm: ") + name +
           " is not set (is this a task of a job array, sbatch --array?)");
  }
  int64_t number = 0;
  if (!ReadCount(value, number)) {
    Refuse(std::string("--shard=slurm: ") + name + " is '" + value + "', no whole number");
  }
  return number;
}

}  // namespace

Shard ParseShard(std::string_view text, const Environment& given) {
  const Environment environment =
      given ? given : [](const char* name) { return std::getenv(name); };
  Shard shard;
  if (text == "slurm") {
    const int64_t id = SlurmVariable(environment, "SLURM_ARRAY_TASK_ID");
    const int64_t min = SlurmVariable(environment, "SLURM_ARRAY_TASK_MIN");
    const int64_t count = SlurmVariable(environment, "SLURM_ARRAY_TASK_COUNT");
    const char* maxText = environment("SLURM_ARRAY_TASK_MAX");
    int64_t max = 0;
    const bool consecutive =
        count > 0 && (maxText == nullptr || (ReadCount(maxText, max) && max - min + 1 == count));
    if (!consecutive || id < min || id - min >= count) {
      Refuse("--shard=slurm: the array's task ids are not consecutive (task " + FormatInteger(id) +
             " of " + FormatInteger(count) + " from " + FormatInteger(min) +
             "); give the array as --array=FIRST-LAST, without a step");
    }
    shard.part = id - min + 1;
    shard.partOf = count;
    return shard;
  }
  const size_t slash = text.find('/');
  if (slash == std::string_view::npos || !ReadCount(text.substr(0, slash), shard.part) ||
      !ReadCount(text.substr(slash + 1), shard.partOf)) {
    Refuse("--shard needs K/N (the K-th of N parts) or slurm, not '" + std::string(text) + "'");
  }
  if (shard.partOf < 1 || shard.part < 1 || shard.part > shard.partOf) {
    Refuse("--shard=" + std::string(text) + ": the part must be from 1 to the number of parts");
  }
  return shard;
}

Slice ShardSlice(size_t count, const Shard& shard) {
  const auto boundary = [&](int64_t k) {
    // count * k / N without overflow: the remainder's product stays below N * N < 10^18.
    const uint64_t n = static_cast<uint64_t>(shard.partOf);
    const uint64_t part = static_cast<uint64_t>(k);
    return static_cast<size_t>(count / n * part + count % n * part / n);
  };
  return {boundary(shard.part - 1), boundary(shard.part)};
}

}  // namespace swelox
