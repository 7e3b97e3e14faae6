#include "accel/HelperThreads.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

#include <pthread.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace helpers {
namespace {

using Clock = std::chrono::steady_clock;

// How long a helper keeps checking for work before it sleeps: briefly
// between pieces of work (the next piece usually comes within a millisecond),
// longer once started.
constexpr auto kSpinBetween = std::chrono::microseconds(200);
constexpr auto kSpinAtStart = std::chrono::milliseconds(5);
constexpr std::size_t kMaxHelpers = 256;

// Spinning pays only with a processor to spare: set by start() when the
// caller has one per helper; on one processor a spinning thread would only
// hold up the one it waits for.
std::atomic<bool> spinning{false};

void pause() {
#if defined(__SSE2__)
  _mm_pause();
#endif
}

// Spins until `state` leaves `from` or the time is up, then sleeps until it
// does; returns the new value.
int waitWhile(const std::atomic<int> &state, int from, Clock::duration spin) {
  if (!spinning.load(std::memory_order_relaxed)) {
    spin = Clock::duration::zero();
  }
  const Clock::time_point until = Clock::now() + spin;
  for (unsigned round = 0;; ++round) {
    const int now = state.load(std::memory_order_acquire);
    if (now != from) {
      return now;
    }
    if (round % 64 == 63 && Clock::now() >= until) {
      break;
    }
    pause();
  }
  for (;;) {
    state.wait(from, std::memory_order_acquire);
    const int now = state.load(std::memory_order_acquire);
    if (now != from) {
      return now;
    }
  }
}

class Helper {
public:
  bool post(std::function<void()> &work) {
    int idle = kIdle;
    if (!state_.compare_exchange_strong(idle, kClaimed, std::memory_order_acq_rel)) {
      return false;
    }
    if (!started()) {
      state_.store(kIdle, std::memory_order_release);
      return false;
    }
    work_ = std::move(work);
    state_.store(kPosted, std::memory_order_release);
    state_.notify_one();
    return true;
  }

  void finish() {
    int now = state_.load(std::memory_order_acquire);
    while (now != kDone) {
      now = waitWhile(state_, now, kSpinBetween);
    }
    const std::exception_ptr failure = std::move(failure_);
    failure_ = nullptr;
    state_.store(kIdle, std::memory_order_release);
    if (failure) {
      std::rethrow_exception(failure);
    }
  }

  // Starts the thread unless it runs; false when it cannot be started (then
  // or before: a thread the system refused once is not asked for again).
  bool started() {
    const std::lock_guard<std::mutex> hold(startLock_);
    if (!running_ && !refused_) {
      // A helper takes no asynchronous signals: they go to the threads that
      // chose how to handle them, which may hold them off for a moment (as
      // while an output's temporary file is made and not yet registered for
      // removal). A new thread inherits the mask of the one that makes it.
      sigset_t all;
      sigset_t previous;
      sigfillset(&all);
      pthread_sigmask(SIG_SETMASK, &all, &previous);
      try {
        std::thread(&Helper::loop, this).detach();
        running_ = true;
      } catch (...) { // no thread, or no memory for one
        refused_ = true;
      }
      pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    return running_;
  }

private:
  enum : int { kIdle, kClaimed, kPosted, kDone };

  void loop() {
    Clock::duration spin = kSpinAtStart;
    for (;;) {
      int now = state_.load(std::memory_order_acquire);
      while (now != kPosted) {
        now = waitWhile(state_, now, spin);
      }
      try {
        work_();
      } catch (...) {
        failure_ = std::current_exception();
      }
      work_ = nullptr;
      state_.store(kDone, std::memory_order_release);
      state_.notify_all();
      spin = kSpinBetween;
    }
  }

  std::atomic<int> state_{kIdle};
  std::function<void()> work_;
  std::exception_ptr failure_;
  std::mutex startLock_;
  bool running_ = false;
  bool refused_ = false;
};

// Never destroyed: the helpers run until the process ends.
Helper *pool() {
  static Helper *const helpers = new (std::nothrow) Helper[kMaxHelpers];
  return helpers;
}

} // namespace

void start(std::size_t count) {
  spinning.store(count > 0, std::memory_order_relaxed);
  Helper *const helpers = pool();
  for (std::size_t i = 0; helpers != nullptr && i < count && i < kMaxHelpers; ++i) {
    if (!helpers[i].started()) {
      return;
    }
  }
}

bool post(std::size_t index, std::function<void()> work) {
  Helper *const helpers = pool();
  return helpers != nullptr && index < kMaxHelpers && helpers[index].post(work);
}

void finish(std::size_t index) {
  pool()[index].finish();
}

} // namespace helpers
