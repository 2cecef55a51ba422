// Where the rows of a group's later runs wait: every file is decoded once for all the runs of its
// group, but each run shows all its files before the next run begins, so the rows of the later
// runs are kept from the first run's pass until their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "analysis/ImageAnalysis.h"

namespace swelox {

// The outcomes of runs 1 .. runs - 1, each run's in the order they were put (the order of the
// files). They are held in memory up to `memoryBytes`; beyond that they go to a temporary file
// that has no name (it is gone with the process), so that memory does not grow with the number of
// files, however many runs share a decode. When no temporary file can be had (no writable $TMPDIR
// or /tmp, a full disk), they stay in memory.
class LaterRows {
 public:
  static constexpr size_t kMemoryBytes = 1024 * 1024;

  explicit LaterRows(size_t runs, size_t memoryBytes = kMemoryBytes);
  ~LaterRows();
  LaterRows(const LaterRows&) = delete;
  LaterRows& operator=(const LaterRows&) = delete;

  void Put(size_t run, const RowOutcome& outcome);
  // The oldest outcome of `run` not yet taken. Raises an Error of the settings' scope when the
  // temporary file cannot be read back.
  RowOutcome Take(size_t run);

  // The bytes written to the temporary file so far.
  uint64_t spilledBytes() const { return fileEnd_; }

 private:
  // Encoded outcomes, in memory or at [offset, offset + size) of the file.
  struct Chunk {
    std::string bytes;  // in memory, or read back from the file
    bool inFile = false;
    uint64_t offset = 0;
    size_t size = 0;
  };
  struct Run {
    std::deque<Chunk> chunks;
    size_t readAt = 0;  // in the first chunk
  };

  void Spill();
  bool OpenFile();

  const size_t memoryBytes_;
  std::vector<Run> runs_;
  size_t inMemory_ = 0;  // bytes of the chunks not in the file
  int fd_ = -1;
  bool fileFailed_ = false;  // no temporary file to be had: everything stays in memory
  uint64_t fileEnd_ = 0;
};

}  // namespace swelox
