// A table file that only grows: rows are appended whole and synced to the disk at least every
// half second and at the end; a record cut by a kill or a power cut is removed when the table is
// next opened. Reading a table back tells which photos (by path, size and modification time) and
// runs it already holds, so that a command run again measures only what is missing.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "analysis/Dataset.h"

namespace swelox {

// A photo as a growing table knows it: the path as the Source column writes it, the size in
// bytes and the modification time, from stat() (the file is not opened). A photo that cannot be
// looked at gets an empty size, which no row holds.
struct PhotoIdentity {
  std::string source;
  std::string bytes;
  std::string modified;
};
PhotoIdentity IdentifyPhoto(const std::string& path);
// The three joined by tabs: one key per photo and version of it.
std::string IdentityKey(const PhotoIdentity& photo);

// The rows a table holds: for each photo, how many rows of each run (from 0). A key is held as
// its 128-bit hash, not its text: 24 bytes a photo and run in an open-addressed table, whatever
// the length of its path, so a season's table of a million rows takes some 40 MB, not its text's.
class HeldRows {
 public:
  struct Hash {
    uint64_t a = 0, b = 0;
    bool operator==(const Hash&) const = default;
  };
  static Hash HashKey(const std::string& key);

  void Add(const std::string& key, int64_t run, bool damaged) { Add(HashKey(key), run, damaged); }
  void Add(const Hash& key, int64_t run, bool damaged);
  int64_t Count(const std::string& key, int64_t run) const { return Count(HashKey(key), run); }
  int64_t Count(const Hash& key, int64_t run) const;
  // One held row of `key` and `run` fewer: true when there was one.
  bool Take(const std::string& key, int64_t run);
  int64_t rows() const { return rows_; }
  int64_t damagedPhotos() const { return static_cast<int64_t>(damaged_.size()); }
  // The bytes its tables take, for the benchmark.
  size_t bytes() const;

 private:
  struct Slot {
    Hash key;
    uint32_t runPlusOne = 0;  // 0: empty
    uint32_t count = 0;
  };
  struct HashOfHash {
    size_t operator()(const Hash& h) const { return static_cast<size_t>(h.a); }
  };
  const Slot* Find(const Hash& key, uint32_t runPlusOne) const;
  Slot& Insert(const Hash& key, uint32_t runPlusOne);

  std::vector<Slot> slots_;  // a power of two long, at most 3/4 used
  size_t used_ = 0;
  std::unordered_set<Hash, HashOfHash> damaged_;
  int64_t rows_ = 0;
};

// A table and its descriptor read back. The table's first record must be the header its
// descriptor's settings give, and each further one a row of as many fields. `cutBytes` is the
// length of the cut record at the end (0 for none); `end` the offset just past the last whole one.
struct TableContents {
  Dataset dataset;
  HeldRows held;
  off_t end = 0;
  off_t cutBytes = 0;
  bool headerWhole = false;  // false: the file ends inside its header (or is empty)
  int64_t rows = 0;          // whole rows after the header
};

// Raises Error naming the file and the fault: no descriptor, a malformed descriptor, a header or
// a record that does not belong to it, a file that cannot be read.
TableContents ReadTable(const std::string& tablePath);

// The descriptor beside a table, read. Raises Error as ReadTable does.
Dataset ReadTableDescriptor(const std::string& tablePath);

// A table's rows one at a time, each checked as ReadTable checks it, in the memory of one block
// (`blockBytes`) and the longest record.
class TableRows {
 public:
  struct Row {
    std::string_view record;  // as the file holds it, its end included
    SplitFields split;        // its fields
    int64_t run = 0;          // from 0; with the photo columns only
  };

  // Opens the table and reads its header, which must be the one `dataset` gives (a file that ends
  // inside its header has no rows). Raises Error.
  TableRows(const std::string& tablePath, const Dataset& dataset, size_t blockBytes = 1 << 20);
  ~TableRows();
  TableRows(const TableRows&) = delete;
  TableRows& operator=(const TableRows&) = delete;

  // The next whole row; false at the end of the whole records. Raises Error naming the line of a
  // record that is not a row of this table.
  bool Next(Row& row);
  // After the end: the offset past the last whole record, and the bytes of a cut one after it.
  off_t end() const { return at_; }
  off_t cutBytes() const;
  bool headerWhole() const { return headerWhole_; }
  int64_t line() const { return line_; }

 private:
  class Lines;
  std::string path_;
  const Dataset& dataset_;
  std::unique_ptr<Lines> lines_;
  std::string_view recordEnd_;
  size_t fieldCount_ = 0;
  off_t at_ = 0;
  int64_t line_ = 0;
  bool headerWhole_ = false;
};

// Writes all of `bytes` to `fd` (through EINTR and short writes); false with errno on failure.
bool WriteAll(int fd, std::string_view bytes);
// Makes the entries of the folder that holds `path` durable: a new name, or a rename, survives a
// power cut.
void SyncFolderOf(const std::string& path);

// Replaces `path` with `text` in one step (a new file beside it, synced, then renamed over it), so
// that a reader sees the old text or the new, never part of one. Raises Error.
void ReplaceFile(const std::string& path, const std::string& text);

class GrowingTable {
 public:
  // Opens `path` for appending after `end` (the file is cut there), or, when the header is not
  // whole, empties it and writes `header`. The file stays locked (flock) while it is open: a
  // table that another command is writing is refused, untouched. Raises Error.
  GrowingTable(const std::string& path, TableFormat format, const std::string& header, off_t end,
               bool headerWhole);
  // Syncs what was written.
  ~GrowingTable();
  GrowingTable(const GrowingTable&) = delete;
  GrowingTable& operator=(const GrowingTable&) = delete;

  // One row (tab-separated, without its end) as one record, written with one write(); false
  // when it failed (error() tells why), and no further row is written.
  bool Append(const std::string& line);
  // Syncs now; false when it failed.
  bool Sync();
  // The errno of the first failed write or sync; 0 while all went well.
  int error() const { return error_.load(); }

 private:
  void SyncEvery(std::stop_token stop);

  int fd_ = -1;
  TableFormat format_;
  std::atomic<bool> dirty_{false};
  std::atomic<int> error_{0};
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::jthread syncer_;
};

}  // namespace swelox
