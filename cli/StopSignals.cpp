#include "cli/StopSignals.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

namespace swelox::cli {
namespace {

std::atomic<int> g_received = 0;

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

// The stop is requested from an ordinary thread that takes the signals with sigwait, not from a
// signal handler, in which requesting a stop would not be safe.
StopSignals::StopSignals(std::stop_source source) {
  const sigset_t set = StopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // Detached: it waits for a signal for as long as the program runs.
  std::thread([source, set]() mutable {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) return;
    g_received = signal;
    source.request_stop();
  }).detach();
}

StopSignals::~StopSignals() = default;

int StopSignals::received() const { return g_received; }

void StopSignals::ResendReceived() const {
  const int signal = g_received;
  if (signal == 0) return;
  ::signal(signal, SIG_DFL);
  const sigset_t set = StopSet();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signal);
}

}  // namespace swelox::cli
