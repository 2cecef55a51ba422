// The memory that pictures decoded at the same time may take together. A decode reserves what it
// needs once the header tells it, before the first large allocation, and waits while others hold
// the budget; so the decodes of several workers never need more than one picture alone could
// take, and whether a picture decodes never depends on what else runs.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace swelox {

// libjpeg's largest working store for one picture (the coefficients of a progressive file);
// a picture that needs more fails with libjpeg's backing-store error, code 49.
inline constexpr long kLibjpegMemoryLimit = 2048L * 1024 * 1024;

class MemoryBudget {
 public:
  explicit MemoryBudget(size_t capacity) : capacity_(capacity) {}

  // The one budget of the process: as much as libjpeg may take for one picture.
  static MemoryBudget& Process();

  // Waits until `bytes` are free and every earlier request has been served, then takes them.
  // A request larger than the whole budget takes the whole budget. Returns the bytes taken.
  size_t Take(size_t bytes);
  void Give(size_t bytes);

  size_t capacity() const { return capacity_; }
  size_t taken() const;

 private:
  const size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  size_t taken_ = 0;
  // Requests are served in the order they came, so a large one is not passed over forever.
  uint64_t nextTicket_ = 0;
  uint64_t serving_ = 0;
};

// What one decode holds of a budget, given back when it goes.
class MemoryReservation {
 public:
  explicit MemoryReservation(MemoryBudget& budget) : budget_(budget) {}
  ~MemoryReservation() {
    if (taken_ != 0) budget_.Give(taken_);
  }
  MemoryReservation(const MemoryReservation&) = delete;
  MemoryReservation& operator=(const MemoryReservation&) = delete;

  // What one decode holds together never passes the whole budget: it would wait for itself.
  void Take(size_t bytes) { taken_ += budget_.Take(std::min(bytes, budget_.capacity() - taken_)); }

 private:
  MemoryBudget& budget_;
  size_t taken_ = 0;
};

}  // namespace swelox
