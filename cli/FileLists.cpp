#include "cli/FileLists.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "cli/UsageError.h"

namespace swelox::cli {
namespace {

// Closes a descriptor that the reader opened itself (not standard input).
class InputFile {
 public:
  explicit InputFile(const std::string& source) {
    if (source == "-") return;
    fd_ = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) Fail(source, errno);
    owned_ = true;
  }
  ~InputFile() {
    if (owned_) ::close(fd_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Bytes read into `buffer`; 0 at the end of the list.
  size_t Read(const std::string& source, char* buffer, size_t size) {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0) return static_cast<size_t>(n);
      if (errno != EINTR) Fail(source, errno);
    }
  }

  [[noreturn]] static void Fail(const std::string& source, int error) {
    // Also when the names read so far fill the memory: ENOMEM reads "Cannot allocate memory".
    throw UsageError{"cannot read the file list '" + source + "': " + std::strerror(error)};
  }

 private:
  int fd_ = STDIN_FILENO;
  bool owned_ = false;
};

class NameCollector {
 public:
  NameCollector(const FileList& list, PathList& files) : list_(list), files_(files) {}

  void Add(char byte) {
    if (byte == Separator()) return EndName();
    if (byte == '\0') {
      throw UsageError{"the file list '" + list_.source + "' holds a NUL byte in line " +
                       std::to_string(number_) +
                       "; use --files0-from for names separated by NUL bytes"};
    }
    if (name_.size() == kMaxPathBytes) {
      throw UsageError{Where() + " of the file list '" + list_.source +
                       "' is longer than any path (" + std::to_string(kMaxPathBytes) + " bytes)"};
    }
    name_ += byte;
  }

  // The last name needs no separator after it.
  void Finish() {
    if (!name_.empty()) EndName();
  }

 private:
  char Separator() const { return list_.separator == ListSeparator::Nul ? '\0' : '\n'; }
  std::string Where() const {
    return (list_.separator == ListSeparator::Nul ? "name " : "line ") + std::to_string(number_);
  }

  void EndName() {
    if (list_.separator == ListSeparator::LineFeed) {
      // Lines written on Windows end in CR LF; empty lines are skipped.
      if (!name_.empty() && name_.back() == '\r') name_.pop_back();
      if (!name_.empty()) files_.push_back(name_);
    } else {
      // A name cannot be empty; an empty entry means the list is not what it claims to be.
      if (name_.empty()) {
        throw UsageError{Where() + " of the file list '" + list_.source + "' is empty"};
      }
      files_.push_back(name_);
    }
    name_.clear();
    ++number_;
  }

  const FileList& list_;
  PathList& files_;
  std::string name_;
  size_t number_ = 1;
};

}  // namespace

void ReadFileList(const FileList& list, PathList& files) {
  InputFile input(list.source);
  NameCollector names(list, files);
  char buffer[65536];
  try {
    while (const size_t n = input.Read(list.source, buffer, sizeof buffer)) {
      for (size_t i = 0; i < n; ++i) names.Add(buffer[i]);
    }
    names.Finish();
  } catch (const std::bad_alloc&) {
    InputFile::Fail(list.source, ENOMEM);
  }
}

}  // namespace swelox::cli
