#include "cli/StopSignals.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <memory>

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

// The thread that waits for the signals needs next to no stack; the C library's default (the
// stack limit, 8 MiB) may not be had under an address-space limit.
constexpr size_t kWaiterStackBytes = 256 * 1024;

struct Waiter {
  std::stop_source source;
  sigset_t set;
};

void* WaitForSignal(void* context) {
  const std::unique_ptr<Waiter> waiter(static_cast<Waiter*>(context));
  int signal = 0;
  if (sigwait(&waiter->set, &signal) != 0) return nullptr;
  g_received = signal;
  waiter->source.request_stop();
  return nullptr;
}

}  // namespace

// The stop is requested from an ordinary thread that takes the signals with sigwait, not from a
// signal handler, in which requesting a stop would not be safe.
StopSignals::StopSignals(std::stop_source source) {
  const sigset_t set = StopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  auto waiter = std::make_unique<Waiter>(Waiter{std::move(source), set});
  pthread_attr_t attributes;
  int error = pthread_attr_init(&attributes);
  if (error == 0) {
    pthread_t thread;
    // Detached: it waits for a signal for as long as the program runs.
    error = pthread_attr_setstacksize(&attributes, kWaiterStackBytes);
    if (error == 0) error = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (error == 0) error = pthread_create(&thread, &attributes, WaitForSignal, waiter.get());
    pthread_attr_destroy(&attributes);
  }
  if (error == 0) {
    waiter.release();  // the thread's now
    return;
  }
  // No thread to be had (a process limit): the signals keep their default action, which ends the
  // process at once, after the rows written so far, each of them whole.
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
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
