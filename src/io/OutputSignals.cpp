#include "io/OutputSignals.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace {

// Read by the handlers, so only plain storage and a sig_atomic_t flag.
char pendingPath[PATH_MAX];
volatile std::sig_atomic_t pendingSet = 0;

extern "C" void removePendingAndDie(int signal) {
  if (pendingSet != 0) {
    unlink(pendingPath);
  }
  // SA_RESETHAND restored the default action; the signal is blocked until
  // the handler returns, and then ends the process.
  raise(signal);
}

void handle(int signal, void (*handler)(int)) {
  struct sigaction current {};
  if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
    return;
  }
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = handler == SIG_IGN ? 0 : SA_RESETHAND;
  sigaction(signal, &action, nullptr);
}

} // namespace

void installOutputSignalHandling() {
  static bool installed = false;
  if (installed) {
    return;
  }
  installed = true;
  handle(SIGPIPE, SIG_IGN);
  handle(SIGXFSZ, SIG_IGN);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    handle(signal, removePendingAndDie);
  }
}

void setPendingTemporary(const char *path) {
  pendingSet = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (path != nullptr && std::strlen(path) < sizeof pendingPath) {
    std::strcpy(pendingPath, path);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    pendingSet = 1;
  }
}

TerminationSignalsDeferred::TerminationSignalsDeferred() {
  sigset_t deferred;
  sigemptyset(&deferred);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaddset(&deferred, signal);
  }
  pthread_sigmask(SIG_BLOCK, &deferred, &previous_);
}

TerminationSignalsDeferred::~TerminationSignalsDeferred() {
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}
