// A first-come, first-served budget of bytes.
#include "imaging/MemoryBudget.h"

#include <algorithm>

namespace swelox {

MemoryBudget& MemoryBudget::Process() {
  static MemoryBudget budget(static_cast<size_t>(kLibjpegMemoryLimit));
  return budget;
}

size_t MemoryBudget::Take(size_t bytes) {
  bytes = std::min(bytes, capacity_);
  std::unique_lock lock(mutex_);
  const uint64_t ticket = nextTicket_++;
  changed_.wait(lock, [&] { return serving_ == ticket && taken_ + bytes <= capacity_; });
  taken_ += bytes;
  ++serving_;
  lock.unlock();
  changed_.notify_all();  // the next request may fit as well
  return bytes;
}

void MemoryBudget::Give(size_t bytes) {
  {
    std::lock_guard lock(mutex_);
    taken_ -= bytes;
  }
  changed_.notify_all();
}

size_t MemoryBudget::taken() const {
  std::lock_guard lock(mutex_);
  return taken_;
}

}  // namespace swelox
