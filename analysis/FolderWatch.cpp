#include "analysis/FolderWatch.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "analysis/FileOrder.h"
#include "analysis/PhotoFolders.h"
#include "core/Errors.h"

namespace swelox {
namespace {

// What the folder's watch reports: the photos' arrivals and departures, and the folder's own end.
constexpr uint32_t kWatchMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// How often a gone folder and the names still being written are looked at again.
constexpr int kRecheckMs = 250;
// Where it cannot be told whether a writer still has a file open (a lease is refused: another
// owner, a file system without leases), a file found by looking through the folder is taken as
// whole once it has not been modified for this long.
constexpr int64_t kQuietMs = 1000;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool EndsWith(std::string_view name, std::string_view end) {
  if (name.size() < end.size()) return false;
  return std::equal(end.begin(), end.end(), name.end() - static_cast<ptrdiff_t>(end.size()),
                    [](char a, char b) {
                      return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
                    });
}

// Closes a descriptor when the scope ends.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

enum class Writer { None, Busy, Unknown };

// Whether any process has the file open for writing: a read lease is granted only when none has.
// The lease is given back at once.
Writer WriterOf(int fd) {
  if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    return Writer::None;
  }
  return errno == EAGAIN || errno == EBUSY ? Writer::Busy : Writer::Unknown;
}

}  // namespace

bool TemporaryPhotoName(std::string_view name) {
  return name.empty() || name.front() == '.' || name.back() == '~' || EndsWith(name, ".part") ||
         EndsWith(name, ".tmp");
}

bool FolderWatch::Stamp::operator==(const Stamp& other) const {
  return device == other.device && inode == other.inode && bytes == other.bytes &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

FolderWatch::FolderWatch(const std::string& folder, bool newOnly) : folder_(folder) {
  while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
  const auto refuse = [&](int error) {
    throw Error("Cannot watch folder \"" + folder + "\". " + std::strerror(error),
                ErrorScope::Settings);
  };
  inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_ < 0) refuse(errno);
  wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_ < 0) {
    const int error = errno;
    ::close(inotify_);
    refuse(error);
  }
  Watch();
  if (watch_ < 0) {
    const int error = errno;
    ::close(inotify_);
    ::close(wake_);
    refuse(error);
  }
  Scan(!newOnly);
}

FolderWatch::~FolderWatch() {
  ::close(inotify_);
  ::close(wake_);
}

void FolderWatch::Watch() { watch_ = ::inotify_add_watch(inotify_, folder_.c_str(), kWatchMask); }

std::vector<FolderChange> FolderWatch::Take(size_t limit) {
  ReadEvents();
  if (Due()) Recheck();
  std::vector<FolderChange> changes;
  size_t photos = 0;
  while (!ready_.empty()) {
    const bool photo = ready_.front().kind == FolderChange::Kind::Photo;
    if (photo && photos == limit) break;
    changes.push_back(std::move(ready_.front()));
    ready_.pop_front();
    if (photo) ++photos;
  }
  return changes;
}

bool FolderWatch::Wait(std::stop_token stop) {
  const std::stop_callback wake(stop, [this] {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
  });
  for (;;) {
    if (stop.stop_requested()) return false;
    ReadEvents();
    if (Due()) Recheck();
    if (!ready_.empty()) return true;
    const bool checking = watch_ < 0 || !waiting_.empty();
    pollfd fds[2] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
    const int timeout =
        checking ? static_cast<int>(std::clamp<int64_t>(nextCheckMs_ - NowMs(), 0, kRecheckMs))
                 : -1;
    ::poll(fds, 2, timeout);  // EINTR: looked at again like a wake-up
  }
}

bool FolderWatch::Due() const {
  return (watch_ < 0 || !waiting_.empty()) && NowMs() >= nextCheckMs_;
}

void FolderWatch::Notice(const std::string& text) {
  ready_.push_back({FolderChange::Kind::Notice, text});
}

void FolderWatch::ReadEvents() {
  alignas(inotify_event) char buffer[64 * 1024];
  bool overflow = false;
  for (;;) {
    const ssize_t n = ::read(inotify_, buffer, sizeof buffer);
    if (n <= 0) break;  // EAGAIN: nothing more now
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if ((event->mask & IN_Q_OVERFLOW) != 0) overflow = true;
      if (event->wd != watch_ || watch_ < 0) continue;  // a watch given up before
      if ((event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
        // Removed, or moved away (the watch would follow it): the path is watched again once a
        // folder is there.
        ::inotify_rm_watch(inotify_, watch_);
        watch_ = -1;
        taken_.clear();
        waiting_.clear();
        nextCheckMs_ = NowMs() + kRecheckMs;
        Notice(folder_ + ": the folder is gone; waiting for it to be made again");
        continue;
      }
      if (event->len == 0) continue;
      const std::string name = event->name;
      if ((event->mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
        taken_.erase(name);
        waiting_.erase(name);
      } else if (!Examine(name, Seen::FromEvent)) {
        Notice(folder_ + "/" + name + ": left out: no JPEG photo");
      }
    }
  }
  if (overflow && watch_ >= 0) {
    Notice(folder_ + ": more changes at once than the system could report; looking through the " +
           "folder again");
    Scan(true);
  }
}

void FolderWatch::Scan(bool handOut) {
  DIR* dir = ::opendir(folder_.c_str());
  if (dir == nullptr) return;  // gone again: its watch tells
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
  int64_t leftOut = 0;
  for (const std::string& name : names) {
    if (handOut) {
      if (!Examine(name, Seen::FromScan)) ++leftOut;
      continue;
    }
    // Not handed out, but known: looking through the folder again later does not take it as new.
    struct stat info {};
    if (!TemporaryPhotoName(name) && ::stat((folder_ + "/" + name).c_str(), &info) == 0) {
      taken_[name] = {info.st_dev, info.st_ino, info.st_size, info.st_mtim};
    }
  }
  // As a run over the folder says it.
  if (leftOut > 0) Notice(TallyLine(FolderTally{leftOut, 0}));
}

bool FolderWatch::Examine(const std::string& name, Seen seen) {
  if (TemporaryPhotoName(name)) return true;  // waited for: its rename brings it
  const std::string path = folder_ + "/" + name;
  const Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
  struct stat info {};
  if (file.fd < 0) {
    waiting_.erase(name);
    if (errno == ENOENT) {
      if (seen == Seen::FromEvent) Notice(path + ": removed before it could be measured");
      return true;
    }
    // Unreadable (permissions, say): the measurement says why, once per version of it.
    if (::stat(path.c_str(), &info) != 0) return true;
    const Stamp stamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim};
    const auto held = taken_.find(name);
    if (held != taken_.end() && held->second == stamp) return true;
    taken_[name] = stamp;
    ready_.push_back({FolderChange::Kind::Photo, path});
    return true;
  }
  if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return true;  // not a photo file
  const Stamp stamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim};
  const auto held = taken_.find(name);
  if (held != taken_.end() && held->second == stamp) {
    waiting_.erase(name);
    return true;
  }

  const Writer writer = WriterOf(file.fd);
  bool whole = writer == Writer::None;
  if (writer == Writer::Unknown) {
    if (seen == Seen::FromEvent) {
      whole = true;  // closed after writing, or moved in whole
    } else {
      timespec now{};
      ::clock_gettime(CLOCK_REALTIME, &now);
      const int64_t ageMs = (now.tv_sec - info.st_mtim.tv_sec) * 1000 +
                            (now.tv_nsec - info.st_mtim.tv_nsec) / 1000000;
      whole = ageMs >= kQuietMs;
    }
  }
  if (!whole) {
    if (waiting_.empty()) nextCheckMs_ = NowMs() + kRecheckMs;
    waiting_[name] = stamp;
    return true;
  }
  waiting_.erase(name);
  taken_[name] = stamp;
  if (!IsPhotoInFolder(path, name)) return false;
  ready_.push_back({FolderChange::Kind::Photo, path});
  return true;
}

void FolderWatch::Recheck() {
  nextCheckMs_ = NowMs() + kRecheckMs;
  if (watch_ < 0) {
    Watch();
    if (watch_ < 0) return;
    Notice(folder_ + ": the folder is there again; watching it");
    Scan(true);
    return;
  }
  std::vector<std::string> names;
  names.reserve(waiting_.size());
  for (const auto& [name, stamp] : waiting_) names.push_back(name);
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
  for (const std::string& name : names) {
    if (!Examine(name, Seen::FromScan)) {
      Notice(folder_ + "/" + name + ": left out: no JPEG photo");
    }
  }
}

}  // namespace swelox
