#include "accel/HelperThreads.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

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

void pause() {
#if defined(__SSE2__)
  _mm_pause();
#endif
}

// Spins until `state` leaves `from` or the time is up, then sleeps until it
// does; returns the new value.
int waitWhile(const std::atomic<int> &state, int from, Clock::duration spin) {
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

  // Starts the thread unless it runs; false when it cannot be started.
  bool started() {
    const std::lock_guard<std::mutex> hold(startLock_);
    if (!running_) {
      try {
        std::thread(&Helper::loop, this).detach();
        running_ = true;
      } catch (...) { // no thread, or no memory for one
        return false;
      }
    }
    return true;
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
};

// Never destroyed: the helpers run until the process ends.
Helper *pool() {
  static Helper *const helpers = new (std::nothrow) Helper[kMaxHelpers];
  return helpers;
}

} // namespace

void start(std::size_t count) {
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
