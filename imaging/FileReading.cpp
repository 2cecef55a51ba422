// Reads a picture file whole, refusing anything that is not a regular file without blocking.
#include "imaging/FileReading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/Errors.h"

namespace swelox {
namespace {

// The path as the message shows it: absolute, with "." and ".." steps and doubled separators
// taken out (by the text alone; symbolic links are not followed).
std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

[[noreturn]] void CannotOpen(const std::string& path, const std::string& reason) {
  throw Error("Cannot open file \"" + AbsolutePath(path) + "\". " + reason);
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  // O_NONBLOCK so that a FIFO or a device cannot hang the open; it is refused just below.
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.get() < 0) CannotOpen(path, std::strerror(errno));
  struct stat info;
  if (::fstat(file.get(), &info) != 0) CannotOpen(path, std::strerror(errno));
  if (S_ISDIR(info.st_mode)) CannotOpen(path, std::strerror(EISDIR));
  if (!S_ISREG(info.st_mode)) CannotOpen(path, "Not a regular file");

  std::vector<uint8_t> data;
  try {
    data.resize(static_cast<size_t>(info.st_size));
  } catch (const std::bad_alloc&) {
    throw Error(kOutOfMemory);
  }
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::read(file.get(), data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Error("Stream read error");
    done += static_cast<size_t>(n);
  }
  return data;
}

}  // namespace swelox
