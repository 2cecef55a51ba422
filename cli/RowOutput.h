// Standard output as rows are written to it: each row whole or not at all, a write that waits
// for a reader gives way to a stop request, and a failed write leaves no part of its row in a
// regular file.
#pragma once

#include <stop_token>
#include <string_view>

namespace swelox::cli {

class RowOutput {
 public:
  explicit RowOutput(int fd);

  // Writes the bytes, waiting as long as the output takes them (a pipe whose reader is slow or
  // paused, a terminal stopped by Ctrl+S), but no longer once `stop` is requested: then false with
  // nothing written where the output took none of the bytes yet. False with error() set for a
  // failed write; a regular file is then cut back to the end of the last whole write.
  bool Write(std::string_view bytes, const std::stop_token& stop);

  // The errno of the failed write, 0 while none failed.
  int error() const { return error_; }

 private:
  void CutBack();

  const int fd_;
  long long end_ = -1;  // the offset after the last whole write in a regular file; -1: not one
  int error_ = 0;
};

}  // namespace swelox::cli
