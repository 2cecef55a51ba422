// Reading a picture file for decoding: opened once with its checks, then read block by block so
// that memory does not grow with the size of the file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace swelox {

inline constexpr const char* kStreamReadError = "Stream read error";

// An open regular file and the size it had when opened.
class PictureFile {
 public:
  // Raises "Cannot open file "%s". %s" (absolute path, the system's reason) for a file that cannot
  // be opened or is not a regular file, of kind OutOfDescriptors when no descriptor was to be
  // had, else InputOutput. Never blocks, not even on a FIFO.
  explicit PictureFile(const std::string& path);
  ~PictureFile();
  PictureFile(const PictureFile&) = delete;
  PictureFile& operator=(const PictureFile&) = delete;

  uint64_t size() const { return size_; }

  // Fills `buffer` with the next bytes, at most `capacity` and never past the size the file had
  // when opened: the count, 0 at that end, or -1 when the file ends early (it shrank, or claims
  // more than it holds) or cannot be read. Throws nothing, so that libjpeg may call it.
  ssize_t ReadNext(uint8_t* buffer, size_t capacity) noexcept;

 private:
  int fd_;
  uint64_t size_ = 0;
  uint64_t offset_ = 0;
};

// The whole file; raises PictureFile's errors and kStreamReadError.
std::vector<uint8_t> ReadWholeFile(const std::string& path);

}  // namespace swelox
