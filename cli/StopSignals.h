// SIGINT and SIGTERM as stop requests: the run ends between rows (or inside a decode), the rows
// already written stay whole, and the program then ends by the signal as the shell expects.
#pragma once

#include <stop_token>

namespace swelox::cli {

class StopSignals {
 public:
  // Blocks SIGINT and SIGTERM in this thread and in every thread started after it, and lets one
  // thread of its own wait for them and request `source`'s stop. Call before any other thread
  // starts.
  explicit StopSignals(std::stop_source source);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The signal that asked for the stop, 0 while none came.
  int received() const;
  // Ends the process by the received signal, as if it had not been caught; returns when none
  // came.
  void ResendReceived() const;
};

}  // namespace swelox::cli
