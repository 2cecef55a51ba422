#include "analysis/GrowingTable.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <system_error>

#include "core/Errors.h"
#include "core/IntegerText.h"
#include "core/PrintableText.h"

namespace swelox {
namespace {

std::string Shown(const std::string& path) { return EscapeControlBytes(path, Backslash::AsItIs); }

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw Error(Shown(path) + ": " + what, ErrorScope::Settings);
}

[[noreturn]] void FailErrno(const std::string& path, const char* doing) {
  Fail(path, std::string(doing) + ": " + std::strerror(errno));
}

std::string ReadWhole(const std::string& path, bool& missing) {
  missing = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      missing = true;
      return {};
    }
    FailErrno(path, "cannot open");
  }
  std::string text;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int saved = errno;
      ::close(fd);
      errno = saved;
      FailErrno(path, "cannot read");
    }
    if (got == 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return text;
}

// ISO 8601 UTC with nanoseconds: "2026-07-14T09:31:07.123456789Z".
std::string ModificationTime(const struct timespec& when) {
  std::tm utc{};
  gmtime_r(&when.tv_sec, &utc);
  char text[48];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + length, sizeof text - length, ".%09ldZ", static_cast<long>(when.tv_nsec));
  return text;
}

// The lines of a file, each with its line feed, read a block at a time, so that a table of any
// length takes the memory of one block and its longest line.
class LineReader {
 public:
  explicit LineReader(const std::string& path, size_t block = 1 << 20)
      : path_(path), kBlock(block) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) FailErrno(path, "cannot open");
  }
  ~LineReader() { ::close(fd_); }
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next whole line; false at the end, where `rest()` bytes without a line feed remain.
  bool Next(std::string_view& line) {
    for (;;) {
      const size_t feed = buffer_.find('\n', start_);
      if (feed != std::string::npos) {
        line = std::string_view(buffer_).substr(start_, feed + 1 - start_);
        start_ = feed + 1;
        return true;
      }
      if (ended_) return false;
      buffer_.erase(0, start_);
      start_ = 0;
      const size_t had = buffer_.size();
      buffer_.resize(had + kBlock);
      ssize_t got;
      do {
        got = ::read(fd_, buffer_.data() + had, kBlock);
      } while (got < 0 && errno == EINTR);
      if (got < 0) FailErrno(path_, "cannot read");
      buffer_.resize(had + static_cast<size_t>(got));
      ended_ = got == 0;
    }
  }
  size_t rest() const { return buffer_.size() - start_; }

 private:
  std::string path_;
  size_t kBlock;
  int fd_ = -1;
  std::string buffer_;
  size_t start_ = 0;
  bool ended_ = false;
};

}  // namespace

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(put));
  }
  return true;
}

void SyncFolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

PhotoIdentity IdentifyPhoto(const std::string& path) {
  PhotoIdentity photo{EscapeControlBytes(path, Backslash::Doubled), {}, {}};
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) {
    photo.bytes = FormatInteger(status.st_size);
    photo.modified = ModificationTime(status.st_mtim);
  }
  return photo;
}

std::string IdentityKey(const PhotoIdentity& photo) {
  return photo.source + '\t' + photo.bytes + '\t' + photo.modified;
}

namespace {

uint64_t Mix(uint64_t x) {  // splitmix64's finaliser
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

}  // namespace

HeldRows::Hash HeldRows::HashKey(const std::string& key) {
  // Two independent 64-bit hashes over the key's 8-byte words: 128 bits, so that two photos of a
  // table of millions share a hash with a chance below 10^-25.
  uint64_t a = 0x9e3779b97f4a7c15ULL ^ key.size(), b = 0xc2b2ae3d27d4eb4fULL + key.size();
  for (size_t at = 0; at < key.size(); at += 8) {
    uint64_t word = 0;
    std::memcpy(&word, key.data() + at, std::min<size_t>(8, key.size() - at));
    a = Mix(a ^ word) * 0xff51afd7ed558ccdULL;
    b = Mix(b + word * 0xc4ceb9fe1a85ec53ULL);
  }
  return {Mix(a), Mix(b ^ a)};
}

const HeldRows::Slot* HeldRows::Find(const Hash& key, uint32_t runPlusOne) const {
  if (slots_.empty()) return nullptr;
  const size_t mask = slots_.size() - 1;
  for (size_t at = (key.a ^ Mix(runPlusOne)) & mask;; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.runPlusOne == 0) return nullptr;
    if (slot.runPlusOne == runPlusOne && slot.key == key) return &slot;
  }
}

HeldRows::Slot& HeldRows::Insert(const Hash& key, uint32_t runPlusOne) {
  if ((used_ + 1) * 4 > slots_.size() * 3) {
    std::vector<Slot> old(std::max<size_t>(64, slots_.size() * 2));
    old.swap(slots_);
    used_ = 0;
    for (const Slot& slot : old) {
      if (slot.runPlusOne != 0) Insert(slot.key, slot.runPlusOne).count = slot.count;
    }
  }
  const size_t mask = slots_.size() - 1;
  for (size_t at = (key.a ^ Mix(runPlusOne)) & mask;; at = (at + 1) & mask) {
    Slot& slot = slots_[at];
    if (slot.runPlusOne == runPlusOne && slot.key == key) return slot;
    if (slot.runPlusOne == 0) {
      slot.key = key;
      slot.runPlusOne = runPlusOne;
      ++used_;
      return slot;
    }
  }
}

void HeldRows::Add(const Hash& key, int64_t run, bool damaged) {
  ++Insert(key, static_cast<uint32_t>(run + 1)).count;
  if (damaged) damaged_.insert(key);
  ++rows_;
}

int64_t HeldRows::Count(const Hash& key, int64_t run) const {
  const Slot* slot = Find(key, static_cast<uint32_t>(run + 1));
  return slot == nullptr ? 0 : slot->count;
}

bool HeldRows::Take(const std::string& key, int64_t run) {
  Slot* slot = const_cast<Slot*>(Find(HashKey(key), static_cast<uint32_t>(run + 1)));
  if (slot == nullptr || slot->count == 0) return false;
  --slot->count;
  return true;
}

size_t HeldRows::bytes() const {
  return slots_.capacity() * sizeof(Slot) + damaged_.size() * (sizeof(Hash) + 32);
}

Dataset ReadTableDescriptor(const std::string& tablePath) {
  const std::string descriptorPath = DescriptorPathFor(tablePath);
  bool missing = false;
  const std::string descriptor = ReadWhole(descriptorPath, missing);
  if (missing) Fail(tablePath, "there is no descriptor " + Shown(descriptorPath) + " beside it");
  try {
    return ReadDescriptor(descriptor);
  } catch (const Error& e) {
    Fail(descriptorPath, e.what());
  }
}

class TableRows::Lines : public LineReader {
 public:
  using LineReader::LineReader;
};

TableRows::TableRows(const std::string& tablePath, const Dataset& dataset, size_t blockBytes)
    : path_(tablePath),
      dataset_(dataset),
      lines_(std::make_unique<Lines>(tablePath, blockBytes)),
      recordEnd_(RecordEnd(dataset.format)),
      fieldCount_(TableSchema(dataset.settings, dataset.photoColumns).size()) {
  std::string_view record;
  if (!lines_->Next(record)) return;
  line_ = 1;
  const std::string headerRecord =
      TableRecord(TableHeader(dataset.settings, dataset.photoColumns), dataset.format);
  if (!record.ends_with(recordEnd_)) Fail(path_, "line 1 does not end as a record of this table");
  if (record != headerRecord) {
    Fail(path_, "line 1 is not the header of the table its descriptor describes");
  }
  headerWhole_ = true;
  at_ = static_cast<off_t>(record.size());
}

TableRows::~TableRows() = default;

off_t TableRows::cutBytes() const { return static_cast<off_t>(lines_->rest()); }

bool TableRows::Next(Row& row) {
  std::string_view record;
  if (!headerWhole_ || !lines_->Next(record)) return false;
  ++line_;
  const auto notOurs = [&](const std::string& why) {
    Fail(path_, "line " + FormatInteger(line_) + " " + why);
  };
  if (!record.ends_with(recordEnd_)) notOurs("does not end as a record of this table");
  row.record = record;
  row.split = SplitRecord(record.substr(0, record.size() - recordEnd_.size()), dataset_.format);
  if (!row.split.complete || row.split.fields.size() != fieldCount_) {
    notOurs("is not a row of this table");
  }
  row.run = 0;
  if (dataset_.photoColumns) {
    const std::string* photo = &row.split.fields[fieldCount_ - std::size(kPhotoColumns)];
    try {
      row.run = int64_t{ParseInteger(photo[0])} - 1;
    } catch (const Error&) {
      row.run = -1;
    }
    if (row.run < 0 || (photo[4] != "true" && photo[4] != "false")) {
      notOurs("is not a row of this table");
    }
  }
  at_ += static_cast<off_t>(record.size());
  return true;
}

TableContents ReadTable(const std::string& tablePath) {
  TableContents contents;
  contents.dataset = ReadTableDescriptor(tablePath);
  const Dataset& dataset = contents.dataset;
  TableRows rows(tablePath, dataset);
  const size_t photoFields = std::size(kPhotoColumns);
  for (TableRows::Row row; rows.Next(row);) {
    ++contents.rows;
    if (dataset.photoColumns) {
      const std::string* photo = &row.split.fields[row.split.fields.size() - photoFields];
      contents.held.Add(IdentityKey({photo[1], photo[2], photo[3]}), row.run, photo[4] == "true");
    }
  }
  contents.headerWhole = rows.headerWhole();
  contents.end = rows.end();
  contents.cutBytes = rows.cutBytes();
  return contents;
}

void ReplaceFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) FailErrno(temporary, "cannot create");
  if (!WriteAll(fd, text) || ::fsync(fd) != 0) {
    const int saved = errno;
    ::close(fd);
    ::unlink(temporary.c_str());
    errno = saved;
    FailErrno(temporary, "cannot write");
  }
  if (::close(fd) != 0) FailErrno(temporary, "cannot write");
  if (::rename(temporary.c_str(), path.c_str()) != 0) FailErrno(path, "cannot replace");
  SyncFolderOf(path);  // the rename itself
}

GrowingTable::GrowingTable(const std::string& path, TableFormat format, const std::string& header,
                           off_t end, bool headerWhole)
    : format_(format) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) FailErrno(path, "cannot open");
  // One writer at a time: a second command on the same table (a job started twice) is refused
  // before it changes anything.
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const bool busy = errno == EWOULDBLOCK;
    const int saved = errno;
    ::close(fd_);
    errno = saved;
    if (busy) Fail(path, "another command is writing to it");
    FailErrno(path, "cannot lock");
  }
  const off_t keep = headerWhole ? end : 0;
  if (::ftruncate(fd_, keep) != 0 || ::lseek(fd_, keep, SEEK_SET) < 0 ||
      (!headerWhole && !WriteAll(fd_, TableRecord(header, format))) || ::fdatasync(fd_) != 0) {
    const int saved = errno;
    ::close(fd_);
    errno = saved;
    FailErrno(path, "cannot write");
  }
  if (!headerWhole) SyncFolderOf(path);  // a new table's name
  try {
    syncer_ = std::jthread([this](std::stop_token stop) { SyncEvery(stop); });
  } catch (const std::system_error& e) {
    ::close(fd_);
    errno = e.code().value();
    FailErrno(path, "cannot start the thread that syncs it");
  }
}

GrowingTable::~GrowingTable() {
  syncer_.request_stop();
  if (syncer_.joinable()) syncer_.join();
  Sync();
  ::close(fd_);
}

bool GrowingTable::Append(const std::string& line) {
  if (error_.load() != 0) return false;
  if (!WriteAll(fd_, TableRecord(line, format_))) {
    int expected = 0;
    error_.compare_exchange_strong(expected, errno != 0 ? errno : EIO);
    return false;
  }
  dirty_.store(true);
  return true;
}

bool GrowingTable::Sync() {
  if (!dirty_.exchange(false)) return error_.load() == 0;
  if (::fdatasync(fd_) != 0) {
    int expected = 0;
    error_.compare_exchange_strong(expected, errno);
    return false;
  }
  return error_.load() == 0;
}

void GrowingTable::SyncEvery(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  while (!stop.stop_requested()) {
    wake_.wait_for(lock, stop, std::chrono::milliseconds(500), [] { return false; });
    if (stop.stop_requested()) break;
    Sync();
  }
}

}  // namespace swelox
