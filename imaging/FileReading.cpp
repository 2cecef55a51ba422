// Opens a picture file, refusing anything that is not a regular file without blocking, and reads
// it in blocks.
#include "imaging/FileReading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>

#include "core/Errors.h"

namespace swelox {
namespace {

const char* const kCannotOpen = "Cannot open file \"";

// The path as the message shows it: absolute, with "." and ".." steps and doubled separators
// taken out (by the text alone; symbolic links are not followed).
std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

[[noreturn]] void CannotOpen(const std::string& path, const std::string& reason,
                             ErrorKind kind = ErrorKind::InputOutput) {
  throw Error(kind, kCannotOpen + AbsolutePath(path) + "\". " + reason);
}

}  // namespace

PictureFile::PictureFile(const std::string& path)
    // O_NONBLOCK so that a FIFO or a device cannot hang the open; it is refused just below.
    : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)) {
  if (fd_ < 0) {
    const int error = errno;
    CannotOpen(
        path, std::strerror(error),
        error == EMFILE || error == ENFILE ? ErrorKind::OutOfDescriptors : ErrorKind::InputOutput);
  }
  struct stat info;
  std::string refusal;
  if (::fstat(fd_, &info) != 0) {
    refusal = std::strerror(errno);
  } else if (S_ISDIR(info.st_mode)) {
    refusal = std::strerror(EISDIR);
  } else if (!S_ISREG(info.st_mode)) {
    refusal = "Not a regular file";
  }
  if (!refusal.empty()) {
    ::close(fd_);
    CannotOpen(path, refusal);
  }
  size_ = static_cast<uint64_t>(info.st_size);
}

PictureFile::~PictureFile() { ::close(fd_); }

ssize_t PictureFile::ReadNext(uint8_t* buffer, size_t capacity) noexcept {
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(capacity, size_ - offset_));
  size_t done = 0;
  while (done < wanted) {
    const ssize_t n = ::read(fd_, buffer + done, wanted - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    done += static_cast<size_t>(n);
  }
  offset_ += done;
  return static_cast<ssize_t>(done);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  PictureFile file(path);
  std::vector<uint8_t> data;
  try {
    data.resize(static_cast<size_t>(file.size()));
  } catch (const std::bad_alloc&) {
    throw OutOfMemoryError();
  }
  if (file.ReadNext(data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
    throw Error(ErrorKind::InputOutput, kStreamReadError);
  }
  return data;
}

}  // namespace swelox
