#include "cli/RowOutput.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace swelox::cli {
namespace {

// How often a write that waits looks at the stop request.
constexpr int kWaitMilliseconds = 100;

}  // namespace

RowOutput::RowOutput(int fd) : fd_(fd) {
  struct stat status {};
  if (::fstat(fd_, &status) == 0 && S_ISREG(status.st_mode)) {
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    if (at >= 0) end_ = at;
  }
}

bool RowOutput::Write(std::string_view bytes, const std::stop_token& stop) {
  if (error_ != 0) return false;
  size_t written = 0;
  while (written < bytes.size()) {
    // poll says a pipe can take PIPE_BUF bytes without blocking, a terminal some hundreds.
    pollfd ready{fd_, POLLOUT, 0};
    const int polled = ::poll(&ready, 1, kWaitMilliseconds);
    if (polled < 0 && errno != EINTR) {
      error_ = errno;
      return false;
    }
    if (polled <= 0) {
      if (stop.stop_requested()) return false;
      continue;
    }
    const ssize_t n = ::write(fd_, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      error_ = errno;
      CutBack();
      return false;
    }
    written += static_cast<size_t>(n);
  }
  if (end_ >= 0) end_ += static_cast<long long>(bytes.size());
  return true;
}

void RowOutput::CutBack() {
  if (end_ < 0) return;
  // Nothing is to be done if it fails: the write error is reported either way.
  if (::ftruncate(fd_, static_cast<off_t>(end_)) == 0)
    ::lseek(fd_, static_cast<off_t>(end_), SEEK_SET);
}

}  // namespace swelox::cli
