#include "toolkit/OpenWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace swelox::test {

OpenWatch::OpenWatch(const std::string& folder)
    : watch_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  if (watch_ < 0 || ::inotify_add_watch(watch_, folder.c_str(), IN_OPEN) < 0) {
    const std::string reason = std::strerror(errno);
    if (watch_ >= 0) ::close(watch_);
    throw std::runtime_error("inotify cannot watch " + folder + ": " + reason);
  }
}

OpenWatch::~OpenWatch() { ::close(watch_); }

std::vector<std::string> OpenWatch::Take() {
  std::vector<std::string> opened;
  alignas(inotify_event) char buffer[64 * 1024];
  for (ssize_t n; (n = ::read(watch_, buffer, sizeof buffer)) > 0;) {
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0) opened.push_back(event->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return opened;
}

}  // namespace swelox::test
