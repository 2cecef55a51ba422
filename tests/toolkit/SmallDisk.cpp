#include "toolkit/SmallDisk.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace swelox::test {

SmallDisk::SmallDisk(size_t bytes) {
  if (::geteuid() != 0) {
    unavailable_ = "full-disk case skipped: mounting a small tmpfs needs root";
    return;
  }
  const std::string options = "size=" + std::to_string(bytes);
  if (::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, options.c_str()) != 0) {
    unavailable_ =
        std::string("full-disk case skipped: cannot mount a small tmpfs: ") + std::strerror(errno);
    return;
  }
  mounted_ = true;
}

SmallDisk::~SmallDisk() {
  if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
}

void SmallDisk::Fill() const {
  const int fd = ::open(File("filler").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  const std::vector<char> block(4096, 'f');
  while (::write(fd, block.data(), block.size()) > 0) {
  }
  // The last partial page.
  while (::write(fd, block.data(), 1) > 0) {
  }
  ::close(fd);
}

}  // namespace swelox::test
