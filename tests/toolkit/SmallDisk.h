// A small file system of its own for the full-disk cases: a tmpfs mounted on a scratch folder,
// which only root may mount. Tests skip when it cannot be had, saying why.
#pragma once

#include <string>

#include "toolkit/TestImages.h"

namespace swelox::test {

class SmallDisk {
 public:
  explicit SmallDisk(size_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  // Empty when it is mounted, else why not.
  const std::string& unavailable() const { return unavailable_; }
  std::string File(const std::string& name) const { return dir_.File(name); }
  // Fills what is left with a file of its own, so that the next write fails with ENOSPC.
  void Fill() const;

 private:
  TempDir dir_;
  bool mounted_ = false;
  std::string unavailable_;
};

}  // namespace swelox::test
